#pragma once

#include <QString>

// The core switches, kept in the roaming "Tarvenox.ini". Read once at start-up, written on each change.
class Core {
public:
    static inline bool DosBoxGUI = false;
    static inline bool UpdatesCore = true;
    static inline bool UpdatesApps = true;
    static inline bool UpdatesComponents = true;
    static inline bool CheckBrowserIntegration = true;
    static void LoadSettings();
    static void SaveSettings();
};

// The games folder, kept in the local "Tarvenox.ini".
class Lib {
public:
    static inline QString LibraryPath;
    static inline QString DefaultLibraryPath;
    static void LoadSettings();
    static void SaveSettings();
    static QString GetPath() { return LibraryPath; }
    static void SetPath(const QString& value) { LibraryPath = value; }
    // LibraryPath + AppID + "/", with no check that it exists.
    static QString GetAppDir(const QString& AppID) { return LibraryPath + AppID + QStringLiteral("/"); }
};
