#include "Service/Updates/Checker.h"
#include "../Install/InstallFixture.h"

namespace {

TEST(IsNewerVersionTest, Table) {
    const struct {
        const char* Candidate;
        const char* Current;
        bool Newer;
    } cases[] = {
        {"1.10", "1.9", true},
        {"1.9", "1.10", false},
        {"1.2", "1.2.0.0", false},
        {"1.2.0.0", "1.2", false},
        {"1.0.1", "1.0", true},
        {"1.0", "1.0.1", false},
        {"1.3", "1.2", true},
        {"1.2.0", "1.2", false},
        {"1.1", "0.0.0.0", true},
        {"0.0.0.0", "1.1", false},
        {"1.1", "", true},
        {"", "", false},
        {"2.0.1", "2.0.1", false},
        {"1.0.2", "1.0.1.9", true},
        // A version of one part: never newer itself, older than anything else.
        {"3", "2.5", false},
        {"2.0.0.0", "1.5", false},
        {"1.1", "7", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsNewerVersion(c.Candidate, c.Current), c.Newer) << c.Candidate << " vs " << c.Current;
    for (const char* bad : {"1.x", "1..2", "1.-"})
        EXPECT_THROW(IsNewerVersion(bad, "1.0.1"), EConvertError) << bad;
}

class UpdatesCheckerTest : public InstallFixture {};

TEST_F(UpdatesCheckerTest, NewerInstalledItemsGetOneTaskEach) {
    AddGame("newer", lisInstalled, true, "1.2");
    AddGame("same", lisInstalled, true, "1.2");
    AddGame("broken", lisInstalled, true, "1.0");
    AddGame("queued", lisQueued, true, "1.0");
    AddGame("last", lisInstalled, true, "0.0.0.0");
    Meta("apps", "newer", R"({"name":"Newer","description":"d","version":"1.3"})");
    Meta("apps", "same", R"({"name":"Same","version":"1.2.0"})");
    Meta("apps", "queued", R"({"name":"Queued","version":"9.0"})");
    Meta("apps", "last", R"({"name":"Last","version":"0.1"})");
    TAppsUpdatesChecker().CheckUpdates(AppsLibrary());

    const TUpdateTaskList tasks = UpdateTasks();
    ASSERT_EQ(tasks.size(), 2);
    EXPECT_EQ(tasks[0]->PublicKey(), "newer");
    EXPECT_EQ(tasks[0]->Name(), "Newer");
    EXPECT_EQ(tasks[0]->TaskType(), ttApp);
    EXPECT_EQ(tasks[1]->PublicKey(), "last") << "a failing item does not stop the check";
    EXPECT_EQ(RequestCount("/cdn/meta/apps/queued.json"), 0);
    EXPECT_EQ(RequestCount("/cdn/meta/apps/broken.json"), 1);

    // Checking again always asks the service and lists the updates again.
    TAppsUpdatesChecker().CheckUpdates(AppsLibrary());
    EXPECT_EQ(UpdateTaskCount(), 4);
    EXPECT_EQ(RequestCount("/cdn/meta/apps/newer.json"), 2);
}

TEST_F(UpdatesCheckerTest, UpdateTaskSynchronisesTheItemsFiles) {
    AddComponent("dosbox", lisInstalled, "0.74");
    Meta("components", "dosbox",
         R"({"name":"DOSBox","version":"0.75","files":[{"file":"dosbox.conf","size":3,"updated":"2024-05-05T05:05:05"}]})");
    File("/cdn/components/dosbox/dosbox.conf", "new");
    TComponentsUpdatesChecker().CheckUpdates(ComponentsLibrary());
    ASSERT_EQ(UpdateTaskCount(), 1);
    const auto task = UpdateTasks().first();
    EXPECT_EQ(task->TaskType(), ttComponent);
    bool done = false;
    task->SubscribeOnComplete({&done, "done", [&](void*) { done = true; }});
    task->Start();
    ASSERT_TRUE(WaitFor([&] { return done; }));
    EXPECT_EQ(ReadFile(ComponentsPath() + "dosbox/dosbox.conf"), "new");
    EXPECT_EQ(ComponentsLibrary().FindItemByKey("dosbox")->Version, "0.74") << "the dialog records the version";
}

} // namespace
