#include "Lib/PipeServer.h"

#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

sockaddr_un SocketAddress(const QByteArray& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.constData(), size_t(std::min<qsizetype>(path.size(), sizeof addr.sun_path - 1)));
    return addr;
}

// True when a server answers on the path; false when the socket file is left over from a dead one.
bool SomeoneListens(const sockaddr_un& addr) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return true;
    const bool alive = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0 || errno != ECONNREFUSED;
    ::close(fd);
    return alive;
}

const char* StepText(TPipeStep step) {
    switch (step) {
    case TPipeStep::WriteId:
    case TPipeStep::WriteDataSize:
    case TPipeStep::WriteChunk:
        return "Could not write the response";
    default:
        return "Could not read the request";
    }
}

}  // namespace

TIPCServer::TIPCServer() = default;

TIPCServer::~TIPCServer() { Stop(); }

void TIPCServer::SetServerName(const QString& Value) {
    FServerName = Value;
    FPipeName = IPCSocketPath(Value);
}

void TIPCServer::ReportError(TCommContext* Context, int ErrorCode, const QString& Message) {
    if (FOnServerError)
        FOnServerError(Context, ErrorCode, Message);
}

int TIPCServer::ConnectedClientCount() const {
    std::lock_guard lock(FClientsLock);
    return int(FClients.size());
}

// 0 or errno. A socket file whose server died is replaced; a live server keeps its socket.
int TIPCServer::CreateListeningSocket() {
    if (FPipeName.isEmpty())
        return ENAMETOOLONG;
    if (int e = PrepareIPCSocketFolder())
        return e;
    const QByteArray path = FPipeName.toLocal8Bit();
    const sockaddr_un addr = SocketAddress(path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    int rc = ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    if (rc != 0 && errno == EADDRINUSE) {
        struct stat st {};
        if (::lstat(path.constData(), &st) == 0 && S_ISSOCK(st.st_mode) && !SomeoneListens(addr)) {
            ::unlink(path.constData());
            rc = ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
        } else {
            errno = EADDRINUSE;
        }
    }
    struct stat st {};
    if (rc != 0 || ::chmod(path.constData(), 0600) != 0 || ::listen(fd, 16) != 0 || ::lstat(path.constData(), &st) != 0) {
        const int e = errno;
        ::close(fd);
        return e;
    }
    FSocketDev = st.st_dev;
    FSocketIno = st.st_ino;
    FListenHandle = fd;
    return 0;
}

void TIPCServer::Start() {
    if (!FOnExecuteRequest)
        throw Exception(QStringLiteral("OnExecuteRequest not assigned"));
    if (FListening)
        return;
    if (int e = CreateListeningSocket()) {
        ReportError(nullptr, e, QStringLiteral("Could not create new pipe instance."));
        return;
    }
    FAbortEvent = ::eventfd(0, EFD_CLOEXEC);
    FPool = std::make_unique<QThreadPool>();
    // At least FMinPoolSize workers; the pool grows past that while they are all busy.
    FPool->setMaxThreadCount(std::max(FMinPoolSize, 256));
    FListening = true;
    FListeningThread.reset(QThread::create([this] { ListenLoop(); }));
    FListeningThread->start();
}

void TIPCServer::ListenLoop() {
    while (FListening) {
        pollfd fds[2] = {{FListenHandle, POLLIN, 0}, {FAbortEvent, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            ReportError(nullptr, errno, QStringLiteral("Error waiting for Pipe to connect"));
            return;
        }
        if (fds[1].revents)
            return;
        if (!(fds[0].revents & POLLIN))
            continue;
        const int client = ::accept4(FListenHandle, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == ECONNABORTED)
                continue;
            ReportError(nullptr, errno, QStringLiteral("Error waiting for Pipe to connect"));
            // Out of descriptors and the like: back off briefly instead of spinning, but still wake on Stop.
            pollfd abortOnly{FAbortEvent, POLLIN, 0};
            ::poll(&abortOnly, 1, 100);
            continue;
        }
        // Only this user's processes may talk to us, whatever the folder's permissions.
        ucred cred{};
        socklen_t len = sizeof cred;
        if (::getsockopt(client, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != ::geteuid()) {
            ::close(client);
            continue;
        }
        timeval tv{FClientTimeout / 1000, (FClientTimeout % 1000) * 1000};
        ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        ::setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);

        auto context = std::make_shared<TCommContext>(client);
        {
            std::lock_guard lock(FClientsLock);
            FClients.push_back(context);
        }
        if (FOnClientConnect)
            FOnClientConnect(*context);
        FPool->start([this, context] { ServeConnection(context); });
    }
}

void TIPCServer::ServeConnection(const std::shared_ptr<TCommContext>& Context) {
    const int fd = Context->Handle();
    for (;;) {
        TMessageData request;
        TPipeFailure failure;
        const TPipeReadResult r = ReadPipeMessage(fd, request, failure, true);
        if (r == TPipeReadResult::CloseMarker || r == TPipeReadResult::Ended)
            break;
        if (r == TPipeReadResult::Failed) {
            ReportError(Context.get(), failure.Error, QString::fromLatin1(StepText(failure.Step)));
            break;
        }
        TMessageData response;
        try {
            FOnExecuteRequest(*Context, request, response);
        } catch (const Exception& e) {
            ReportError(Context.get(), 0, e.Message());
            break;
        } catch (const std::exception& e) {
            ReportError(Context.get(), 0, QString::fromUtf8(e.what()));
            break;
        }
        if (!WritePipeMessage(fd, response, failure)) {
            ReportError(Context.get(), failure.Error, QString::fromLatin1(StepText(failure.Step)));
            break;
        }
    }
    {
        std::lock_guard lock(FClientsLock);
        FClients.remove(Context);
    }
    if (FOnClientDisconnect)
        FOnClientDisconnect(*Context);
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
}

void TIPCServer::Stop() {
    if (!FListening)
        return;
    FListening = false;
    const quint64 one = 1;
    if (::write(FAbortEvent, &one, sizeof one) < 0) {
        // Nothing to do: the listening thread is terminated below if it does not end.
    }
    if (!FListeningThread->wait(3000)) {
        FListeningThread->terminate();
        FListeningThread->wait();
    }
    FListeningThread.reset();
    {
        // Wakes workers blocked in a read; each closes its own socket.
        std::lock_guard lock(FClientsLock);
        for (const auto& c : FClients)
            ::shutdown(c->Handle(), SHUT_RDWR);
    }
    FPool->waitForDone();
    FPool.reset();
    ::close(FAbortEvent);
    FAbortEvent = -1;
    ::close(FListenHandle);
    FListenHandle = -1;
    // Remove the socket file only when it is still ours.
    const QByteArray path = FPipeName.toLocal8Bit();
    struct stat st {};
    if (::lstat(path.constData(), &st) == 0 && st.st_dev == FSocketDev && st.st_ino == FSocketIno)
        ::unlink(path.constData());
}
