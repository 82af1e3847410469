#include "TestSupport.h"

#include <httplib.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <atomic>

extern QString gTestHome;

QString TestHome() { return gTestHome; }

QString MakeTempDir(const QString& name) {
    static std::atomic<int> counter{0};
    QString path = QStringLiteral("%1/%2-%3/").arg(gTestHome, name).arg(counter++);
    QDir().mkpath(path);
    return path;
}

bool WaitFor(const std::function<bool()>& pred, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > timeoutMs)
            return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    f.write(bytes);
}

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

TestHttpServer::TestHttpServer() : FServer(std::make_unique<httplib::Server>()) {
    // Stopping waits for kept-alive connections to time out; the launcher's downloader keeps its own.
    FServer->set_keep_alive_timeout(0);
    FServer->set_keep_alive_max_count(1000);
}

TestHttpServer::~TestHttpServer() {
    FServer->stop();
    if (FThread.joinable())
        FThread.join();
}

void TestHttpServer::Start() {
    FPort = FServer->bind_to_any_port("127.0.0.1");
    FThread = std::thread([this] { FServer->listen_after_bind(); });
    while (!FServer->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

QString TestHttpServer::Origin() const { return QStringLiteral("http://127.0.0.1:%1").arg(FPort); }
