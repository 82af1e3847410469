#pragma once

// Install and update tasks: named units of installation work that run on their own worker pool, can be
// switched off before they start, can be cancelled, and tell their listeners on the main thread when
// they start, complete or fail. Two process-wide lists hold them: the installation being prepared or
// run, and the pending updates.

#include "App/Exceptions.h"
#include "App/Subscriber.h"

#include <QList>
#include <QString>

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <type_traits>

class QThreadPool;

enum TInstallTaskType { ttApp, ttComponent, ttDep };

enum TInstallTaskStatus { tsNone, tsRunning, tsSuccess, tsFail, tsCanceled };

// Tasks are shared: the lists own them and the running work holds its own reference, so clearing a list
// never waits for the work and never frees what the work still uses. Create, Start, Cancel, the
// subscriptions and the lists belong to the main thread; Status and the cancellation request may be read
// on any thread.
class TInstallTask : public std::enable_shared_from_this<TInstallTask> {
public:
    using TProc = std::function<void()>;

    // Enabled, tsNone; nothing runs until Start. The creator appends the task to a list.
    static std::shared_ptr<TInstallTask> Create(const QString& PublicKey, const QString& Name,
                                                const QString& Description, TInstallTaskType TaskType,
                                                TProc Proc);
    virtual ~TInstallTask();
    TInstallTask(const TInstallTask&) = delete;
    TInstallTask& operator=(const TInstallTask&) = delete;

    const QString& Name() const { return FName; }
    const QString& Description() const { return FDesc; }
    const QString& PublicKey() const { return FPublicKey; }
    TInstallTaskType TaskType() const { return FType; }
    bool Enabled() const { return FEnabled.load(); }
    void SetEnabled(bool Value) { FEnabled.store(Value); }
    TInstallTaskStatus Status() const { return FStatus.load(); }

    // The error the work raised when the task failed with one of the launcher's errors; null otherwise.
    // Valid as long as the task lives.
    const Exception* Error() const;
    // Error's message, or empty.
    QString ErrorMessage() const;

    // Runs the work on the install task pool once, when the task is enabled and still tsNone; the start
    // listeners are told on the calling thread afterwards.
    void Start();
    // Asks the work to stop at its next cancellation point; a running task becomes tsCanceled.
    void Cancel();
    bool CancelRequested() const { return FCancelRequested.load(std::memory_order_relaxed); }
    // Cancellation point, called by the work on its worker: raises EOperationCancelled when the task was
    // cancelled. Does nothing for a null task.
    static void CheckCanceled(const TInstallTask* Task);
    void CheckCanceled() const { CheckCanceled(this); }

    // Every notification passes the task (TInstallTask*) as the sender.
    void SubscribeOnStart(const TNotifyEvent& Subscriber) { FSubscribersOnStart.Subscribe(Subscriber); }
    void SubscribeOnComplete(const TNotifyEvent& Subscriber) { FSubscribersOnComplete.Subscribe(Subscriber); }
    void SubscribeOnError(const TNotifyEvent& Subscriber) { FSubscribersOnError.Subscribe(Subscriber); }
    void UnsubscribeOnStart(const TNotifyEvent& Subscriber) { FSubscribersOnStart.Unsubscribe(Subscriber); }
    void UnsubscribeOnComplete(const TNotifyEvent& Subscriber) { FSubscribersOnComplete.Unsubscribe(Subscriber); }
    void UnsubscribeOnError(const TNotifyEvent& Subscriber) { FSubscribersOnError.Unsubscribe(Subscriber); }
    // Drops every listener (main thread).
    void UnsubscribeAll();

protected:
    TInstallTask(const QString& PublicKey, const QString& Name, const QString& Description,
                 TInstallTaskType TaskType, TProc Proc);

private:
    void RunWork();

    QString FName;
    QString FDesc;
    QString FPublicKey;
    TInstallTaskType FType;
    std::atomic<bool> FEnabled{true};
    std::atomic<TInstallTaskStatus> FStatus{tsNone};
    TProc FProc;
    std::atomic<bool> FCancelRequested{false};
    TSubscriberList FSubscribersOnComplete;
    TSubscriberList FSubscribersOnStart;
    TSubscriberList FSubscribersOnError;
    std::exception_ptr FException; // only errors of the Exception hierarchy
};

// The tasks of the updates list; nothing more than an install task.
class TUpdateTask : public TInstallTask {
public:
    static std::shared_ptr<TUpdateTask> Create(const QString& PublicKey, const QString& Name,
                                               const QString& Description, TInstallTaskType TaskType,
                                               TProc Proc);

protected:
    using TInstallTask::TInstallTask;
};

using TInstallTaskList = QList<std::shared_ptr<TInstallTask>>;
using TUpdateTaskList = QList<std::shared_ptr<TUpdateTask>>;

// The lists in creation order. The copies share the tasks; the lists themselves are guarded, so the
// managers may append from a background thread while the main thread reads.
TInstallTaskList InstallTasks();
TUpdateTaskList UpdateTasks();
void AddToInstallTasks(const std::shared_ptr<TInstallTask>& Task);
void AddToUpdateTasks(const std::shared_ptr<TUpdateTask>& Task);

int InstallTaskCount();
int RunningInstallTaskCount();
int UpdateTaskCount();
int RunningUpdateTaskCount();

// Keeps a manager alive as long as the installation; an object already kept is not added again.
void RetainManagerObject(const std::shared_ptr<void>& Object, const void* Identity);
template <class T>
void RetainManager(const std::shared_ptr<T>& Manager) {
    // The whole object's address, whichever base the caller holds it by.
    const void* identity;
    if constexpr (std::is_polymorphic_v<T>)
        identity = dynamic_cast<const void*>(Manager.get());
    else
        identity = Manager.get();
    RetainManagerObject(std::shared_ptr<void>(Manager, const_cast<void*>(identity)), identity);
}
int RetainedManagerCount();

// Ends the installation: cancels every task, drops their listeners and empties the list and the kept
// managers at once. Work still running finishes unobserved and frees what it used when it ends.
void ClearInstallTasks();
// The same for the updates list.
void ClearUpdateTasks();
// Shut-down: both lists are cleared.
void DoneInstallTasks();

// The pool on which every task's work runs; separate from the shared worker pool.
QThreadPool& InstallTaskPool();
