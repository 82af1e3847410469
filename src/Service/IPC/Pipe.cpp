#include "Service/IPC/Pipe.h"

#include "App/CLIParameters.h"
#include "App/MainThread.h"

#include <memory>

namespace {

const QString PipeServerName = QStringLiteral("tarvenox");
const QString DataValueName = QStringLiteral("Data");

std::unique_ptr<TIPCClient> gClient;
std::unique_ptr<TIPCServer> gServer;
std::function<void(const QString&)> gUriCommandHandler;

}  // namespace

void ConnectPipeClient() {
    if (!gClient)
        gClient = std::make_unique<TIPCClient>();
    if (!gClient->IsConnected()) {
        gClient->SetServerName(PipeServerName);
        gClient->ConnectClient(500);
    }
}

bool IsFirstInstance() {
    ConnectPipeClient();
    return !gClient->IsConnected();
}

void StartPipeServer() {
    if (!gServer) {
        gServer = std::make_unique<TIPCServer>();
        gServer->SetServerName(PipeServerName);
        gServer->SetOnExecuteRequest(OnPipeRequest);
    }
    gServer->Start();
}

void StopPipeServer() { gServer.reset(); }

void SendToFirstInstance(const QString& Text) {
    TMessageData request;
    request.Data.WriteAnsiString(DataValueName, Text);
    ConnectPipeClient();
    gClient->ExecuteConnectedRequest(request);
}

void OnPipeRequest(TCommContext&, const TMessageData& Request, TMessageData&) {
    const QString text = Request.Data.ReadAnsiString(DataValueName);
    const QString rawParams = ParseUriCommand(text);
    if (rawParams.isEmpty())
        return;
    // The handler is looked up on the main thread, when the queued call runs: the server starts before
    // the main window exists, and the window loop only runs once it does.
    QueueOnMainThread([rawParams] {
        if (gUriCommandHandler)
            gUriCommandHandler(rawParams);
    });
}

void SetUriCommandHandler(std::function<void(const QString& RawParams)> Handler) {
    gUriCommandHandler = std::move(Handler);
}

TIPCClient* PipeClient() { return gClient.get(); }

void DonePipe() {
    StopPipeServer();
    gClient.reset();
}
