#pragma once

#include <QFrame>

#include <memory>

class QCheckBox;
class QLabel;
class QProgressBar;
class TGenericLibraryItem;
class TInstallTask;

// One row of the install and update dialogs: a task's name, description or error, its switch and its
// progress.
class TFrameInstallTask : public QFrame {
    Q_OBJECT
public:
    explicit TFrameInstallTask(QWidget* AOwner);
    ~TFrameInstallTask() override;

    // Shows the task and follows its start, completion and failure.
    void AssignTask(const std::shared_ptr<TInstallTask>& Task);
    // Follows the download progress of the item (may be null).
    void SubscribeOnDownloadProgress(TGenericLibraryItem* LibItem);

    // Set by the owner before AssignTask: every task may be switched off, not only dependencies.
    bool AllowToDisable = false;

    QFrame* panelHeader = nullptr;
    QLabel* panelName = nullptr;
    QFrame* panelProgress = nullptr;
    QProgressBar* ActivityIndicator = nullptr;
    QFrame* panelControls = nullptr;
    QCheckBox* checkEnabled = nullptr;
    QLabel* txtDesc = nullptr;
    QProgressBar* Progress = nullptr;

private:
    void checkEnabledClick();
    void OnTaskStart();
    void OnTaskComplete();
    void OnTaskError(void* Sender);
    void ShowProgress();
    void SetErrorLook(bool Error);
    void StopIndicator();

    std::shared_ptr<TInstallTask> FTask;
    TGenericLibraryItem* FLibItem = nullptr;
};
