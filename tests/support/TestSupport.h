#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <thread>

namespace httplib {
class Server;
}

// The per-process temporary home every test runs in (HOME and the XDG folders point into it).
QString TestHome();

// A fresh empty folder under the test home.
QString MakeTempDir(const QString& name = QStringLiteral("tmp"));

// Spins the main thread's event loop until pred holds or the time-out passes; returns pred's last value.
bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 10000);

// Writes bytes to a file, creating its folders.
void WriteFile(const QString& path, const QByteArray& bytes);
QByteArray ReadFile(const QString& path);

// An HTTP server on 127.0.0.1 and a free port, run on its own thread for the life of the object.
class TestHttpServer {
public:
    TestHttpServer();
    ~TestHttpServer();
    httplib::Server& Server() { return *FServer; }
    // Starts listening; routes must be registered before.
    void Start();
    int Port() const { return FPort; }
    // "http://127.0.0.1:<port>"
    QString Origin() const;

private:
    std::unique_ptr<httplib::Server> FServer;
    std::thread FThread;
    int FPort = 0;
};
