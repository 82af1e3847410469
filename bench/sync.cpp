// Download speed of file synchronisation against tarvenox-server on 127.0.0.1, next to curl fetching the
// same files with one process (connections reused, one file at a time), and the time of a re-check when
// everything is up to date. Prints:
//   big: N MB/s, curl: M MB/s        (a game of 1 GiB in 64 files)
//   small: N files/s, curl: M files/s (a game of 20,000 files of 4 KiB)
//   recheck: N s                     (the small game again, nothing to download)
// Usage: sync [path of tarvenox-server]; the default is the one built beside this program.

#include "App/Paths.h"
#include "App/Settings.h"
#include "App/User.h"
#include "Service/AppsLibrary.h"
#include "Service/Install/AppManager.h"
#include "Service/Install/Tasks.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <functional>
#include <thread>
#include <unistd.h>

namespace {

struct TGame {
    QString Key;
    QStringList Files; // relative names with "/"
    qint64 Bytes = 0;
};

QProcess* gService = nullptr;
QTemporaryDir* gRoot = nullptr;

[[noreturn]] void Fail(const QString& Why) {
    std::fprintf(stderr, "sync: %s\n", qPrintable(Why));
    if (gService) {
        gService->kill();
        gService->waitForFinished(5000);
    }
    if (gRoot)
        gRoot->remove();
    std::exit(1);
}

void WriteBytes(const QString& FileName, const char* Data, qint64 Size) {
    QDir().mkpath(QFileInfo(FileName).absolutePath());
    QFile f(FileName);
    if (!f.open(QIODevice::WriteOnly) || f.write(Data, Size) != Size)
        Fail(QStringLiteral("cannot write ") + FileName);
}

TGame MakeGame(const QString& Content, const QString& Key, int Count, qint64 Size, int PerFolder) {
    TGame game;
    game.Key = Key;
    const QString dir = Content + "/apps/" + Key + "/";
    const char doc[] = "{\"name\":\"Bench\",\"version\":\"1.0\"}";
    WriteBytes(dir + "app.json", doc, qint64(sizeof doc - 1));
    QByteArray block(Size, Qt::Uninitialized);
    auto* words = reinterpret_cast<quint32*>(block.data());
    QRandomGenerator rng(42);
    rng.fillRange(words, block.size() / 4);
    for (int i = 0; i < Count; ++i) {
        const QString name =
            QStringLiteral("d%1/f%2.dat").arg(i / PerFolder, 3, 10, QLatin1Char('0')).arg(i, 5, 10, QLatin1Char('0'));
        std::memcpy(block.data(), &i, sizeof i); // every file differs
        WriteBytes(dir + "files/" + name, block.constData(), Size);
        game.Files << name;
        game.Bytes += Size;
    }
    return game;
}

// Runs Work on a worker while the main thread serves its hand-overs; gives the seconds Work took.
double TimeOnWorker(const std::function<void()>& Work) {
    QEventLoop loop;
    double seconds = 0;
    QString error;
    std::thread worker([&] {
        QElapsedTimer timer;
        timer.start();
        try {
            Work();
        } catch (const Exception& e) {
            error = e.Message();
        }
        seconds = timer.nsecsElapsed() / 1e9;
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    if (!error.isEmpty())
        Fail(error);
    return seconds;
}

double SyncGame(const TGame& Game) {
    auto manager = std::make_shared<TAppManager>(Game.Key); // the metadata fetch is not timed
    return TimeOnWorker([&] { manager->SyncFiles(); });
}

double CurlGame(const TGame& Game, const QString& Origin, const QString& Target) {
    QDir().mkpath(Target);
    const QString config = Target + ".curlrc";
    QFile f(config);
    if (!f.open(QIODevice::WriteOnly))
        Fail(QStringLiteral("cannot write ") + config);
    for (const QString& name : Game.Files)
        f.write(QStringLiteral("url = \"%1/cdn/apps/%2/%3\"\noutput = \"%4/%3\"\n")
                    .arg(Origin, Game.Key, name, Target)
                    .toUtf8());
    f.close();
    QProcess curl;
    curl.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer timer;
    timer.start();
    curl.start(QStringLiteral("curl"), {"-s", "-f", "--create-dirs", "-K", config});
    if (!curl.waitForFinished(-1) || curl.exitCode() != 0)
        Fail(QStringLiteral("curl failed"));
    return timer.nsecsElapsed() / 1e9;
}

void AddGameItem(const QString& Key, const QString& Games) {
    auto item = std::make_unique<TAppLibraryItem>();
    item->SetKey(Key);
    item->Path = Games + Key + "/";
    AppsLibrary().Add(std::move(item));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString server = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                    : QCoreApplication::applicationDirPath() + "/../server/tarvenox-server";
    if (!QFileInfo(server).isExecutable())
        Fail(QStringLiteral("no server at ") + server);

    // On disk (not in memory), removed at the end.
    QTemporaryDir root(QStringLiteral("/var/tmp/tarvenox-bench-XXXXXX"));
    if (!root.isValid())
        Fail(QStringLiteral("no temporary folder"));
    gRoot = &root;
    const QString home = root.path();
    for (const auto& [name, sub] : {std::pair{"HOME", ""}, {"XDG_DATA_HOME", "/data"}, {"XDG_CONFIG_HOME", "/config"},
                                    {"XDG_CACHE_HOME", "/cache"}})
        qputenv(name, (home + sub).toUtf8());

    const QString content = home + "/content";
    const TGame big = MakeGame(content, "big", 64, 16 << 20, 64);
    const TGame small = MakeGame(content, "small", 20000, 4096, 200);

    QProcess service;
    service.setStandardErrorFile(QProcess::nullDevice());
    gService = &service;
    service.start(server, {"--content", content, "--db", home + "/server.db", "--listen", "127.0.0.1:0"});
    if (!service.waitForReadyRead(30000))
        Fail(QStringLiteral("the server did not start"));
    const QByteArray line = service.readLine().trimmed();
    const QByteArray prefix = "listening on ";
    if (!line.startsWith(prefix))
        Fail(QStringLiteral("unexpected server output: ") + QString::fromUtf8(line));
    const QString origin = "http://" + QString::fromUtf8(line.mid(prefix.size()));
    qputenv("TARVENOX_SERVICE_URL", origin.toUtf8());

    InitPaths();
    Core::LoadSettings();
    Lib::LoadSettings();
    InitUser();
    const QString games = home + "/games/";
    Lib::SetPath(games);
    InitLibraries();
    AddGameItem(big.Key, games);
    AddGameItem(small.Key, games);

    // Warm the server's file lists (it hashes new files once) before anything is timed.
    std::make_shared<TAppManager>(big.Key);
    std::make_shared<TAppManager>(small.Key);

    // Best of two rounds, ours and curl's taking turns, so that a burst of other work on the machine
    // does not decide the figures. Every run writes into a new folder: files deleted just before would
    // slow the file system down for whoever creates files next.
    double bigOwn = 1e9, bigCurl = 1e9, smallOwn = 1e9, smallCurl = 1e9;
    for (int round = 0; round < 2; ++round) {
        for (const TGame* game : {&big, &small}) {
            const QString suffix = QStringLiteral("-%1").arg(round);
            AppsLibrary().FindItemByKey(game->Key)->Path = games + game->Key + suffix + "/";
            ::sync();
            const double ownTime = SyncGame(*game);
            ::sync();
            const double curlTime = CurlGame(*game, origin, home + "/curl/" + game->Key + suffix);
            (game == &big ? bigOwn : smallOwn) = std::min(game == &big ? bigOwn : smallOwn, ownTime);
            (game == &big ? bigCurl : smallCurl) = std::min(game == &big ? bigCurl : smallCurl, curlTime);
            if (qEnvironmentVariableIsSet("SYNC_BENCH_VERBOSE"))
                std::fprintf(stderr, "round %d %s: %.2f s, curl %.2f s\n", round, qPrintable(game->Key), ownTime,
                             curlTime);
        }
    }
    ::sync();
    const double recheck = TimeOnWorker([&] {
        auto manager = std::make_shared<TAppManager>(small.Key); // metadata from the cache
        manager->SyncFiles();
    });

    std::printf("big: %.0f MB/s, curl: %.0f MB/s\n", big.Bytes / 1e6 / bigOwn, big.Bytes / 1e6 / bigCurl);
    std::printf("small: %.0f files/s, curl: %.0f files/s\n", small.Files.size() / smallOwn,
                small.Files.size() / smallCurl);
    std::printf("recheck: %.2f s\n", recheck);

    DoneInstallTasks();
    DoneLibraries();
    service.terminate();
    service.waitForFinished(10000);
    return 0;
}
