#pragma once

#include "Lib/PipeClient.h"
#include "Lib/PipeServer.h"

#include <QString>
#include <functional>

// Single instance per user: the first process listens on the channel "tarvenox"; a later one hands it
// its first argument and ends.

// Connects the global client (500 ms at most) and tells whether no other instance answered.
bool IsFirstInstance();
// Creates the global client on first use and connects it when it is not connected yet.
void ConnectPipeClient();
// Creates the global server on first use and starts it.
void StartPipeServer();
// Stops and frees the global server (before a restart, and at shut-down).
void StopPipeServer();
// Sends the text as the value "Data"; the answer and any failure are ignored.
void SendToFirstInstance(const QString& Text);
// The server's request handler: a received "tarvenox:" link goes to the URI command handler on the main
// thread; the worker does not wait for it. Any other text is ignored. The response stays empty.
void OnPipeRequest(TCommContext& Context, const TMessageData& Request, TMessageData& Response);

// Who runs a received command (the main window's ExecuteUriCommand). Set and read on the main thread;
// a command that arrives before it is set is dropped.
void SetUriCommandHandler(std::function<void(const QString& RawParams)> Handler);

// The global client, for the failure it recorded; null before ConnectPipeClient.
TIPCClient* PipeClient();
// Module shut-down: stops and frees the server, frees the client.
void DonePipe();
