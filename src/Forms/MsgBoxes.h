#pragma once

#include <QDialog>
#include <QString>
#include <functional>

class QLabel;
class QPlainTextEdit;
class QPushButton;

// Every message the user sees goes through these, with fixed Russian titles. Main thread only; each call
// blocks until the user answers.

enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation };

void ShowWarning(const QString& Text);
void ShowError(const QString& Text);
void ShowInfo(const QString& Text);
// True when the user chose "Yes".
bool AskConfirmation(const QString& Text);
bool AskWarningConfirmation(const QString& Text);
// Plain error box when Details is blank, otherwise the details dialog of kind error.
void ShowErrorWithDetails(const QString& Text, const QString& Details);
void ShowDetailsDialog(const QString& Text, const QString& Details, TMsgDlgType Kind);

// What a message would show. Tests (and nothing else) answer messages through a hook instead of a
// modal window.
struct TMessageRecord {
    TMsgDlgType Kind = TMsgDlgType::mtInformation;
    QString Title;
    QString Text;
    QString Details;     // empty for the plain boxes
    bool Question = false; // Yes/No box
};
// Returns the answer to a question (ignored for plain messages).
using TMessageBoxHook = std::function<bool(const TMessageRecord&)>;

// While a hook is set, no dialog is shown. The previous hook comes back when the guard ends.
class TScopedMessageBoxHook {
public:
    explicit TScopedMessageBoxHook(TMessageBoxHook Hook);
    ~TScopedMessageBoxHook();
    TScopedMessageBoxHook(const TScopedMessageBoxHook&) = delete;
    TScopedMessageBoxHook& operator=(const TScopedMessageBoxHook&) = delete;

private:
    TMessageBoxHook FPrevious;
};

// The window title of a message of the given kind.
QString MessageTitle(TMsgDlgType Kind);

// The message with folding details: the text, "OK", a details button and a read-only "Memo" below.
// Opens with the details shown (the button was pressed once in code).
class TDetailsDialog : public QDialog {
    Q_OBJECT
public:
    TDetailsDialog(const QString& Text, const QString& Details, TMsgDlgType Kind, QWidget* Parent = nullptr);

    // Folds the details away when they are shown and back when they are hidden.
    void ToggleDetails();
    bool DetailsShown() const;

    QLabel* Image;
    QLabel* Message;
    QPushButton* bOK;
    QPushButton* bDetails;
    QPlainTextEdit* Memo;

private:
    int FMemoTop = 0;
};
