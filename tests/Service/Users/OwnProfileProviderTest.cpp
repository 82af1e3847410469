#include "Service/Users/OwnProfileProvider.h"
#include "App/Paths.h"
#include "App/User.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <mutex>

namespace {

class OwnProfileProviderTest : public ::testing::Test {
protected:
    void SetUp() override {
        FServer.Server().Get("/api/kiv/profile", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(FMutex);
            FAccept = req.get_header_value("Accept");
            FToken = req.get_header_value("User-Token");
            res.status = FStatus;
            res.set_content(FAnswer, "application/vnd.api+json");
        });
        FServer.Start();
        qputenv("TARVENOX_SERVICE_URL", FServer.Origin().toUtf8());
        InitPaths();
    }
    void TearDown() override {
        CurrentUser().SetToken(QString());
        qputenv("TARVENOX_SERVICE_URL", "http://127.0.0.1:9");
        InitPaths();
    }
    void Answer(int Status, const std::string& Body) {
        std::lock_guard lock(FMutex);
        FStatus = Status;
        FAnswer = Body;
    }

    TestHttpServer FServer;
    std::mutex FMutex;
    int FStatus = 200;
    std::string FAnswer, FAccept, FToken;
};

} // namespace

TEST_F(OwnProfileProviderTest, ReadsNameAndCoinsWithTheLoginToken) {
    CurrentUser().SetToken(QStringLiteral("tok"));
    Answer(200, R"({"data":{"type":"kiv-user-info","attributes":{"coins":125,"name":"Bob"}}})");
    const auto profile = GetOwnProfile(QStringLiteral("default"));
    ASSERT_NE(profile, nullptr);
    EXPECT_EQ(profile->Name, QStringLiteral("Bob"));
    EXPECT_EQ(profile->Coins, 125);
    std::lock_guard lock(FMutex);
    EXPECT_EQ(FAccept, "application/vnd.api+json");
    EXPECT_EQ(FToken, "tok");
}

TEST_F(OwnProfileProviderTest, NeverRaisesAndFallsBackToTheDefaultName) {
    CurrentUser().SetToken(QStringLiteral("tok"));
    const struct {
        int status;
        std::string body;
        int coins;
    } cases[] = {
        {401, R"({"error":"token"})", 0},
        {500, "", 0},
        {200, R"({"data":{"type":"user","attributes":{"coins":7,"name":"Bob"}}})", 0},
        {200, R"({"data":{"type":"kiv-user-info"}})", 0},
        {200, R"({"data":{"type":"kiv-user-info","attributes":{"coins":99999999999,"name":"Bob"}}})", 0},
        {200, "not json at all", 0},
        // A profile without a name still has its coins.
        {200, R"({"data":{"type":"kiv-user-info","attributes":{"coins":3,"name":null}}})", 3},
    };
    for (const auto& c : cases) {
        Answer(c.status, c.body);
        std::unique_ptr<TOwnProfile> profile;
        ASSERT_NO_THROW(profile = GetOwnProfile(QStringLiteral("Гость"))) << c.body;
        ASSERT_NE(profile, nullptr);
        EXPECT_EQ(profile->Name, QStringLiteral("Гость")) << c.body;
        EXPECT_EQ(profile->Coins, c.coins) << c.body;
    }
    // A failed fetch keeps the login.
    EXPECT_EQ(CurrentUser().Token(), QStringLiteral("tok"));

    qputenv("TARVENOX_SERVICE_URL", "http://127.0.0.1:9");
    InitPaths();
    const auto offline = GetOwnProfile(QStringLiteral("x"));
    EXPECT_EQ(offline->Name, QStringLiteral("x"));
    EXPECT_EQ(offline->Coins, 0);
}
