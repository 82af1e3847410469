#pragma once

#include <QString>

class TAppConfig;
class TComponentConfig;

// The values a command template can name. Each is asked for only when the template holds its variable.
class ITemplateValues {
public:
    virtual ~ITemplateValues() = default;
    virtual QString ComponentConfigFile() const = 0; // {Component.ConfigFile}
    virtual QString AppConfigFile() const = 0;       // {App.ConfigFile}
    virtual QString UserConfigFile() const = 0;      // {User.ConfigFile}
    virtual QString UserDir() const = 0;             // {User.Dir}, ends with "/"
    virtual QString AppDir() const = 0;              // {App.Dir}, ends with "/"
    virtual QString AppExe() const = 0;              // {App.Exe}
};

// Replaces the template variables (letter case ignored) in their fixed order; text put in for an earlier
// variable is seen by the later ones. Unknown brace sequences stay as they are.
QString ExpandCommandTemplate(const QString& Template, const ITemplateValues& Values);

// The same with the values of one game (its install folder and configuration) and one component. A missing
// configuration gives empty values.
QString ExpandCommandTemplate(const QString& Template, const QString& AppPath, const TAppConfig* AppConfig,
                              const TComponentConfig* ComponentConfig);
