#include "Service/AppsLibrary/ComponentConfig.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

TEST(ComponentConfig, WithoutMetaIniKeepsTheValuesBeforeReading) {
    const QString path = MakeTempDir(QStringLiteral("dosbox"));
    TComponentConfig config(QStringLiteral("dosbox"), path);
    EXPECT_EQ(config.PublicKey(), QStringLiteral("dosbox"));
    EXPECT_EQ(config.Path(), path);
    EXPECT_EQ(config.Exe, QStringLiteral("dosbox.exe"));
    EXPECT_EQ(config.Params, QStringLiteral("{App.Dir}{App.Exe}"));
    EXPECT_FALSE(config.RunHidden);
    EXPECT_EQ(config.ConfigFileName, QString());
}

TEST(ComponentConfig, ReadsMetaIni) {
    const QString path = MakeTempDir(QStringLiteral("dosbox"));
    WriteFile(path + QStringLiteral("meta.ini"), ReadFile(QStringLiteral(TARVENOX_FIXTURES_DIR "/config/meta.ini")));
    TComponentConfig config(QStringLiteral("dosbox"), path);
    EXPECT_EQ(config.Exe, QStringLiteral("bin/dos box"));
    EXPECT_EQ(config.Params, QStringLiteral("-conf \"{Component.ConfigFile}\" {App.Dir}{App.Exe}"));
    EXPECT_TRUE(config.RunHidden);
    EXPECT_EQ(config.ConfigFileName, path + QStringLiteral("dosbox.cfg"));
}

TEST(ComponentConfig, ConfigFileNameRules) {
    struct TCase {
        const char* Ini;
        const char* ConfigFileName;
        bool RunHidden;
    } cases[] = {
        {"[launcher]\nhide=1\n", "dosbox.config", true},
        {"[Launcher]\nHide=0x10\nConfigFileName=.conf\n", "dosbox.conf", true},
        {"[Launcher]\nHide=on\nConfigFileName=  my.conf  \n", "my.conf", false},
        {"[Launcher]\nConfigFileName=../other/x.conf\n", "dosbox.config", false},
        {"[Other]\nConfigFileName=x.conf\n", "dosbox.config", false},
    };
    for (const TCase& c : cases) {
        const QString path = MakeTempDir(QStringLiteral("dosbox"));
        WriteFile(path + QStringLiteral("meta.ini"), c.Ini);
        TComponentConfig config(QStringLiteral("dosbox"), path);
        EXPECT_EQ(config.ConfigFileName, path + QString::fromUtf8(c.ConfigFileName)) << c.Ini;
        EXPECT_EQ(config.RunHidden, c.RunHidden) << c.Ini;
        EXPECT_EQ(config.Exe, QStringLiteral("dosbox.exe")) << c.Ini;
        EXPECT_EQ(config.Params, QStringLiteral("{App.Dir}{App.Exe}")) << c.Ini;
    }
}
