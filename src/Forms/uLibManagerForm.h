#pragma once

#include <QDialog>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

// "Управление папками": moves the whole games folder elsewhere and points every game to its new place.
// Closes with Accepted after a move, when the launcher must restart.
class TLibManagerForm : public QDialog {
    Q_OBJECT
public:
    explicit TLibManagerForm(QWidget* AOwner);

    void ePathChange();
    void bRestoreDefaultClick();
    void bApplyClick();
    void LockControls(bool Value);
    // Moves the games and stores the new folder; returns without a result when the user keeps the old
    // folder after an incomplete move.
    void MoveDir();
    bool LockedControls() const { return FLockedControls; }

    QLabel* txtPath = nullptr;
    QLineEdit* ePath = nullptr;
    QPushButton* bBrowse = nullptr;
    QPushButton* bRestoreDefault = nullptr;
    QPushButton* bCancel = nullptr;
    QPushButton* bApply = nullptr;

    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    bool FormCloseQuery() const { return !FLockedControls; }
    // The folder text with a final "/".
    QString NewPath() const;

    bool FLockedControls = false;
};

// Shows the folder manager modally over Owner and frees it; after a move it calls RestartSelf.
void ShowLibManagerWindow(QWidget* Owner, const std::function<void()>& RestartSelf);
