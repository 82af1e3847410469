// Time from a game closing its score file to the score report arriving at the service: a watched game
// folder receives 1,000 score files one after another, each written once the previous report has come.
// The service is a local HTTP server on 127.0.0.1; everything runs in a temporary home.
#include "App/Paths.h"
#include "App/Settings.h"
#include "App/User.h"
#include "Service/AppsLibrary.h"
#include "Service/DirWatcher.h"

#include <httplib.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;
constexpr int FileCount = 1000;

struct TArrivals {
    std::mutex Lock;
    std::condition_variable Changed;
    std::vector<TClock::time_point> At = std::vector<TClock::time_point>(FileCount);
    std::vector<bool> Seen = std::vector<bool>(FileCount, false);
};

// n of a decoded report of score n + 1 on board "s<n>", or -1 for anything else.
int ReportNumber(const std::string& Body) {
    const QByteArray text = QByteArray::fromBase64(QByteArray::fromStdString(Body));
    const qsizetype at = text.indexOf("\"e\":\"s");
    if (at < 0)
        return -1;
    bool ok = false;
    const int n = text.mid(at + 6, text.indexOf('"', at + 6) - at - 6).toInt(&ok);
    if (!ok || n < 0 || n >= FileCount || !text.endsWith("\"p\":" + QByteArray::number(n + 1) + "}"))
        return -1;
    return n;
}

double Percentile(std::vector<double> Values, double P) {
    std::sort(Values.begin(), Values.end());
    const size_t i = std::min(Values.size() - 1, size_t(P * double(Values.size() - 1) + 0.5));
    return Values[i];
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/tarvenox-bench-XXXXXX"));
    const QByteArray h = home.path().toUtf8();
    setenv("HOME", h.constData(), 1);
    setenv("XDG_DATA_HOME", (h + "/.local/share").constData(), 1);
    setenv("XDG_CONFIG_HOME", (h + "/.config").constData(), 1);
    setenv("XDG_CACHE_HOME", (h + "/.cache").constData(), 1);

    TArrivals arrivals;
    httplib::Server server;
    server.Post("/api/kiv/public/event/app", [&](const httplib::Request& req, httplib::Response& res) {
        const TClock::time_point now = TClock::now();
        const int n = ReportNumber(req.body);
        if (n >= 0) {
            std::lock_guard<std::mutex> lock(arrivals.Lock);
            arrivals.At[size_t(n)] = now;
            arrivals.Seen[size_t(n)] = true;
        }
        arrivals.Changed.notify_all();
        res.set_content("", "application/json");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread serverThread([&] { server.listen_after_bind(); });
    setenv("TARVENOX_SERVICE_URL", QStringLiteral("http://127.0.0.1:%1").arg(port).toUtf8().constData(), 1);

    QCoreApplication app(argc, argv);
    InitPaths();
    Core::LoadSettings();
    Lib::LoadSettings();
    InitUser();
    InitWatchers();

    TAppLibraryItem game;
    game.PublicKey = QStringLiteral("bench");
    game.Path = home.path() + QStringLiteral("/bench/");
    QDir().mkpath(game.Path + QStringLiteral(".meta"));
    QFile ini(game.Path + QStringLiteral("bench.ini"));
    if (ini.open(QIODevice::WriteOnly))
        ini.write("[Launcher]\nCmd=bench\n");
    ini.close();
    game.SetState(lisInstalled);
    WatchApp(&game);

    std::vector<double> latencies;
    int lost = 0;
    std::thread writer([&] {
        for (int i = 0; i < FileCount; ++i) {
            char score[4];
            qToLittleEndian<qint32>(i + 1, score);
            QFile f(game.Path + QStringLiteral(".meta/s%1.se").arg(i));
            if (!f.open(QIODevice::WriteOnly))
                break;
            f.write(score, 4);
            f.close();
            const TClock::time_point closed = TClock::now();
            std::unique_lock<std::mutex> lock(arrivals.Lock);
            if (!arrivals.Changed.wait_for(lock, std::chrono::seconds(5), [&] { return bool(arrivals.Seen[size_t(i)]); })) {
                ++lost;
                continue;
            }
            latencies.push_back(std::chrono::duration<double, std::milli>(arrivals.At[size_t(i)] - closed).count());
        }
        QMetaObject::invokeMethod(&app, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    });
    app.exec();
    writer.join();
    server.stop();
    serverThread.join();
    DoneWatchers();

    if (latencies.empty()) {
        std::printf("latency: no score arrived\n");
        return 1;
    }
    if (lost > 0)
        std::fprintf(stderr, "%d of %d scores never arrived\n", lost, FileCount);
    std::printf("latency: p50 %.1f ms, p99 %.1f ms\n", Percentile(latencies, 0.50), Percentile(latencies, 0.99));
    return lost > 0 ? 1 : 0;
}
