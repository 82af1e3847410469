#include "App/HttpExceptions.h"
#include "Service/Install/AppManager.h"
#include "InstallFixture.h"

#include <QDirIterator>
#include <QUrl>

#include <sys/stat.h>
#include <set>
#include <thread>

namespace {

// Exposes the progress handler so that exact read counts can be fed to it.
class TProbeManager : public TAppManager {
public:
    using TAppManager::TAppManager;
    using TSyncAbstractManager::DownloadProgress;
};

class SyncTest : public InstallFixture {
protected:
    void GameMeta(const std::string& Files) {
        Meta("apps", "game", R"({"name":"Game","description":"A game","version":"1.0","files":[)" + Files + "]}");
    }
    std::shared_ptr<TAppManager> Manager() { return std::make_shared<TAppManager>("game"); }
    QStringList FolderContents() const {
        QStringList names;
        QDirIterator it(Games + "game", QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            names << it.next().mid(Games.size() + 5);
        names.sort();
        return names;
    }
};

TEST_F(SyncTest, SizeAndWriteTimeDecideWhatIsDownloaded) {
    AddGame("game");
    GameMeta(Entry("same.dat", 5, "2024-01-02T03:04:05") + "," + Entry("sub\\new.dat", 3, "2023-06-07T08:09:10") +
             "," + Entry("short.dat", 4, "2024-01-02T03:04:05"));
    File("/cdn/apps/game/same.dat", "fresh");
    File("/cdn/apps/game/sub/new.dat", "new");
    File("/cdn/apps/game/short.dat", "long");
    const QString same = Games + "game/same.dat";
    WriteFile(same, "XXXXX");
    SetWriteTime(same, Utc("2024-01-02T03:04:05"));
    WriteFile(Games + "game/short.dat", "lon");
    SetWriteTime(Games + "game/short.dat", Utc("2024-01-02T03:04:05"));

    Manager()->SyncFiles();
    EXPECT_EQ(RequestCount("/cdn/apps/game/same.dat"), 0) << "right size and time: content is not looked at";
    EXPECT_EQ(ReadFile(same), "XXXXX");
    EXPECT_EQ(ReadFile(Games + "game/short.dat"), "long");
    const QString fresh = Games + "game/sub/new.dat";
    EXPECT_EQ(ReadFile(fresh), "new");
    EXPECT_EQ(WriteTime(fresh), Utc("2023-06-07T08:09:10"));

    // The same content with another time stamp is fetched again and stamped anew.
    SetWriteTime(fresh, Utc("2023-06-07T08:09:11"));
    Manager()->SyncFiles();
    EXPECT_EQ(RequestCount("/cdn/apps/game/sub/new.dat"), 2);
    EXPECT_EQ(RequestCount("/cdn/apps/game/short.dat"), 1);
    EXPECT_EQ(WriteTime(fresh), Utc("2023-06-07T08:09:10"));
    EXPECT_EQ(FolderContents(), QStringList({"same.dat", "short.dat", "sub/new.dat"}));

    // One connection serves a whole list.
    std::set<int> ports;
    for (const auto& r : Requests())
        if (r.Path.rfind("/cdn/apps/", 0) == 0)
            ports.insert(r.ClientPort);
    EXPECT_EQ(ports.size(), 2u) << "one per synchronisation";
}

TEST_F(SyncTest, AddressesOfServiceFilesAndOfSources) {
    AddGame("game");
    const std::string origin = ("http://127.0.0.1:" + std::to_string(QUrl(ServiceOrigin()).port()));
    GameMeta(Entry("DATA\\MAPS\\LEVEL#1.DAT", 4, "2024-01-01T00:00:00") + "," +
             Entry("ext.bin", 3, "2024-01-01T00:00:00",
                   R"([")" + origin + R"(/ext/first",")" + origin + R"(/ext/second"])"));
    File("/cdn/apps/game/DATA/MAPS/LEVEL#1.DAT", "map1");
    File("/ext/first", "one");
    File("/ext/second", "two");
    Manager()->SyncFiles();

    EXPECT_EQ(ReadFile(Games + "game/DATA/MAPS/LEVEL#1.DAT"), "map1");
    EXPECT_EQ(ReadFile(Games + "game/ext.bin"), "one");
    bool sawService = false, sawFirst = false;
    for (const auto& r : Requests()) {
        if (r.Path == "/cdn/apps/game/DATA/MAPS/LEVEL#1.DAT") {
            sawService = true;
            EXPECT_TRUE(r.ServiceHeaders);
        }
        if (r.Path == "/ext/first") {
            sawFirst = true;
            EXPECT_FALSE(r.ServiceHeaders) << "another host gets none of the service's headers";
        }
        EXPECT_NE(r.Path, "/ext/second");
    }
    EXPECT_TRUE(sawService);
    EXPECT_TRUE(sawFirst);
}

TEST_F(SyncTest, NamesThatLeaveTheFolderFailBeforeAnythingIsWritten) {
    AddGame("game");
    File("/cdn/apps/game/good.dat", "good");
    for (const char* bad : {"", "/etc/passwd", "\\\\server\\x", "..\\outside.dat", "sub\\..\\..\\outside.dat",
                            "C:\\Windows\\x.dll", "c:x", "folder\\", "sub\\\\x", "."}) {
        GameMeta(Entry("good.dat", 4, "2024-01-01T00:00:00") + "," + Entry(bad, 1, "2024-01-01T00:00:00"));
        try {
            Manager()->SyncFiles();
            ADD_FAILURE() << bad;
        } catch (const EInOutError& e) {
            EXPECT_TRUE(e.Message().startsWith("Invalid file name")) << e.Message().toStdString();
        }
        EXPECT_EQ(RequestCount("/cdn/apps/game/good.dat"), 0) << bad;
        EXPECT_FALSE(QFileInfo::exists(Games + "game")) << bad;
        EXPECT_FALSE(QFileInfo::exists(Games + "outside.dat")) << bad;
    }
    EXPECT_EQ(SafeRelativeFileName("a\\b c\\#1.dat"), "a/b c/#1.dat");
    EXPECT_EQ(SafeRelativeFileName(".\\x"), "./x");
}

TEST_F(SyncTest, FailedUpdateKeepsTheOldCopyAndStopsThere) {
    AddGame("game");
    GameMeta(Entry("old.dat", 3, "2024-01-01T00:00:00") + "," + Entry("later.dat", 1, "2024-01-01T00:00:00"));
    File("/cdn/apps/game/old.dat", "server error", 500);
    File("/cdn/apps/game/later.dat", "l");
    WriteFile(Games + "game/old.dat", "old");
    EXPECT_THROW(Manager()->SyncFiles(), EDownloadException);
    EXPECT_EQ(ReadFile(Games + "game/old.dat"), "old");
    EXPECT_EQ(RequestCount("/cdn/apps/game/later.dat"), 0);
    EXPECT_EQ(FolderContents(), QStringList({"old.dat"}));
}

TEST_F(SyncTest, ProgramsAndScriptsBecomeExecutable) {
    AddGame("game");
    const std::string elf("\x7F" "ELF\x02\x01\x01", 7);
    GameMeta(Entry("run.sh", 10, "2024-01-01T00:00:00") + "," + Entry("bin\\game", elf.size(), "2024-01-01T00:00:00") +
             "," + Entry("readme.txt", 4, "2024-01-01T00:00:00"));
    File("/cdn/apps/game/run.sh", "#!/bin/sh\n");
    File("/cdn/apps/game/bin/game", elf);
    File("/cdn/apps/game/readme.txt", "text");
    Manager()->SyncFiles();
    const auto executable = [](const QString& name) {
        struct stat st {};
        return ::stat(QFile::encodeName(name).constData(), &st) == 0 && (st.st_mode & S_IXUSR) != 0;
    };
    EXPECT_TRUE(executable(Games + "game/run.sh"));
    EXPECT_TRUE(executable(Games + "game/bin/game"));
    EXPECT_FALSE(executable(Games + "game/readme.txt"));
}

TEST_F(SyncTest, ProgressCountsThousandsOfBytes) {
    TAppLibraryItem* item = AddGame("game");
    GameMeta(Entry("up-to-date.dat", 600000, "2024-01-01T00:00:00") + "," +
             Entry("second.dat", 400000, "2024-01-01T00:00:00"));
    WriteFile(Games + "game/up-to-date.dat", QByteArray(600000, '\0'));
    SetWriteTime(Games + "game/up-to-date.dat", Utc("2024-01-01T00:00:00"));
    File("/cdn/apps/game/second.dat", std::string(400000, 'x'));
    auto manager = std::make_shared<TProbeManager>("game");
    manager->SyncFiles();
    ASSERT_TRUE(WaitFor([&] { return item->CurrentDownloadSize() >= 390; }));
    EXPECT_EQ(item->TotalDownloadSize(), 1000) << "the up-to-date file counts in the total";
    EXPECT_LE(item->CurrentDownloadSize(), 400);

    // Reads of 1500, 3000 and 4200 bytes of one file: the remainders below 1000 are dropped.
    auto probe = std::make_shared<TProbeManager>("game");
    const int before = item->CurrentDownloadSize();
    std::thread worker([&] {
        for (int r : {1500, 3000, 4200})
            probe->DownloadProgress(r);
    });
    worker.join();
    ASSERT_TRUE(WaitFor([&] { return item->CurrentDownloadSize() == before + 3; }));
}

TEST_F(SyncTest, CancelMidFileLeavesNoPartialFile) {
    AddGame("game");
    GameMeta(Entry("big.dat", 200000, "2024-01-01T00:00:00"));
    StalledFile("/cdn/apps/game/big.dat", std::string(200000, 'b'));
    auto manager = Manager();
    manager->InstallWhenNotAvailable();
    ASSERT_EQ(InstallTaskCount(), 1);
    const std::shared_ptr<TInstallTask> task = InstallTasks().first();
    task->Start();
    ASSERT_TRUE(WaitFor([&] { return StalledRequests.load() > 0; }));
    task->Cancel();
    ASSERT_TRUE(WaitFor([&] { return task->Status() == tsFail; }));
    ASSERT_NE(task->Error(), nullptr);
    EXPECT_EQ(task->Error()->ClassName(), "EOperationCancelled");
    EXPECT_EQ(FolderContents(), QStringList());
}

} // namespace
