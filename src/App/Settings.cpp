#include "App/Settings.h"

#include "App/Paths.h"
#include "Platform/IniFile.h"

#include <QDir>

namespace {

const QString SettingsFileName = QStringLiteral("Tarvenox.ini");

// A switch changed on a fresh installation must not fail only because no game has made the folder yet.
TIniFile OpenForWriting(const QString& folder) {
    QDir().mkpath(folder);
    return TIniFile(folder + SettingsFileName);
}

} // namespace

void Core::LoadSettings() {
    const TIniFile ini(RoamingUserDataPath() + SettingsFileName);
    DosBoxGUI = ini.ReadBool(QStringLiteral("DosBox"), QStringLiteral("GUI"), false);
    UpdatesCore = ini.ReadBool(QStringLiteral("Updates"), QStringLiteral("Core"), true);
    UpdatesApps = ini.ReadBool(QStringLiteral("Updates"), QStringLiteral("Apps"), true);
    UpdatesComponents = ini.ReadBool(QStringLiteral("Updates"), QStringLiteral("Components"), true);
    CheckBrowserIntegration =
        ini.ReadBool(QStringLiteral("Settings"), QStringLiteral("CheckBrowserIntegration"), true);
}

void Core::SaveSettings() {
    TIniFile ini = OpenForWriting(RoamingUserDataPath());
    // Nothing reads the switch; it is carried over as written, and a false one leaves no line behind.
    if (DosBoxGUI)
        ini.WriteBool(QStringLiteral("DosBox"), QStringLiteral("GUI"), true);
    else
        ini.DeleteKey(QStringLiteral("DosBox"), QStringLiteral("GUI"));
    ini.WriteBool(QStringLiteral("Updates"), QStringLiteral("Core"), UpdatesCore);
    ini.WriteBool(QStringLiteral("Updates"), QStringLiteral("Apps"), UpdatesApps);
    ini.WriteBool(QStringLiteral("Updates"), QStringLiteral("Components"), UpdatesComponents);
    ini.WriteBool(QStringLiteral("Settings"), QStringLiteral("CheckBrowserIntegration"),
                  CheckBrowserIntegration);
}

void Lib::LoadSettings() {
    if (DefaultLibraryPath.isEmpty())
        DefaultLibraryPath = ::DefaultLibraryPath();
    const TIniFile ini(LocalUserDataPath() + SettingsFileName);
    LibraryPath = ini.ReadString(QStringLiteral("Library"), QStringLiteral("Item0"), DefaultLibraryPath);
    // An empty games folder would put games under whatever the current folder happens to be.
    if (LibraryPath.isEmpty())
        LibraryPath = DefaultLibraryPath;
}

void Lib::SaveSettings() {
    TIniFile ini = OpenForWriting(LocalUserDataPath());
    // A user back on the default keeps no stored path, so a changed default applies to them too.
    if (LibraryPath != DefaultLibraryPath)
        ini.WriteString(QStringLiteral("Library"), QStringLiteral("Item0"), LibraryPath);
    else
        ini.DeleteKey(QStringLiteral("Library"), QStringLiteral("Item0"));
}
