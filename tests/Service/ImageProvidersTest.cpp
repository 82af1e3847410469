#include "Service/ImageProviders.h"
#include "App/HttpExceptions.h"
#include "App/Paths.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QThreadPool>
#include <QTimer>
#include <condition_variable>
#include <future>
#include <mutex>

namespace {

QByteArray PngBytes(int Width, int Height) {
    QImage image(Width, Height, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// Covers under /covers/<name>: "*.png" are pictures, "broken.png" is text, "missing.png" is 404. While
// FHold is set, /slow/ requests wait until the test lets them go.
class ImageProvidersTest : public ::testing::Test {
protected:
    void SetUp() override {
        FServer.Server().Get(R"(/(covers|slow)/(.*))", [this](const httplib::Request& req, httplib::Response& res) {
            std::unique_lock lock(FMutex);
            ++FRequests[req.path];
            if (req.matches[1] == "slow")
                FWake.wait(lock, [this] { return !FHold; });
            const std::string name = req.matches[2];
            if (name.find("missing") != std::string::npos)
                res.status = 404;
            else if (name == "broken.png")
                res.set_content("<html>not a picture</html>", "text/html");
            else
                res.set_content(PngBytes(4, 3).toStdString(), "image/png");
        });
        FServer.Start();
        // Every test starts with an empty cache of its own.
        qputenv("XDG_CACHE_HOME", MakeTempDir(QStringLiteral("cache")).toUtf8());
        InitPaths();
    }
    void TearDown() override {
        Release();
        WaitFor([] { return QThreadPool::globalInstance()->activeThreadCount() == 0; });
        qputenv("XDG_CACHE_HOME", (TestHome() + QStringLiteral("/.cache")).toUtf8());
        InitPaths();
    }
    QString Url(const QString& Path) const { return FServer.Origin() + Path; }
    int Requests(const std::string& Path) {
        std::lock_guard lock(FMutex);
        return FRequests[Path];
    }
    void Release() {
        {
            std::lock_guard lock(FMutex);
            FHold = false;
        }
        FWake.notify_all();
    }

    TestHttpServer FServer;
    std::mutex FMutex;
    std::condition_variable FWake;
    bool FHold = true;
    std::map<std::string, int> FRequests;
};

struct TOutcome {
    const QImage* Picture = nullptr;
    int Status = 0; // of the download error, 0 when none
};

std::future<TOutcome> GetImageInPool(TImageProvider& Provider, const QString& Resource) {
    auto promise = std::make_shared<std::promise<TOutcome>>();
    QThreadPool::globalInstance()->start([&Provider, Resource, promise] {
        TOutcome outcome;
        try {
            outcome.Picture = Provider.GetImage(Resource);
        } catch (const EDownloadException& e) {
            outcome.Status = e.StatusCode;
        }
        promise->set_value(outcome);
    });
    return promise->get_future();
}

bool Ready(const std::future<TOutcome>& f) {
    return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

} // namespace

TEST_F(ImageProvidersTest, CacheNamesAreTheAddressDigestWithItsExtension) {
    EXPECT_EQ(ImageCacheFileName(QStringLiteral("abc")),
              ImageCachePath() + QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    const struct {
        QString url;
        QString extension;
    } cases[] = {
        {QStringLiteral("http://127.0.0.1:8470/covers/abc.png"), QStringLiteral(".png")},
        {QStringLiteral("http://cdn.example/covers/abc.JPG"), QStringLiteral(".JPG")},
        {QStringLiteral("http://cdn.example/covers/abc.png?v=2"), QStringLiteral(".png?v=2")},
        // No extension in the last segment: nothing of the address becomes a folder of the cache.
        {QStringLiteral("http://cdn.example/covers/abc"), QString()},
        {QStringLiteral("http://127.0.0.1:8470/abc"), QString()},
    };
    for (const auto& c : cases) {
        const QString name = ImageCacheFileName(c.url);
        EXPECT_EQ(name.mid(ImageCachePath().size() + 64), c.extension) << c.url.toStdString();
        EXPECT_FALSE(name.mid(ImageCachePath().size()).contains(u'/')) << c.url.toStdString();
    }
}

TEST_F(ImageProvidersTest, DownloadedPicturesAreSharedAndCachedAcrossRuns) {
    const QString url = Url(QStringLiteral("/covers/a.png"));
    const QImage* first;
    {
        TImageProvider provider;
        first = provider.GetImage(url);
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(first->size(), QSize(4, 3));
        EXPECT_EQ(provider.GetImage(url), first);
        EXPECT_EQ(provider.AddFromFile(ImageCacheFileName(url)), first);
        EXPECT_EQ(Requests("/covers/a.png"), 1);
        EXPECT_EQ(ReadFile(ImageCacheFileName(url)), PngBytes(4, 3));
    }
    // The next run finds the file and asks nobody.
    TImageProvider restarted;
    const QImage* again = restarted.GetImage(url);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->size(), QSize(4, 3));
    EXPECT_EQ(Requests("/covers/a.png"), 1);
}

TEST_F(ImageProvidersTest, LocalFilesAndUnreadablePictures) {
    TImageProvider provider;
    const QString dir = MakeTempDir(QStringLiteral("pics"));
    WriteFile(dir + QStringLiteral("cover.png"), PngBytes(2, 5));
    WriteFile(dir + QStringLiteral("cover.xyz"), PngBytes(2, 5));
    const QImage* local = provider.GetImage(dir + QStringLiteral("cover.png"));
    EXPECT_EQ(local->size(), QSize(2, 5));
    EXPECT_EQ(provider.AddFromFile(dir + QStringLiteral("cover.png")), local);
    // The loader goes by the extension.
    EXPECT_TRUE(provider.GetImage(dir + QStringLiteral("cover.xyz"))->isNull());

    // An error page answered with 200 gives an empty picture and stays in the cache.
    const QString broken = Url(QStringLiteral("/covers/broken.png"));
    EXPECT_TRUE(provider.GetImage(broken)->isNull());
    EXPECT_TRUE(QFile::exists(ImageCacheFileName(broken)));
    EXPECT_EQ(provider.GetImage(broken), provider.GetImage(broken));
    EXPECT_EQ(Requests("/covers/broken.png"), 1);

    // No extension: downloaded, but the picture stays empty.
    EXPECT_TRUE(provider.GetImage(Url(QStringLiteral("/covers/noext")))->isNull());
}

TEST_F(ImageProvidersTest, FailedDownloadLeavesNoFileAndIsTriedAgain) {
    TImageProvider provider;
    const QString url = Url(QStringLiteral("/covers/missing.png"));
    EXPECT_THROW(provider.GetImage(url), EDownloadException);
    EXPECT_FALSE(QFile::exists(ImageCacheFileName(url)));
    EXPECT_THROW(provider.GetImage(url), EDownloadException);
    EXPECT_EQ(Requests("/covers/missing.png"), 2);
}

TEST_F(ImageProvidersTest, SimultaneousFirstRequestsShareOneDownload) {
    const struct {
        std::string path;
        int status;
    } cases[] = {{"/slow/same.png", 0}, {"/slow/missing.png", 404}};
    for (const auto& c : cases) {
        {
            std::lock_guard lock(FMutex);
            FHold = true;
        }
        TImageProvider provider;
        const QString url = Url(QString::fromStdString(c.path));
        auto first = GetImageInPool(provider, url);
        auto second = GetImageInPool(provider, url);
        ASSERT_TRUE(WaitFor([&] { return provider.DownloadWaiters(url) == 2; })) << c.path;
        Release();
        ASSERT_TRUE(WaitFor([&] { return Ready(first) && Ready(second); })) << c.path;
        const TOutcome a = first.get(), b = second.get();
        EXPECT_EQ(a.Status, c.status) << c.path;
        EXPECT_EQ(b.Status, c.status) << c.path;
        EXPECT_EQ(a.Picture, b.Picture) << c.path;
        EXPECT_EQ(a.Picture == nullptr, c.status != 0) << c.path;
        EXPECT_EQ(Requests(c.path), 1) << c.path;
        EXPECT_EQ(provider.DownloadWaiters(url), 0);
    }
}

TEST_F(ImageProvidersTest, MainThreadCanJoinADownloadRunningInTheBackground) {
    TImageProvider provider;
    const QString url = Url(QStringLiteral("/slow/joined.png"));
    auto background = GetImageInPool(provider, url);
    ASSERT_TRUE(WaitFor([&] { return Requests("/slow/joined.png") == 1; }));
    // Let the download go only once the main thread waits inside GetImage.
    QTimer::singleShot(0, [this] { Release(); });
    const QImage* mine = provider.GetImage(url);
    ASSERT_TRUE(WaitFor([&] { return Ready(background); }));
    EXPECT_EQ(background.get().Picture, mine);
    ASSERT_NE(mine, nullptr);
    EXPECT_EQ(mine->size(), QSize(4, 3));
    EXPECT_EQ(Requests("/slow/joined.png"), 1);
}

TEST_F(ImageProvidersTest, GetPictureUsesTheProcessProvider) {
    InitImageProvider();
    EXPECT_EQ(GetPicture(QString()), nullptr);
    const QString url = Url(QStringLiteral("/covers/shared.png"));
    const QImage* picture = GetPicture(url);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(GetPicture(url), picture);
    EXPECT_EQ(Requests("/covers/shared.png"), 1);
    DoneImageProvider();
    EXPECT_EQ(GetPicture(QString()), nullptr);
    EXPECT_THROW(GetPicture(url), EAssertionFailed);
}
