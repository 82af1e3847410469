#include "Service/Install/Tasks.h"

#include "App/MainThread.h"

#include <QThreadPool>

#include <mutex>

namespace {

struct TRetained {
    std::shared_ptr<void> Object;
    const void* Identity;
};

// The lists are guarded because the managers append from the queue's background thread.
struct TTaskLists {
    std::mutex Lock;
    TInstallTaskList Install;
    TUpdateTaskList Update;
    QList<TRetained> Retained;
};

TTaskLists& Lists() {
    static TTaskLists lists;
    return lists;
}

template <class L>
int CountRunning(const L& list) {
    int n = 0;
    for (const auto& task : list)
        if (task->Status() == tsRunning)
            ++n;
    return n;
}

template <class L>
void CancelAndForget(const L& tasks) {
    for (const auto& task : tasks) {
        task->Cancel();
        task->UnsubscribeAll();
    }
}

} // namespace

// ---- TInstallTask -------------------------------------------------------------------------------------

TInstallTask::TInstallTask(const QString& PublicKey, const QString& Name, const QString& Description,
                           TInstallTaskType TaskType, TProc Proc)
    : FName(Name), FDesc(Description), FPublicKey(PublicKey), FType(TaskType), FProc(std::move(Proc)),
      FSubscribersOnComplete(this), FSubscribersOnStart(this), FSubscribersOnError(this) {}

std::shared_ptr<TInstallTask> TInstallTask::Create(const QString& PublicKey, const QString& Name,
                                                   const QString& Description, TInstallTaskType TaskType,
                                                   TProc Proc) {
    return std::shared_ptr<TInstallTask>(new TInstallTask(PublicKey, Name, Description, TaskType, std::move(Proc)));
}

std::shared_ptr<TUpdateTask> TUpdateTask::Create(const QString& PublicKey, const QString& Name,
                                                 const QString& Description, TInstallTaskType TaskType,
                                                 TProc Proc) {
    return std::shared_ptr<TUpdateTask>(new TUpdateTask(PublicKey, Name, Description, TaskType, std::move(Proc)));
}

TInstallTask::~TInstallTask() {
    FCancelRequested.store(true);
}

const Exception* TInstallTask::Error() const {
    if (!FException)
        return nullptr;
    try {
        std::rethrow_exception(FException);
    } catch (const Exception& e) {
        return &e; // the object lives in FException, not in this handler
    } catch (...) {
    }
    return nullptr;
}

QString TInstallTask::ErrorMessage() const {
    const Exception* e = Error();
    return e ? e->Message() : QString();
}

void TInstallTask::Start() {
    if (FStatus.load() != tsNone || !FEnabled.load())
        return;
    FStatus.store(tsRunning);
    // The work keeps the task alive, so clearing the list while it runs frees nothing it uses.
    std::shared_ptr<TInstallTask> self = shared_from_this();
    InstallTaskPool().start([self] { self->RunWork(); });
    FSubscribersOnStart.NotifySubscribers();
}

void TInstallTask::Cancel() {
    FCancelRequested.store(true);
    TInstallTaskStatus running = tsRunning;
    FStatus.compare_exchange_strong(running, tsCanceled);
}

void TInstallTask::CheckCanceled(const TInstallTask* Task) {
    if (Task && Task->CancelRequested())
        throw EOperationCancelled(QStringLiteral("Operation cancelled"));
}

void TInstallTask::UnsubscribeAll() {
    FSubscribersOnComplete.clear();
    FSubscribersOnStart.clear();
    FSubscribersOnError.clear();
}

void TInstallTask::RunWork() {
    bool ok = false;
    try {
        FProc();
        ok = true;
    } catch (const Exception&) {
        FException = std::current_exception();
    } catch (...) {
        // Not one of the launcher's errors: the task fails without a stored error.
    }
    // The work is done with whatever it captured; drop it here, on the worker, rather than wherever the
    // last reference to the task happens to go.
    FProc = nullptr;
    FStatus.store(ok ? tsSuccess : tsFail);
    try {
        RunOnMainThread([this, ok] {
            if (ok)
                FSubscribersOnComplete.NotifySubscribers();
            else
                FSubscribersOnError.NotifySubscribers();
        });
    } catch (...) {
        // A listener's error has nobody on this worker to go to.
    }
}

// ---- lists --------------------------------------------------------------------------------------------

TInstallTaskList InstallTasks() {
    std::lock_guard lock(Lists().Lock);
    return Lists().Install;
}

TUpdateTaskList UpdateTasks() {
    std::lock_guard lock(Lists().Lock);
    return Lists().Update;
}

void AddToInstallTasks(const std::shared_ptr<TInstallTask>& Task) {
    std::lock_guard lock(Lists().Lock);
    Lists().Install.append(Task);
}

void AddToUpdateTasks(const std::shared_ptr<TUpdateTask>& Task) {
    std::lock_guard lock(Lists().Lock);
    Lists().Update.append(Task);
}

int InstallTaskCount() {
    std::lock_guard lock(Lists().Lock);
    return int(Lists().Install.size());
}

int RunningInstallTaskCount() {
    std::lock_guard lock(Lists().Lock);
    return CountRunning(Lists().Install);
}

int UpdateTaskCount() {
    std::lock_guard lock(Lists().Lock);
    return int(Lists().Update.size());
}

int RunningUpdateTaskCount() {
    std::lock_guard lock(Lists().Lock);
    return CountRunning(Lists().Update);
}

void RetainManagerObject(const std::shared_ptr<void>& Object, const void* Identity) {
    if (!Object)
        return;
    std::lock_guard lock(Lists().Lock);
    for (const TRetained& r : Lists().Retained)
        if (r.Identity == Identity)
            return;
    Lists().Retained.append({Object, Identity});
}

int RetainedManagerCount() {
    std::lock_guard lock(Lists().Lock);
    return int(Lists().Retained.size());
}

void ClearInstallTasks() {
    TInstallTaskList tasks;
    QList<TRetained> retained;
    {
        std::lock_guard lock(Lists().Lock);
        tasks.swap(Lists().Install);
        retained.swap(Lists().Retained);
    }
    // Outside the lock: freeing a task or manager may free more, which must not re-enter the lists.
    CancelAndForget(tasks);
}

void ClearUpdateTasks() {
    TUpdateTaskList tasks;
    {
        std::lock_guard lock(Lists().Lock);
        tasks.swap(Lists().Update);
    }
    CancelAndForget(tasks);
}

void DoneInstallTasks() {
    ClearInstallTasks();
    ClearUpdateTasks();
}

QThreadPool& InstallTaskPool() {
    // Never destroyed: at shut-down a worker may still wait for a main thread whose loop has ended, and
    // a pool destructor would wait for it for ever.
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(qMax(4, QThread::idealThreadCount()));
        p->setExpiryTimeout(30000);
        return p;
    }();
    return *pool;
}
