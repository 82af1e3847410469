#include "Service/AppLauncher/StringExpander.h"

#include "Service/AppsLibrary/AppConfig.h"
#include "Service/AppsLibrary/ComponentConfig.h"

#include <functional>

namespace {

// Templates written for this platform use its path delimiter after {User.Dir} and {App.Dir}.
const QString PathDelim = QStringLiteral("/");

QString WithoutTrailingDelim(QString dir) {
    if (dir.endsWith(PathDelim))
        dir.chop(PathDelim.size());
    return dir;
}

class TConfigValues : public ITemplateValues {
public:
    TConfigValues(const QString& appPath, const TAppConfig* app, const TComponentConfig* component)
        : FAppPath(appPath), FApp(app), FComponent(component) {}
    QString ComponentConfigFile() const override { return FComponent ? FComponent->ConfigFileName : QString(); }
    QString AppConfigFile() const override { return FApp ? FApp->GetComponentDefaultConfigFileName() : QString(); }
    QString UserConfigFile() const override { return FApp ? FApp->GetComponentUserConfigFileName() : QString(); }
    QString UserDir() const override { return FApp ? FApp->GetUserPath() : QString(); }
    QString AppDir() const override { return FAppPath; }
    QString AppExe() const override { return FApp ? FApp->RunCmd : QString(); }

private:
    QString FAppPath;
    const TAppConfig* FApp;
    const TComponentConfig* FComponent;
};

} // namespace

QString ExpandCommandTemplate(const QString& Template, const ITemplateValues& Values) {
    struct TVariable {
        QString Literal;
        std::function<QString()> Value;
    };
    // Longer forms come before their shorter twins so that "{User.Dir}/" swallows the delimiter the
    // template wrote after the folder, which already ends with one.
    const TVariable variables[] = {
        {QStringLiteral("{Component.ConfigFile}"), [&] { return Values.ComponentConfigFile(); }},
        {QStringLiteral("{App.ConfigFile}"), [&] { return Values.AppConfigFile(); }},
        {QStringLiteral("{User.ConfigFile}"), [&] { return Values.UserConfigFile(); }},
        {QStringLiteral("{User.Dir.NoSlash}"), [&] { return WithoutTrailingDelim(Values.UserDir()); }},
        {QStringLiteral("{User.Dir}") + PathDelim, [&] { return Values.UserDir(); }},
        {QStringLiteral("{User.Dir}"), [&] { return Values.UserDir(); }},
        {QStringLiteral("{App.Dir}") + PathDelim, [&] { return Values.AppDir(); }},
        {QStringLiteral("{App.Dir}"), [&] { return Values.AppDir(); }},
        {QStringLiteral("{App.Exe}"), [&] { return Values.AppExe(); }},
    };
    QString result = Template;
    for (const TVariable& v : variables) {
        if (result.contains(v.Literal, Qt::CaseInsensitive))
            result.replace(v.Literal, v.Value(), Qt::CaseInsensitive);
    }
    return result;
}

QString ExpandCommandTemplate(const QString& Template, const QString& AppPath, const TAppConfig* AppConfig,
                              const TComponentConfig* ComponentConfig) {
    return ExpandCommandTemplate(Template, TConfigValues(AppPath, AppConfig, ComponentConfig));
}
