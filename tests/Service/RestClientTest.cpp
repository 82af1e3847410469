#include "Service/RestClient.h"
#include "App/HttpExceptions.h"
#include "App/Paths.h"
#include "App/User.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <QBuffer>
#include <mutex>

namespace {

// Answers POST /echo with the request body, POST /sized?n=N&status=S with N bytes of "r" and that status.
class RestClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitPaths();
        FServer.Server().Post("/echo", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(FMutex);
            FBody = req.body;
            FContentType = req.get_header_value("Content-Type");
            FUserToken = req.get_header_value("User-Token");
            res.set_content(req.body, "application/json");
        });
        FServer.Server().Post("/moved", [](const httplib::Request&, httplib::Response& res) {
            res.set_redirect("/echo", 307);
        });
        FServer.Server().Post("/sized", [](const httplib::Request& req, httplib::Response& res) {
            res.status = std::stoi(req.get_param_value("status"));
            res.set_content(std::string(std::stoul(req.get_param_value("n")), 'r'), "text/plain");
        });
        FServer.Start();
    }
    void TearDown() override { CurrentUser().SetToken(QString()); }
    QString Sized(int bytes, int status) const {
        return FServer.Origin() + QStringLiteral("/sized?n=%1&status=%2").arg(bytes).arg(status);
    }

    TestHttpServer FServer;
    std::mutex FMutex;
    std::string FBody, FContentType, FUserToken;
};

} // namespace

TEST_F(RestClientTest, PayloadGoesOutAsUtf8LinesEndedByCrLf) {
    CurrentUser().SetToken(QStringLiteral("tok"));
    const std::pair<QString, std::string> cases[] = {
        {QStringLiteral("{\"a\":1}"), "{\"a\":1}\r\n"},
        {QStringLiteral("{\n\"a\":1\r}\r\n"), "{\r\n\"a\":1\r\n}\r\n"},
        {QString::fromUtf8("{\"name\":\"Ёж\"}"), "{\"name\":\"\xD0\x81\xD0\xB6\"}\r\n"},
        {QString(), ""},
    };
    for (const auto& [payload, body] : cases) {
        const QString answer = TRestClient().Post(FServer.Origin() + QStringLiteral("/echo"), payload);
        std::lock_guard lock(FMutex);
        EXPECT_EQ(FBody, body);
        EXPECT_EQ(answer, QString::fromStdString(body));
        EXPECT_EQ(FContentType, "application/json");
        EXPECT_EQ(FUserToken, "tok");
    }
}

TEST_F(RestClientTest, LargeAnswersAreReplacedByTheirSize) {
    const struct {
        int bytes;
        QString expected;
    } cases[] = {
        {4000, QString(4000, QLatin1Char('r')) + QStringLiteral("\r\n")},
        {4001, QStringLiteral("4001")},
        {0, QString()},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TRestClient().Post(Sized(c.bytes, 200), QStringLiteral("{}")), c.expected) << c.bytes;
}

TEST_F(RestClientTest, RefusalRaisesWithTheAnswerOrItsSize) {
    const struct {
        int bytes;
        int status;
        QString response;
    } cases[] = {
        {5000, 500, QStringLiteral("5000")},
        {4000, 409, QString(4000, QLatin1Char('r')) + QStringLiteral("\r\n")},
        {3, 403, QStringLiteral("rrr\r\n")},
    };
    for (const auto& c : cases) {
        const QString url = Sized(c.bytes, c.status);
        QBuffer sink;
        sink.open(QIODevice::ReadWrite);
        try {
            TRestClient().Post(url, QStringLiteral("{}"), &sink);
            ADD_FAILURE() << "no error for " << c.status;
        } catch (const ERestClientException& e) {
            EXPECT_EQ(e.StatusCode, c.status);
            EXPECT_EQ(e.Url, url);
            EXPECT_EQ(e.Response, c.response);
            EXPECT_EQ(e.Message(), url + QStringLiteral("\r\rHTTP Status Code: ") +
                                       QString::number(c.status) + QStringLiteral("\r\rResponse: ") +
                                       c.response);
        }
        // The caller's stream keeps the whole answer and its position.
        EXPECT_EQ(sink.size(), c.bytes);
        EXPECT_EQ(sink.pos(), c.bytes);
    }
}

TEST_F(RestClientTest, RedirectKeepingTheMethodSendsTheBodyAgain) {
    EXPECT_EQ(TRestClient().Post(FServer.Origin() + QStringLiteral("/moved"), QStringLiteral("{\"a\":1}")),
              QStringLiteral("{\"a\":1}\r\n"));
}

TEST_F(RestClientTest, MissingStreamIsAnAssertion) {
    EXPECT_THROW(TRestClient().Post(FServer.Origin() + QStringLiteral("/echo"), QString(), nullptr),
                 EAssertionFailed);
}
