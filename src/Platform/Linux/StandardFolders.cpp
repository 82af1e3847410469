#include "Platform/StandardFolders.h"

#include <QDir>
#include <QFileInfo>

namespace {

// The XDG rule: a variable that is unset, empty or relative is ignored in favour of the default under $HOME.
QString XdgFolder(const char* variable, const char* homeRelative) {
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    const QString home = qEnvironmentVariable("HOME");
    if (home.isEmpty() || !QDir::isAbsolutePath(home))
        return QString();
    return QDir::cleanPath(home + QLatin1Char('/') + QLatin1String(homeRelative));
}

} // namespace

QString PlatformLocalAppDataFolder() {
    return XdgFolder("XDG_DATA_HOME", ".local/share");
}

QString PlatformRoamingAppDataFolder() {
    return XdgFolder("XDG_CONFIG_HOME", ".config");
}

QString PlatformInternetCacheFolder() {
    return XdgFolder("XDG_CACHE_HOME", ".cache");
}

QString PlatformSystemFolder() {
    return QStringLiteral("/usr/lib");
}

QString PlatformExecutableName() {
    return QStringLiteral("tarvenox");
}
