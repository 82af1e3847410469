#include "Service/Install/AppManager.h"

#include "App/MainThread.h"
#include "App/Paths.h"
#include "Service/AppsLibrary.h"
#include "Service/Converters/Json.h"
#include "Service/Install/ComponentManager.h"
#include "Service/Meta/Providers.h"

TAppManager::TAppManager(const QString& APublicKey)
    : TSyncAbstractManager(APublicKey, *std::make_unique<TAppMetaProvider>()) {
    InstallTaskType = ttApp;
    BaseUrl = AppsRootUrl() + APublicKey + QLatin1Char('/');
}

bool TAppManager::isAvailable() {
    bool available = false;
    RunOnMainThread([&] { available = AppsLibrary().isItemInstalled(PublicKey()); });
    return available;
}

void TAppManager::InstallDependencies() {
    FDeps = TJsonArrayToStringArrayConverter::GetStringArrayFromJson(Meta->Raw["component"]);
    for (const QString& key : FDeps) {
        auto manager = std::make_shared<TComponentManager>(key);
        RetainManager(manager);
        manager->InstallWhenNotAvailable();
    }
}

QString TAppManager::GetPath() {
    QString path;
    RunOnMainThread([&] {
        if (const TAppLibraryItem* item = AppsLibrary().FindItemByKey(PublicKey()))
            path = item->Path;
    });
    if (path.isEmpty())
        throw Exception(QStringLiteral("Can't get item path: ") + PublicKey());
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

TGenericLibraryItem* TAppManager::GetItem() {
    TGenericLibraryItem* item = nullptr;
    RunOnMainThread([&] { item = AppsLibrary().FindItemByKey(PublicKey()); });
    return item;
}
