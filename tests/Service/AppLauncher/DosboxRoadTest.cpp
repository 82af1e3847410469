// A log-based DOSBox game launched for real: the launcher starts the DOSBox stand-in's debugger build, the
// stand-in plays a short scripted session, and the watcher's reports reach a local service.
#include "App/Paths.h"
#include "Platform/IniFile.h"
#include "Service/AppLauncher.h"
#include "Service/AppsLibrary.h"
#include "Service/AppsLibrary/AppConfig.h"
#include "Service/DirWatcher.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThreadPool>

#include <mutex>

TEST(DosboxRoad, DebuggerBuildLogsWhatTheWatcherReports) {
    const QString standIn = QStringLiteral(TARVENOX_TEST_BIN_DIR "/tools/dosbox/");
    ASSERT_TRUE(QFileInfo(standIn + QStringLiteral("dosbox-zeb")).isExecutable()) << "DOSBox stand-in not built";

    TestHttpServer service;
    std::mutex lock;
    QStringList reports;
    service.Server().Post("/api/kiv/public/event/app", [&](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard l(lock);
        reports << QString::fromUtf8(QByteArray::fromBase64(QByteArray::fromStdString(req.body)));
        res.set_content("", "application/json");
    });
    service.Start();
    qputenv("TARVENOX_SERVICE_URL", service.Origin().toUtf8());
    InitPaths();
    InitLibraries();
    InitWatchers();
    InitLaunchers();

    auto dosbox = std::make_unique<TComponentLibraryItem>();
    dosbox->SetKey(QStringLiteral("dosbox"));
    QDir().mkpath(dosbox->Path);
    for (const char* name : {"dosbox", "dosbox-zeb"})
        ASSERT_TRUE(QFile::link(standIn + QString::fromUtf8(name), dosbox->Path + QString::fromUtf8(name)) ||
                    QFileInfo::exists(dosbox->Path + QString::fromUtf8(name)));
    WriteFile(dosbox->Path + QStringLiteral("meta.ini"),
              "[Launcher]\nCmd=dosbox\nParams=-noconsole -conf \"{App.ConfigFile}\" \"{App.Dir}{App.Exe}\"\n");
    dosbox->SetState(lisInstalled);
    ComponentsLibrary().Add(std::move(dosbox));

    auto game = std::make_unique<TAppLibraryItem>();
    game->PublicKey = QStringLiteral("road");
    game->Path = MakeTempDir(QStringLiteral("road game"));
    WriteFile(game->Path + QStringLiteral("road.ini"), "[Launcher]\nKey=dosbox\nCmd=GAME.EXE\nZEB=1\n");
    WriteFile(game->Path + QStringLiteral("GAME.EXE"), "");
    WriteFile(game->Path + QStringLiteral("LEVEL2.DAT"), "data");
    WriteFile(game->Path + QStringLiteral("data.zeb"), "level2.dat\n");
    WriteFile(game->Path + QStringLiteral("dosbox.conf"), "[sdl]\nfullscreen=false\n");
    WriteFile(game->Path + QStringLiteral("standin.script"), "open LEVEL2.DAT\nopen OTHER.DAT\nscore hiscore 10000\nevent Boss\n");
    game->SetState(lisInstalled);
    TAppLibraryItem* item = game.get();
    AppsLibrary().Add(std::move(game));

    LaunchApp(item);

    const QStringList expected = {QStringLiteral("{\"a\":\"road\",\"e\":\"555f141f9fc1080c11563c1e8b69af97\"}"),
                                  QStringLiteral("{\"a\":\"road\",\"e\":\"boss\"}"),
                                  QStringLiteral("{\"a\":\"road\",\"e\":\"hiscore\", \"p\":10000}")};
    const auto sorted = [&] {
        std::lock_guard l(lock);
        QStringList copy = reports;
        copy.sort();
        return copy;
    };
    EXPECT_TRUE(WaitFor([&] { return sorted().size() >= expected.size(); }, 20000));
    WaitFor([] { return QThreadPool::globalInstance()->activeThreadCount() == 0; });
    EXPECT_EQ(sorted(), expected);
    // The emulator took its log settings from the game's configuration.
    const TIniFile conf(item->Path + QStringLiteral("dosbox.conf"));
    EXPECT_EQ(conf.ReadString(QStringLiteral("log"), QStringLiteral("logfile"), QString()),
              item->Path + QStringLiteral(".meta/zeb.log"));
    EXPECT_FALSE(QFileInfo::exists(item->Path + QStringLiteral(".meta/hiscore.se")));

    DoneLaunchers();
    DoneWatchers();
    DoneLibraries();
    qputenv("TARVENOX_SERVICE_URL", "http://127.0.0.1:9");
    InitPaths();
}
