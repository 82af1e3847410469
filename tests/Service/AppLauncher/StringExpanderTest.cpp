#include "Service/AppLauncher/StringExpander.h"

#include "Service/AppsLibrary/AppConfig.h"
#include "Service/AppsLibrary/ComponentConfig.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QMap>

namespace {

// Fixed values that count how often each one is asked for.
class TFakeValues : public ITemplateValues {
public:
    QString ComponentConfigFile() const override { return Get("component", FComponentConfigFile); }
    QString AppConfigFile() const override { return Get("app", QStringLiteral("/games/g/dosbox.conf")); }
    QString UserConfigFile() const override { return Get("user", QStringLiteral("/u/Apps/g/dosbox.conf")); }
    QString UserDir() const override { return Get("userdir", QStringLiteral("/u/Apps/g/")); }
    QString AppDir() const override { return Get("appdir", QStringLiteral("/games/g/")); }
    QString AppExe() const override { return Get("exe", FAppExe); }

    QString FComponentConfigFile = QStringLiteral("/c/dosbox/dosbox.config");
    QString FAppExe = QStringLiteral("game.conf");
    mutable QMap<QString, int> Calls;

private:
    QString Get(const char* name, const QString& value) const {
        ++Calls[QLatin1String(name)];
        return value;
    }
};

} // namespace

TEST(StringExpander, ReplacesVariablesInTheirOrder) {
    struct TCase {
        const char* Template;
        const char* Expected;
    } cases[] = {
        {"", ""},
        {"-conf game.conf -noconsole", "-conf game.conf -noconsole"},
        {"{Unknown} {App.Dir", "{Unknown} {App.Dir"},
        {"{App.Dir}{App.Exe}", "/games/g/game.conf"},
        {"{app.dir}|{APP.DIR}|{App.Dir}", "/games/g/|/games/g/|/games/g/"},
        {"{App.Dir}/run", "/games/g/run"},
        {"{User.Dir}/save", "/u/Apps/g/save"},
        {"{User.Dir}save", "/u/Apps/g/save"},
        {"{User.Dir.NoSlash}", "/u/Apps/g"},
        {"{user.dir.noslash}/x", "/u/Apps/g/x"},
        {"-conf \"{App.ConfigFile}\" -conf \"{User.ConfigFile}\"",
         "-conf \"/games/g/dosbox.conf\" -conf \"/u/Apps/g/dosbox.conf\""},
        {"{Component.ConfigFile} {App.Exe} {App.Exe}", "/c/dosbox/dosbox.config game.conf game.conf"},
    };
    for (const TCase& c : cases) {
        TFakeValues values;
        EXPECT_EQ(ExpandCommandTemplate(QString::fromUtf8(c.Template), values), QString::fromUtf8(c.Expected))
            << c.Template;
    }
}

TEST(StringExpander, InsertedTextIsSeenOnlyByLaterVariables) {
    TFakeValues values;
    values.FComponentConfigFile = QStringLiteral("{App.Dir}my.config");
    values.FAppExe = QStringLiteral("{App.Dir}{App.Exe}");
    // The component's file is replaced first, so its {App.Dir} is expanded later; the run command comes
    // last and keeps its variables.
    EXPECT_EQ(ExpandCommandTemplate(QStringLiteral("{Component.ConfigFile} {App.Exe}"), values),
              QStringLiteral("/games/g/my.config {App.Dir}{App.Exe}"));
}

TEST(StringExpander, AsksOnlyForNeededValuesOnce) {
    TFakeValues values;
    ExpandCommandTemplate(QStringLiteral("{App.Dir}{App.Exe} {APP.EXE} {app.exe}"), values);
    EXPECT_EQ(values.Calls.value(QStringLiteral("appdir")), 1);
    EXPECT_EQ(values.Calls.value(QStringLiteral("exe")), 1);
    EXPECT_FALSE(values.Calls.contains(QStringLiteral("component")));
    EXPECT_FALSE(values.Calls.contains(QStringLiteral("app")));
    EXPECT_FALSE(values.Calls.contains(QStringLiteral("user")));
    EXPECT_FALSE(values.Calls.contains(QStringLiteral("userdir")));
}

TEST(StringExpander, TakesValuesFromTheConfigurations) {
    const QString gamePath = MakeTempDir(QStringLiteral("game"));
    WriteFile(gamePath + QStringLiteral("game.ini"), "[Launcher]\nKey=dosbox\nCmd=game.conf\n[General]\nConfigFileName=.cfg\n");
    const QString componentPath = MakeTempDir(QStringLiteral("dosbox"));
    TAppConfig app(QStringLiteral("game"), gamePath);
    TComponentConfig component(QStringLiteral("dosbox"), componentPath);
    component.ConfigFileName = componentPath + QStringLiteral("dosbox.config");

    const QString Template = QStringLiteral(
        "-conf \"{Component.ConfigFile}\" -conf \"{App.ConfigFile}\" -conf \"{User.ConfigFile}\" "
        "-c \"mount d {User.Dir.NoSlash}\" {App.Dir}{App.Exe}");
    EXPECT_EQ(ExpandCommandTemplate(Template, gamePath, &app, &component),
              QStringLiteral("-conf \"%1dosbox.config\" -conf \"%2game.cfg\" -conf \"%3game.cfg\" -c \"mount d %4\" %2game.conf")
                  .arg(componentPath, gamePath, app.GetUserPath(), app.GetUserPath().chopped(1)));

    // The run command is read at the moment of expansion; missing configurations give empty values.
    app.RunCmd = QStringLiteral("other.conf");
    EXPECT_EQ(ExpandCommandTemplate(QStringLiteral("{App.Dir}{App.Exe}"), gamePath, &app, &component),
              gamePath + QStringLiteral("other.conf"));
    EXPECT_EQ(ExpandCommandTemplate(QStringLiteral("[{Component.ConfigFile}][{App.Exe}][{User.Dir}]"), gamePath,
                                    nullptr, nullptr),
              QStringLiteral("[][][]"));
}
