#include "Lib/PipeChannel.h"

#include <QDir>
#include <QtEndian>

#include <cerrno>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// 0 or errno. MSG_NOSIGNAL: a peer that went away must not kill the process with SIGPIPE.
int SendAll(int fd, const char* p, qint64 n) {
    while (n > 0) {
        const ssize_t w = ::send(fd, p, size_t(n), MSG_NOSIGNAL);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return errno == EAGAIN ? ETIMEDOUT : errno;
        }
        p += w;
        n -= w;
    }
    return 0;
}

// 0, errno, or EPIPE for an end of stream. *gotAny tells whether any byte arrived before the end.
int RecvAll(int fd, char* p, qint64 n, bool* gotAny = nullptr) {
    if (gotAny)
        *gotAny = false;
    while (n > 0) {
        const ssize_t r = ::recv(fd, p, size_t(n), 0);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return errno == EAGAIN ? ETIMEDOUT : errno;
        }
        if (r == 0)
            return EPIPE;
        if (gotAny)
            *gotAny = true;
        p += r;
        n -= r;
    }
    return 0;
}

bool Fail(TPipeFailure& f, TPipeStep step, int error) {
    f.Step = step;
    f.Error = error;
    return false;
}

}  // namespace

bool WritePipeMessage(int fd, const TMessageData& Message, TPipeFailure& Failure) {
    const QByteArray id = Utf16Le(Message.ID);
    QByteArray head(8, Qt::Uninitialized);
    qToLittleEndian<qint64>(id.size(), head.data());
    head.append(id);
    if (int e = SendAll(fd, head.constData(), head.size()))
        return Fail(Failure, TPipeStep::WriteId, e);

    const QByteArray& data = Message.Data.Bytes();
    char size[8];
    qToLittleEndian<qint64>(data.size(), size);
    if (int e = SendAll(fd, size, 8))
        return Fail(Failure, TPipeStep::WriteDataSize, e);

    for (qint64 pos = 0; pos < data.size(); pos += IPC_CHUNK_BYTES) {
        const qint64 n = qMin<qint64>(IPC_CHUNK_BYTES, data.size() - pos);
        if (int e = SendAll(fd, data.constData() + pos, n))
            return Fail(Failure, TPipeStep::WriteChunk, e);
    }
    return true;
}

bool WritePipeCloseMarker(int fd, TPipeFailure& Failure) {
    char marker[8];
    qToLittleEndian<qint64>(IPC_CLOSE_MARKER, marker);
    if (int e = SendAll(fd, marker, 8))
        return Fail(Failure, TPipeStep::WriteId, e);
    return true;
}

TPipeReadResult ReadPipeMessage(int fd, TMessageData& Message, TPipeFailure& Failure, bool AllowCloseMarker) {
    char buf8[8];
    bool gotAny = false;
    if (int e = RecvAll(fd, buf8, 8, &gotAny)) {
        if (e == EPIPE && !gotAny)
            return TPipeReadResult::Ended;
        Fail(Failure, TPipeStep::ReadIdLength, e);
        return TPipeReadResult::Failed;
    }
    const qint64 idLen = qFromLittleEndian<qint64>(buf8);
    if (idLen == IPC_CLOSE_MARKER && AllowCloseMarker)
        return TPipeReadResult::CloseMarker;
    if (idLen < 0 || idLen > IPC_MAX_ID_BYTES || idLen % 2 != 0) {
        Fail(Failure, TPipeStep::ReadIdLength, EPROTO);
        return TPipeReadResult::Failed;
    }
    QByteArray id(idLen, Qt::Uninitialized);
    if (int e = RecvAll(fd, id.data(), idLen)) {
        Fail(Failure, TPipeStep::ReadId, e);
        return TPipeReadResult::Failed;
    }
    QString idText(idLen / 2, Qt::Uninitialized);
    for (qint64 i = 0; i < idLen / 2; ++i)
        idText[i] = QChar(qFromLittleEndian<quint16>(id.constData() + 2 * i));

    if (int e = RecvAll(fd, buf8, 8)) {
        Fail(Failure, TPipeStep::ReadDataSize, e);
        return TPipeReadResult::Failed;
    }
    const qint64 dataSize = qFromLittleEndian<qint64>(buf8);
    if (dataSize < 0 || dataSize > IPC_MAX_DATA_BYTES) {
        Fail(Failure, TPipeStep::ReadDataSize, EPROTO);
        return TPipeReadResult::Failed;
    }
    QByteArray data(dataSize, Qt::Uninitialized);
    for (qint64 pos = 0; pos < dataSize; pos += IPC_CHUNK_BYTES) {
        const qint64 n = qMin<qint64>(IPC_CHUNK_BYTES, dataSize - pos);
        if (int e = RecvAll(fd, data.data() + pos, n)) {
            Fail(Failure, TPipeStep::ReadData, e);
            return TPipeReadResult::Failed;
        }
    }
    Message.ID = idText;
    Message.Data.SetBytes(std::move(data));
    return TPipeReadResult::Ok;
}

QString IPCSocketFolder() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && runtime.startsWith('/')) {
        struct stat st {};
        if (::stat(runtime.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid())
            return QString::fromLocal8Bit(runtime);
    }
    return QStringLiteral("/tmp/tarvenox-%1").arg(::geteuid());
}

QString IPCSocketPath(const QString& ServerName) {
    if (ServerName.isEmpty() || ServerName.contains(QLatin1Char('/')) || ServerName == QLatin1String("..") ||
        ServerName == QLatin1String("."))
        return {};
    const QString path = IPCSocketFolder() + QLatin1Char('/') + ServerName;
    if (path.toLocal8Bit().size() >= qsizetype(sizeof(sockaddr_un::sun_path)))
        return {};
    return path;
}

int PrepareIPCSocketFolder() {
    const QByteArray folder = IPCSocketFolder().toLocal8Bit();
    if (folder == qgetenv("XDG_RUNTIME_DIR"))
        return 0;  // the session's own folder, already checked to be ours
    if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST)
        return errno;
    struct stat st {};
    if (::lstat(folder.constData(), &st) != 0)
        return errno;
    // Someone else's folder, a link, or one others can enter: not a place for our socket.
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 077) != 0)
        return EACCES;
    return 0;
}
