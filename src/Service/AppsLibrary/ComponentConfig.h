#pragma once

#include <QString>

// A component's "meta.ini": which program to start, with which parameter template and window mode.
class TComponentConfig {
public:
    // Reads "meta.ini" in Path when it exists; errors of the INI layer propagate.
    TComponentConfig(const QString& PublicKey, const QString& Path);

    const QString& PublicKey() const { return FPublicKey; }
    const QString& Path() const { return FPath; }

    QString Exe;            // relative to the component folder, or whatever the file gives
    QString Params;         // the parameter template
    QString ConfigFileName; // full name of the component's configuration file, or empty
    bool RunHidden = false;

private:
    QString FPublicKey;
    QString FPath;
};
