#pragma once

#include <QString>

// Every folder, fixed file name and service address of the launcher, computed once at start-up by
// InitPaths (tests may call it again after changing the environment). Folder texts end with "/",
// base addresses with "/".

void InitPaths();

// Folders
const QString& LocalUserDataPath();   // $XDG_DATA_HOME/Mirelocke/Tarvenox/: user.dat, key.dat, local Tarvenox.ini
const QString& RoamingUserDataPath(); // $XDG_CONFIG_HOME/Mirelocke/Tarvenox/: core Tarvenox.ini, Apps/<key>/
const QString& DefaultLibraryPath();  // LocalUserDataPath() + "Apps/"
const QString& MetaPath();            // LocalUserDataPath() + ".meta/"
const QString& ComponentsPath();      // LocalUserDataPath() + "Components/"
const QString& DownloadCachePath();   // $XDG_CACHE_HOME/Downloads.Tarvenox/
const QString& ImageCachePath();      // DownloadCachePath() + "images/"
const QString& DependenciesPath();    // DownloadCachePath() + "dependencies/"

// Service base addresses, all from one origin (TARVENOX_SERVICE_URL or the build's default)
const QString& ServiceOrigin();          // e.g. "http://127.0.0.1:8470" (no trailing "/")
const QString& CdnBaseUrl();             // origin + "/cdn/"
const QString& ApiBaseUrl();             // origin + "/api/kiv/"
const QString& WebCatalogBaseUrl();      // origin + "/!/tarvenox/#/"
const QString& IntegrationPageBaseUrl(); // origin + "/tarvenox/integration/"

// Endpoints ("%s" text, "%d" number placeholders as printf formats)
const QString& MetaRootUrl();           // CDN + "meta/"
const QString& ComponentsRootUrl();     // CDN + "components/"
const QString& AppsRootUrl();           // CDN + "apps/"
const QString& LauncherVersionUrl();    // CDN + "tarvenox.json"
const QString& LauncherExecutableUrl(); // CDN + the executable's name ("tarvenox" on Linux)
const QString& CatalogUrl();            // API + "public/catalog"
const QString& CatalogPageUrl();        // API + "public/catalog/%s"
const QString& LauncherEventsUrl();     // API + "public/event"
const QString& GameEventsUrl();         // API + "public/event/app"
const QString& RegisterUrl();           // API + "public/register"
const QString& LoginUrl();              // API + "login"
const QString& ProfileUrl();            // API + "profile"
const QString& ScoreboardUrl();         // API + "score/%s/%d"
const QString& FreeKeysPageUrl();       // web catalog + "free-steam-keys"
const QString& IntegrationOnPageUrl();  // integration + "on"
const QString& IntegrationOffPageUrl(); // integration + "off"

enum class TSpecialFolder { LocalAppData, RoamingAppData, InternetCache, System };

// The platform's folder without a trailing "/", or empty when it cannot be told.
QString GetSpecialFolder(TSpecialFolder folder);

struct TFileVersionInfo {
    QString FileVersion;
    QString ProductVersion;
};

// Fills info from the version record stored in an executable; leaves it unchanged when the file has none.
void GetFileVersionInfo(const QString& fileName, TFileVersionInfo& info);

// The folder part of a path, up to and including the last separator ("\" is read as "/"); empty when none.
QString ExtractDirPart(const QString& path);
