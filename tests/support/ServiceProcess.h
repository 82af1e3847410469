#pragma once

#include "TestSupport.h"

#include <httplib.h>

#include <QProcess>
#include <QStringList>

#include <cstring>
#include <memory>
#include <string>

// tarvenox-server on a free loopback port, serving Content, with a database and a request log of its
// own; stopped when the object ends.
class ServerProcess {
public:
    explicit ServerProcess(const QString& content, const QStringList& extra = {}) {
        FDir = MakeTempDir(QStringLiteral("server"));
        FLog = FDir + QStringLiteral("server.log");
        FProcess.setStandardErrorFile(FLog);
        FProcess.start(QStringLiteral(TARVENOX_TEST_BIN_DIR "/server/tarvenox-server"), QStringList{"--content", content, "--db", FDir + "service.db", "--listen",
                                            "127.0.0.1:0"} + extra);
        WaitFor([this] {
            FProcess.waitForReadyRead(50);
            return FProcess.canReadLine() || FProcess.state() == QProcess::NotRunning;
        });
        QByteArray line = FProcess.readLine().trimmed();
        if (line.startsWith("listening on 127.0.0.1:"))
            FPort = line.mid(int(strlen("listening on 127.0.0.1:"))).toInt();
    }
    ~ServerProcess() {
        FProcess.terminate();
        if (!FProcess.waitForFinished(10000))
            FProcess.kill();
        FProcess.waitForFinished();
    }
    int Port() const { return FPort; }
    qint64 Pid() const { return FProcess.processId(); }
    QProcess& Process() { return FProcess; }
    QByteArray Log() const { return ReadFile(FLog); }
    std::unique_ptr<httplib::Client> Client() const {
        auto c = std::make_unique<httplib::Client>("127.0.0.1", FPort);
        c->set_read_timeout(30, 0);
        return c;
    }
    std::string Origin() const { return "http://127.0.0.1:" + std::to_string(FPort); }
    // Requests of one kind answered with 200 so far, e.g. "POST /api/kiv/public/event".
    int Count(const QByteArray& MethodAndPath) const {
        return int(Log().count("127.0.0.1 " + MethodAndPath + " 200"));
    }

private:
    QProcess FProcess;
    QString FDir, FLog;
    int FPort = 0;
};

