#pragma once

// Games and components the user has installed or queued (the library items and the two library files),
// and the catalog's list of games built from the service's "app" resources.

#include "App/Exceptions.h"
#include "App/MainThread.h"
#include "App/Subscriber.h"
#include "App/DataContracts.h"
#include "Lib/Json.h"
#include "Service/Converters/Json.h"

#include <QHash>
#include <QList>
#include <QString>

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <vector>

class TAppConfig;
class TComponentConfig;
class TMetaProvider;

enum TLibraryItemState { lisNone, lisInstalled, lisQueued };

class TLibraryItemStateSet {
public:
    constexpr TLibraryItemStateSet() = default;
    constexpr TLibraryItemStateSet(std::initializer_list<TLibraryItemState> States) {
        for (const TLibraryItemState s : States)
            FBits |= 1u << s;
    }
    constexpr bool Contains(TLibraryItemState State) const { return (FBits & (1u << State)) != 0; }

private:
    unsigned FBits = 0;
};

// "installed", "queued", or empty for lisNone.
QString LibraryItemStateToText(TLibraryItemState State);

// One game or component: its catalog key, texts, folder, installed version and state. Owned by the list
// that holds it and used on the main thread, except for the download progress, which the downloading
// worker reports.
class TGenericLibraryItem {
public:
    TGenericLibraryItem();
    // Takes the name from the item's metadata; errors of the metadata fetch reach the caller.
    TGenericLibraryItem(const QString& APublicKey, TMetaProvider& MetaProvider);
    virtual ~TGenericLibraryItem();
    TGenericLibraryItem(const TGenericLibraryItem&) = delete;
    TGenericLibraryItem& operator=(const TGenericLibraryItem&) = delete;

    // The persisted properties, in the order the library files keep them.
    static const TJsonPropertyList<TGenericLibraryItem>& JsonProperties();

    TLibraryItemState State() const { return FState; }
    virtual void SetState(TLibraryItemState Value);
    // The "_key" setter.
    virtual void SetKey(const QString& Value);
    // Copies the display texts of Item.
    virtual void UpdateFrom(const TGenericLibraryItem& Item);

    // The write rules of the persisted "_path", "_state" and "_version".
    void SetPathText(const QString& Value);
    void SetStateText(const QString& Value);
    void SetVersionText(const QString& Value);

    bool isIntalled() const { return FState == lisInstalled; }

    // Units of 1000 bytes. Safe to read on any thread while a worker reports progress.
    int TotalDownloadSize() const { return FTotalDownloadSize.load(std::memory_order_relaxed); }
    int CurrentDownloadSize() const { return FCurrentDownloadSize.load(std::memory_order_relaxed); }
    // Notifies the progress subscribers on the calling thread (the synchroniser calls it on the main
    // thread). A handler removed while a report is being delivered may still get that one report.
    void UpdateDownloadProgress(int Total, int Delta);
    void SubscribeOnDownloadProgress(const TNotifyEvent& Subscriber);
    void UnsubscribeOnDownloadProgress(const TNotifyEvent& Subscriber);

    QString PublicKey;
    QString Name;
    QString Description;
    QString Path; // ends with "/"
    QString Version;

protected:
    TLibraryItemState FState = lisNone;

private:
    std::atomic<std::int32_t> FCurrentDownloadSize{0};
    std::atomic<std::int32_t> FTotalDownloadSize{0};
    std::mutex FProgressLock; // subscribing happens on the main thread while a worker notifies
    TSubscriberList FSubscribersOnDownloadProgress;
};

// A game: adds its configuration (once installed), the catalog's cover and lock flag, and its catalog page.
class TAppLibraryItem : public TGenericLibraryItem {
public:
    TAppLibraryItem();
    TAppLibraryItem(const QString& APublicKey, TMetaProvider& MetaProvider);
    ~TAppLibraryItem() override;

    // Named by the game's metadata, fetched from the service or the metadata cache.
    static std::unique_ptr<TAppLibraryItem> CreateByPublicKey(const QString& APublicKey);

    // The first change to lisInstalled reads the game's configuration, so Path must be set before it.
    void SetState(TLibraryItemState Value) override;
    // Also takes the cover and lock flag from another game.
    void UpdateFrom(const TGenericLibraryItem& Item) override;

    TAppConfig* AppConfig() const { return FAppConfig.get(); }
    void SubscribeOnStateChange(const TNotifyEvent& Subscriber) { FSubscribersOnStateChange.Subscribe(Subscriber); }
    void UnsubscribeOnStateChange(const TNotifyEvent& Subscriber) {
        FSubscribersOnStateChange.Unsubscribe(Subscriber);
    }

    // The configured cover file when there is one, else the catalog's cover address.
    QString GetCoverResource() const;
    bool isQueued() const { return FState == lisQueued; }
    bool isCatalogPageLoaded() const { return FCatalogPage != nullptr; }
    bool isRecommedInfoNeeded() const;
    TAppCatalogPage* CatalogPage() const { return FCatalogPage.get(); }
    // Takes the page; only while no page is held (callers test isCatalogPageLoaded first).
    void SetCatalogPage(std::unique_ptr<TAppCatalogPage> AppCatalogPage);

    QString CoverUrl;
    bool Locked = false;

private:
    std::unique_ptr<TAppConfig> FAppConfig;
    TSubscriberList FSubscribersOnStateChange;
    std::unique_ptr<TAppCatalogPage> FCatalogPage;
};

// A shared component; its folder follows from its key inside the components folder.
class TComponentLibraryItem : public TGenericLibraryItem {
public:
    TComponentLibraryItem();
    TComponentLibraryItem(const QString& APublicKey, TMetaProvider& MetaProvider);
    ~TComponentLibraryItem() override;

    static std::unique_ptr<TComponentLibraryItem> CreateByPublicKey(const QString& APublicKey);

    // Read from the component's "meta.ini" on first use and kept.
    TComponentConfig& ComponentConfig();
    void SetKey(const QString& Value) override;

private:
    std::unique_ptr<TComponentConfig> FComponentConfig;
};

// ---- Libraries ----------------------------------------------------------------------------------------

// The file side of a library: reading it for the load, and writing it so that a damaged file is never
// lost and a reader never sees half a file.
class TLibraryFile {
public:
    const QString& FileName() const { return FFileName; }
    // Why the last load started empty ("Duplicate Item: x", ...); empty when it did not fail.
    const QString& LoadError() const { return FLoadError; }
    // The file that the load found unreadable or damaged; the next save to it moves it aside first.
    const QString& DamagedFileName() const { return FDamagedFileName; }

protected:
    explicit TLibraryFile(const QString& FileName) : FFileName(FileName) {}

    // The text to load: "[]" for a missing file. A file that cannot be read or is not one complete JSON
    // array is remembered as damaged.
    QString ReadForLoad();
    void LoadFailed(const QString& Reason);
    // Replaces FFileName (after an optional change of name) with BOM + JsonText + CR LF.
    void WriteLibraryText(const QString& NewFileName, const QString& JsonText);

    QString FFileName;

private:
    QString FLoadError;
    QString FDamagedFileName;
};

// An ordered list of items that owns them; keys are unique when items come through Add. The list
// belongs to the main thread; Add, FindItemsByState and FindAll move there themselves.
template <class T>
class TGenericLibrary : public TLibraryFile {
public:
    // Loads FileName (an empty name gives an empty list with nowhere to save). Never raises: a file that
    // cannot be loaded gives an empty library and is kept aside at the next save.
    explicit TGenericLibrary(const QString& FileName);
    virtual ~TGenericLibrary() = default;
    TGenericLibrary(const TGenericLibrary&) = delete;
    TGenericLibrary& operator=(const TGenericLibrary&) = delete;

    // Takes the item and gives its index. A duplicate key raises "Duplicate Item: <key>" and the item
    // stays with the caller.
    int Add(std::unique_ptr<T>&& Item);
    bool HasItem(const QString& APublicKey) const { return FIndex.contains(APublicKey); }
    T* FindItemByKey(const QString& APublicKey) const { return FIndex.value(APublicKey, nullptr); }
    bool isItemInstalled(const QString& APublicKey) const {
        const T* item = FindItemByKey(APublicKey);
        return item && item->State() == lisInstalled;
    }
    // New lists that do not own their items, in library order.
    QList<T*> FindItemsByState(TLibraryItemStateSet States) const;
    QList<T*> FindAll() const;

    // Writes the library; a non-empty FileName becomes the file of this and every later save. File
    // errors raise EInOutError and leave the old file as it was.
    void SaveToFile(const QString& FileName = QString());

    int Count() const { return int(FItems.size()); }
    T* Items(int Index) const { return FItems.at(size_t(Index)).get(); }
    auto begin() const { return FItems.begin(); }
    auto end() const { return FItems.end(); }

private:
    friend class TJsonLibraryItemsListConverter;
    void LoadFromText(const QString& Text);
    int AddItem(std::unique_ptr<T>& Item);
    // For lists only their builder sees: no duplicate check, no move to the main thread.
    void Append(std::unique_ptr<T> Item);

    std::vector<std::unique_ptr<T>> FItems;
    QHash<QString, T*> FIndex; // first item of each key
};

class TAppsLibrary : public TGenericLibrary<TAppLibraryItem> {
public:
    using TGenericLibrary<TAppLibraryItem>::TGenericLibrary;
};

using TComponentsLibrary = TGenericLibrary<TComponentLibraryItem>;

// The process-wide libraries: "apps.json" in the games folder and "components.json" in the components
// folder. InitLibraries runs at start-up after the settings; a damaged file never stops it.
void InitLibraries();
void DoneLibraries();
TAppsLibrary& AppsLibrary();
TComponentsLibrary& ComponentsLibrary();

// ---- Catalog conversion -------------------------------------------------------------------------------

// One catalog "attributes" object to a game that is not in the library (no state, path or version).
class TJsonToAppLibraryItemConverter : public TJsonObjectToObjectConverter<TAppLibraryItem> {
public:
    std::unique_ptr<TAppLibraryItem> ConvertToObject(const TJsonValue& JsonObject) override;
};

// One "app" resource to a game; another type raises "Invalid data type:<type>".
class TJsonApiToAppLibraryItemConverter : public TJsonApiObjectToObjectConverter<TAppLibraryItem> {
public:
    TJsonApiToAppLibraryItemConverter();
    ~TJsonApiToAppLibraryItemConverter() override;
    std::unique_ptr<TAppLibraryItem> ConvertToObject(const TJsonValue& JsonObject) override;

private:
    std::unique_ptr<TJsonToAppLibraryItemConverter> SubConverter;
};

class TJsonLibraryItemsListConverter {
public:
    // A new unsaved apps library with one game per resource, in order (duplicates kept). A failing
    // resource fails the whole list.
    static std::unique_ptr<TAppsLibrary> CreateListFromJson(const TJsonValue& JsonArray);
};

// ---- template definitions -----------------------------------------------------------------------------

template <class T>
TGenericLibrary<T>::TGenericLibrary(const QString& FileName) : TLibraryFile(FileName) {
    LoadFromText(ReadForLoad());
}

template <class T>
void TGenericLibrary<T>::LoadFromText(const QString& Text) {
    try {
        std::optional<TJsonObjectList<T>> list = JsonTextToObjectList<T>(Text);
        if (!list) {
            LoadFailed(QStringLiteral("Not a list of items"));
            return;
        }
        FItems.reserve(list->size());
        for (std::unique_ptr<T>& item : *list)
            AddItem(item);
    } catch (const Exception& e) {
        FItems.clear();
        FIndex.clear();
        LoadFailed(e.Message());
    }
}

template <class T>
int TGenericLibrary<T>::AddItem(std::unique_ptr<T>& Item) {
    if (FIndex.contains(Item->PublicKey))
        throw Exception(QStringLiteral("Duplicate Item: ") + Item->PublicKey);
    FIndex.insert(Item->PublicKey, Item.get());
    FItems.push_back(std::move(Item));
    return int(FItems.size()) - 1;
}

template <class T>
void TGenericLibrary<T>::Append(std::unique_ptr<T> Item) {
    if (!FIndex.contains(Item->PublicKey))
        FIndex.insert(Item->PublicKey, Item.get());
    FItems.push_back(std::move(Item));
}

template <class T>
int TGenericLibrary<T>::Add(std::unique_ptr<T>&& Item) {
    int index = -1;
    RunOnMainThread([&] { index = AddItem(Item); });
    return index;
}

template <class T>
QList<T*> TGenericLibrary<T>::FindItemsByState(TLibraryItemStateSet States) const {
    QList<T*> result;
    RunOnMainThread([&] {
        for (const auto& item : FItems)
            if (States.Contains(item->State()))
                result.append(item.get());
    });
    return result;
}

template <class T>
QList<T*> TGenericLibrary<T>::FindAll() const {
    QList<T*> result;
    RunOnMainThread([&] {
        result.reserve(qsizetype(FItems.size()));
        for (const auto& item : FItems)
            result.append(item.get());
    });
    return result;
}

template <class T>
void TGenericLibrary<T>::SaveToFile(const QString& FileName) {
    QString text;
    text.reserve(qsizetype(FItems.size()) * 160 + 2);
    text += u'[';
    for (size_t i = 0; i < FItems.size(); ++i) {
        if (i > 0)
            text += u',';
        text += ObjectToJsonText(FItems[i].get());
    }
    text += u']';
    WriteLibraryText(FileName, text);
}
