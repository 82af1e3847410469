#pragma once

#include "Lib/PipeChannel.h"

#include <QString>

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <sys/types.h>

class QThread;
class QThreadPool;

// One connected client, served by one worker of the server's pool.
class TCommContext {
public:
    explicit TCommContext(int Handle) : FHandle(Handle) {}
    int Handle() const { return FHandle; }

private:
    int FHandle;
};

using TExecuteRequestEvent =
    std::function<void(TCommContext& Context, const TMessageData& Request, TMessageData& Response)>;
using TServerErrorEvent = std::function<void(TCommContext* Context, int ErrorCode, const QString& Message)>;
using TClientEvent = std::function<void(TCommContext& Context)>;

// Request/response server of the local channel: a listening thread accepts clients and hands each to a
// pool worker. Handlers run on those workers; they must not wait on the main thread, because Stop runs
// there and waits for the workers.
class TIPCServer {
public:
    TIPCServer();
    ~TIPCServer();
    TIPCServer(const TIPCServer&) = delete;
    TIPCServer& operator=(const TIPCServer&) = delete;

    // Raises when no request handler is set. A socket that cannot be made is reported to OnServerError
    // and leaves the server not listening.
    void Start();
    // Ends the listening thread (within 3 s) and drops every connected client.
    void Stop();
    bool Listening() const { return FListening; }

    QString ServerName() const { return FServerName; }
    void SetServerName(const QString& Value);
    QString PipeName() const { return FPipeName; }

    void SetOnExecuteRequest(TExecuteRequestEvent Handler) { FOnExecuteRequest = std::move(Handler); }
    void SetOnServerError(TServerErrorEvent Handler) { FOnServerError = std::move(Handler); }
    void SetOnClientConnect(TClientEvent Handler) { FOnClientConnect = std::move(Handler); }
    void SetOnClientDisconnect(TClientEvent Handler) { FOnClientDisconnect = std::move(Handler); }

    // Idle time after which a connection worker gives up on a silent client.
    void SetClientTimeout(int Milliseconds) { FClientTimeout = Milliseconds; }
    int ConnectedClientCount() const;

private:
    int CreateListeningSocket();
    void ListenLoop();
    void ServeConnection(const std::shared_ptr<TCommContext>& Context);
    void ReportError(TCommContext* Context, int ErrorCode, const QString& Message);

    QString FServerName;
    QString FPipeName;
    int FMinPoolSize = 20;
    std::atomic<bool> FListening{false};
    int FListenHandle = -1;
    int FAbortEvent = -1;
    dev_t FSocketDev = 0;
    ino_t FSocketIno = 0;
    int FClientTimeout = 5000;
    std::unique_ptr<QThread> FListeningThread;
    std::unique_ptr<QThreadPool> FPool;
    mutable std::mutex FClientsLock;
    std::list<std::shared_ptr<TCommContext>> FClients;  // TCommContextList
    TExecuteRequestEvent FOnExecuteRequest;
    TServerErrorEvent FOnServerError;
    TClientEvent FOnClientConnect;
    TClientEvent FOnClientDisconnect;
};
