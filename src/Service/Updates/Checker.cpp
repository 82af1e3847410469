#include "Service/Updates/Checker.h"

#include "Service/Install/AppManager.h"
#include "Service/Install/ComponentManager.h"
#include "Service/Install/Tasks.h"

#include <QStringList>

namespace {

QStringList VersionParts(const QString& Version) {
    QStringList parts;
    if (!Version.isEmpty())
        parts = Version.split(QLatin1Char('.'));
    while (!parts.isEmpty() && parts.back() == QLatin1String("0"))
        parts.removeLast();
    return parts;
}

qint64 VersionNumber(const QString& Part, const QString& Version) {
    bool ok = false;
    const qint64 n = Part.toLongLong(&ok, 10);
    if (!ok || Part.trimmed() != Part)
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value (version \"%2\")").arg(Part, Version));
    return n;
}

} // namespace

bool IsNewerVersion(const QString& Candidate, const QString& Current) {
    const QStringList candidate = VersionParts(Candidate);
    const QStringList current = VersionParts(Current);
    // A version of one part says too little to compare: it is never newer, and anything is newer than it.
    if (candidate.size() == 1)
        return false;
    if (current.size() == 1)
        return true;
    const qsizetype n = qMin(candidate.size(), current.size());
    for (qsizetype i = 0; i < n; ++i) {
        const qint64 a = VersionNumber(candidate[i], Candidate);
        const qint64 b = VersionNumber(current[i], Current);
        if (a > b)
            return true;
        if (a < b)
            return false;
    }
    return candidate.size() > current.size();
}

TAbstractUpdatesChecker::TAbstractUpdatesChecker(const QString& ItemType)
    : MetaProvider(std::make_unique<TMetaProvider>(ItemType)), FItemType(ItemType) {}

TAbstractUpdatesChecker::~TAbstractUpdatesChecker() = default;

void TAbstractUpdatesChecker::CheckItem(const TGenericLibraryItem& Item) {
    if (Item.State() != lisInstalled)
        return;
    try {
        const TMetaTranslator meta(MetaProvider->GetRemoteMeta(Item.PublicKey));
        if (IsNewerVersion(meta.GetVersion(), Item.Version))
            CreateUpdateTask(Item, meta);
    } catch (...) {
        // One item that cannot be checked does not stop the others.
    }
}

void TAppsUpdatesChecker::CreateUpdateTask(const TGenericLibraryItem& Item, const TMetaTranslator& Meta) {
    const QString key = Item.PublicKey;
    AddToUpdateTasks(TUpdateTask::Create(key, Meta.GetName(), Meta.GetDescription(), ttApp, [key] {
        auto manager = std::make_shared<TAppManager>(key);
        manager->SyncFiles();
    }));
}

void TComponentsUpdatesChecker::CreateUpdateTask(const TGenericLibraryItem& Item, const TMetaTranslator& Meta) {
    const QString key = Item.PublicKey;
    AddToUpdateTasks(TUpdateTask::Create(key, Meta.GetName(), Meta.GetDescription(), ttComponent, [key] {
        auto manager = std::make_shared<TComponentManager>(key);
        manager->SyncFiles();
    }));
}
