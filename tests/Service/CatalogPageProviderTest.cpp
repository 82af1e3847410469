#include "Service/CatalogPageProvider.h"
#include "App/HttpExceptions.h"
#include "App/Paths.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <mutex>

namespace {

// Pages by key: "arcade" is a full page, "bare" has no publish date, "wrong" is not a page.
class CatalogPageProviderTest : public ::testing::Test {
protected:
    void SetUp() override {
        FServer.Server().Get(R"(/api/kiv/public/catalog/(.+))",
                             [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(FMutex);
            FAccept = req.get_header_value("Accept");
            const std::string key = req.matches[1];
            if (key == "arcade")
                res.set_content(R"({"data":{"type":"app-page","attributes":{"achievement_count":300,
                    "scoreboard_count":2,"description":"Short","description_long":null,"title":"Arcade",
                    "cover_url":"http://127.0.0.1/c.png","media":["a","b"],"publish_date":"2024-05-06"}}})",
                                "application/vnd.api+json");
            else if (key == "bare")
                res.set_content(R"({"data":{"type":"app-page","attributes":{"title":"Bare"}}})", "text/plain");
            else if (key == "wrong")
                res.set_content(R"({"data":{"type":"app","attributes":{}}})", "text/plain");
            else
                res.status = 404;
        });
        FServer.Start();
        qputenv("TARVENOX_SERVICE_URL", FServer.Origin().toUtf8());
        InitPaths();
    }
    void TearDown() override {
        qputenv("TARVENOX_SERVICE_URL", "http://127.0.0.1:9");
        InitPaths();
    }

    TestHttpServer FServer;
    std::mutex FMutex;
    std::string FAccept;
};

} // namespace

TEST_F(CatalogPageProviderTest, FetchesAndConvertsThePageOfOneGame) {
    const auto page = TCatalogPageProvider().GetCatalogPage(QStringLiteral("arcade"));
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->Title, QStringLiteral("Arcade"));
    EXPECT_EQ(page->AchievementCount, 44);
    EXPECT_EQ(page->ScoreboardCount, 2);
    EXPECT_EQ(page->DescriptionLong, QStringLiteral("Short"));
    EXPECT_EQ(page->CoverUrl, QStringLiteral("http://127.0.0.1/c.png"));
    EXPECT_EQ(page->Media, QStringLiteral("[\"a\",\"b\"]"));
    EXPECT_EQ(page->PublishedAt.date(), QDate(2024, 5, 6));
    {
        std::lock_guard lock(FMutex);
        EXPECT_EQ(FAccept, "application/vnd.api+json");
    }

    const auto bare = TCatalogPageProvider().GetCatalogPage(QStringLiteral("bare"));
    EXPECT_EQ(bare->Title, QStringLiteral("Bare"));
    EXPECT_FALSE(bare->PublishedAt.isValid());
}

TEST_F(CatalogPageProviderTest, ErrorsReachTheCaller) {
    try {
        TCatalogPageProvider().GetCatalogPage(QStringLiteral("wrong"));
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Invalid type. Expected app-page, got \"app\""));
    }
    try {
        TCatalogPageProvider().GetCatalogPage(QStringLiteral("gone"));
        FAIL() << "no error";
    } catch (const EDownloadException& e) {
        EXPECT_EQ(e.StatusCode, 404);
        EXPECT_EQ(e.Url, FServer.Origin() + QStringLiteral("/api/kiv/public/catalog/gone"));
    }
}
