#include "App/HttpExceptions.h"
#include "App/Paths.h"
#include "Service/Meta/Providers.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <mutex>

namespace {

void SetWriteTime(const QString& FileName, const QDateTime& Time) {
    QFile file(FileName);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(Time, QFileDevice::FileModificationTime));
}

TEST(MetaProviderTest, TypeNames) {
    EXPECT_EQ(TAppMetaProvider().ItemType, "apps");
    EXPECT_EQ(TComponentMetaProvider().RemoteUrl, MetaRootUrl() + "components/");
    EXPECT_EQ(TDependencyMetaProvider().GetLocalFileName("vcredist"), MetaPath() + "dependencies/vcredist.json");
    EXPECT_EQ(TMetaProvider("apps").GetRemoteFileUrl("arcade"), MetaRootUrl() + "apps/arcade.json");

    for (const char* bad : {"app", "Apps", ""}) {
        try {
            TMetaProvider provider{QString::fromUtf8(bad)};
            ADD_FAILURE() << bad;
        } catch (const EAssertionFailed& e) {
            EXPECT_TRUE(e.Message().contains(QStringLiteral("Invalid ItemType \"%1\". Check used constructor")
                                                 .arg(QString::fromUtf8(bad))))
                << e.Message().toStdString();
            EXPECT_TRUE(e.Message().contains("Service.Meta.Providers"));
        }
    }
}

TEST(MetaProviderTest, KeysThatLeaveTheirFolderAreRefused) {
    TAppMetaProvider provider;
    for (const char* key : {"", ".", "..", "../x", "a/b", "a\\b", "tab\t"})
        EXPECT_THROW(provider.GetMeta(QString::fromUtf8(key)), Exception) << key;
    EXPECT_FALSE(QFileInfo::exists(MetaPath() + "x.json"));
}

TEST(MetaProviderTest, FreshForLessThanTenWholeMinutes) {
    const QDateTime written = QDateTime(QDate(2024, 3, 1), QTime(12, 0, 0));
    const struct {
        qint64 AgeMs;
        bool Fresh;
    } cases[] = {
        {0, true},
        {9 * 60000 + 59999, true},
        {10 * 60000, false},
        {3600000, false},
        {-(9 * 60000 + 59000), true}, // a write time ahead of the clock counts the same way
        {-10 * 60000, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsMetaCopyFresh(written, written.addMSecs(c.AgeMs)), c.Fresh) << c.AgeMs;
}

class MetaFetchTest : public ::testing::Test {
protected:
    void SetUp() override {
        FOldUrl = qgetenv("TARVENOX_SERVICE_URL");
        FServer.Server().Get(R"(/cdn/meta/(\w+)/(.*)\.json)", [this](const httplib::Request& req, httplib::Response& res) {
            ++FRequests;
            std::lock_guard lock(FMutex);
            FLastPath = req.path;
            if (FStatus != 200) {
                res.status = FStatus;
                res.set_content("error page", "text/plain");
                return;
            }
            res.set_content(FBody, "application/json");
        });
        FServer.Start();
        qputenv("TARVENOX_SERVICE_URL", FServer.Origin().toUtf8());
        InitPaths();
        QDir(MetaPath()).removeRecursively();
    }
    void TearDown() override {
        qputenv("TARVENOX_SERVICE_URL", FOldUrl);
        InitPaths();
    }
    void Serve(int Status, std::string Body = {}) {
        std::lock_guard lock(FMutex);
        FStatus = Status;
        FBody = std::move(Body);
    }

    TestHttpServer FServer;
    std::atomic<int> FRequests{0};
    std::mutex FMutex;
    int FStatus = 200;
    std::string FBody = R"({"name":"Arcade","version":"1.0"})";
    std::string FLastPath;
    QByteArray FOldUrl;
};

TEST_F(MetaFetchTest, CacheServesForTenMinutes) {
    TAppMetaProvider provider;
    const QString cached = MetaPath() + "apps/arcade.json";
    EXPECT_EQ(provider.GetMeta("arcade"), "{\"name\":\"Arcade\",\"version\":\"1.0\"}\r\n");
    EXPECT_EQ(FRequests.load(), 1);
    EXPECT_EQ(FLastPath, "/cdn/meta/apps/arcade.json");
    EXPECT_EQ(ReadFile(cached), R"({"name":"Arcade","version":"1.0"})");

    Serve(200, R"({"name":"Arcade 2"})");
    EXPECT_EQ(provider.GetMeta("arcade"), "{\"name\":\"Arcade\",\"version\":\"1.0\"}\r\n");
    SetWriteTime(cached, QDateTime::currentDateTime().addSecs(-9 * 60));
    EXPECT_EQ(TAppMetaProvider().GetMeta("arcade"), "{\"name\":\"Arcade\",\"version\":\"1.0\"}\r\n");
    EXPECT_EQ(FRequests.load(), 1);

    SetWriteTime(cached, QDateTime::currentDateTime().addSecs(-10 * 60));
    EXPECT_EQ(provider.GetMeta("arcade"), "{\"name\":\"Arcade 2\"}\r\n");
    EXPECT_EQ(FRequests.load(), 2);
    EXPECT_LT(qAbs(QFileInfo(cached).lastModified().secsTo(QDateTime::currentDateTime())), 60);
}

TEST_F(MetaFetchTest, RemoteMetaAlwaysDownloads) {
    TDependencyMetaProvider provider;
    provider.GetMeta("directx");
    const QString cached = MetaPath() + "dependencies/directx.json";
    SetWriteTime(cached, QDateTime::currentDateTime().addSecs(-5 * 60));
    Serve(200, "{\"name\":\"DirectX\"}\n{\"second\":\"line\"}");
    EXPECT_EQ(provider.GetRemoteMeta("directx"), "{\"name\":\"DirectX\"}\r\n{\"second\":\"line\"}\r\n");
    EXPECT_EQ(FRequests.load(), 2);
    EXPECT_EQ(FLastPath, "/cdn/meta/dependencies/directx.json");
    EXPECT_LT(qAbs(QFileInfo(cached).lastModified().secsTo(QDateTime::currentDateTime())), 60);
}

TEST_F(MetaFetchTest, FailedRefreshKeepsThePreviousCopy) {
    TComponentMetaProvider provider;
    provider.GetMeta("dosbox");
    const QString cached = MetaPath() + "components/dosbox.json";
    const QByteArray before = ReadFile(cached);
    SetWriteTime(cached, QDateTime::currentDateTime().addSecs(-3600));

    Serve(500, "broken");
    EXPECT_THROW(provider.GetMeta("dosbox"), EDownloadException);
    EXPECT_THROW(provider.GetRemoteMeta("dosbox"), EDownloadException);
    EXPECT_EQ(ReadFile(cached), before);
    EXPECT_EQ(QDir(MetaPath() + "components/").entryList(QDir::Files | QDir::Hidden), QStringList{"dosbox.json"});

    // Nothing listens at the service's old address any more.
    qputenv("TARVENOX_SERVICE_URL", "http://127.0.0.1:9");
    InitPaths();
    EXPECT_THROW(TComponentMetaProvider().GetMeta("dosbox"), Exception);
    EXPECT_EQ(ReadFile(cached), before);

    EXPECT_THROW(TComponentMetaProvider().GetMeta("never-fetched"), Exception);
    EXPECT_FALSE(QFileInfo::exists(MetaPath() + "components/never-fetched.json"));
}

TEST_F(MetaFetchTest, CachedCopyIsReadAsText) {
    TAppMetaProvider provider;
    // A byte-order mark is honoured; broken JSON is handed over as it is.
    WriteFile(MetaPath() + "apps/bom.json", "\xEF\xBB\xBF{\"name\":\"Ё\"}");
    WriteFile(MetaPath() + "apps/broken.json", "{\"name\":");
    EXPECT_EQ(provider.GetMeta("bom"), "{\"name\":\"Ё\"}\r\n");
    EXPECT_EQ(provider.GetMeta("broken"), "{\"name\":\r\n");
    EXPECT_EQ(FRequests.load(), 0);
}

} // namespace
