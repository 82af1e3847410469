#include "Service/Install/ComponentManager.h"

#include "App/MainThread.h"
#include "App/Paths.h"
#include "Service/AppsLibrary.h"
#include "Service/Converters/Json.h"
#include "Service/Install/DepManager.h"
#include "Service/Meta/Providers.h"

namespace {

// The key becomes a folder name; one that could leave the components folder is refused.
QString ComponentFolder(const QString& Key) {
    if (Key.isEmpty() || Key == QLatin1String(".") || Key == QLatin1String("..") ||
        Key.contains(QLatin1Char('/')) || Key.contains(QLatin1Char('\\')) || Key.contains(QChar(0)))
        throw EInOutError(QStringLiteral("Invalid component key \"%1\"").arg(Key));
    return ComponentsPath() + Key + QLatin1Char('/');
}

} // namespace

TComponentManager::TComponentManager(const QString& APublicKey)
    : TSyncAbstractManager(APublicKey, *std::make_unique<TComponentMetaProvider>()),
      FPath(ComponentFolder(APublicKey)) {
    InstallTaskType = ttComponent;
    BaseUrl = ComponentsRootUrl() + APublicKey + QLatin1Char('/');
}

bool TComponentManager::isAvailable() {
    bool available = false;
    RunOnMainThread([&] { available = ComponentsLibrary().isItemInstalled(PublicKey()); });
    return available;
}

void TComponentManager::InstallDependencies() {
    const QStringList deps = TJsonArrayToStringArrayConverter::GetStringArrayFromJson(Meta->Raw["dependencies"]);
    for (const QString& key : deps) {
        auto manager = std::make_shared<TDepManager>(key);
        RetainManager(manager);
        manager->InstallWhenNotAvailable();
    }
}

TGenericLibraryItem* TComponentManager::GetItem() {
    TGenericLibraryItem* item = nullptr;
    RunOnMainThread([&] { item = ComponentsLibrary().FindItemByKey(PublicKey()); });
    return item;
}
