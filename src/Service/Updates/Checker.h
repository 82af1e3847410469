#pragma once

// Update checks of installed games and components: an item whose fresh metadata carries a newer version
// than the library records gets an update task in UpdateTasks.

#include "Service/AppsLibrary.h"
#include "Service/Meta/Providers.h"
#include "Service/Meta/Translator.h"

#include <QString>

#include <memory>

// True when Candidate is a newer version than Current (dot-separated decimal numbers; trailing ".0"
// parts do not count). A part that is not a decimal number raises EConvertError.
bool IsNewerVersion(const QString& Candidate, const QString& Current);

class TAbstractUpdatesChecker {
public:
    explicit TAbstractUpdatesChecker(const QString& ItemType);
    virtual ~TAbstractUpdatesChecker();

    // For every installed item, in library order: fetch its metadata from the service and create an
    // update task when the version there is newer. An error of one item skips that item only. Runs on
    // a background thread: the list of items is taken on the main thread (the library may grow
    // meanwhile), their key, state and version are read here.
    template <class T>
    void CheckUpdates(const TGenericLibrary<T>& Items) {
        for (const T* item : Items.FindAll())
            CheckItem(*item);
    }

    virtual void CreateUpdateTask(const TGenericLibraryItem& Item, const TMetaTranslator& Meta) = 0;

    std::unique_ptr<TMetaProvider> MetaProvider;

protected:
    QString FItemType;

private:
    void CheckItem(const TGenericLibraryItem& Item);
};

class TAppsUpdatesChecker : public TAbstractUpdatesChecker {
public:
    TAppsUpdatesChecker() : TAbstractUpdatesChecker(QStringLiteral("apps")) {}
    void CreateUpdateTask(const TGenericLibraryItem& Item, const TMetaTranslator& Meta) override;
};

class TComponentsUpdatesChecker : public TAbstractUpdatesChecker {
public:
    TComponentsUpdatesChecker() : TAbstractUpdatesChecker(QStringLiteral("components")) {}
    void CreateUpdateTask(const TGenericLibraryItem& Item, const TMetaTranslator& Meta) override;
};
