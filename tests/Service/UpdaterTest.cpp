#include "Platform/VersionInfo.h"
#include "Service/Updater.h"
#include "Install/InstallFixture.h"

#include <sys/stat.h>

namespace {

QByteArray Program(quint16 Minor, const QByteArray& Tail = {}) {
    TVersionNumbers v;
    v.Product = {1, Minor, 0, 0};
    v.File = v.Product;
    return QByteArray("\x7F" "ELF\x02\x01\x01\x00", 8) + MakeVersionRecord(v) + Tail;
}

mode_t Mode(const QString& FileName) {
    struct stat st {};
    return ::stat(QFile::encodeName(FileName).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

class UpdaterTest : public InstallFixture {
protected:
    void SetUp() override {
        InstallFixture::SetUp();
        Exe = MakeTempDir("bin") + "tarvenox";
        WriteFile(Exe, Program(2));
        ::chmod(QFile::encodeName(Exe).constData(), 0750);
        File("/cdn/tarvenox", Program(3, "new").toStdString());
    }
    void TearDown() override {
        TUpdateService::RenameFile = FRealRename;
        InstallFixture::TearDown();
    }
    QString Exe;
    TUpdateService::TRenameFunction FRealRename = TUpdateService::RenameFile;
};

TEST_F(UpdaterTest, SameOrOlderVersionChangesNothing) {
    for (const char* doc : {R"({"version":"1.2.0.0"})", R"({"version":"1.1.9"})", R"({"other":"9.9"})", "[]"}) {
        File("/cdn/tarvenox.json", doc);
        TUpdateService service;
        EXPECT_FALSE(service.Update(Exe)) << doc;
    }
    EXPECT_EQ(RequestCount("/cdn/tarvenox"), 0);
    EXPECT_EQ(ReadFile(Exe), Program(2));
}

TEST_F(UpdaterTest, NewerVersionIsSwappedInAndTheOldOneRemovedLater) {
    File("/cdn/tarvenox.json", R"({"version":"1.3","notes":"x"})");
    TUpdateService service;
    ASSERT_TRUE(service.Update(Exe));
    EXPECT_EQ(SafeJsonData(service.KivJson, jvObject).MemberCopy("version").AsString(), "1.3");
    EXPECT_EQ(ReadFile(Exe), Program(3, "new"));
    EXPECT_EQ(Mode(Exe), mode_t(0750)) << "the new program keeps the old one's permissions";
    EXPECT_EQ(ReadFile(Exe + ".delete"), Program(2));
    EXPECT_FALSE(QFileInfo::exists(Exe + ".new"));

    TUpdateService::PurgeTmpFiles(Exe);
    EXPECT_FALSE(QFileInfo::exists(Exe + ".delete"));
    EXPECT_TRUE(QFileInfo::exists(Exe));
    TUpdateService::PurgeTmpFiles(Exe); // nothing left to remove
}

TEST_F(UpdaterTest, DownloadsThatAreNoProgramAreRefused) {
    for (const std::pair<int, std::string> answer : {std::pair<int, std::string>{200, "<html>maintenance</html>"},
                                                      {200, ""}, {404, "\x7F" "ELF"}}) {
        File("/cdn/tarvenox", answer.second, answer.first);
        TUpdateService service;
        EXPECT_THROW(service.UpdateCore(Exe), Exception) << answer.second;
        EXPECT_EQ(ReadFile(Exe), Program(2));
        EXPECT_FALSE(QFileInfo::exists(Exe + ".new"));
        EXPECT_FALSE(QFileInfo::exists(Exe + ".delete"));
    }
    // A script is a program too.
    File("/cdn/tarvenox", "#!/bin/sh\nexec true\n");
    TUpdateService().UpdateCore(Exe);
    EXPECT_EQ(ReadFile(Exe), "#!/bin/sh\nexec true\n");
}

TEST_F(UpdaterTest, FailedSwapsLeaveAProgramInPlace) {
    // The running file cannot be moved aside: nothing is swapped, the download waits beside it.
    QDir().mkpath(Exe + ".delete/blocker");
    TUpdateService().UpdateCore(Exe);
    EXPECT_EQ(ReadFile(Exe), Program(2));
    EXPECT_EQ(ReadFile(Exe + ".new"), Program(3, "new"));
    QDir(Exe + ".delete").removeRecursively();

    // The new file cannot be moved into place: the old one comes back.
    TUpdateService::RenameFile = [this](const QString& From, const QString& To) {
        return From.endsWith(".new") ? false : FRealRename(From, To);
    };
    TUpdateService().UpdateCore(Exe);
    EXPECT_EQ(ReadFile(Exe), Program(2));
    EXPECT_FALSE(QFileInfo::exists(Exe + ".delete"));
}

TEST(UpdaterPathTest, RunningExecutableIsTheRealFile) {
    const QString exe = TUpdateService::RunningExecutable();
    EXPECT_TRUE(QFileInfo(exe).isFile());
    EXPECT_FALSE(QFileInfo(exe).isSymLink());
    EXPECT_EQ(exe, QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath());
}

} // namespace
