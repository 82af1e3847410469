#include "Lib/PipeClient.h"

#include <QElapsedTimer>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

TIPCClient::TIPCClient() { UpdatePipeName(); }

TIPCClient::~TIPCClient() { DisconnectClient(); }

void TIPCClient::SetServerName(const QString& Value) {
    FServerName = Value;
    UpdatePipeName();
}

void TIPCClient::SetComputerName(const QString& Value) {
    FComputerName = Value;
    UpdatePipeName();
}

void TIPCClient::UpdatePipeName() {
    // A socket reaches this machine only; any other computer name has no path.
    const bool local = FComputerName == QLatin1String(".") || FComputerName.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0;
    FPipeName = local ? IPCSocketPath(FServerName) : QString();
}

void TIPCClient::SetFailure(const char* Desc, int Error) {
    FErrorDesc = QString::fromLatin1(Desc);
    FLastError = Error;
}

void TIPCClient::DisconnectClient() {
    if (FPipeHandle >= 0)
        ::close(FPipeHandle);
    FPipeHandle = -1;
    FIsConnected = false;
}

void TIPCClient::ConnectClient(int ConnectTimeout) {
    DisconnectClient();
    FErrorDesc.clear();
    FLastError = 0;
    QElapsedTimer started;
    started.start();

    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray path = FPipeName.toLocal8Bit();
    if (path.isEmpty()) {
        SetFailure("CreateFile failed while creating new pipe handle", ENOENT);
        return;
    }
    std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));

    while (started.elapsed() < ConnectTimeout) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) {
            SetFailure("CreateFile failed while creating new pipe handle", errno);
            return;
        }
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            if (FIOTimeout > 0) {
                timeval tv{FIOTimeout / 1000, (FIOTimeout % 1000) * 1000};
                ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
                ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
            }
            FPipeHandle = fd;
            FIsConnected = true;
            return;
        }
        const int err = errno;
        ::close(fd);
        // No socket file, or a file nobody listens on: no server, fail at once like a missing pipe.
        if (err == ENOENT || err == ECONNREFUSED) {
            SetFailure("WaitNamedPipe failed while wating for the pipe", err);
            return;
        }
        if (err != EAGAIN) {
            SetFailure("CreateFile failed while creating new pipe handle", err);
            return;
        }
        // The server's backlog is full: it is busy, try again shortly within the time left.
        QThread::msleep(5);
    }
    SetFailure("IPC client failed with WAIT timeout", ETIMEDOUT);
}

TMessageData TIPCClient::ExecuteConnectedRequest(const TMessageData& Request) {
    FAnswerValid = false;
    FLastError = 0;
    TMessageData answer;
    TPipeFailure failure;
    bool ok = WritePipeMessage(FPipeHandle, Request, failure);
    if (ok) {
        const TPipeReadResult r = ReadPipeMessage(FPipeHandle, answer, failure, false);
        // The server hanging up before the answer's first byte is a failed read of the ID length.
        if (r == TPipeReadResult::Ended)
            failure = TPipeFailure{TPipeStep::ReadIdLength, EPIPE};
        ok = r == TPipeReadResult::Ok;
    }
    if (!ok) {
        static const char* const texts[] = {
            "WriteFile failed while writing message ID",        "WriteFile failed while writing message data size",
            "WriteFile failed while writing message chunk",     "ReadFile failed while reading message ID length",
            "ReadFile failed while reading message ID",         "ReadFile failed while reading message data size",
            "ReadFile failed while reading message data",
        };
        SetFailure(texts[int(failure.Step)], failure.Error);
        return TMessageData{};
    }
    FAnswerValid = true;
    return answer;
}
