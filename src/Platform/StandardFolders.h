#pragma once

#include <QString>

// The operating system's standard folders, without a trailing "/"; empty when the system cannot tell.
// Read from the environment on every call, so a changed environment is seen at once.
QString PlatformLocalAppDataFolder();   // Linux: $XDG_DATA_HOME, else $HOME/.local/share
QString PlatformRoamingAppDataFolder(); // Linux: $XDG_CONFIG_HOME, else $HOME/.config
QString PlatformInternetCacheFolder();  // Linux: $XDG_CACHE_HOME, else $HOME/.cache
QString PlatformSystemFolder();         // Linux: /usr/lib

// The file name of the executable that runs this process ("tarvenox" on Linux, "tarvenox.exe" elsewhere).
QString PlatformExecutableName();
