#include "App/Settings.h"
#include "App/Exceptions.h"
#include "App/Paths.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

namespace {

QString CoreFile() {
    return RoamingUserDataPath() + QStringLiteral("Tarvenox.ini");
}
QString LocalFile() {
    return LocalUserDataPath() + QStringLiteral("Tarvenox.ini");
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        QFile::remove(CoreFile());
        QFile::remove(LocalFile());
        Lib::DefaultLibraryPath.clear();
    }
    void TearDown() override { SetUp(); }
};

} // namespace

TEST_F(SettingsTest, NoFilesGiveDefaults) {
    Core::DosBoxGUI = true;
    Core::UpdatesCore = Core::UpdatesApps = Core::UpdatesComponents = Core::CheckBrowserIntegration = false;
    Core::LoadSettings();
    Lib::LoadSettings();
    EXPECT_FALSE(Core::DosBoxGUI);
    EXPECT_TRUE(Core::UpdatesCore && Core::UpdatesApps && Core::UpdatesComponents &&
                Core::CheckBrowserIntegration);
    EXPECT_EQ(Lib::LibraryPath, DefaultLibraryPath());
    EXPECT_EQ(Lib::DefaultLibraryPath, DefaultLibraryPath());
}

TEST_F(SettingsTest, BooleanTexts) {
    struct Case {
        const char* text;
        bool apps; // default true
        bool gui;  // default false
    };
    const Case cases[] = {
        {"0x0", false, false}, {"yes", true, false}, {"2", true, true},  {"0", false, false},
        {"$0", false, false},  {"", true, false},    {"-1", true, true}, {"\"1\"", true, true},
    };
    for (const Case& c : cases) {
        WriteFile(CoreFile(),
                  QByteArray("[Updates]\r\nApps=") + c.text + "\r\n[DosBox]\r\ngui=" + c.text + "\r\n");
        Core::LoadSettings();
        EXPECT_EQ(Core::UpdatesApps, c.apps) << c.text;
        EXPECT_EQ(Core::DosBoxGUI, c.gui) << c.text;
    }
}

TEST_F(SettingsTest, CoreSaveKeepsOtherContentAndDropsFalseGui) {
    WriteFile(CoreFile(), "; mine\r\n[DosBox]\r\nGUI=1\r\nother=keep\r\n[Updates]\r\nCore=1\r\n");
    Core::LoadSettings();
    EXPECT_TRUE(Core::DosBoxGUI);
    Core::DosBoxGUI = false;
    Core::UpdatesApps = false;
    Core::SaveSettings();
    EXPECT_EQ(ReadFile(CoreFile()), QByteArray("; mine\r\n[DosBox]\r\nother=keep\r\n[Updates]\r\nCore=1\r\n"
                                               "Apps=0\r\nComponents=1\r\n[Settings]\r\n"
                                               "CheckBrowserIntegration=1\r\n"));
    Core::DosBoxGUI = true;
    Core::SaveSettings();
    Core::DosBoxGUI = false;
    Core::LoadSettings();
    EXPECT_TRUE(Core::DosBoxGUI);
    EXPECT_FALSE(Core::UpdatesApps);
    Core::UpdatesApps = true;
}

TEST_F(SettingsTest, SavingOnAFreshInstallationCreatesTheFolder) {
    QDir(RoamingUserDataPath()).removeRecursively();
    Core::UpdatesCore = false;
    EXPECT_NO_THROW(Core::SaveSettings());
    Core::UpdatesCore = true;
    Core::LoadSettings();
    EXPECT_FALSE(Core::UpdatesCore);
    Core::UpdatesCore = true;
}

TEST_F(SettingsTest, GamesFolderIsStoredOnlyWhenNotTheDefault) {
    Lib::LoadSettings();
    const QString def = Lib::DefaultLibraryPath;
    const QString other = QStringLiteral("/srv/Игры/");
    Lib::SetPath(other);
    Lib::SaveSettings();
    Lib::LibraryPath.clear();
    Lib::LoadSettings();
    EXPECT_EQ(Lib::GetPath(), other);

    // Other letter case or a missing final "/" is another folder, so it is kept.
    for (const QString& path : {def.toUpper(), def.chopped(1)}) {
        Lib::SetPath(path);
        Lib::SaveSettings();
        Lib::LoadSettings();
        EXPECT_EQ(Lib::GetPath(), path);
    }
    Lib::SetPath(def);
    Lib::SaveSettings();
    EXPECT_FALSE(ReadFile(LocalFile()).contains("Item0"));
}

TEST_F(SettingsTest, EmptyStoredGamesFolderMeansTheDefault) {
    WriteFile(LocalFile(), "[Library]\nItem0=\n");
    Lib::LoadSettings();
    EXPECT_EQ(Lib::GetPath(), DefaultLibraryPath());
}

TEST_F(SettingsTest, GetAppDir) {
    Lib::SetPath(QStringLiteral("/games/"));
    EXPECT_EQ(Lib::GetAppDir(QStringLiteral("abc")), QStringLiteral("/games/abc/"));
    Lib::SetPath(QStringLiteral("/games"));
    EXPECT_EQ(Lib::GetAppDir(QStringLiteral("abc")), QStringLiteral("/gamesabc/"));
    Lib::LoadSettings();
}

TEST_F(SettingsTest, UnwritableFileRaisesAndKeepsValue) {
    // A folder where the file should be: the write cannot replace it.
    QDir().mkpath(CoreFile() + QStringLiteral("/x"));
    Core::UpdatesComponents = false;
    try {
        Core::SaveSettings();
        ADD_FAILURE() << "no error";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Unable to write to ") + CoreFile());
    }
    EXPECT_FALSE(Core::UpdatesComponents);
    QDir(CoreFile()).removeRecursively();
    Core::UpdatesComponents = true;
}
