#pragma once

#include <QDialog>

class QFrame;
class QPushButton;
class QScrollArea;
class QVBoxLayout;
class TAppLibraryItem;
class TComponentLibraryItem;
class TFrameInstallTask;

// The bottom bar shared by the install and update dialogs: start, cancel while running, done.
struct TInstallBottomBar {
    QFrame* panelBottom = nullptr;
    QFrame* panelInstall = nullptr;
    QPushButton* bInstall = nullptr;
    QFrame* panelCancel = nullptr;
    QPushButton* bCancel = nullptr;
    QFrame* panelClose = nullptr;
    QPushButton* bClose = nullptr;

    void Build(QWidget* Owner, int Height, const QString& InstallCaption);
    void ShowRunning();
    void ShowDone();
};

// "Скачать и установить": the tasks of one game's installation, started on request; when all succeed
// the game (and its first component) are recorded as installed. Not modal.
class TfAppInstall : public QDialog {
    Q_OBJECT
public:
    TfAppInstall(QWidget* AOwner, TAppLibraryItem* AApp, TComponentLibraryItem* AComponent);
    ~TfAppInstall() override;

    TAppLibraryItem* App() const { return FAppItem; }
    TComponentLibraryItem* Component() const { return FComponentItem; }
    int ActiveTasks = 0;

    TInstallBottomBar Bar;
    QScrollArea* ScrollBox = nullptr;
    QList<TFrameInstallTask*> Rows;

signals:
    // The game was recorded as installed.
    void Installed(TAppLibraryItem* App);

protected:
    void closeEvent(QCloseEvent* Event) override;
    void reject() override;

private:
    void bInstallClick();
    void bCloseClick();
    void TaskFinished();
    void CompleteInstall();

    TAppLibraryItem* FAppItem;
    TComponentLibraryItem* FComponentItem;
    bool FClosing = false;
};

// "Скачать и установить обновления": the pending updates; each can be switched off; each success
// records its new version. Not modal.
class TfUpdates : public QDialog {
    Q_OBJECT
public:
    explicit TfUpdates(QWidget* AOwner);
    ~TfUpdates() override;

    int ActiveTasks = 0;
    TInstallBottomBar Bar;
    QScrollArea* ScrollBox = nullptr;
    QList<TFrameInstallTask*> Rows;

protected:
    void closeEvent(QCloseEvent* Event) override;
    void reject() override;

private:
    void bInstallClick();
    void bCloseClick();
    void TaskFinished();
    void ApplyUpdates();

    bool FClosing = false;
};

// A scroll area whose rows stack at the top.
QScrollArea* MakeTaskScrollBox(QWidget* Owner, QVBoxLayout*& Rows);
