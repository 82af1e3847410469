#include "App/CLIParameters.h"
#include "App/Paths.h"
#include "App/Settings.h"
#include "App/User.h"
#include "Forms/uFrameApp.h"
#include "Forms/uFrameLibrary.h"
#include "Forms/uAppInstall.h"
#include "Forms/uLogin.h"
#include "Forms/uMain.h"
#include "Platform/Shell.h"
#include "Service/AppLauncher.h"
#include "Service/AppsLibrary.h"
#include "Service/DirWatcher.h"
#include "Service/Meta/Providers.h"
#include "Service/Install/Tasks.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QThreadPool>
#include <QTimer>
#include <QToolButton>

#include <mutex>

namespace {

// A main window against an in-process service that answers the profile with the coins the test sets.
class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        FServer.Server().Get("/api/kiv/profile", [this](const httplib::Request&, httplib::Response& res) {
            std::lock_guard lock(FMutex);
            ++FProfileRequests;
            res.set_content(R"({"data":{"type":"kiv-user-info","attributes":{"coins":)" +
                                std::to_string(FCoins) + R"(,"name":"Bob"}}})",
                            "application/vnd.api+json");
        });
        FServer.Server().Get(R"(/cdn/meta/apps/(.*)\.json)", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(R"({"name":"Old game","version":"1.2","files":[]})", "application/json");
        });
        FServer.Server().Post(R"(/api/.*)", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("{}", "application/json");
        });
        FServer.Start();
        qputenv("TARVENOX_SERVICE_URL", FServer.Origin().toUtf8());
        InitPaths();
        Core::UpdatesCore = Core::UpdatesApps = Core::UpdatesComponents = false;
        Core::CheckBrowserIntegration = false;
        FOldPath = Lib::GetPath();
        Lib::SetPath(MakeTempDir(QStringLiteral("games")));
        InitLibraries();
        InitWatchers();
        InitLaunchers();
        CurrentUser().SetName(QStringLiteral("stored"));
        CurrentUser().SetToken(QStringLiteral("tok"));
    }
    void TearDown() override {
        delete Window;
        // Reports may still hand work to the main thread, so the loop keeps running while they end.
        WaitFor([] { return QThreadPool::globalInstance()->activeThreadCount() == 0; });
        ClearUpdateTasks();
        DoneLaunchers();
        DoneWatchers();
        DoneLibraries();
        Lib::SetPath(FOldPath);
        CurrentUser().SetToken(QString());
        CurrentUser().SetName(QString());
        qputenv("TARVENOX_SERVICE_URL", "http://127.0.0.1:9");
        InitPaths();
    }
    void SetCoins(int Coins) {
        std::lock_guard lock(FMutex);
        FCoins = Coins;
    }
    int ProfileRequests() {
        std::lock_guard lock(FMutex);
        return FProfileRequests;
    }

    TestHttpServer FServer;
    std::mutex FMutex;
    int FCoins = 0, FProfileRequests = 0;
    QString FOldPath;
    TfMain* Window = nullptr;
};

TEST_F(MainWindow, LoggedInShowsStoredNameThenProfileAndCoins) {
    SetCoins(5);
    Window = new TfMain;
    EXPECT_EQ(Window->bUser->text(), QStringLiteral("stored"));
    EXPECT_EQ(Window->bUser->menu(), Window->popupUser);
    ASSERT_TRUE(WaitFor([this] { return Window->bUser->text() == QStringLiteral("Bob"); }));
    EXPECT_EQ(Window->txtCoins->text(), QStringLiteral("5"));
    EXPECT_FALSE(Window->panelCoins->isHidden());
    EXPECT_TRUE(Window->timerRefresh->isActive());
    EXPECT_EQ(Window->mnuAbout->text(), QStringLiteral("О «Tarveno!»..."));
    EXPECT_FALSE(Window->mnuProfile->isEnabled());

    // A tick with no coins left hides the indicator.
    SetCoins(0);
    Window->timerRefreshTimer();
    EXPECT_EQ(Window->txtCoins->text(), QStringLiteral("0"));
    EXPECT_TRUE(Window->panelCoins->isHidden());
}

TEST_F(MainWindow, TokenChangesSwitchTheUserButton) {
    Window = new TfMain;
    ASSERT_TRUE(WaitFor([this] { return ProfileRequests() == 1; }));
    CurrentUser().SetToken(QString());
    EXPECT_FALSE(Window->LoggedIn());
    EXPECT_EQ(Window->bUser->text(), QStringLiteral("Подключиться"));
    EXPECT_EQ(Window->bUser->menu(), nullptr);
    // After a logout the next refresh switches the timer off for good.
    Window->timerRefreshTimer();
    EXPECT_FALSE(Window->timerRefresh->isActive());
    // A change of the name alone changes nothing.
    CurrentUser().SetName(QStringLiteral("other"));
    EXPECT_FALSE(Window->LoggedIn());
}

TEST_F(MainWindow, LinksLaunchInstalledGamesAndAskToInstallOthers) {
    auto own = std::make_unique<TAppLibraryItem>();
    own->PublicKey = QStringLiteral("own");
    own->Name = QStringLiteral("Own");
    own->Path = MakeTempDir(QStringLiteral("own"));
    WriteFile(own->Path + QStringLiteral("own.ini"), "[Launcher]\nCmd=play.sh\n");
    WriteFile(own->Path + QStringLiteral("play.sh"), "#!/bin/sh\n");
    QFile::setPermissions(own->Path + QStringLiteral("play.sh"), QFile::ReadOwner | QFile::ExeOwner);
    own->SetState(lisInstalled);
    AppsLibrary().Add(std::move(own));
    WriteFile(TAppMetaProvider().GetLocalFileName(QStringLiteral("newgame")), R"({"name":"New game"})");

    Window = new TfMain;
    ASSERT_NE(Window->FrameLibrary->FindAppFrame(QStringLiteral("own")), nullptr);
    QStringList started;
    TScopedShellHook hook([&](const TShellCall& call) {
        if (call.Kind == TShellCall::TKind::Start)
            started << QFileInfo(call.File).fileName();
        return true;
    });
    const auto hiddenTiles = [this] { return Window->findChildren<TFrameApp*>(Qt::FindDirectChildrenOnly); };

    Window->ExecuteUriCommand(QStringLiteral("install/own"));
    Window->ExecuteUriCommand(QStringLiteral("Run/own"));
    EXPECT_TRUE(started.isEmpty());
    // Keys that could not name a game folder ask for nothing: no tile, no library entry, no error.
    for (const QString bad : {QStringLiteral("run/../../etc"), QStringLiteral("run/.."), QStringLiteral("run/a\\b")}) {
        EXPECT_NO_THROW(Window->ExecuteUriCommand(bad)) << bad.toStdString();
        EXPECT_EQ(AppsLibrary().FindItemByKey(GetUriCommandKey(bad)), nullptr) << bad.toStdString();
    }
    EXPECT_TRUE(hiddenTiles().isEmpty());
    Window->ExecuteUriCommand(QStringLiteral("run/own"));
    EXPECT_EQ(started, QStringList{QStringLiteral("play.sh")});

    Window->ExecuteUriCommand(QStringLiteral("run/newgame"));
    TAppLibraryItem* item = AppsLibrary().FindItemByKey(QStringLiteral("newgame"));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->State(), lisQueued);
    Window->ExecuteUriCommand(QStringLiteral("run/newgame"));
    const auto tiles = hiddenTiles();
    ASSERT_EQ(tiles.size(), 2);
    EXPECT_NE(tiles[0]->objectName(), tiles[1]->objectName());
    EXPECT_FALSE(tiles[0]->isVisibleTo(Window));
    EXPECT_EQ(AppsLibrary().FindItemsByState({lisQueued}).size(), 1);
}

TEST_F(MainWindow, WithoutTokenTheLoginWindowOpensRightAfterStart) {
    CurrentUser().SetToken(QString());
    Window = new TfMain;
    Window->show();
    EXPECT_EQ(Window->bUser->text(), QStringLiteral("Подключиться"));
    // The login window is modal: it is found and closed from inside its own event loop.
    QString seen;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* login = qobject_cast<TfLogin*>(QApplication::activeModalWidget())) {
            seen = login->windowTitle();
            login->reject();
        }
    });
    poll.start(10);
    EXPECT_TRUE(WaitFor([&] { return !seen.isEmpty(); }, 5000));
    EXPECT_EQ(seen, QStringLiteral("Авторизация"));
    EXPECT_FALSE(Window->LoggedIn());
}

TEST_F(MainWindow, UpdatesBarCountsTasksAndNotNowDiscardsThem) {
    Window = new TfMain;
    Window->ShowUpdatesPanel();
    EXPECT_TRUE(Window->panelUpdates->isHidden());
    for (int i = 0; i < 3; ++i)
        AddToUpdateTasks(TUpdateTask::Create(QString::number(i), QStringLiteral("g"), QString(), ttApp, [] {}));
    Window->ShowUpdatesPanel();
    EXPECT_FALSE(Window->panelUpdates->isHidden());
    EXPECT_EQ(Window->txtUpdates->text(), QStringLiteral("Доступны обновления: 3"));
    EXPECT_TRUE(Window->bShowUpdates->font().bold());
    Window->bCancelUpdates->click();
    EXPECT_TRUE(Window->panelUpdates->isHidden());
    EXPECT_EQ(UpdateTaskCount(), 0);
}

TEST_F(MainWindow, UpdateFoundAtStartIsAnnouncedAndApplied) {
    auto old = std::make_unique<TAppLibraryItem>();
    old->PublicKey = QStringLiteral("old");
    old->Path = MakeTempDir(QStringLiteral("old"));
    old->Version = QStringLiteral("1.0");
    old->SetState(lisInstalled);
    TAppLibraryItem* item = old.get();
    AppsLibrary().Add(std::move(old));
    Core::UpdatesApps = true;
    Window = new TfMain;
    ASSERT_TRUE(WaitFor([this] { return !Window->panelUpdates->isHidden(); }));
    EXPECT_EQ(Window->txtUpdates->text(), QStringLiteral("Доступны обновления: 1"));

    Window->bShowUpdates->click();
    EXPECT_TRUE(Window->panelUpdates->isHidden());
    auto* updates = Window->findChild<TfUpdates*>();
    ASSERT_NE(updates, nullptr);
    ASSERT_EQ(updates->Rows.size(), 1);
    updates->Bar.bInstall->click();
    ASSERT_TRUE(WaitFor([&] { return !updates->Bar.panelClose->isHidden(); }));
    EXPECT_EQ(item->Version, QStringLiteral("1.2"));
    updates->Bar.bClose->click();
    EXPECT_EQ(UpdateTaskCount(), 0);
}

TEST_F(MainWindow, RestartStartsItselfWithSelfRestartAndCloses) {
    Window = new TfMain;
    Window->show();
    QList<TShellCall> calls;
    TScopedShellHook hook([&](const TShellCall& call) {
        calls << call;
        return true;
    });
    Window->RestartSelf();
    ASSERT_EQ(calls.size(), 1);
    EXPECT_EQ(calls[0].Kind, TShellCall::TKind::Start);
    EXPECT_EQ(calls[0].File, QCoreApplication::applicationFilePath());
    EXPECT_EQ(calls[0].Parameters, QStringLiteral("self-restart"));
    EXPECT_FALSE(Window->isVisible());
}

TEST_F(MainWindow, CoinsOpenTheFreeKeysPage) {
    Window = new TfMain;
    QStringList opened;
    TScopedShellHook hook([&](const TShellCall& call) {
        opened << call.File;
        return true;
    });
    QMouseEvent click(QEvent::MouseButtonRelease, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(Window->txtCoins, &click);
    EXPECT_EQ(opened, QStringList{FreeKeysPageUrl()});
}

} // namespace
