#include "App/Paths.h"

#include "BuildConfig.h"
#include "Platform/StandardFolders.h"
#include "Platform/VersionInfo.h"

#include <mutex>

namespace {

struct TPaths {
    QString LocalUserData, RoamingUserData, DefaultLibrary, Meta, Components, DownloadCache, ImageCache,
        Dependencies;
    QString Origin, Cdn, Api, WebCatalog, IntegrationPage;
    QString MetaRoot, ComponentsRoot, AppsRoot, LauncherVersion, LauncherExecutable;
    QString Catalog, CatalogPage, LauncherEvents, GameEvents, Register, Login, Profile, Scoreboard;
    QString FreeKeysPage, IntegrationOffPage, IntegrationOnPage;
};

TPaths gPaths;
std::once_flag gPathsOnce;

const QString ProductFolder = QStringLiteral("/Mirelocke/Tarvenox/");

QString ServiceOriginFromEnvironment() {
    QString origin = qEnvironmentVariable("TARVENOX_SERVICE_URL").trimmed();
    if (origin.isEmpty())
        origin = QStringLiteral(TARVENOX_SERVICE_ORIGIN_DEFAULT);
    while (origin.endsWith(u'/'))
        origin.chop(1);
    return origin;
}

void ComputePaths() {
    TPaths p;
    // The order matters only in that later values are built from earlier ones.
    p.LocalUserData = GetSpecialFolder(TSpecialFolder::LocalAppData) + ProductFolder;
    p.DefaultLibrary = p.LocalUserData + QStringLiteral("Apps/");
    p.RoamingUserData = GetSpecialFolder(TSpecialFolder::RoamingAppData) + ProductFolder;
    p.Meta = p.LocalUserData + QStringLiteral(".meta/");
    p.Components = p.LocalUserData + QStringLiteral("Components/");

    p.Origin = ServiceOriginFromEnvironment();
    p.Cdn = p.Origin + QStringLiteral("/cdn/");
    p.Api = p.Origin + QStringLiteral("/api/kiv/");
    p.WebCatalog = p.Origin + QStringLiteral("/!/tarvenox/#/");
    p.IntegrationPage = p.Origin + QStringLiteral("/tarvenox/integration/");

    p.MetaRoot = p.Cdn + QStringLiteral("meta/");
    p.ComponentsRoot = p.Cdn + QStringLiteral("components/");
    p.AppsRoot = p.Cdn + QStringLiteral("apps/");
    p.LauncherVersion = p.Cdn + QStringLiteral("tarvenox.json");
    p.LauncherExecutable = p.Cdn + PlatformExecutableName();

    p.Catalog = p.Api + QStringLiteral("public/catalog");
    p.CatalogPage = p.Api + QStringLiteral("public/catalog") + QStringLiteral("/%s");
    p.LauncherEvents = p.Api + QStringLiteral("public/event");
    p.GameEvents = p.Api + QStringLiteral("public/event") + QStringLiteral("/app");
    p.Register = p.Api + QStringLiteral("public/register");
    p.Login = p.Api + QStringLiteral("login");
    p.Profile = p.Api + QStringLiteral("profile");
    p.Scoreboard = p.Api + QStringLiteral("score/%s/%d");

    p.FreeKeysPage = p.WebCatalog + QStringLiteral("free-steam-keys");
    p.IntegrationOffPage = p.IntegrationPage + QStringLiteral("off");
    p.IntegrationOnPage = p.IntegrationPage + QStringLiteral("on");

    p.DownloadCache = GetSpecialFolder(TSpecialFolder::InternetCache) + QStringLiteral("/Downloads.") +
                      QStringLiteral("Tarvenox") + QStringLiteral("/");
    p.ImageCache = p.DownloadCache + QStringLiteral("images/");
    p.Dependencies = GetSpecialFolder(TSpecialFolder::InternetCache) +
                     QStringLiteral("/Downloads.Tarvenox/") + QStringLiteral("dependencies/");
    gPaths = std::move(p);
}

// Values are computed at start-up; a reader that comes first (a unit test) still gets them.
const TPaths& Paths() {
    std::call_once(gPathsOnce, ComputePaths);
    return gPaths;
}

} // namespace

void InitPaths() {
    std::call_once(gPathsOnce, [] {});
    ComputePaths();
}

const QString& LocalUserDataPath() {
    return Paths().LocalUserData;
}
const QString& RoamingUserDataPath() {
    return Paths().RoamingUserData;
}
const QString& DefaultLibraryPath() {
    return Paths().DefaultLibrary;
}
const QString& MetaPath() {
    return Paths().Meta;
}
const QString& ComponentsPath() {
    return Paths().Components;
}
const QString& DownloadCachePath() {
    return Paths().DownloadCache;
}
const QString& ImageCachePath() {
    return Paths().ImageCache;
}
const QString& DependenciesPath() {
    return Paths().Dependencies;
}

const QString& ServiceOrigin() {
    return Paths().Origin;
}
const QString& CdnBaseUrl() {
    return Paths().Cdn;
}
const QString& ApiBaseUrl() {
    return Paths().Api;
}
const QString& WebCatalogBaseUrl() {
    return Paths().WebCatalog;
}
const QString& IntegrationPageBaseUrl() {
    return Paths().IntegrationPage;
}

const QString& MetaRootUrl() {
    return Paths().MetaRoot;
}
const QString& ComponentsRootUrl() {
    return Paths().ComponentsRoot;
}
const QString& AppsRootUrl() {
    return Paths().AppsRoot;
}
const QString& LauncherVersionUrl() {
    return Paths().LauncherVersion;
}
const QString& LauncherExecutableUrl() {
    return Paths().LauncherExecutable;
}
const QString& CatalogUrl() {
    return Paths().Catalog;
}
const QString& CatalogPageUrl() {
    return Paths().CatalogPage;
}
const QString& LauncherEventsUrl() {
    return Paths().LauncherEvents;
}
const QString& GameEventsUrl() {
    return Paths().GameEvents;
}
const QString& RegisterUrl() {
    return Paths().Register;
}
const QString& LoginUrl() {
    return Paths().Login;
}
const QString& ProfileUrl() {
    return Paths().Profile;
}
const QString& ScoreboardUrl() {
    return Paths().Scoreboard;
}
const QString& FreeKeysPageUrl() {
    return Paths().FreeKeysPage;
}
const QString& IntegrationOnPageUrl() {
    return Paths().IntegrationOnPage;
}
const QString& IntegrationOffPageUrl() {
    return Paths().IntegrationOffPage;
}

QString GetSpecialFolder(TSpecialFolder folder) {
    switch (folder) {
    case TSpecialFolder::LocalAppData:
        return PlatformLocalAppDataFolder();
    case TSpecialFolder::RoamingAppData:
        return PlatformRoamingAppDataFolder();
    case TSpecialFolder::InternetCache:
        return PlatformInternetCacheFolder();
    case TSpecialFolder::System:
        return PlatformSystemFolder();
    }
    return QString();
}

void GetFileVersionInfo(const QString& fileName, TFileVersionInfo& info) {
    TVersionNumbers v;
    if (!ReadExecutableVersion(fileName, v))
        return;
    const auto& p = v.Product;
    QString product = QStringLiteral("%1.%2").arg(p[0]).arg(p[1]);
    if (p[3] > 0)
        product += QStringLiteral(".%1.%2").arg(p[2]).arg(p[3]);
    else if (p[2] > 0)
        product += QStringLiteral(".%1").arg(p[2]);
    info.ProductVersion = product;
    if (v.File == v.Product)
        info.FileVersion = product;
    else
        info.FileVersion =
            QStringLiteral("%1.%2.%3.%4").arg(v.File[0]).arg(v.File[1]).arg(v.File[2]).arg(v.File[3]);
}

QString ExtractDirPart(const QString& path) {
    QString s = path;
    s.replace(u'\\', u'/');
    const qsizetype at = std::max(s.lastIndexOf(u'/'), s.lastIndexOf(u':'));
    return at < 0 ? QString() : s.left(at + 1);
}
