#include "Lib/PipeClient.h"
#include "Lib/PipeServer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QtEndian>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

QByteArray Le64(qint64 v) {
    QByteArray b(8, Qt::Uninitialized);
    qToLittleEndian<qint64>(v, b.data());
    return b;
}

QString UniqueServerName() {
    static std::atomic<int> n{0};
    return QStringLiteral("pipetest-%1").arg(n++);
}

// A raw client socket, for sending what our own client never would. Reads give up after 10 s.
int RawConnect(const QString& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray p = path.toLocal8Bit();
    std::memcpy(addr.sun_path, p.constData(), size_t(p.size()));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    timeval tv{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    return fd;
}

void RawSend(int fd, const QByteArray& bytes) { ASSERT_EQ(::send(fd, bytes.constData(), bytes.size(), MSG_NOSIGNAL), bytes.size()); }

// Reads until the peer closes (or 10 s pass); returns what arrived and whether the peer closed.
QByteArray RawReadUntilClosed(int fd, bool* closed) {
    QByteArray all;
    char buf[4096];
    for (;;) {
        const ssize_t r = ::recv(fd, buf, sizeof buf, 0);
        if (r <= 0) {
            *closed = r == 0 || errno == ECONNRESET;
            return all;
        }
        all.append(buf, r);
    }
}

QByteArray RawRead(int fd, qint64 n) {
    QByteArray all;
    char buf[4096];
    while (all.size() < n) {
        const ssize_t r = ::recv(fd, buf, size_t(qMin<qint64>(sizeof buf, n - all.size())), 0);
        if (r <= 0)
            break;
        all.append(buf, r);
    }
    return all;
}

QByteArray DataRequestBytes(const QByteArray& value) {
    TMessageData m;
    m.Data.WriteBytes(QStringLiteral("Data"), value);
    return Le64(0) + Le64(m.Data.Size()) + m.Data.Bytes();
}

// A server on a fresh name whose handler records requests and echoes "Data" back under "Echo".
struct EchoServer {
    TIPCServer Server;
    std::mutex Lock;
    QList<TMessageData> Requests;
    std::atomic<int> Calls{0};
    QStringList Errors;

    EchoServer() {
        Server.SetServerName(UniqueServerName());
        Server.SetOnExecuteRequest([this](TCommContext&, const TMessageData& req, TMessageData& resp) {
            {
                std::lock_guard l(Lock);
                Requests << req;
            }
            if (req.Data.Contains(QStringLiteral("Data")))
                resp.Data.WriteBytes(QStringLiteral("Echo"), req.Data.ReadBytes(QStringLiteral("Data")));
            ++Calls;
        });
        Server.SetOnServerError([this](TCommContext*, int, const QString& msg) {
            std::lock_guard l(Lock);
            Errors << msg;
        });
    }
    QString Path() const { return Server.PipeName(); }
};

}  // namespace

TEST(PipeStorage, DataValueLayoutAndSize) {
    const QByteArray arg(25, 'a');
    TStreamStorage s;
    s.WriteAnsiString(QStringLiteral("Data"), QString::fromLatin1(arg));
    EXPECT_EQ(s.Size(), 45);
    const QByteArray expected = QByteArray::fromHex("08000000" "4400610074006100") + Le64(25) + arg;
    EXPECT_EQ(s.Bytes(), expected);
    EXPECT_EQ(s.ReadAnsiString(QStringLiteral("Data")), QString::fromLatin1(arg));

    // Text goes as UTF-8 both ways.
    TStreamStorage u;
    u.WriteAnsiString(QStringLiteral("Data"), QStringLiteral("tarvenox://run/игра"));
    EXPECT_EQ(u.ReadBytes(QStringLiteral("Data")), QStringLiteral("tarvenox://run/игра").toUtf8());
    EXPECT_EQ(u.ReadAnsiString(QStringLiteral("Data")), QStringLiteral("tarvenox://run/игра"));
}

TEST(PipeStorage, NamesAreUniqueAndCaseSensitive) {
    TStreamStorage s;
    s.WriteBytes(QStringLiteral("Data"), "1");
    s.WriteBytes(QStringLiteral("data"), "2");
    EXPECT_THROW(s.WriteBytes(QStringLiteral("Data"), "3"), EStreamStorageError);
    EXPECT_EQ(s.Names(), (QStringList{QStringLiteral("Data"), QStringLiteral("data")}));
    EXPECT_EQ(s.ReadBytes(QStringLiteral("data")), "2");
    EXPECT_FALSE(s.Contains(QStringLiteral("DATA")));
    EXPECT_THROW(s.ReadBytes(QStringLiteral("DATA")), EStreamStorageError);
}

TEST(PipeStorage, MalformedStreamsRaise) {
    const QByteArray good = QByteArray::fromHex("08000000" "4400610074006100") + Le64(2) + "ab";
    const QList<QByteArray> cases = {
        good.left(3),                                                            // cut inside the name length
        QByteArray::fromHex("f8ffffff"),                                         // negative name length
        QByteArray::fromHex("ffffff7f") + "xx",                                  // name longer than the stream
        QByteArray::fromHex("08000000" "4400610074006100") + Le64(-1),           // negative value length
        QByteArray::fromHex("08000000" "4400610074006100") + Le64(1000) + "ab",  // value past the end
        good.left(good.size() - 1),
    };
    for (const QByteArray& bytes : cases) {
        TStreamStorage s(bytes);
        EXPECT_THROW(s.ReadBytes(QStringLiteral("Data")), EStreamStorageError) << bytes.toHex().constData();
    }
}

TEST(Pipe, ClientRequestFramingByteForByte) {
    // The client's request as it appears on the wire, and a 16-byte empty answer it accepts.
    int sv[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    TMessageData req;
    req.Data.WriteAnsiString(QStringLiteral("Data"), QStringLiteral("tarvenox://run/K/"));
    TPipeFailure failure;
    ASSERT_TRUE(WritePipeMessage(sv[0], req, failure));
    const QByteArray wire = RawRead(sv[1], 8 + 8 + 20 + 17);
    EXPECT_EQ(wire, Le64(0) + Le64(37) + QByteArray::fromHex("080000004400610074006100") + Le64(17) + "tarvenox://run/K/");

    RawSend(sv[1], QByteArray(16, '\0'));
    TMessageData answer;
    EXPECT_EQ(ReadPipeMessage(sv[0], answer, failure, false), TPipeReadResult::Ok);
    EXPECT_TRUE(answer.ID.isEmpty());
    EXPECT_EQ(answer.Data.Size(), 0);
    ::close(sv[0]);
    ::close(sv[1]);
}

TEST(Pipe, ServerAnswersEmptyRequestWithSixteenZeroBytesAndHonoursCloseMarker) {
    EchoServer s;
    s.Server.SetOnExecuteRequest([&](TCommContext&, const TMessageData&, TMessageData&) { ++s.Calls; });
    s.Server.Start();
    ASSERT_TRUE(s.Server.Listening());

    struct stat st {};
    ASSERT_EQ(::lstat(s.Path().toLocal8Bit().constData(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    const int fd = RawConnect(s.Path());
    ASSERT_GE(fd, 0);
    RawSend(fd, DataRequestBytes("hello"));
    EXPECT_EQ(RawRead(fd, 16), QByteArray(16, '\0'));
    // The same connection serves a second request, then the close marker ends it without a call.
    RawSend(fd, DataRequestBytes("again"));
    EXPECT_EQ(RawRead(fd, 16), QByteArray(16, '\0'));
    RawSend(fd, QByteArray(8, '\xff'));
    bool closed = false;
    EXPECT_TRUE(RawReadUntilClosed(fd, &closed).isEmpty());
    EXPECT_TRUE(closed);
    EXPECT_EQ(s.Calls, 2);
    ::close(fd);
}

TEST(Pipe, ClientAndServerAcrossThreads) {
    EchoServer s;
    s.Server.Start();
    TIPCClient client;
    client.SetServerName(s.Server.ServerName());
    EXPECT_EQ(client.PipeName(), s.Path());
    client.ConnectClient(500);
    ASSERT_TRUE(client.IsConnected()) << client.ErrorDesc().toStdString();

    // Larger than one 64 KiB piece, and a second request on the same connection.
    QByteArray big(200000, '\0');
    for (int i = 0; i < big.size(); ++i)
        big[i] = char(i * 7);
    for (const QByteArray& payload : {big, QByteArray("second")}) {
        TMessageData req;
        req.Data.WriteBytes(QStringLiteral("Data"), payload);
        const TMessageData answer = client.ExecuteConnectedRequest(req);
        ASSERT_TRUE(client.AnswerValid()) << client.ErrorDesc().toStdString();
        EXPECT_EQ(client.LastError(), 0);
        EXPECT_EQ(answer.Data.ReadBytes(QStringLiteral("Echo")), payload);
    }
    EXPECT_EQ(s.Calls, 2);
}

TEST(Pipe, BadLengthsCloseTheConnectionWithoutReadingFurther) {
    EchoServer s;
    // Far beyond the test's own 10 s read limit: a server that waited for more bytes would not close.
    s.Server.SetClientTimeout(60000);
    s.Server.Start();
    const QList<QByteArray> cases = {
        Le64(-2),                                   // negative ID length other than the close marker
        Le64(64 * 1024 + 2) + QByteArray(100, 'x'),  // ID larger than we ever send
        Le64(3) + "abc",                            // half a UTF-16 character
        Le64(0) + Le64(-5),                         // negative data size
        Le64(0) + Le64(1024 * 1024 + 1),            // data larger than we ever send
    };
    for (const QByteArray& bytes : cases) {
        const int fd = RawConnect(s.Path());
        ASSERT_GE(fd, 0);
        RawSend(fd, bytes);
        bool closed = false;
        EXPECT_TRUE(RawReadUntilClosed(fd, &closed).isEmpty()) << bytes.toHex().constData();
        EXPECT_TRUE(closed) << bytes.toHex().constData();
        ::close(fd);
    }
    EXPECT_EQ(s.Calls, 0);
    EXPECT_TRUE(WaitFor([&] { return s.Server.ConnectedClientCount() == 0; }));

    // The server still serves well-behaved clients.
    const int fd = RawConnect(s.Path());
    RawSend(fd, DataRequestBytes("ok"));
    TStreamStorage echo;
    echo.WriteBytes(QStringLiteral("Echo"), "ok");
    EXPECT_EQ(RawRead(fd, 16 + echo.Size()), Le64(0) + Le64(echo.Size()) + echo.Bytes());
    EXPECT_EQ(s.Calls, 1);
    ::close(fd);
}

TEST(Pipe, SilentClientHoldsOnlyItsOwnWorkerUntilTimeOut) {
    EchoServer s;
    s.Server.SetClientTimeout(300);
    s.Server.Start();
    const int silent = RawConnect(s.Path());
    ASSERT_GE(silent, 0);

    // Another client is served while the silent one waits.
    TIPCClient client;
    client.SetServerName(s.Server.ServerName());
    client.ConnectClient(500);
    TMessageData req;
    req.Data.WriteAnsiString(QStringLiteral("Data"), QStringLiteral("x"));
    client.ExecuteConnectedRequest(req);
    EXPECT_TRUE(client.AnswerValid());

    // The silent one is dropped by the worker's read time-out.
    bool closed = false;
    RawReadUntilClosed(silent, &closed);
    EXPECT_TRUE(closed);
    ::close(silent);
}

TEST(Pipe, StaleSocketFileDoesNotBlockANewServer) {
    EchoServer s;
    // What a crashed instance leaves behind: a socket file nobody listens on.
    ASSERT_EQ(PrepareIPCSocketFolder(), 0);
    const int dead = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray p = s.Path().toLocal8Bit();
    std::memcpy(addr.sun_path, p.constData(), size_t(p.size()));
    ASSERT_EQ(::bind(dead, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(dead);

    TIPCClient probe;
    probe.SetServerName(s.Server.ServerName());
    probe.ConnectClient(500);
    EXPECT_FALSE(probe.IsConnected());
    EXPECT_EQ(probe.ErrorDesc(), QStringLiteral("WaitNamedPipe failed while wating for the pipe"));

    s.Server.Start();
    EXPECT_TRUE(s.Server.Listening());
    probe.ConnectClient(500);
    EXPECT_TRUE(probe.IsConnected());
}

TEST(Pipe, LiveServerKeepsItsSocketAgainstASecondServer) {
    EchoServer first;
    first.Server.Start();
    TIPCServer second;
    second.SetServerName(first.Server.ServerName());
    QString error;
    second.SetOnExecuteRequest([](TCommContext&, const TMessageData&, TMessageData&) {});
    second.SetOnServerError([&](TCommContext*, int, const QString& m) { error = m; });
    second.Start();
    EXPECT_FALSE(second.Listening());
    EXPECT_EQ(error, QStringLiteral("Could not create new pipe instance."));

    TIPCClient client;
    client.SetServerName(first.Server.ServerName());
    client.ConnectClient(500);
    TMessageData req;
    req.Data.WriteAnsiString(QStringLiteral("Data"), QStringLiteral("x"));
    client.ExecuteConnectedRequest(req);
    EXPECT_TRUE(client.AnswerValid());
}

TEST(Pipe, ClientFailuresAreRecordedNotRaised) {
    TIPCClient client;
    client.SetServerName(UniqueServerName());
    client.ConnectClient(500);
    EXPECT_FALSE(client.IsConnected());
    // A missing server fails at once, not by running out the time.
    EXPECT_EQ(client.ErrorDesc(), QStringLiteral("WaitNamedPipe failed while wating for the pipe"));
    EXPECT_EQ(client.LastError(), ENOENT);

    TMessageData req;
    client.ExecuteConnectedRequest(req);
    EXPECT_FALSE(client.AnswerValid());
    EXPECT_EQ(client.ErrorDesc(), QStringLiteral("WriteFile failed while writing message ID"));

    // A server that hangs up instead of answering, and one that answers with an absurd size.
    EchoServer hangUp;
    hangUp.Server.SetOnExecuteRequest([](TCommContext&, const TMessageData&, TMessageData&) {
        throw Exception(QStringLiteral("boom"));
    });
    hangUp.Server.Start();
    client.SetServerName(hangUp.Server.ServerName());
    client.ConnectClient(500);
    ASSERT_TRUE(client.IsConnected());
    client.ExecuteConnectedRequest(req);
    EXPECT_FALSE(client.AnswerValid());
    EXPECT_EQ(client.ErrorDesc(), QStringLiteral("ReadFile failed while reading message ID length"));
    EXPECT_TRUE(WaitFor([&] {
        std::lock_guard l(hangUp.Lock);
        return hangUp.Errors.contains(QStringLiteral("boom"));
    }));

    int sv[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    RawSend(sv[1], Le64(0) + Le64(IPC_MAX_DATA_BYTES + 1));
    TMessageData answer;
    TPipeFailure failure;
    EXPECT_EQ(ReadPipeMessage(sv[0], answer, failure, false), TPipeReadResult::Failed);
    EXPECT_EQ(failure.Step, TPipeStep::ReadDataSize);
    EXPECT_EQ(failure.Error, EPROTO);
    ::close(sv[0]);
    ::close(sv[1]);
}

TEST(Pipe, StartWithoutHandlerRaisesAndStopEndsConnections) {
    TIPCServer bare;
    bare.SetServerName(UniqueServerName());
    try {
        bare.Start();
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("OnExecuteRequest not assigned"));
    }
    EXPECT_FALSE(bare.Listening());

    EchoServer s;
    s.Server.Start();
    const int idle = RawConnect(s.Path());
    ASSERT_GE(idle, 0);
    EXPECT_TRUE(WaitFor([&] { return s.Server.ConnectedClientCount() == 1; }));
    s.Server.Stop();
    EXPECT_FALSE(s.Server.Listening());
    EXPECT_EQ(s.Server.ConnectedClientCount(), 0);
    bool closed = false;
    RawReadUntilClosed(idle, &closed);
    EXPECT_TRUE(closed);
    ::close(idle);
    EXPECT_FALSE(QFileInfo::exists(s.Path()));
    EXPECT_LT(RawConnect(s.Path()), 0);

    // A stopped server starts again on the same name.
    s.Server.Start();
    EXPECT_TRUE(s.Server.Listening());
}

TEST(Pipe, SocketFolderIsTheUsersOwn) {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(IPCSocketPath(QStringLiteral("tarvenox")), QString::fromLocal8Bit(runtime) + QStringLiteral("/tarvenox"));
    for (const QString& bad : {QString(), QStringLiteral("../x"), QStringLiteral("a/b"), QStringLiteral(".."), QString(200, QLatin1Char('n'))})
        EXPECT_TRUE(IPCSocketPath(bad).isEmpty()) << bad.toStdString();

    // Without a usable runtime folder: a per-user folder under /tmp, closed to others.
    const QString fallback = QStringLiteral("/tmp/tarvenox-%1").arg(::geteuid());
    for (const QByteArray& value : {QByteArray(), QByteArray("relative/run")}) {
        qputenv("XDG_RUNTIME_DIR", value);
        EXPECT_EQ(IPCSocketFolder(), fallback);
    }
    if (!QFileInfo::exists(fallback)) {  // leave a folder of a real session alone
        EXPECT_EQ(PrepareIPCSocketFolder(), 0);
        struct stat st {};
        ASSERT_EQ(::lstat(fallback.toLocal8Bit().constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        ::chmod(fallback.toLocal8Bit().constData(), 0755);
        EXPECT_EQ(PrepareIPCSocketFolder(), EACCES);
        ::rmdir(fallback.toLocal8Bit().constData());
    }
    qputenv("XDG_RUNTIME_DIR", runtime);
}
