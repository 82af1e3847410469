// The whole mission against the stand-in service and its sample content: log in, install a game from
// the catalog, play it, see its score and achievement, run it again from a link of a second process.
#include "App/Paths.h"
#include "App/Settings.h"
#include "App/User.h"
#include "Forms/MsgBoxes.h"
#include "Forms/uAchievementNotification.h"
#include "Forms/uAppInstall.h"
#include "Forms/uFrameApp.h"
#include "Forms/uFrameCatalog.h"
#include "Forms/uFrameLibrary.h"
#include "Forms/uLogin.h"
#include "Forms/uMain.h"
#include "Service/AppLauncher.h"
#include "Service/AppsLibrary.h"
#include "Service/DirWatcher.h"
#include "Service/IPC/Pipe.h"
#include "Service/Install/Tasks.h"
#include "ServiceProcess.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QThreadPool>
#include <QTimer>
#include <QToolButton>

namespace {

const QString kBinDir = QStringLiteral(TARVENOX_TEST_BIN_DIR);

// Runs Action on a modal window of type T as soon as it is on screen; the returned timer stops polling
// when it goes out of scope.
template <class T>
std::unique_ptr<QTimer> OnModal(std::function<void(T&)> Action) {
    auto timer = std::make_unique<QTimer>();
    QTimer* raw = timer.get();
    QObject::connect(raw, &QTimer::timeout, [raw, Action] {
        if (auto* window = qobject_cast<T*>(QApplication::activeModalWidget())) {
            raw->stop();
            Action(*window);
        }
    });
    timer->start(10);
    return timer;
}

TEST(Scenario, FromLoginToAReportedScoreAndALink) {
    ServerProcess service(kBinDir + QStringLiteral("/sample-content"), {QStringLiteral("--seed-demo-user")});
    ASSERT_GT(service.Port(), 0) << service.Log().toStdString();
    qputenv("TARVENOX_SERVICE_URL", QByteArray::fromStdString(service.Origin()));
    qputenv("DEMO_AUTOPLAY", "1"); // the sample game plays one short round by itself
    InitPaths();
    // The launcher would replace this test program with the service's build of itself.
    Core::UpdatesCore = false;
    Core::CheckBrowserIntegration = false;
    const QString games = MakeTempDir(QStringLiteral("scenario games"));
    const QString oldGames = Lib::GetPath();
    Lib::SetPath(games);
    CurrentUser().SetToken(QString());
    CurrentUser().SetName(QString());
    InitLibraries();
    InitWatchers();
    InitLaunchers();
    StartPipeServer();
    QStringList balloons;
    SetBalloonHook([&](const QString& Title, const QString& Text) { balloons << Title + QStringLiteral(": ") + Text; });
    // The first start of the game asks about its information page; the user goes on playing.
    TScopedMessageBoxHook answers([](const TMessageRecord&) { return false; });

    // Start without a token: the login window comes up and the demo user logs in.
    auto login = OnModal<TfLogin>([](TfLogin& form) {
        form.eName->setText(QStringLiteral("demo"));
        form.ePass->setText(QStringLiteral("demo123"));
        form.bOK->click();
    });
    auto* window = new TfMain;
    window->show();
    ASSERT_TRUE(WaitFor([&] { return window->LoggedIn(); }, 15000));
    login.reset();
    EXPECT_FALSE(CurrentUser().Token().isEmpty());
    EXPECT_TRUE(WaitFor([&] { return window->bUser->text() == QStringLiteral("demo"); }));

    // The catalog offers the sample game; its tile asks for the install and the queue opens the dialog.
    window->PageControl->setCurrentWidget(window->tabCatalog);
    ASSERT_NE(window->FrameCatalog, nullptr);
    TFrameApp* catalogTile = nullptr;
    ASSERT_TRUE(WaitFor([&] {
        catalogTile = window->FrameCatalog->FindAppFrame(QStringLiteral("demo-arcade"));
        return catalogTile != nullptr;
    }, 15000));
    catalogTile->bInstall->click();
    TAppLibraryItem* game = AppsLibrary().FindItemByKey(QStringLiteral("demo-arcade"));
    ASSERT_NE(game, nullptr);
    EXPECT_EQ(game->State(), lisQueued);
    window->ProcessInstallQueue();
    ASSERT_TRUE(WaitFor([&] { return !window->fAppInstall.isNull(); }, 15000));
    window->fAppInstall->Bar.bInstall->click();
    ASSERT_TRUE(WaitFor([&] { return !window->fAppInstall->Bar.panelClose->isHidden(); }, 60000));
    EXPECT_EQ(game->State(), lisInstalled);
    EXPECT_EQ(game->Version, QStringLiteral("1.0.0"));
    EXPECT_TRUE(QFileInfo(game->Path + QStringLiteral("demo-arcade")).isExecutable());
    window->fAppInstall->Bar.bClose->click();
    EXPECT_EQ(InstallTaskCount(), 0);

    // Played from its tile: the round's score and the first hit reach the service, and the achievement
    // is announced.
    const int reportsBefore = service.Count("POST /api/kiv/public/event/app");
    catalogTile = window->FrameCatalog->FindAppFrame(QStringLiteral("demo-arcade"));
    ASSERT_NE(catalogTile, nullptr);
    catalogTile->bLaunchClick();
    ASSERT_TRUE(WaitFor([&] { return !balloons.isEmpty(); }, 60000)) << service.Log().toStdString();
    EXPECT_TRUE(balloons.first().contains(QStringLiteral("Первая кровь"))) << balloons.first().toStdString();
    ASSERT_TRUE(WaitFor([&] { return service.Count("POST /api/kiv/public/event/app") >= reportsBefore + 2; }));
    {
        httplib::Client client("127.0.0.1", service.Port());
        const auto board = client.Get("/api/kiv/score/demo-arcade/1",
                                      {{"User-Token", CurrentUser().Token().toStdString()}});
        ASSERT_TRUE(board);
        EXPECT_EQ(board->status, 200);
        EXPECT_NE(board->body.find("demo"), std::string::npos) << board->body;
    }

    // The game now has its tile in "МОИ ИГРЫ", and a link from a second start runs it again.
    ASSERT_NE(window->FrameLibrary->FindAppFrame(QStringLiteral("demo-arcade")), nullptr);
    const int reportsAfterFirst = service.Count("POST /api/kiv/public/event/app");
    QProcess second;
    second.start(kBinDir + QStringLiteral("/tarvenox"), {QStringLiteral("tarvenox://run/demo-arcade/")});
    ASSERT_TRUE(WaitFor([&] { return second.state() == QProcess::NotRunning; }, 15000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(WaitFor([&] { return service.Count("POST /api/kiv/public/event/app") > reportsAfterFirst; },
                        60000));

    // Closing ends the run; what stays on disk says the game is installed and the user logged in.
    window->close();
    delete window;
    WaitFor([] { return QThreadPool::globalInstance()->activeThreadCount() == 0; });
    StopPipeServer();
    SetBalloonHook(nullptr);
    const QByteArray apps = ReadFile(games + QStringLiteral("apps.json"));
    EXPECT_TRUE(apps.contains(R"("_key":"demo-arcade")")) << apps.toStdString();
    EXPECT_TRUE(apps.contains(R"("_state":"installed")"));
    EXPECT_TRUE(apps.contains(R"("_version":"1.0.0")"));
    TUser saved;
    saved.Load();
    EXPECT_EQ(saved.Token(), CurrentUser().Token());
    EXPECT_EQ(saved.Name(), QStringLiteral("demo"));

    DoneLaunchers();
    DoneWatchers();
    DoneLibraries();
    Lib::SetPath(oldGames);
    CurrentUser().SetToken(QString());
    qunsetenv("DEMO_AUTOPLAY");
    qputenv("TARVENOX_SERVICE_URL", "http://127.0.0.1:9");
    InitPaths();
}

} // namespace
