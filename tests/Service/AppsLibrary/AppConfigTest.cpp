#include "Service/AppsLibrary/AppConfig.h"

#include "App/Exceptions.h"
#include "App/Paths.h"
#include "Platform/IniFile.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

namespace {

// A game folder holding <key>.ini with the given text.
QString MakeGame(const QString& key, const QByteArray& ini) {
    const QString path = MakeTempDir(key);
    if (!ini.isNull())
        WriteFile(path + key + QStringLiteral(".ini"), ini);
    return path;
}

} // namespace

TEST(AppConfig, MissingFileGivesDefaults) {
    const QString path = MakeGame(QStringLiteral("nofile"), QByteArray());
    TAppConfig config(QStringLiteral("nofile"), path);
    const QString userPath = RoamingUserDataPath() + QStringLiteral("Apps/nofile/");

    EXPECT_EQ(config.Path, path);
    EXPECT_EQ(config.ComponentKey, QString());
    EXPECT_TRUE(config.DisableConfig());
    EXPECT_EQ(config.RunCmd, QStringLiteral("run.cmd"));
    EXPECT_TRUE(config.RunHidden);
    EXPECT_EQ(config.RunParams, QString());
    EXPECT_EQ(config.CoverFileName, QString());
    EXPECT_TRUE(config.Filters.isEmpty());
    EXPECT_TRUE(config.LauncherIniSection().isEmpty());
    EXPECT_FALSE(config.hasScoreboards());
    EXPECT_FALSE(config.Locked);
    EXPECT_FALSE(config.LogBasedAchievements);
    EXPECT_FALSE(config.RecommendInfoOnFirstRun());
    EXPECT_EQ(config.GetUserPath(), userPath);
    EXPECT_EQ(config.GetComponentDefaultConfigFileName(), path + QStringLiteral("dosbox.conf"));
    EXPECT_EQ(config.GetComponentUserConfigFileName(), userPath + QStringLiteral("dosbox.conf"));
    EXPECT_EQ(config.GetInfoUrl(), QStringLiteral("none"));
    EXPECT_FALSE(config.isInfoUrlAvailable());
}

TEST(AppConfig, ReadsEveryKeyOfAFullFile) {
    const QString path =
        MakeGame(QStringLiteral("game"), ReadFile(QStringLiteral(TARVENOX_FIXTURES_DIR "/config/game.ini")));
    WriteFile(path + QStringLiteral("game.png"), "png");
    TAppConfig config(QStringLiteral("game"), path);

    EXPECT_EQ(config.Filters, (QStringList{QStringLiteral("one"), QStringLiteral(" two"), QStringLiteral(" "),
                                           QStringLiteral("three")}));
    EXPECT_EQ(config.CoverFileName, path + QStringLiteral("game.png"));
    EXPECT_TRUE(config.Locked);
    EXPECT_FALSE(config.DisableConfig());
    EXPECT_TRUE(config.RecommendInfoOnFirstRun());
    EXPECT_EQ(config.GameUrl, QStringLiteral("http://127.0.0.1/games/g"));
    EXPECT_EQ(config.ComponentKey, QStringLiteral("dosbox"));
    EXPECT_EQ(config.OnRunScript, QStringLiteral("setup.sh"));
    EXPECT_TRUE(config.LogBasedAchievements);
    EXPECT_EQ(config.RunCmd, QStringLiteral("game.exe"));
    EXPECT_FALSE(config.RunHidden);
    EXPECT_EQ(config.RunParams, QStringLiteral("-fullscreen"));
    EXPECT_EQ(config.GetComponentDefaultConfigFileName(), path + QStringLiteral("game.conf"));
    EXPECT_EQ(config.LauncherIniSection(),
              (QStringList{QStringLiteral("Key=dosbox"), QStringLiteral("OnRun=setup.sh"), QStringLiteral("ZEB=1"),
                           QStringLiteral("Cmd=game.exe"), QStringLiteral("Params=-fullscreen"),
                           QStringLiteral("RunOption1=game.exe -w#Windowed"), QStringLiteral("RunOption2=a=b#c")}));
    // The line whose key is not a number is skipped, the lines after it are still read.
    ASSERT_EQ(config.Scoreboards.size(), 2);
    EXPECT_EQ(config.Scoreboards[0].Title, QStringLiteral("Best"));
    EXPECT_EQ(config.Scoreboards[0].Id, 1);
    EXPECT_EQ(config.Scoreboards[1].Title, QStringLiteral("Hex"));
    EXPECT_EQ(config.Scoreboards[1].Id, 16);
    EXPECT_TRUE(config.hasScoreboards());
    EXPECT_EQ(config.GetInfoUrl(), QStringLiteral("http://127.0.0.1/games/g"));
}

TEST(AppConfig, RunCommandAndFileNameRules) {
    struct TCase {
        const char* Ini;
        const char* RunCmd;
        bool RunHidden;
        bool DisableConfig;
        const char* ConfigFileName;
    } cases[] = {
        {"[Launcher]\nKey=dosbox\n", "", false, false, "dosbox.conf"},
        {"[Launcher]\nKey=dosbox\n[General]\nNoConfig=1\n", "", false, true, "dosbox.conf"},
        {"[Launcher]\nCmd= game.sh \n", "game.sh", false, true, "dosbox.conf"},
        {"[Launcher]\nKey=\n[General]\nConfigFileName=my.conf\n", "run.cmd", true, true, "my.conf"},
        {"[General]\nConfigFileName=conf/my.conf\n", "run.cmd", true, true, "conf/my.conf"},
        {"[General]\nConfigFileName=../../escape.conf\n", "run.cmd", true, true, "dosbox.conf"},
        {"[General]\nConfigFileName=/etc/escape.conf\n", "run.cmd", true, true, "dosbox.conf"},
        {"[General]\nNoConfig=yes\nLocked=0x0\n", "run.cmd", true, true, "dosbox.conf"},
    };
    for (const TCase& c : cases) {
        const QString path = MakeGame(QStringLiteral("rules"), c.Ini);
        TAppConfig config(QStringLiteral("rules"), path);
        EXPECT_EQ(config.RunCmd, QString::fromUtf8(c.RunCmd)) << c.Ini;
        EXPECT_EQ(config.RunHidden, c.RunHidden) << c.Ini;
        EXPECT_EQ(config.DisableConfig(), c.DisableConfig) << c.Ini;
        EXPECT_FALSE(config.Locked) << c.Ini;
        EXPECT_EQ(config.GetComponentDefaultConfigFileName(), path + QString::fromUtf8(c.ConfigFileName)) << c.Ini;
    }
}

TEST(AppConfig, CoverMustExist) {
    const QString path = MakeGame(QStringLiteral("cov"), "[General]\nCover=.png\n");
    EXPECT_EQ(TAppConfig(QStringLiteral("cov"), path).CoverFileName, QString());
    WriteFile(path + QStringLiteral("cov.png"), "png");
    EXPECT_EQ(TAppConfig(QStringLiteral("cov"), path).CoverFileName, path + QStringLiteral("cov.png"));

    WriteFile(path + QStringLiteral("cov.ini"), "[General]\nCover=art/box.jpg\n");
    WriteFile(path + QStringLiteral("art/box.jpg"), "jpg");
    EXPECT_EQ(TAppConfig(QStringLiteral("cov"), path).CoverFileName, path + QStringLiteral("art/box.jpg"));
}

TEST(AppConfig, InfoUrlPrefersLocalPages) {
    // A folder with a blank shows that the local page is a proper file address.
    const QString path = MakeTempDir(QStringLiteral("info game"));
    WriteFile(path + QStringLiteral("g.ini"), "[Internet]\nGameUrl=http://127.0.0.1/page\n");
    WriteFile(path + QStringLiteral("g.mht"), "mht");
    EXPECT_EQ(QUrl(TAppConfig(QStringLiteral("g"), path).GetInfoUrl()).toLocalFile(), path + QStringLiteral("g.mht"));

    WriteFile(path + QStringLiteral("g.html"), "html");
    TAppConfig config(QStringLiteral("g"), path);
    const QString url = config.GetInfoUrl();
    EXPECT_TRUE(url.startsWith(QStringLiteral("file:///"))) << url.toStdString();
    EXPECT_TRUE(url.contains(QStringLiteral("info%20game"))) << url.toStdString();
    EXPECT_EQ(QUrl(url).toLocalFile(), path + QStringLiteral("g.html"));
    EXPECT_TRUE(config.isInfoUrlAvailable());

    // Once worked out the address is kept.
    QFile::remove(path + QStringLiteral("g.html"));
    EXPECT_EQ(config.GetInfoUrl(), url);

    QFile::remove(path + QStringLiteral("g.mht"));
    EXPECT_EQ(TAppConfig(QStringLiteral("g"), path).GetInfoUrl(), QStringLiteral("http://127.0.0.1/page"));
    WriteFile(path + QStringLiteral("g.ini"), "[Internet]\nGameUrl=abcd\n");
    TAppConfig shortUrl(QStringLiteral("g"), path);
    EXPECT_EQ(shortUrl.GetInfoUrl(), QStringLiteral("none"));
    EXPECT_FALSE(shortUrl.isInfoUrlAvailable());
}

TEST(AppConfig, LastPlayedTimeIsKeptAcrossRestarts) {
    const QString path = MakeGame(QStringLiteral("played"), QByteArray());
    const QString marker = RoamingUserDataPath() + QStringLiteral("Apps/played/lastrun");
    {
        TAppConfig config(QStringLiteral("played"), path);
        EXPECT_TRUE(config.isFirstRun());
        config.SaveLastPlayedTime();
        EXPECT_FALSE(config.isFirstRun());
    }
    EXPECT_FALSE(TAppConfig(QStringLiteral("played"), path).isFirstRun());
    EXPECT_EQ(QFileInfo(marker).size(), 0);

    // A later launch renews the time stamp.
    const QDateTime old = QDateTime::currentDateTimeUtc().addDays(-3);
    {
        QFile file(marker);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(old, QFileDevice::FileModificationTime));
    }
    TAppConfig(QStringLiteral("played"), path).SaveLastPlayedTime();
    EXPECT_GT(QFileInfo(marker).lastModified(), old.addDays(1));
}

TEST(AppConfig, LastPlayedTimeReportsFileErrors) {
    const QString path = MakeGame(QStringLiteral("blocked"), QByteArray());
    // A plain file where the user folder should be.
    WriteFile(RoamingUserDataPath() + QStringLiteral("Apps/blocked"), "x");
    TAppConfig config(QStringLiteral("blocked"), path);
    EXPECT_THROW(config.SaveLastPlayedTime(), EInOutError);
    EXPECT_TRUE(config.isFirstRun());
}

TEST(AppConfig, PreLaunchWritesDosBoxLogSettings) {
    const QString path = MakeGame(QStringLiteral("zeb"), "[Launcher]\nKey=dosbox\nZEB=1\n");
    TAppConfig config(QStringLiteral("zeb"), path);
    config.PreLaunchComponent();

    EXPECT_TRUE(QFileInfo(config.GetUserPath() + QStringLiteral("dosbox-saves")).isDir());
    EXPECT_TRUE(QFileInfo(path + QStringLiteral(".meta")).isDir());
    const TIniFile conf(path + QStringLiteral("dosbox.conf"));
    EXPECT_EQ(conf.ReadString(QStringLiteral("log"), QStringLiteral("logfile"), QString()),
              path + QStringLiteral(".meta/zeb.log"));
    EXPECT_EQ(conf.ReadString(QStringLiteral("log"), QStringLiteral("files"), QString()), QStringLiteral("true"));

    // An existing configuration keeps its other lines; the log settings are replaced in place.
    WriteFile(path + QStringLiteral("dosbox.conf"), "[sdl]\nfullscreen=true\n[LOG]\nlogfile=old.log\nfiles=false\n");
    config.PreLaunchComponent();
    const QByteArray text = ReadFile(path + QStringLiteral("dosbox.conf"));
    EXPECT_EQ(text, "[sdl]\nfullscreen=true\n[LOG]\nlogfile=" + (path + QStringLiteral(".meta/zeb.log")).toUtf8() +
                        "\nfiles=true\n");
}

TEST(AppConfig, PreLaunchByComponentKey) {
    struct TCase {
        const char* Key;
        const char* Ini;
        bool Saves;
        bool Conf;
        bool EasyRpgMeta;
    } cases[] = {
        {"nozeb", "[Launcher]\nKey=dosbox\n", true, false, false},
        {"upper", "[Launcher]\nKey=DOSBox\nZEB=1\n", false, false, false},
        {"rpg", "[Launcher]\nKey=easyrpg\nZEB=1\n", false, false, true},
        {"own", "[Launcher]\nCmd=game.sh\nZEB=1\n", false, false, false},
    };
    for (const TCase& c : cases) {
        const QString key = QString::fromUtf8(c.Key);
        const QString path = MakeGame(key, c.Ini);
        TAppConfig config(key, path);
        config.PreLaunchComponent();
        EXPECT_EQ(QFileInfo(config.GetUserPath() + QStringLiteral("dosbox-saves")).isDir(), c.Saves) << c.Key;
        EXPECT_EQ(QFileInfo::exists(path + QStringLiteral("dosbox.conf")), c.Conf) << c.Key;
        EXPECT_EQ(QFileInfo(path + QStringLiteral("Image/.meta")).isDir(), c.EasyRpgMeta) << c.Key;
    }
}

TEST(AppConfig, PreLaunchReportsAnUnwritableConfiguration) {
    const QString path = MakeGame(QStringLiteral("ro"), "[Launcher]\nKey=dosbox\nZEB=1\n");
    QDir().mkpath(path + QStringLiteral("dosbox.conf")); // a folder in place of the file
    TAppConfig config(QStringLiteral("ro"), path);
    try {
        config.PreLaunchComponent();
        FAIL() << "no error raised";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Unable to write to ") + path + QStringLiteral("dosbox.conf"));
    }
}
