#include "App/HttpExceptions.h"
#include "Platform/Shell.h"
#include "Service/Install/AppManager.h"
#include "Service/Install/ComponentManager.h"
#include "Service/Install/DepManager.h"
#include "InstallFixture.h"

#include <unistd.h>

namespace {

QStringList TaskKeys() {
    QStringList keys;
    for (const auto& task : InstallTasks())
        keys << task->PublicKey();
    return keys;
}

// Starts the task and waits for its completion or failure notice.
bool RunToEnd(const std::shared_ptr<TInstallTask>& Task) {
    bool told = false;
    Task->SubscribeOnComplete({&told, "done", [&](void*) { told = true; }});
    Task->SubscribeOnError({&told, "done", [&](void*) { told = true; }});
    Task->Start();
    const bool ended = WaitFor([&] { return told; });
    Task->UnsubscribeAll();
    return ended;
}

class ManagersTest : public InstallFixture {
protected:
    void SetUp() override {
        InstallFixture::SetUp();
        Meta("apps", "game", R"({"name":"Game","description":"About","component":["c1","c2"],"files":[]})");
        Meta("components", "c1", R"({"name":"C1","dependencies":["d1","d2"]})");
        Meta("components", "c2", R"({"name":"C2"})");
        Meta("dependencies", "d1", R"({"name":"D1","sources":["x"]})");
        Meta("dependencies", "d2", R"({"name":"D2","install":{"file":"/nonexistent/d2"},"sources":["x"]})");
    }
};

TEST_F(ManagersTest, TasksComeDependenciesFirstAndSkipWhatIsInstalled) {
    AddGame("game");
    auto manager = std::make_shared<TAppManager>("game");
    manager->InstallWhenNotAvailable();
    EXPECT_EQ(TaskKeys(), QStringList({"d1", "d2", "c1", "c2", "game"}));
    const TInstallTaskList tasks = InstallTasks();
    const TInstallTaskType types[] = {ttDep, ttDep, ttComponent, ttComponent, ttApp};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(tasks[i]->TaskType(), types[i]) << i;
    EXPECT_EQ(tasks[4]->Name(), "Game");
    EXPECT_EQ(tasks[4]->Description(), "About");
    EXPECT_EQ(manager->Components(), QStringList({"c1", "c2"}));
    EXPECT_EQ(RetainedManagerCount(), 4);
    ClearInstallTasks();

    // An installed component brings neither its own task nor its dependencies'.
    AddComponent("c1", lisInstalled);
    std::make_shared<TAppManager>("game")->InstallWhenNotAvailable();
    EXPECT_EQ(TaskKeys(), QStringList({"c2", "game"}));
    ClearInstallTasks();

    // An installed game brings nothing, whatever its components.
    AppsLibrary().FindItemByKey("game")->SetState(lisInstalled);
    std::make_shared<TAppManager>("game")->InstallWhenNotAvailable();
    EXPECT_EQ(InstallTaskCount(), 0);
}

TEST_F(ManagersTest, GameWithoutComponentsAndWithoutPath) {
    Meta("apps", "solo", R"({"name":"Solo","files":[{"file":"a.dat","size":1,"updated":"2024-01-01T00:00:00"}]})");
    Meta("apps", "empty", R"({"name":"Empty"})");
    AddGame("solo", lisQueued, false);
    AddGame("empty", lisQueued, false);
    auto solo = std::make_shared<TAppManager>("solo");
    solo->InstallWhenNotAvailable();
    EXPECT_TRUE(solo->Components().isEmpty());
    ASSERT_EQ(InstallTaskCount(), 1);
    EXPECT_EQ(InstallTasks().first()->TaskType(), ttApp);
    std::make_shared<TAppManager>("empty")->InstallWhenNotAvailable();

    const TInstallTaskList tasks = InstallTasks();
    ASSERT_TRUE(RunToEnd(tasks[0]));
    EXPECT_EQ(tasks[0]->Status(), tsFail);
    EXPECT_EQ(tasks[0]->ErrorMessage(), "Can't get item path: solo");
    // Nothing listed, nothing to place: the missing folder does not matter.
    ASSERT_TRUE(RunToEnd(tasks[1]));
    EXPECT_EQ(tasks[1]->Status(), tsSuccess);
}

TEST_F(ManagersTest, FilesGoToTheItemsFolderWithProgress) {
    Meta("components", "dosbox",
         R"({"name":"DOSBox","files":[{"file":"bin\\meta.ini","size":2500,"updated":"2024-01-01T00:00:00"}]})");
    File("/cdn/components/dosbox/bin/meta.ini", std::string(2500, 'm'));
    TComponentLibraryItem* component = AddComponent("dosbox", lisNone);
    auto manager = std::make_shared<TComponentManager>("dosbox");
    EXPECT_EQ(manager->GetPath(), ComponentsPath() + "dosbox/");
    manager->InstallWhenNotAvailable();
    ASSERT_EQ(InstallTaskCount(), 1);
    ASSERT_TRUE(RunToEnd(InstallTasks().first()));
    EXPECT_EQ(InstallTasks().first()->Status(), tsSuccess);
    EXPECT_EQ(ReadFile(ComponentsPath() + "dosbox/bin/meta.ini"), QByteArray(2500, 'm'));
    EXPECT_EQ(RequestCount("/cdn/components/dosbox/bin/meta.ini"), 1);
    // Delivered before the completion notice, which the task waited for.
    EXPECT_EQ(component->TotalDownloadSize(), 2);
    EXPECT_EQ(component->CurrentDownloadSize(), 2);
}

class DepManagerTest : public InstallFixture {
protected:
    void SetUp() override {
        InstallFixture::SetUp();
        FOrigin = FServerOrigin();
    }
    std::string FServerOrigin() const { return ServiceOrigin().toStdString(); }
    std::string Src(const std::string& Path) const { return "\"" + FOrigin + Path + "\""; }
    std::shared_ptr<TInstallTask> OnlyTask() {
        EXPECT_EQ(InstallTaskCount(), 1);
        return InstallTaskCount() == 1 ? InstallTasks().first() : nullptr;
    }
    std::string FOrigin;
};

TEST_F(DepManagerTest, PresenceDecidesWhetherATaskIsMade) {
    QString systemFile;
    for (const QString& name : QDir(GetSpecialFolder(TSpecialFolder::System)).entryList(QDir::Files))
        systemFile = name;
    ASSERT_FALSE(systemFile.isEmpty());
    const struct {
        std::string Install;
        bool Task;
    } cases[] = {
        {R"("install":{"file":"{sys}\\)" + systemFile.toStdString() + R"("},)", false},
        {"", true}, // without "install" the installer always runs
        {R"("install":{},)", true},
        {R"("install":"{sys}",)", true},
        {R"("install":{"file":"{sys}\\no-such-file.dll"},)", true},
    };
    for (const auto& c : cases) {
        Meta("dependencies", "rt", "{" + c.Install + R"("name":"Runtime","sources":["x"]})");
        QDir(MetaPath()).removeRecursively();
        std::make_shared<TDepManager>("rt")->InstallWhenNotAvailable();
        EXPECT_EQ(InstallTaskCount(), c.Task ? 1 : 0) << c.Install;
        if (c.Task) {
            EXPECT_EQ(InstallTasks().first()->TaskType(), ttDep);
            EXPECT_EQ(InstallTasks().first()->Name(), "Runtime");
        }
        ClearInstallTasks();
    }
}

TEST_F(DepManagerTest, SourcesAreTriedPastMissingFilesOnly) {
    std::vector<TShellCall> calls;
    TScopedShellHook hook([&](const TShellCall& call) {
        calls.push_back(call);
        return true;
    });
    Meta("dependencies", "rt",
         R"({"name":"Runtime","params":"/quiet /norestart","sources":[)" + Src("/dl/one") + "," + Src("/dl/two") +
             "," + Src("/dl/three") + "]}");
    File("/dl/two", "#!/bin/sh\nexit 0\n");
    File("/dl/three", "third");
    std::make_shared<TDepManager>("rt")->InstallWhenNotAvailable();
    auto task = OnlyTask();
    ASSERT_TRUE(task);
    ASSERT_TRUE(RunToEnd(task));
    EXPECT_EQ(task->Status(), tsSuccess) << task->ErrorMessage().toStdString();
    EXPECT_EQ(RequestCount("/dl/one"), 1);
    EXPECT_EQ(RequestCount("/dl/two"), 1);
    EXPECT_EQ(RequestCount("/dl/three"), 0);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].Kind, TShellCall::TKind::ElevatedWait);
    EXPECT_EQ(calls[0].File, DependenciesPath() + "rt");
    EXPECT_EQ(calls[0].Parameters, "/quiet /norestart");
    EXPECT_EQ(ReadFile(DependenciesPath() + "rt"), "#!/bin/sh\nexit 0\n");
}

TEST_F(DepManagerTest, FailuresOfTheInstallerTask) {
    bool allowStart = true;
    int starts = 0;
    TScopedShellHook hook([&](const TShellCall&) {
        ++starts;
        return allowStart;
    });
    const struct {
        std::string Sources;
        bool AllowStart;
        QString ErrorClass;
        QString Message;
    } cases[] = {
        {"[]", true, "EInvalidJsonFormatException", "No download sources available"},
        {"", true, "EInvalidJsonFormatException", "No download sources available"},
        {"[" + Src("/dl/missing") + "]", true, "Exception", "Unable to download dependency"},
        // A network failure is not a missing file: the next address is not tried.
        {R"(["http://127.0.0.1:1/x",)" + Src("/dl/ok") + "]", true, "ENetHTTPClientException", ""},
        // The user declined the elevation prompt.
        {"[" + Src("/dl/ok") + "]", false, "EOSError", ""},
    };
    File("/dl/ok", "#!/bin/sh\n");
    for (const auto& c : cases) {
        Meta("dependencies", "rt",
             R"({"name":"Runtime")" + (c.Sources.empty() ? std::string() : R"(,"sources":)" + c.Sources) + "}");
        QDir(MetaPath()).removeRecursively();
        allowStart = c.AllowStart;
        const int requestsBefore = int(Requests().size());
        starts = 0;
        std::make_shared<TDepManager>("rt")->InstallWhenNotAvailable();
        auto task = OnlyTask();
        ASSERT_TRUE(task);
        ASSERT_TRUE(RunToEnd(task));
        EXPECT_EQ(task->Status(), tsFail) << c.Sources;
        ASSERT_NE(task->Error(), nullptr) << c.Sources;
        EXPECT_EQ(task->Error()->ClassName(), c.ErrorClass) << c.Sources;
        if (!c.Message.isEmpty())
            EXPECT_EQ(task->ErrorMessage(), c.Message);
        if (c.Sources.empty() || c.Sources == "[]")
            EXPECT_EQ(int(Requests().size()), requestsBefore + 1) << "only the metadata was fetched";
        EXPECT_EQ(RequestCount("/dl/ok"), c.AllowStart ? 0 : 1) << c.Sources;
        EXPECT_EQ(starts, c.AllowStart ? 0 : 1) << c.Sources;
        ClearInstallTasks();
    }
}

TEST_F(DepManagerTest, InstallerRunsToItsEndWhateverItsExitCode) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "runs the installer directly only as root; otherwise pkexec would ask";
    const QString marker = MakeTempDir("dep") + "ran";
    Meta("dependencies", "rt", R"({"name":"Runtime","params":")" + marker.toStdString() +
                                   R"(","sources":[)" + Src("/dl/installer") + "]}");
    File("/dl/installer", "#!/bin/sh\nsleep 0.2\necho done > \"$1\"\nexit 3\n");
    std::make_shared<TDepManager>("rt")->InstallWhenNotAvailable();
    auto task = OnlyTask();
    ASSERT_TRUE(task);
    ASSERT_TRUE(RunToEnd(task));
    EXPECT_EQ(task->Status(), tsSuccess) << task->ErrorMessage().toStdString();
    EXPECT_EQ(ReadFile(marker), "done\n") << "the task ended after the installer";
}

} // namespace
