#pragma once

#include <QDialog>

#include <functional>
#include <memory>

class QFrame;
class QPushButton;
class QScrollArea;
class QVBoxLayout;
class TAppLibraryItem;
class TComponentLibraryItem;
class TFrameInstallTask;
class TInstallTask;

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

// What the install and update dialogs share: a window of task rows over the bottom bar. Not modal,
// freed when closed.
class TTaskListDialog : public QDialog {
    Q_OBJECT
public:
    ~TTaskListDialog() override;

    int ActiveTasks = 0;
    TInstallBottomBar Bar;
    QScrollArea* ScrollBox = nullptr;
    QList<TFrameInstallTask*> Rows;

protected:
    TTaskListDialog(QWidget* AOwner, const QString& Name, const QString& Caption, const QSize& Size,
                    int BarHeight, const QString& InstallCaption);
    // Places a row for the task below the others.
    TFrameInstallTask* AddRow(const std::shared_ptr<TInstallTask>& Task, bool AllowToDisable);
    // Starts the task and runs TaskFinished when it has succeeded (after OnComplete) or failed.
    void StartTask(const std::shared_ptr<TInstallTask>& Task, std::function<void()> OnComplete = nullptr);
    // One task fewer is running; the last one runs Finish and then offers "Готово".
    void TaskFinished();
    virtual void Finish() = 0;
    virtual void bInstallClick() = 0;
    virtual void bCloseClick() = 0;
    void reject() override;

private:
    QVBoxLayout* FRows = nullptr;
    QList<std::shared_ptr<TInstallTask>> FStarted;
};

// "Скачать и установить": the tasks of one game's installation, started on request; when all succeed
// the game (and its first component) are recorded as installed.
class TfAppInstall : public TTaskListDialog {
    Q_OBJECT
public:
    TfAppInstall(QWidget* AOwner, TAppLibraryItem* AApp, TComponentLibraryItem* AComponent);

    TAppLibraryItem* App() const { return FAppItem; }
    TComponentLibraryItem* Component() const { return FComponentItem; }

signals:
    // The game was recorded as installed.
    void Installed(TAppLibraryItem* App);

protected:
    void closeEvent(QCloseEvent* Event) override;

private:
    void bInstallClick() override;
    void bCloseClick() override;
    void Finish() override;

    TAppLibraryItem* FAppItem;
    TComponentLibraryItem* FComponentItem;
};

// "Скачать и установить обновления": the pending updates; each can be switched off; each success
// records its new version.
class TfUpdates : public TTaskListDialog {
    Q_OBJECT
public:
    explicit TfUpdates(QWidget* AOwner);

protected:
    void closeEvent(QCloseEvent* Event) override;

private:
    void bInstallClick() override;
    void bCloseClick() override;
    void Finish() override;
};

// A scroll area whose rows stack at the top.
QScrollArea* MakeTaskScrollBox(QWidget* Owner, QVBoxLayout*& Rows);
