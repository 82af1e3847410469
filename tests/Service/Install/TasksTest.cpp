#include "App/MainThread.h"
#include "Service/Install/Tasks.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <atomic>
#include <stdexcept>

namespace {

// Counts the notifications of one task, and on which thread they arrived.
struct TListener {
    int Starts = 0, Completes = 0, Errors = 0;
    bool AllOnMainThread = true;
    void Attach(TInstallTask& Task) {
        Task.SubscribeOnStart({this, "start", [this](void* s) { Note(s, Starts); }});
        Task.SubscribeOnComplete({this, "complete", [this](void* s) { Note(s, Completes); }});
        Task.SubscribeOnError({this, "error", [this](void* s) { Note(s, Errors); }});
        FTask = &Task;
    }
    void Note(void* Sender, int& Counter) {
        EXPECT_EQ(Sender, FTask);
        AllOnMainThread = AllOnMainThread && IsMainThread();
        ++Counter;
    }
    TInstallTask* FTask = nullptr;
};

bool Finished(const TInstallTask& Task) {
    return Task.Status() == tsSuccess || Task.Status() == tsFail;
}

// A gate the work waits at until the test opens it.
struct TGate {
    std::atomic<bool> Open{false};
    std::atomic<bool> Reached{false};
    void Pass(const TInstallTask* Task = nullptr) {
        Reached = true;
        while (!Open) {
            TInstallTask::CheckCanceled(Task);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
};

class InstallTasksTest : public ::testing::Test {
protected:
    void TearDown() override { DoneInstallTasks(); }
};

TEST_F(InstallTasksTest, WorkOutcomesAndNotifications) {
    const struct {
        const char* Name;
        std::function<void()> Proc;
        TInstallTaskStatus Status;
        QString Error;
        bool Stored;
    } cases[] = {
        {"returns", [] {}, tsSuccess, QString(), false},
        {"launcher error", [] { throw EInOutError(QStringLiteral("disk full")); }, tsFail, "disk full", true},
        {"foreign error", [] { throw std::runtime_error("odd"); }, tsFail, QString(), false},
    };
    for (const auto& c : cases) {
        std::atomic<int> runs{0};
        auto task = TInstallTask::Create("k", "Name", "Desc", ttApp, [&runs, proc = c.Proc] {
            ++runs;
            proc();
        });
        EXPECT_EQ(task->Status(), tsNone);
        EXPECT_TRUE(task->Enabled());
        TListener listener;
        listener.Attach(*task);
        task->Start();
        task->Start(); // a second start changes nothing
        EXPECT_EQ(listener.Starts, 1) << c.Name;
        ASSERT_TRUE(WaitFor([&] { return listener.Completes + listener.Errors > 0; })) << c.Name;
        EXPECT_EQ(task->Status(), c.Status) << c.Name;
        EXPECT_EQ(runs.load(), 1) << c.Name;
        EXPECT_EQ(listener.Completes, c.Status == tsSuccess ? 1 : 0) << c.Name;
        EXPECT_EQ(listener.Errors, c.Status == tsFail ? 1 : 0) << c.Name;
        EXPECT_TRUE(listener.AllOnMainThread) << c.Name;
        EXPECT_EQ(task->Error() != nullptr, c.Stored) << c.Name;
        EXPECT_EQ(task->ErrorMessage(), c.Error) << c.Name;
        task->Start();
        EXPECT_EQ(runs.load(), 1) << c.Name;
    }
}

TEST_F(InstallTasksTest, DisabledTaskNeverRuns) {
    std::atomic<int> runs{0};
    auto task = TInstallTask::Create("dep", "Runtime", "", ttDep, [&] { ++runs; });
    TListener listener;
    listener.Attach(*task);
    task->SetEnabled(false);
    task->Start();
    QCoreApplication::processEvents();
    EXPECT_EQ(task->Status(), tsNone);
    EXPECT_EQ(listener.Starts, 0);
    EXPECT_EQ(runs.load(), 0);
}

TEST_F(InstallTasksTest, CancelStopsAtTheNextCancellationPoint) {
    TGate gate;
    std::shared_ptr<TInstallTask> task;
    task = TInstallTask::Create("k", "n", "", ttApp, [&] { gate.Pass(task.get()); });
    task->Cancel(); // before the start nothing changes
    EXPECT_EQ(task->Status(), tsNone);

    task = TInstallTask::Create("k", "n", "", ttApp, [&] { gate.Pass(task.get()); });
    TListener listener;
    listener.Attach(*task);
    task->Start();
    ASSERT_TRUE(WaitFor([&] { return gate.Reached.load(); }));
    task->Cancel();
    EXPECT_TRUE(task->Status() == tsCanceled || task->Status() == tsFail);
    ASSERT_TRUE(WaitFor([&] { return listener.Errors == 1; }));
    EXPECT_EQ(task->Status(), tsFail);
    ASSERT_NE(task->Error(), nullptr);
    EXPECT_EQ(task->Error()->ClassName(), "EOperationCancelled");
    EXPECT_EQ(listener.Completes, 0);

    // Work without cancellation points runs to its end and counts as a success.
    TGate plain;
    auto uninterrupted = TInstallTask::Create("k", "n", "", ttDep, [&] { plain.Pass(); });
    uninterrupted->Start();
    ASSERT_TRUE(WaitFor([&] { return plain.Reached.load(); }));
    uninterrupted->Cancel();
    EXPECT_EQ(uninterrupted->Status(), tsCanceled);
    plain.Open = true;
    ASSERT_TRUE(WaitFor([&] { return Finished(*uninterrupted); }));
    EXPECT_EQ(uninterrupted->Status(), tsSuccess);
}

TEST_F(InstallTasksTest, ClearingWhileWorkRunsNeitherWaitsNorFreesTheTask) {
    EXPECT_EQ(InstallTaskCount(), 0);
    EXPECT_EQ(UpdateTaskCount(), 0);

    TGate gate;
    std::atomic<bool> workEnded{false};
    auto manager = std::make_shared<int>(7);
    std::weak_ptr<int> managerAlive = manager;
    auto running = TInstallTask::Create("g", "Game", "", ttApp, [&gate, &workEnded, manager] {
        gate.Pass();
        workEnded = *manager == 7;
    });
    auto waiting = TInstallTask::Create("c", "Comp", "", ttComponent, [] {});
    AddToInstallTasks(running);
    AddToInstallTasks(waiting);
    RetainManager(manager);
    RetainManager(manager);
    EXPECT_EQ(RetainedManagerCount(), 1);
    manager.reset();
    EXPECT_EQ(InstallTaskCount(), 2);
    EXPECT_EQ(InstallTasks().at(0), running);

    TListener listener;
    listener.Attach(*running);
    running->Start();
    ASSERT_TRUE(WaitFor([&] { return gate.Reached.load(); }));
    EXPECT_EQ(RunningInstallTaskCount(), 1);

    std::weak_ptr<TInstallTask> runningAlive = running;
    running.reset();
    waiting.reset();
    ClearInstallTasks();
    EXPECT_EQ(InstallTaskCount(), 0);
    EXPECT_EQ(RetainedManagerCount(), 0);
    EXPECT_FALSE(runningAlive.expired()) << "the running work keeps its task";
    EXPECT_FALSE(managerAlive.expired()) << "and what it captured";

    gate.Open = true;
    ASSERT_TRUE(WaitFor([&] { return runningAlive.expired(); }));
    EXPECT_TRUE(workEnded.load());
    EXPECT_TRUE(managerAlive.expired());
    QCoreApplication::processEvents();
    EXPECT_EQ(listener.Completes + listener.Errors, 0) << "cleared tasks are not observed";

    // The updates list works the same way.
    auto update = TUpdateTask::Create("g", "Game", "", ttApp, [] {});
    AddToUpdateTasks(update);
    EXPECT_EQ(UpdateTaskCount(), 1);
    EXPECT_EQ(RunningUpdateTaskCount(), 0);
    ClearUpdateTasks();
    EXPECT_EQ(UpdateTaskCount(), 0);
}

} // namespace
