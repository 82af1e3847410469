#include "Service/EventReporter.h"
#include "App/MainThread.h"
#include "App/Paths.h"
#include "App/User.h"
#include "Service/EventReporter/Notifications.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <QThreadPool>
#include <mutex>

namespace {

struct TReceived {
    std::string Path, Body, ContentType, Token;
};

// Records announcements and beeps, and on which thread they arrived.
class TRecordingAnnouncer : public IAchievementAnnouncer {
public:
    void Beep() override {
        std::lock_guard lock(Mutex);
        ++Beeps;
        OnMainThread = OnMainThread && IsMainThread();
    }
    void ShowAchievementNotification(const TAchievementEntry& Achievement) override {
        std::lock_guard lock(Mutex);
        Shown.push_back(Achievement.Name + QStringLiteral("|") + Achievement.AppTitle);
        OnMainThread = OnMainThread && IsMainThread();
    }
    int BeepCount() {
        std::lock_guard lock(Mutex);
        return Beeps;
    }
    std::vector<QString> ShownNames() {
        std::lock_guard lock(Mutex);
        return Shown;
    }

    std::mutex Mutex;
    int Beeps = 0;
    std::vector<QString> Shown;
    bool OnMainThread = true;
};

bool PoolIdle() {
    return WaitFor([] { return QThreadPool::globalInstance()->activeThreadCount() == 0; });
}

// The service's event endpoints. Launcher events carrying the token RejectedToken are refused with 401;
// game events are answered with GameAnswer.
class EventReporterTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto record = [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(FMutex);
            FReceived.push_back({req.path, req.body, req.get_header_value("Content-Type"),
                                 req.get_header_value("User-Token")});
            if (req.path == "/api/kiv/public/event/app")
                res.set_content(FGameAnswer, "application/json");
            else if (!FRejectedToken.empty() && req.get_header_value("User-Token") == FRejectedToken)
                res.status = 401;
            else if (FRejectAll)
                res.status = 500;
        };
        FServer.Server().Post("/api/kiv/public/event", record);
        FServer.Server().Post("/api/kiv/public/event/app", record);
        FServer.Start();
        qputenv("TARVENOX_SERVICE_URL", FServer.Origin().toUtf8());
        InitPaths();
        FAnnouncer = std::make_shared<TRecordingAnnouncer>();
        SetAchievementAnnouncer(FAnnouncer);
    }
    void TearDown() override {
        PoolIdle();
        SetAchievementAnnouncer(nullptr);
        CurrentUser().SetToken(QString());
        CurrentUser().Save();
        qputenv("TARVENOX_SERVICE_URL", "http://127.0.0.1:9");
        InitPaths();
    }
    size_t ReceivedCount() {
        std::lock_guard lock(FMutex);
        return FReceived.size();
    }
    // Waits for the n-th request and gives it.
    TReceived Request(size_t n) {
        EXPECT_TRUE(WaitFor([&] { return ReceivedCount() > n; })) << "request " << n << " never came";
        std::lock_guard lock(FMutex);
        return n < FReceived.size() ? FReceived[n] : TReceived{};
    }
    static std::string Decoded(const std::string& Body) {
        return QByteArray::fromBase64(QByteArray::fromStdString(Body)).toStdString();
    }

    TestHttpServer FServer;
    std::mutex FMutex;
    std::vector<TReceived> FReceived;
    std::string FRejectedToken;
    bool FRejectAll = false;
    std::string FGameAnswer;
    std::shared_ptr<TRecordingAnnouncer> FAnnouncer;
};

} // namespace

TEST_F(EventReporterTest, ReportsGoOutAsBase64OfTheirTexts) {
    const struct {
        std::function<void()> report;
        std::string path;
        std::string text;
    } cases[] = {
        {[] { ReportLaunch(QString()); }, "/api/kiv/public/event", R"({"a":"kiv","e":"launch"})"},
        {[] { ReportLaunch(QStringLiteral("arcade")); }, "/api/kiv/public/event", R"({"a":"arcade","e":"launch"})"},
        {[] { ReportInstallRequest(QStringLiteral("arcade")); }, "/api/kiv/public/event",
         R"({"a":"arcade","e":"install-request"})"},
        {[] { ReportInstall(QStringLiteral("arcade")); }, "/api/kiv/public/event", R"({"a":"arcade","e":"install"})"},
        {[] { ReportScore(QStringLiteral("abc"), QStringLiteral("board1"), -5); }, "/api/kiv/public/event/app",
         R"({"a":"abc","e":"board1", "p":-5})"},
        {[] { ReportInGameEvent(QStringLiteral("abc"), QStringLiteral("boss")); }, "/api/kiv/public/event/app",
         R"({"a":"abc","e":"boss"})"},
        // Inserted texts are not escaped: the service gets exactly what the caller gave.
        {[] { Post(QStringLiteral("a\"b"), QString::fromUtf8("ёж")); }, "/api/kiv/public/event",
         "{\"a\":\"a\"b\",\"e\":\"\xD1\x91\xD0\xB6\"}"},
    };
    size_t n = 0;
    for (const auto& c : cases) {
        c.report();
        const TReceived got = Request(n++);
        EXPECT_EQ(got.Path, c.path) << c.text;
        EXPECT_EQ(got.Body, QByteArray(c.text.c_str()).toBase64().toStdString() + "\r\n") << c.text;
        EXPECT_EQ(got.ContentType, "application/json");
    }
    // The launcher's own start: 24 characters give 32 of Base64 and the line end.
    EXPECT_EQ(Request(0).Body.size(), 34u);
}

TEST_F(EventReporterTest, EncodePayloadBreaksLinesAt76Characters) {
    EXPECT_EQ(EncodePayload(QString()), QString());
    // 57 bytes fill exactly one line; 58 need a second one.
    EXPECT_EQ(EncodePayload(QString(57, u'x')), QString::fromLatin1(QByteArray(57, 'x').toBase64()));
    const QString two = EncodePayload(QString(58, u'x'));
    const QStringList lines = two.split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0].size(), 76);
    EXPECT_EQ((lines[0] + lines[1]).toLatin1(), QByteArray(58, 'x').toBase64());
    EXPECT_FALSE(two.endsWith(QStringLiteral("\r\n")));

    // On the wire every line, the last one included, ends with CR LF.
    const QString key(60, u'k');
    ReportInstall(key);
    const std::string body = Request(0).Body;
    const std::string text = "{\"a\":\"" + key.toStdString() + "\",\"e\":\"install\"}";
    EXPECT_EQ(Decoded(body), text);
    const QByteArray b64 = QByteArray::fromStdString(text).toBase64();
    std::string expected;
    for (qsizetype i = 0; i < b64.size(); i += 76)
        expected += b64.mid(i, 76).toStdString() + "\r\n";
    EXPECT_EQ(body, expected);
}

TEST_F(EventReporterTest, RejectedLauncherEventLogsOutAndIsSentOnceMoreWithoutToken) {
    CurrentUser().SetName(QStringLiteral("bob"));
    CurrentUser().SetToken(QStringLiteral("stale"));
    CurrentUser().Save();
    FRejectedToken = "stale";
    ReportLaunch(QStringLiteral("arcade"));
    const TReceived first = Request(0), second = Request(1);
    EXPECT_EQ(first.Token, "stale");
    EXPECT_EQ(second.Token, "");
    EXPECT_EQ(second.Body, first.Body);
    EXPECT_EQ(second.Path, "/api/kiv/public/event");
    ASSERT_TRUE(PoolIdle());
    EXPECT_EQ(ReceivedCount(), 2u);
    EXPECT_EQ(CurrentUser().Token(), QString());
    EXPECT_EQ(CurrentUser().Name(), QStringLiteral("bob"));
    TUser saved;
    saved.Load();
    EXPECT_EQ(saved.Token(), QString());
    EXPECT_EQ(saved.Name(), QStringLiteral("bob"));
    CurrentUser().SetName(QString());
}

TEST_F(EventReporterTest, SecondRefusalAndGameEventRefusalsAreDropped) {
    FRejectAll = true;
    ReportInstall(QStringLiteral("arcade"));
    Request(1);
    ASSERT_TRUE(PoolIdle());
    EXPECT_EQ(ReceivedCount(), 2u);

    // Game events are lost on failure: no second try and the token stays.
    TestHttpServer refusing;
    refusing.Server().Post(R"(/.*)", [this](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard lock(FMutex);
        FReceived.push_back({req.path, req.body, "", req.get_header_value("User-Token")});
        res.status = 401;
    });
    refusing.Start();
    qputenv("TARVENOX_SERVICE_URL", refusing.Origin().toUtf8());
    InitPaths();
    CurrentUser().SetToken(QStringLiteral("kept"));
    ReportScore(QStringLiteral("abc"), QStringLiteral("b"), 1);
    ReportInGameEvent(QStringLiteral("abc"), QStringLiteral("e"));
    Request(3);
    ASSERT_TRUE(PoolIdle());
    EXPECT_EQ(ReceivedCount(), 4u);
    EXPECT_EQ(CurrentUser().Token(), QStringLiteral("kept"));
    EXPECT_EQ(FAnnouncer->BeepCount(), 0);
}

TEST_F(EventReporterTest, ReportsToAnUnreachableServiceReturnQuietly) {
    qputenv("TARVENOX_SERVICE_URL", "http://127.0.0.1:9");
    InitPaths();
    CurrentUser().SetToken(QStringLiteral("kept"));
    ReportLaunch(QString());
    ReportScore(QStringLiteral("abc"), QStringLiteral("b"), 1);
    ReportInGameEvent(QStringLiteral("abc"), QStringLiteral("e"));
    ASSERT_TRUE(PoolIdle());
    // A transport failure is not a refusal: the login stays.
    EXPECT_EQ(CurrentUser().Token(), QStringLiteral("kept"));
    EXPECT_EQ(FAnnouncer->BeepCount(), 0);
}

TEST_F(EventReporterTest, InGameAnswerAnnouncesItsAchievementsInOrderOnTheMainThread) {
    FGameAnswer = R"({"data":[
        {"type":"achievement","attributes":{"name":"First blood","description":"d","app_key":"abc","app_name":"Arcade"}},
        {"type":"achievement","attributes":{"name":"Second","description":"d","app_key":"abc","app_name":"Arcade"}}]})";
    ReportInGameEvent(QStringLiteral("abc"), QStringLiteral("boss"));
    ASSERT_TRUE(WaitFor([&] { return FAnnouncer->ShownNames().size() == 2; }));
    EXPECT_EQ(FAnnouncer->ShownNames(),
              (std::vector<QString>{QStringLiteral("First blood|Arcade"), QStringLiteral("Second|Arcade")}));
    EXPECT_EQ(FAnnouncer->BeepCount(), 1);
    EXPECT_TRUE(FAnnouncer->OnMainThread);
}

TEST_F(EventReporterTest, EarnedAchievementAnswers) {
    const QString good =
        QStringLiteral(R"({"type":"achievement","attributes":{"name":"A","description":"","app_key":"k","app_name":"G"}})");
    const struct {
        QString answer;
        int beeps;
        size_t shown;
    } cases[] = {
        {QString(), 0, 0},
        {QStringLiteral("{\"data\":[]}"), 1, 0},
        {QStringLiteral("{\"other\":1}"), 1, 0},
        {QStringLiteral("4001"), 1, 0}, // a large answer arrives as its size
        {QStringLiteral("[1,2]"), 1, 0},
        {QStringLiteral("{\"data\":[") + good + QStringLiteral("]}\r\n"), 1, 1},
        // One unreadable item spoils the whole answer: no sound, no window.
        {QStringLiteral("{\"data\":[") + good + QStringLiteral(",{\"type\":\"badge\",\"attributes\":{}}]}"), 0, 0},
        {QStringLiteral("{\"data\":[") + good + QStringLiteral(",{\"type\":\"achievement\"}]}"), 0, 0},
        {QStringLiteral("{\"data\":[{\"type\":\"achievement\",\"attributes\":{\"name\":null}}]}"), 0, 0},
    };
    for (const auto& c : cases) {
        auto announcer = std::make_shared<TRecordingAnnouncer>();
        SetAchievementAnnouncer(announcer);
        ShowEarnedAchievements(c.answer);
        EXPECT_EQ(announcer->BeepCount(), c.beeps) << c.answer.toStdString();
        EXPECT_EQ(announcer->ShownNames().size(), c.shown) << c.answer.toStdString();
    }
    // Without a registered announcer nothing is shown and nothing fails.
    SetAchievementAnnouncer(nullptr);
    ShowEarnedAchievements(QStringLiteral("{\"data\":[") + good + QStringLiteral("]}"));
}
