#include "Service/FileDownloader.h"
#include "App/HttpExceptions.h"
#include "App/Paths.h"
#include "App/User.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <QBuffer>
#include <QDir>
#include <atomic>

namespace {

class FileDownloaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitPaths();
        FServer.Server().Get("/hello", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("hello", "text/plain");
        });
        FServer.Server().Get("/missing", [](const httplib::Request&, httplib::Response& res) {
            res.status = 404;
            res.set_content("not here", "text/plain");
        });
        FServer.Server().Get("/old", [](const httplib::Request&, httplib::Response& res) {
            res.set_redirect("/hello", 302);
            res.set_content("moved body", "text/plain");
        });
        FServer.Server().Get("/old-missing", [](const httplib::Request&, httplib::Response& res) {
            res.set_redirect("/missing", 301);
        });
        FServer.Server().Get("/big", [this](const httplib::Request&, httplib::Response& res) {
            ++FBigRequests;
            res.set_content(BigBody(), "application/octet-stream");
        });
        FServer.Server().Get(R"(/files/(.*))", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(FMutex);
            FLastPath = req.path;
            res.set_content("file", "application/octet-stream");
        });
        FServer.Start();
    }
    QString Url(const char* path) const { return FServer.Origin() + QString::fromUtf8(path); }
    static const std::string& BigBody() {
        static const std::string body = [] {
            std::string s(3 * 1024 * 1024, '\0');
            for (size_t i = 0; i < s.size(); ++i)
                s[i] = char(i * 7 % 251);
            return s;
        }();
        return body;
    }
    // Everything in the folder, so that stray ".part" files are caught too.
    static QStringList Entries(const QString& dir) {
        return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }

    TestHttpServer FServer;
    std::atomic<int> FBigRequests{0};
    std::mutex FMutex;
    std::string FLastPath;
};

} // namespace

TEST_F(FileDownloaderTest, NotFoundRaisesWithStatusUrlAndMessage) {
    const QString url = Url("/missing");
    QBuffer sink;
    sink.open(QIODevice::ReadWrite);
    try {
        TFileDownloader().Get(url, &sink);
        FAIL() << "no error";
    } catch (const EDownloadException& e) {
        EXPECT_EQ(e.StatusCode, 404);
        EXPECT_EQ(e.Url, url);
        EXPECT_EQ(e.Message(),
                  QStringLiteral("Failed to download: ") + url + QStringLiteral("\r\rHTTP Status Code: 404"));
        EXPECT_EQ(e.ClassName(), QStringLiteral("EDownloadException"));
    }
    // The caller's stream keeps the answer.
    EXPECT_EQ(sink.data(), QByteArray("not here"));
}

TEST_F(FileDownloaderTest, RedirectsAreFollowedAndTheFinalStatusCounts) {
    EXPECT_EQ(TFileDownloader().Get(Url("/old")), QStringLiteral("hello\r\n"));
    try {
        TFileDownloader().Get(Url("/old-missing"));
        FAIL() << "no error";
    } catch (const EDownloadException& e) {
        EXPECT_EQ(e.StatusCode, 404);
        EXPECT_EQ(e.Url, Url("/old-missing"));
    }
}

TEST_F(FileDownloaderTest, StreamIsWrittenFromItsPosition) {
    QBuffer sink;
    sink.open(QIODevice::ReadWrite);
    sink.write("head:");
    TFileDownloader().Get(Url("/hello"), &sink);
    EXPECT_EQ(sink.data(), QByteArray("head:hello"));
}

TEST_F(FileDownloaderTest, TransportFailurePassesThrough) {
    // Nobody listens on the discard port.
    EXPECT_THROW(TFileDownloader().Get(QStringLiteral("http://127.0.0.1:9/x")), ENetHTTPClientException);
}

TEST_F(FileDownloaderTest, MissingStreamIsAnAssertion) {
    EXPECT_THROW(TFileDownloader().Get(Url("/hello"), nullptr), EAssertionFailed);
}

TEST_F(FileDownloaderTest, DownloadCreatesFoldersAndStoresTheExactBody) {
    const QString dir = MakeTempDir(QStringLiteral("dl"));
    const QString file = dir + QStringLiteral("a/b/big.bin");
    std::vector<std::pair<qint64, qint64>> reports;
    TFileDownloader downloader;
    downloader.OnReceiveDataEvent = [&](const void*, qint64 length, qint64 read, bool&) {
        reports.emplace_back(length, read);
    };
    downloader.DownloadFile(Url("/big"), file);

    EXPECT_EQ(ReadFile(file), QByteArray::fromStdString(BigBody()));
    EXPECT_EQ(Entries(dir + QStringLiteral("a/b")), QStringList{QStringLiteral("big.bin")});
    ASSERT_FALSE(reports.empty());
    const qint64 size = qint64(BigBody().size());
    EXPECT_EQ(reports.back(), std::make_pair(size, size));
    for (size_t i = 1; i < reports.size(); ++i)
        EXPECT_LE(reports[i - 1].second, reports[i].second);
}

TEST_F(FileDownloaderTest, FailedDownloadLeavesNoFileBehind) {
    struct Case {
        const char* name;
        const char* path;
        bool abortInCallback;
    };
    const Case cases[] = {
        {"status", "/missing", false},
        {"redirect to status", "/old-missing", false},
        {"error from the progress callback", "/big", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool existedBefore : {false, true}) {
            const QString dir = MakeTempDir(QStringLiteral("fail"));
            const QString file = dir + QStringLiteral("target.dat");
            if (existedBefore)
                WriteFile(file, "old content");
            TFileDownloader downloader;
            if (c.abortInCallback)
                downloader.OnReceiveDataEvent = [](const void*, qint64, qint64 read, bool&) {
                    if (read > 0)
                        throw EOperationCancelled(QStringLiteral("cancelled by user"));
                };
            try {
                downloader.DownloadFile(Url(c.path), file);
                ADD_FAILURE() << "no error";
            } catch (const EOperationCancelled& e) {
                EXPECT_TRUE(c.abortInCallback);
                EXPECT_EQ(e.Message(), QStringLiteral("cancelled by user"));
            } catch (const EDownloadException& e) {
                EXPECT_FALSE(c.abortInCallback);
                EXPECT_EQ(e.StatusCode, 404);
            }
            EXPECT_EQ(Entries(dir), QStringList());
        }
    }
}

TEST_F(FileDownloaderTest, TransportFailureLeavesNoFileBehind) {
    const QString dir = MakeTempDir(QStringLiteral("dead"));
    WriteFile(dir + QStringLiteral("x.bin"), "old");
    EXPECT_THROW(
        TFileDownloader().DownloadFile(QStringLiteral("http://127.0.0.1:9/x"), dir + QStringLiteral("x.bin")),
        ENetHTTPClientException);
    EXPECT_EQ(Entries(dir), QStringList());
}

TEST_F(FileDownloaderTest, DownloadOverAnExistingFileReplacesIt) {
    const QString dir = MakeTempDir(QStringLiteral("replace"));
    WriteFile(dir + QStringLiteral("h.txt"), "a much longer old content");
    TFileDownloader().DownloadFile(Url("/hello"), dir + QStringLiteral("h.txt"));
    EXPECT_EQ(ReadFile(dir + QStringLiteral("h.txt")), QByteArray("hello"));
    EXPECT_EQ(Entries(dir), QStringList{QStringLiteral("h.txt")});
}

TEST_F(FileDownloaderTest, FolderAsTargetFailsBeforeAnyRequest) {
    const QString dir = MakeTempDir(QStringLiteral("folder"));
    EXPECT_THROW(TFileDownloader().DownloadFile(Url("/big"), dir), EInOutError);
    QDir().mkpath(dir + QStringLiteral("sub"));
    EXPECT_THROW(TFileDownloader().DownloadFile(Url("/big"), dir + QStringLiteral("sub")), EInOutError);
    EXPECT_EQ(FBigRequests, 0);
    EXPECT_TRUE(QDir(dir + QStringLiteral("sub")).exists());
}

TEST_F(FileDownloaderTest, FileNamesBecomeUrlPaths) {
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("data\\maps\\level#1.dat"), QStringLiteral("data/maps/level%231.dat")},
        {QStringLiteral("my file (1)+&.txt"), QStringLiteral("my file (1)+&.txt")},
        {QStringLiteral("a/b\\c%20.txt"), QStringLiteral("a/b/c%20.txt")},
        {QString(), QString()},
    };
    for (const auto& [name, path] : cases)
        EXPECT_EQ(FileNameToUrlPath(name), path) << name.toStdString();
}

TEST_F(FileDownloaderTest, UrlPathsWithSpacesAndHashesReachTheServer) {
    const QString dir = MakeTempDir(QStringLiteral("names"));
    TFileDownloader().DownloadFile(FServer.Origin() + QStringLiteral("/files/") +
                                       FileNameToUrlPath(QStringLiteral("maps\\my level#1.dat")),
                                   dir + QStringLiteral("l.dat"));
    std::lock_guard lock(FMutex);
    EXPECT_EQ(FLastPath, "/files/maps/my level#1.dat");
}

TEST(BodyTextTest, DecodesByByteOrderMarkAndEndsEveryLineWithCrLf) {
    const QString word = QString::fromUtf8("Привет");
    auto utf16 = [&](bool littleEndian) {
        QByteArray bytes = littleEndian ? QByteArray("\xFF\xFE") : QByteArray("\xFE\xFF");
        for (QChar c : word + QStringLiteral("\n2")) {
            const char hi = char(c.unicode() >> 8), lo = char(c.unicode() & 0xFF);
            bytes.append(littleEndian ? lo : hi).append(littleEndian ? hi : lo);
        }
        return bytes;
    };
    const std::pair<QByteArray, QString> cases[] = {
        {QByteArray(), QString()},
        {QByteArray("x"), QStringLiteral("x\r\n")},
        {QByteArray("a\nb\rc\r\nd\r\n"), QStringLiteral("a\r\nb\r\nc\r\nd\r\n")},
        {QByteArray("a\n\nb"), QStringLiteral("a\r\n\r\nb\r\n")},
        {QByteArray("\r\n"), QStringLiteral("\r\n")},
        {QByteArray("\xEF\xBB\xBF") + word.toUtf8(), word + QStringLiteral("\r\n")},
        {word.toUtf8(), word + QStringLiteral("\r\n")},
        {utf16(true), word + QStringLiteral("\r\n2\r\n")},
        {utf16(false), word + QStringLiteral("\r\n2\r\n")},
    };
    for (const auto& [bytes, text] : cases) {
        QBuffer stream;
        stream.setData(bytes);
        stream.open(QIODevice::ReadOnly);
        stream.seek(stream.size());
        EXPECT_EQ(StreamToText(stream), text) << bytes.toHex().toStdString();
    }
}
