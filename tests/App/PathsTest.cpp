#include "App/Paths.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

namespace {

// Sets environment variables for one test and puts the old values and the paths back afterwards.
class TScopedEnvironment {
public:
    void Set(const char* name, const char* value) {
        if (!FSaved.count(name)) {
            const char* old = getenv(name);
            FSaved[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~TScopedEnvironment() {
        for (const auto& [name, value] : FSaved)
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        InitPaths();
    }

private:
    std::map<std::string, std::optional<std::string>> FSaved;
};

} // namespace

TEST(Paths, FoldersFollowTheXdgFolders) {
    TScopedEnvironment env;
    env.Set("XDG_DATA_HOME", "/d/data");
    env.Set("XDG_CONFIG_HOME", "/d/config/");
    env.Set("XDG_CACHE_HOME", "/d/cache");
    InitPaths();
    EXPECT_EQ(LocalUserDataPath(), QStringLiteral("/d/data/Mirelocke/Tarvenox/"));
    EXPECT_EQ(RoamingUserDataPath(), QStringLiteral("/d/config/Mirelocke/Tarvenox/"));
    EXPECT_EQ(DefaultLibraryPath(), QStringLiteral("/d/data/Mirelocke/Tarvenox/Apps/"));
    EXPECT_EQ(MetaPath(), QStringLiteral("/d/data/Mirelocke/Tarvenox/.meta/"));
    EXPECT_EQ(ComponentsPath(), QStringLiteral("/d/data/Mirelocke/Tarvenox/Components/"));
    EXPECT_EQ(DownloadCachePath(), QStringLiteral("/d/cache/Downloads.Tarvenox/"));
    EXPECT_EQ(ImageCachePath(), QStringLiteral("/d/cache/Downloads.Tarvenox/images/"));
    EXPECT_EQ(DependenciesPath(), QStringLiteral("/d/cache/Downloads.Tarvenox/dependencies/"));
    EXPECT_EQ(GetSpecialFolder(TSpecialFolder::System), QStringLiteral("/usr/lib"));
}

TEST(Paths, XdgDefaultsUnderHome) {
    TScopedEnvironment env;
    env.Set("HOME", "/h");
    env.Set("XDG_DATA_HOME", nullptr);
    env.Set("XDG_CONFIG_HOME", "");            // empty counts as unset
    env.Set("XDG_CACHE_HOME", "relative/dir"); // relative ones are ignored, as XDG says
    EXPECT_EQ(GetSpecialFolder(TSpecialFolder::LocalAppData), QStringLiteral("/h/.local/share"));
    EXPECT_EQ(GetSpecialFolder(TSpecialFolder::RoamingAppData), QStringLiteral("/h/.config"));
    EXPECT_EQ(GetSpecialFolder(TSpecialFolder::InternetCache), QStringLiteral("/h/.cache"));

    // Without any home the folder cannot be told; the derived folders hang off the root.
    env.Set("HOME", nullptr);
    EXPECT_EQ(GetSpecialFolder(TSpecialFolder::LocalAppData), QString());
    InitPaths();
    EXPECT_EQ(LocalUserDataPath(), QStringLiteral("/Mirelocke/Tarvenox/"));
}

TEST(Paths, EndpointsComeFromOneOrigin) {
    TScopedEnvironment env;
    env.Set("TARVENOX_SERVICE_URL", "http://127.0.0.1:1234//");
    InitPaths();
    const QString o = QStringLiteral("http://127.0.0.1:1234");
    const std::pair<const QString&, QString> cases[] = {
        {ServiceOrigin(), o},
        {CdnBaseUrl(), o + "/cdn/"},
        {ApiBaseUrl(), o + "/api/kiv/"},
        {WebCatalogBaseUrl(), o + "/!/tarvenox/#/"},
        {IntegrationPageBaseUrl(), o + "/tarvenox/integration/"},
        {MetaRootUrl(), o + "/cdn/meta/"},
        {ComponentsRootUrl(), o + "/cdn/components/"},
        {AppsRootUrl(), o + "/cdn/apps/"},
        {LauncherVersionUrl(), o + "/cdn/tarvenox.json"},
        {LauncherExecutableUrl(), o + "/cdn/tarvenox"},
        {CatalogUrl(), o + "/api/kiv/public/catalog"},
        {CatalogPageUrl(), o + "/api/kiv/public/catalog/%s"},
        {LauncherEventsUrl(), o + "/api/kiv/public/event"},
        {GameEventsUrl(), o + "/api/kiv/public/event/app"},
        {RegisterUrl(), o + "/api/kiv/public/register"},
        {LoginUrl(), o + "/api/kiv/login"},
        {ProfileUrl(), o + "/api/kiv/profile"},
        {ScoreboardUrl(), o + "/api/kiv/score/%s/%d"},
        {FreeKeysPageUrl(), o + "/!/tarvenox/#/free-steam-keys"},
        {IntegrationOnPageUrl(), o + "/tarvenox/integration/on"},
        {IntegrationOffPageUrl(), o + "/tarvenox/integration/off"},
    };
    for (const auto& [actual, expected] : cases)
        EXPECT_EQ(actual, expected);

    env.Set("TARVENOX_SERVICE_URL", nullptr);
    InitPaths();
    EXPECT_EQ(ServiceOrigin(), QStringLiteral("http://127.0.0.1:8470"));
}

TEST(Paths, ExtractDirPart) {
    const std::pair<const char*, const char*> cases[] = {
        {"games/x\\data.txt", "games/x/"},
        {"data.txt", ""},
        {"D:data.txt", "D:"},
        {"/abs/dir/", "/abs/dir/"},
        {"a\\b\\", "a/b/"},
        {"", ""},
        {"/file", "/"},
        {"C:\\x\\y", "C:/x/"},
    };
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(ExtractDirPart(QString::fromUtf8(path)), QString::fromUtf8(expected)) << path;
}
