#pragma once

// A stand-in CDN for the install tests: metadata documents and files held in memory, every request
// recorded with whether it carried the launcher's own headers. Each test gets fresh libraries in its own
// games folder.

#include "App/Paths.h"
#include "App/Settings.h"
#include "Service/AppsLibrary.h"
#include "Service/Install/Tasks.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QThreadPool>
#include <QTimeZone>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

struct TRecordedRequest {
    std::string Path;
    bool ServiceHeaders = false;
    int ClientPort = 0;
};

class InstallFixture : public ::testing::Test {
protected:
    void SetUp() override {
        FOldUrl = qgetenv("TARVENOX_SERVICE_URL");
        auto serve = [this](const httplib::Request& req, httplib::Response& res) { Serve(req, res); };
        FServer.Server().Get(R"(/.*)", serve);
        FServer.Start();
        qputenv("TARVENOX_SERVICE_URL", FServer.Origin().toUtf8());
        InitPaths();
        QDir(MetaPath()).removeRecursively();
        QDir(ComponentsPath()).removeRecursively();
        QDir(DependenciesPath()).removeRecursively();
        FOldLibPath = Lib::GetPath();
        Games = MakeTempDir(QStringLiteral("games"));
        Lib::SetPath(Games);
        InitLibraries();
    }
    void TearDown() override {
        Release = true;
        DoneInstallTasks();
        // Work of cleared tasks may still be finishing; let it end before the libraries go.
        WaitFor([] { return InstallTaskPool().activeThreadCount() == 0; });
        QCoreApplication::processEvents();
        DoneLibraries();
        Lib::SetPath(FOldLibPath);
        qputenv("TARVENOX_SERVICE_URL", FOldUrl);
        InitPaths();
    }

    // Metadata of "apps", "components" or "dependencies".
    void Meta(const std::string& Type, const std::string& Key, const std::string& Json) {
        std::lock_guard lock(FMutex);
        FFiles["/cdn/meta/" + Type + "/" + Key + ".json"] = {200, Json};
    }
    // A file under its full request path, e.g. "/cdn/apps/game/a.dat".
    void File(const std::string& Path, const std::string& Body, int Status = 200) {
        std::lock_guard lock(FMutex);
        FFiles[Path] = {Status, Body};
    }
    // A file whose answer stops after its first half until Release is set.
    void StalledFile(const std::string& Path, const std::string& Body) {
        File(Path, Body);
        std::lock_guard lock(FMutex);
        FStalled[Path] = true;
    }
    std::vector<TRecordedRequest> Requests() {
        std::lock_guard lock(FMutex);
        return FRequests;
    }
    int RequestCount(const std::string& Path) {
        int n = 0;
        for (const auto& r : Requests())
            n += r.Path == Path;
        return n;
    }

    // A file-list entry.
    static std::string Entry(const std::string& Name, size_t Size, const std::string& Updated,
                             const std::string& Sources = {}) {
        std::string name;
        for (char c : Name) {
            if (c == '\\' || c == '"')
                name += '\\';
            name += c;
        }
        std::string e = R"({"file":")" + name + R"(","size":)" + std::to_string(Size) + R"(,"updated":")" +
                        Updated + R"(","hash":"x")";
        if (!Sources.empty())
            e += R"(,"sources":)" + Sources;
        return e + "}";
    }

    // A game in the apps library, with its folder under the games folder (or none).
    TAppLibraryItem* AddGame(const QString& Key, TLibraryItemState State = lisQueued, bool WithPath = true,
                             const QString& Version = {}) {
        auto item = std::make_unique<TAppLibraryItem>();
        item->SetKey(Key);
        if (WithPath)
            item->Path = Games + Key + "/";
        item->Version = Version;
        TAppLibraryItem* raw = item.get();
        AppsLibrary().Add(std::move(item));
        if (State == lisInstalled)
            QDir().mkpath(raw->Path);
        raw->SetState(State);
        return raw;
    }
    TComponentLibraryItem* AddComponent(const QString& Key, TLibraryItemState State,
                                        const QString& Version = {}) {
        auto item = std::make_unique<TComponentLibraryItem>();
        item->SetKey(Key);
        item->Version = Version;
        TComponentLibraryItem* raw = item.get();
        ComponentsLibrary().Add(std::move(item));
        QDir().mkpath(raw->Path);
        raw->SetState(State);
        return raw;
    }

    static QDateTime Utc(const char* Text) {
        QDateTime t = QDateTime::fromString(QString::fromLatin1(Text), Qt::ISODate);
        t.setTimeSpec(Qt::UTC);
        return t;
    }
    static void SetWriteTime(const QString& FileName, const QDateTime& Time) {
        QFile file(FileName);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(Time, QFileDevice::FileModificationTime));
    }
    static QDateTime WriteTime(const QString& FileName) {
        return QFileInfo(FileName).fileTime(QFileDevice::FileModificationTime).toUTC();
    }

    QString Games;
    std::atomic<bool> Release{false};
    std::atomic<int> StalledRequests{0};

private:
    void Serve(const httplib::Request& req, httplib::Response& res) {
        std::pair<int, std::string> answer{404, "not found"};
        bool stalled = false;
        {
            std::lock_guard lock(FMutex);
            FRequests.push_back({req.path, req.has_header("Kiv-Signature"), req.remote_port});
            auto it = FFiles.find(req.path);
            if (it != FFiles.end())
                answer = it->second;
            stalled = FStalled.count(req.path) > 0;
        }
        res.status = answer.first;
        if (!stalled) {
            res.set_content(answer.second, "application/octet-stream");
            return;
        }
        const std::string body = answer.second;
        res.set_content_provider(body.size(), "application/octet-stream",
                                 [this, body](size_t offset, size_t length, httplib::DataSink& sink) {
                                     const size_t half = body.size() / 2;
                                     if (offset >= half) {
                                         ++StalledRequests;
                                         while (!Release)
                                             std::this_thread::sleep_for(std::chrono::milliseconds(5));
                                         if (!sink.is_writable())
                                             return false;
                                     }
                                     const size_t end = offset < half ? half : body.size();
                                     sink.write(body.data() + offset, std::min(length, end - offset));
                                     return true;
                                 });
    }

    TestHttpServer FServer;
    std::mutex FMutex;
    std::map<std::string, std::pair<int, std::string>> FFiles;
    std::map<std::string, bool> FStalled;
    std::vector<TRecordedRequest> FRequests;
    QByteArray FOldUrl;
    QString FOldLibPath;
};
