#include "App/DataContracts.h"
#include "App/HttpExceptions.h"
#include "App/Paths.h"
#include "Service/AppsLibrary.h"
#include "Service/AppsLibrary/AppConfig.h"
#include "Service/AppsLibrary/ComponentConfig.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <QFile>

#include <atomic>
#include <thread>
#include <vector>

namespace {

// Applies one persisted member the way the library loader does.
void Apply(TGenericLibraryItem& Item, const char* Json) {
    ASSERT_TRUE(JsonToObject(ParseJson(QString::fromUtf8(Json)), Item)) << Json;
}

struct TCounter {
    int Calls = 0;
    void* LastSender = nullptr;
    TNotifyEvent Event() {
        return TNotifyEvent{this, "count", [this](void* Sender) {
                                ++Calls;
                                LastSender = Sender;
                            }};
    }
};

TEST(LibraryItemTest, NewItemsStartEmpty) {
    TAppLibraryItem app;
    TComponentLibraryItem component;
    for (const TGenericLibraryItem* item : {static_cast<const TGenericLibraryItem*>(&app),
                                            static_cast<const TGenericLibraryItem*>(&component)}) {
        EXPECT_EQ(item->Version, "0.0.0.0");
        EXPECT_EQ(item->State(), lisNone);
        EXPECT_FALSE(item->isIntalled());
        EXPECT_EQ(item->TotalDownloadSize(), 0);
        EXPECT_EQ(item->CurrentDownloadSize(), 0);
    }
    EXPECT_EQ(app.AppConfig(), nullptr);
    EXPECT_FALSE(app.isCatalogPageLoaded());
    EXPECT_FALSE(app.isRecommedInfoNeeded());
    EXPECT_EQ(ObjectToJsonText(&app), R"({"_key":"","_name":"","_path":"","_state":"","_description":"","_version":"0.0.0.0"})");
}

TEST(LibraryItemTest, VersionRule) {
    const struct {
        const char* Json;
        const char* Version;
    } cases[] = {
        {R"({"_version":"1"})", "0.0.0.0"},   {R"({"_version":1})", "0.0.0.0"},
        {R"({"_version":"1.2"})", "1.2"},     {R"({"_version":1.2})", "1.2"},
        {R"({"_version":""})", "0.0.0.0"},    {R"({"_version":null})", "0.0.0.0"},
        {R"({"_version":"2.0.1.7"})", "2.0.1.7"},
    };
    for (const auto& c : cases) {
        TAppLibraryItem item;
        item.Version = QStringLiteral("9.9");
        Apply(item, c.Json);
        EXPECT_EQ(item.Version, c.Version) << c.Json;
    }
}

TEST(LibraryItemTest, EmptyPathKeepsThePathBefore) {
    TAppLibraryItem item;
    Apply(item, R"({"_path":"/games/a/"})");
    Apply(item, R"({"_path":""})");
    Apply(item, R"({"_path":null})");
    EXPECT_EQ(item.Path, "/games/a/");
}

TEST(LibraryItemTest, StateWords) {
    const struct {
        const char* Word;
        TLibraryItemState State;
    } cases[] = {
        {"installed", lisInstalled}, {"queued", lisQueued},  {"Installed", lisNone},
        {"QUEUED", lisNone},         {"none", lisNone},      {"", lisNone},
    };
    for (const auto& c : cases) {
        TAppLibraryItem item;
        item.Path = MakeTempDir(QStringLiteral("state"));
        Apply(item, QStringLiteral(R"({"_state":"%1"})").arg(QString::fromUtf8(c.Word)).toUtf8().constData());
        EXPECT_EQ(item.State(), c.State) << c.Word;
    }
    // A word that is not a state leaves the state as it was.
    TAppLibraryItem queued;
    queued.SetState(lisQueued);
    Apply(queued, R"({"_state":"Installed"})");
    EXPECT_EQ(queued.State(), lisQueued);

    EXPECT_EQ(LibraryItemStateToText(lisNone), "");
    EXPECT_EQ(LibraryItemStateToText(lisInstalled), "installed");
    EXPECT_EQ(LibraryItemStateToText(lisQueued), "queued");
}

TEST(LibraryItemTest, StateChangesNotifyOncePerChange) {
    TAppLibraryItem item;
    item.Path = MakeTempDir(QStringLiteral("notify"));
    TCounter counter;
    item.SubscribeOnStateChange(counter.Event());

    item.SetState(lisNone);
    EXPECT_EQ(counter.Calls, 0);
    item.SetState(lisQueued);
    item.SetState(lisQueued);
    EXPECT_EQ(counter.Calls, 1);
    EXPECT_EQ(counter.LastSender, &item);
    item.SetState(lisInstalled);
    item.SetState(lisNone);
    EXPECT_EQ(counter.Calls, 3);

    item.UnsubscribeOnStateChange(counter.Event());
    item.SetState(lisQueued);
    EXPECT_EQ(counter.Calls, 3);
}

TEST(LibraryItemTest, InstallingNeedsAPathAndKeepsTheConfiguration) {
    TAppLibraryItem item;
    item.PublicKey = QStringLiteral("game");
    item.SetState(lisQueued);
    TCounter counter;
    item.SubscribeOnStateChange(counter.Event());
    try {
        item.SetState(lisInstalled);
        FAIL() << "installed without a path";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Set Path before setting state to installed");
    }
    EXPECT_EQ(item.State(), lisQueued);
    EXPECT_EQ(counter.Calls, 0);
    EXPECT_EQ(item.AppConfig(), nullptr);

    item.Path = MakeTempDir(QStringLiteral("install"));
    item.SetState(lisInstalled);
    ASSERT_NE(item.AppConfig(), nullptr);
    EXPECT_EQ(item.AppConfig()->Path, item.Path);
    EXPECT_EQ(item.AppConfig()->PublicKey(), "game");
    const TAppConfig* config = item.AppConfig();

    // Neither dropped when the game leaves the installed state nor made again by a reinstall, even once
    // the path is gone.
    item.SetState(lisNone);
    item.Path.clear();
    item.SetState(lisInstalled);
    EXPECT_EQ(item.AppConfig(), config);
    EXPECT_TRUE(item.isIntalled());
}

TEST(LibraryItemTest, ComponentPathFollowsItsKey) {
    TComponentLibraryItem component;
    EXPECT_EQ(component.Path, ComponentsPath() + "/");
    Apply(component, R"({"_key":"dosbox"})");
    EXPECT_EQ(component.Path, ComponentsPath() + "dosbox/");
    // A stored path read after the key wins, as when a library file is loaded.
    Apply(component, R"({"_key":"dosbox-x","_path":"/opt/dosbox-x/"})");
    EXPECT_EQ(component.Path, "/opt/dosbox-x/");
    EXPECT_EQ(component.ComponentConfig().Path(), "/opt/dosbox-x/");
    EXPECT_EQ(&component.ComponentConfig(), &component.ComponentConfig());
}

TEST(LibraryItemTest, CoverResource) {
    const QString dir = MakeTempDir(QStringLiteral("cover"));
    WriteFile(dir + "game.ini", "[General]\r\nCover=.png\r\n");
    WriteFile(dir + "game.png", "png");
    TAppLibraryItem item;
    item.PublicKey = QStringLiteral("game");
    item.CoverUrl = QStringLiteral("http://127.0.0.1/covers/game.png");
    item.Path = dir;
    EXPECT_EQ(item.GetCoverResource(), item.CoverUrl);
    item.SetState(lisInstalled);
    EXPECT_EQ(item.GetCoverResource(), dir + "game.png");

    // Installed, but the configured cover file is missing.
    const QString bare = MakeTempDir(QStringLiteral("cover"));
    WriteFile(bare + "game.ini", "[General]\r\nCover=.png\r\n");
    TAppLibraryItem other;
    other.PublicKey = QStringLiteral("game");
    other.CoverUrl = QStringLiteral("http://127.0.0.1/c.png");
    other.Path = bare;
    other.SetState(lisInstalled);
    EXPECT_EQ(other.GetCoverResource(), other.CoverUrl);
}

TEST(LibraryItemTest, RecommendInfoUntilFirstRun) {
    const QString dir = MakeTempDir(QStringLiteral("recommend"));
    WriteFile(dir + "quest.ini", "[General]\r\nRecommendInfo=1\r\n");
    TAppLibraryItem item;
    item.PublicKey = QStringLiteral("quest");
    item.Path = dir;
    EXPECT_FALSE(item.isRecommedInfoNeeded());
    item.SetState(lisInstalled);
    EXPECT_TRUE(item.isRecommedInfoNeeded());
    item.AppConfig()->SaveLastPlayedTime();
    EXPECT_FALSE(item.isRecommedInfoNeeded());
}

TEST(LibraryItemTest, DownloadProgressAddsUp) {
    TAppLibraryItem item;
    TCounter counter;
    item.SubscribeOnDownloadProgress(counter.Event());
    item.UpdateDownloadProgress(500, 3);
    item.UpdateDownloadProgress(500, 4);
    EXPECT_EQ(item.TotalDownloadSize(), 500);
    EXPECT_EQ(item.CurrentDownloadSize(), 7);
    EXPECT_EQ(counter.Calls, 2);
    EXPECT_EQ(counter.LastSender, &item);
    item.UnsubscribeOnDownloadProgress(counter.Event());
    item.UpdateDownloadProgress(600, 1);
    EXPECT_EQ(counter.Calls, 2);
    EXPECT_EQ(item.TotalDownloadSize(), 600);
    EXPECT_EQ(item.CurrentDownloadSize(), 8);
}

TEST(LibraryItemTest, ProgressFromSeveralWorkersIsNotLost) {
    TAppLibraryItem item;
    std::atomic<int> notified{0};
    item.SubscribeOnDownloadProgress(TNotifyEvent{&notified, "n", [&](void*) { ++notified; }});
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t)
        workers.emplace_back([&] {
            for (int i = 0; i < 5000; ++i)
                item.UpdateDownloadProgress(1000, 1);
        });
    // The main thread keeps reading and (un)subscribing while the workers report.
    TCounter reader;
    while (item.CurrentDownloadSize() < 20000) {
        item.SubscribeOnDownloadProgress(reader.Event());
        item.UnsubscribeOnDownloadProgress(reader.Event());
        EXPECT_LE(item.CurrentDownloadSize(), 20000);
    }
    for (auto& w : workers)
        w.join();
    EXPECT_EQ(item.CurrentDownloadSize(), 20000);
    EXPECT_EQ(notified.load(), 20000);
}

TEST(LibraryItemTest, UpdateFromCopiesTextsAndCatalogFlags) {
    TAppLibraryItem source;
    source.Name = QStringLiteral("Игра");
    source.Description = QStringLiteral("d");
    source.CoverUrl = QStringLiteral("http://127.0.0.1/c.png");
    source.Locked = true;
    source.Version = QStringLiteral("1.0");
    source.Path = QStringLiteral("/x/");

    TAppLibraryItem target;
    target.Path = QStringLiteral("/games/t/");
    target.UpdateFrom(source);
    EXPECT_EQ(target.Name, source.Name);
    EXPECT_EQ(target.Description, "d");
    EXPECT_EQ(target.CoverUrl, source.CoverUrl);
    EXPECT_TRUE(target.Locked);
    EXPECT_EQ(target.Path, "/games/t/");
    EXPECT_EQ(target.Version, "0.0.0.0");

    TComponentLibraryItem component;
    component.Name = QStringLiteral("DOSBox");
    TAppLibraryItem fromComponent;
    fromComponent.CoverUrl = QStringLiteral("kept");
    fromComponent.UpdateFrom(component);
    EXPECT_EQ(fromComponent.Name, "DOSBox");
    EXPECT_EQ(fromComponent.CoverUrl, "kept");
}

TEST(LibraryItemTest, SecondCatalogPageIsAnAssertion) {
    TAppLibraryItem item;
    auto page = std::make_unique<TAppCatalogPage>();
    page->Title = QStringLiteral("first");
    item.SetCatalogPage(std::move(page));
    ASSERT_TRUE(item.isCatalogPageLoaded());
    try {
        item.SetCatalogPage(std::make_unique<TAppCatalogPage>());
        FAIL() << "second page taken";
    } catch (const EAssertionFailed& e) {
        EXPECT_TRUE(e.Message().contains("Service\\Service.AppsLibrary")) << e.Message().toStdString();
    }
    EXPECT_EQ(item.CatalogPage()->Title, "first");
}

// Items named by their metadata, fetched from a local service.
class LibraryItemMetaTest : public ::testing::Test {
protected:
    void SetUp() override {
        FOldUrl = qgetenv("TARVENOX_SERVICE_URL");
        FServer.Server().Get(R"(/cdn/meta/(apps|components)/(.*)\.json)",
                             [this](const httplib::Request& req, httplib::Response& res) {
                                 ++FRequests;
                                 if (req.matches[2] == "missing") {
                                     res.status = 404;
                                     return;
                                 }
                                 res.set_content("{\"name\":\"Name of " + std::string(req.matches[2]) +
                                                     "\",\"description\":\"About\",\"version\":\"1.5\"}",
                                                 "application/json");
                             });
        FServer.Start();
        qputenv("TARVENOX_SERVICE_URL", FServer.Origin().toUtf8());
        InitPaths();
    }
    void TearDown() override {
        qputenv("TARVENOX_SERVICE_URL", FOldUrl);
        InitPaths();
    }

    TestHttpServer FServer;
    std::atomic<int> FRequests{0};
    QByteArray FOldUrl;
};

TEST_F(LibraryItemMetaTest, CreateByPublicKeyTakesOnlyTheName) {
    const auto app = TAppLibraryItem::CreateByPublicKey(QStringLiteral("arcade"));
    EXPECT_EQ(app->PublicKey, "arcade");
    EXPECT_EQ(app->Name, "Name of arcade");
    EXPECT_EQ(app->Description, "");
    EXPECT_EQ(app->Version, "0.0.0.0");
    EXPECT_EQ(app->State(), lisNone);
    EXPECT_TRUE(QFile::exists(MetaPath() + "apps/arcade.json"));

    const auto component = TComponentLibraryItem::CreateByPublicKey(QStringLiteral("dosbox"));
    EXPECT_EQ(component->Name, "Name of dosbox");
    EXPECT_EQ(component->Path, ComponentsPath() + "dosbox/");
    EXPECT_TRUE(QFile::exists(MetaPath() + "components/dosbox.json"));
    EXPECT_EQ(FRequests.load(), 2);
}

TEST_F(LibraryItemMetaTest, FailedMetadataFetchGivesNoItem) {
    EXPECT_THROW(TAppLibraryItem::CreateByPublicKey(QStringLiteral("missing")), EDownloadException);
    EXPECT_THROW(TAppLibraryItem::CreateByPublicKey(QStringLiteral("../escape")), Exception);
    EXPECT_EQ(FRequests.load(), 1);
}

} // namespace
