#include "Service/HttpHeadersProvider.h"
#include "App/MainThread.h"
#include "App/Paths.h"
#include "App/User.h"
#include "Service/FileDownloader.h"
#include "TestSupport.h"

#include <BuildConfig.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <QtConcurrent>
#include <arpa/inet.h>
#include <atomic>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// Answers every request with 200 and keeps the raw request head, so that the order of the header
// lines on the wire can be checked (the HTTP test server only offers headers sorted by name).
class RawCaptureServer {
public:
    RawCaptureServer() {
        FSocket = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(FSocket, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(FSocket, 4);
        socklen_t length = sizeof address;
        getsockname(FSocket, reinterpret_cast<sockaddr*>(&address), &length);
        FPort = ntohs(address.sin_port);
        FThread = std::thread([this] { Serve(); });
    }
    ~RawCaptureServer() {
        shutdown(FSocket, SHUT_RDWR);
        close(FSocket);
        FThread.join();
    }
    QString Url() const { return QStringLiteral("http://127.0.0.1:%1/x").arg(FPort); }
    // Header names of the last request, in the order they were sent.
    QStringList HeaderNames() {
        std::lock_guard lock(FMutex);
        QStringList names;
        const QList<QByteArray> lines = FHead.split('\n');
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0)
                names << QString::fromLatin1(lines[i].left(colon));
        }
        return names;
    }

private:
    void Serve() {
        for (;;) {
            const int client = accept(FSocket, nullptr, nullptr);
            if (client < 0)
                return;
            QByteArray head;
            char buffer[4096];
            while (!head.contains("\r\n\r\n")) {
                const ssize_t n = recv(client, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                head.append(buffer, n);
            }
            {
                std::lock_guard lock(FMutex);
                FHead = head;
            }
            const char answer[] = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
            send(client, answer, sizeof answer - 1, MSG_NOSIGNAL);
            close(client);
        }
    }

    int FSocket = -1;
    int FPort = 0;
    std::thread FThread;
    std::mutex FMutex;
    QByteArray FHead;
};

class HttpHeadersProviderTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitPaths();
        CurrentUser().SetToken(QString());
    }
    void TearDown() override { CurrentUser().SetToken(QString()); }
};

QStringList Names(const TNetHeaders& headers) {
    QStringList names;
    for (const auto& h : headers)
        names << h.Name;
    return names;
}

QString Value(const TNetHeaders& headers, const QString& name) {
    for (const auto& h : headers)
        if (h.Name == name)
            return h.Value;
    return QStringLiteral("<none>");
}

} // namespace

TEST_F(HttpHeadersProviderTest, VersionTextIsProductAndFileVersionOfTheProgram) {
    TFileVersionInfo info;
    GetFileVersionInfo(QCoreApplication::applicationFilePath(), info);
    ASSERT_FALSE(info.ProductVersion.isEmpty()) << "the test program carries no version record";
    // The build's version has four parts, so both texts are the full version.
    EXPECT_EQ(GetVersionText(), QStringLiteral(TARVENOX_VERSION_TEXT "/" TARVENOX_VERSION_TEXT));
}

TEST_F(HttpHeadersProviderTest, ListsKeepTheirOrderWithAndWithoutToken) {
    const QString agent = QStringLiteral("Tarveno! v") + GetVersionText();
    struct Case {
        const char* name;
        QString token;
        std::function<TNetHeaders()> make;
        QStringList expected;
        QString contentType;
    };
    const QString ua = QStringLiteral("User-Agent"), kiv = QStringLiteral("Kiv-Signature"),
                  ct = QStringLiteral("Content-Type"), ut = QStringLiteral("User-Token"),
                  acc = QStringLiteral("Accept");
    const std::vector<Case> cases = {
        {"plain", {}, [] { return GetHttpHeaders(QString()); }, {ua, kiv}, QStringLiteral("<none>")},
        {"plain+token",
         "tok",
         [] { return GetHttpHeaders(QString()); },
         {ua, kiv, ut},
         QStringLiteral("<none>")},
        {"json", {}, [] { return GetJsonHeaders(); }, {ua, kiv, ct}, QStringLiteral("application/json")},
        {"json+token",
         "tok",
         [] { return GetJsonHeaders(); },
         {ua, kiv, ct, ut},
         QStringLiteral("application/json")},
        {"jsonapi",
         {},
         [] { return GetJsonApiHeaders(); },
         {ua, kiv, ct, acc},
         QStringLiteral("application/vnd.api+json")},
        {"jsonapi+token",
         "tok",
         [] { return GetJsonApiHeaders(); },
         {ua, kiv, ct, ut, acc},
         QStringLiteral("application/vnd.api+json")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CurrentUser().SetToken(c.token);
        const TNetHeaders headers = c.make();
        EXPECT_EQ(Names(headers), c.expected);
        EXPECT_EQ(Value(headers, ua), agent);
        EXPECT_EQ(Value(headers, kiv), GetInstallKey());
        EXPECT_EQ(Value(headers, ct), c.contentType);
        if (!c.token.isEmpty()) {
            EXPECT_EQ(Value(headers, ut), c.token);
        }
        if (c.expected.contains(acc)) {
            EXPECT_EQ(Value(headers, acc), QStringLiteral("application/vnd.api+json"));
        }
    }
    EXPECT_EQ(GetInstallKey().size(), 36);
}

TEST_F(HttpHeadersProviderTest, HeadersGoOnTheWireInListOrder) {
    RawCaptureServer server;
    const QStringList ours = {QStringLiteral("User-Agent"), QStringLiteral("Kiv-Signature"),
                              QStringLiteral("Content-Type"), QStringLiteral("User-Token"),
                              QStringLiteral("Accept")};
    auto sentOfOurs = [&] {
        QStringList names;
        for (const QString& n : server.HeaderNames())
            if (ours.contains(n))
                names << n;
        return names;
    };

    CurrentUser().SetToken(QStringLiteral("tok"));
    TFileDownloader withToken;
    withToken.EnableJsonApiGet();
    EXPECT_EQ(withToken.Get(server.Url()), QStringLiteral("ok\r\n"));
    EXPECT_EQ(sentOfOurs(), ours);

    CurrentUser().SetToken(QString());
    TFileDownloader withoutToken;
    withoutToken.EnableJsonApiGet();
    withoutToken.Get(server.Url());
    EXPECT_EQ(sentOfOurs(), (QStringList{QStringLiteral("User-Agent"), QStringLiteral("Kiv-Signature"),
                                         QStringLiteral("Content-Type"), QStringLiteral("Accept")}));
}

TEST_F(HttpHeadersProviderTest, ExternalRequestCarriesNoneOfOurHeaders) {
    TestHttpServer server;
    std::mutex mutex;
    httplib::Headers seen;
    server.Server().Get("/file", [&](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard lock(mutex);
        seen = req.headers;
        res.set_content("data", "application/octet-stream");
    });
    server.Start();
    CurrentUser().SetToken(QStringLiteral("tok"));

    TFileDownloader external;
    external.ExternalRequest = true;
    external.EnableJsonApiGet();
    EXPECT_EQ(external.Get(server.Origin() + QStringLiteral("/file")), QStringLiteral("data\r\n"));
    std::lock_guard lock(mutex);
    EXPECT_EQ(seen.count("Kiv-Signature"), 0u);
    EXPECT_EQ(seen.count("User-Token"), 0u);
    EXPECT_EQ(seen.count("Content-Type"), 0u);
    const auto agent = seen.find("User-Agent");
    if (agent != seen.end()) {
        EXPECT_EQ(agent->second.find("Tarveno!"), std::string::npos);
    }
}

TEST_F(HttpHeadersProviderTest, WorkerRequestCarriesTheMainThreadsToken) {
    TestHttpServer server;
    std::mutex mutex;
    std::string token;
    server.Server().Get("/me", [&](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard lock(mutex);
        token = req.get_header_value("User-Token");
        res.set_content("{}", "application/json");
    });
    server.Start();
    CurrentUser().SetToken(QStringLiteral("worker-token"));

    const QString url = server.Origin() + QStringLiteral("/me");
    QFuture<QString> done = QtConcurrent::run([url] {
        EXPECT_FALSE(IsMainThread());
        return TFileDownloader().Get(url);
    });
    ASSERT_TRUE(WaitFor([&] { return done.isFinished(); }));
    EXPECT_EQ(done.result(), QStringLiteral("{}\r\n"));
    std::lock_guard lock(mutex);
    EXPECT_EQ(token, "worker-token");
}
