#pragma once

#include "Lib/PipeChannel.h"

#include <QString>

// Request/response client of the local channel. Failures never raise: they are kept in FLastError
// (errno) and FErrorDesc.
class TIPCClient {
public:
    TIPCClient();
    ~TIPCClient();
    TIPCClient(const TIPCClient&) = delete;
    TIPCClient& operator=(const TIPCClient&) = delete;

    // Tries to connect until ConnectTimeout ms have passed; a missing or dead server fails at once.
    void ConnectClient(int ConnectTimeout);
    // Sends the request and reads the answer; on failure the answer is empty and AnswerValid false.
    TMessageData ExecuteConnectedRequest(const TMessageData& Request);
    void DisconnectClient();

    QString ServerName() const { return FServerName; }
    void SetServerName(const QString& Value);
    QString ComputerName() const { return FComputerName; }
    void SetComputerName(const QString& Value);
    QString PipeName() const { return FPipeName; }

    bool IsConnected() const { return FIsConnected; }
    bool AnswerValid() const { return FAnswerValid; }
    int LastError() const { return FLastError; }
    QString ErrorDesc() const { return FErrorDesc; }

    // Bound on each read and write once connected, so that a server that stopped answering cannot hold
    // the sending process forever; 0 waits without limit.
    void SetIOTimeout(int Milliseconds) { FIOTimeout = Milliseconds; }

private:
    void UpdatePipeName();
    void SetFailure(const char* Desc, int Error);

    QString FComputerName = QStringLiteral(".");
    QString FServerName;
    QString FPipeName;
    int FPipeHandle = -1;
    bool FIsConnected = false;
    bool FAnswerValid = false;
    int FLastError = 0;
    QString FErrorDesc;
    int FIOTimeout = 10000;
};
