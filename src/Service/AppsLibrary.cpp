#include "Service/AppsLibrary.h"

#include "App/Paths.h"
#include "App/Settings.h"
#include "Platform/SafeFile.h"
#include "Service/AppsLibrary/AppConfig.h"
#include "Service/AppsLibrary/ComponentConfig.h"
#include "Service/Meta/Providers.h"
#include "Service/Meta/Translator.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QStringDecoder>

#include <filesystem>
#include <system_error>

namespace {

const QString UnitName = QStringLiteral("Service\\Service.AppsLibrary");
const QString NoVersion = QStringLiteral("0.0.0.0");
const QString InstalledText = QStringLiteral("installed");
const QString QueuedText = QStringLiteral("queued");

QString ComponentItemPath(const QString& PublicKey) { return ComponentsPath() + PublicKey + QStringLiteral("/"); }

std::filesystem::path FsPath(const QString& FileName) {
    return std::filesystem::path(QFile::encodeName(FileName).toStdString());
}

bool PathExists(const QString& FileName) {
    std::error_code error;
    return std::filesystem::symlink_status(FsPath(FileName), error).type() != std::filesystem::file_type::not_found &&
           !error;
}

bool SameFile(const QString& A, const QString& B) {
    return QDir::cleanPath(QFileInfo(A).absoluteFilePath()) == QDir::cleanPath(QFileInfo(B).absoluteFilePath());
}

// Honours a UTF-8 or UTF-16 byte-order mark; without one the text is UTF-8 (the 8-bit code page here).
// Utf8 receives the UTF-8 form of the text for the completeness check.
QString DecodeLibraryText(const QByteArray& Bytes, QByteArray& Utf8) {
    if (Bytes.startsWith("\xFF\xFE") || Bytes.startsWith("\xFE\xFF")) {
        const auto encoding = Bytes.startsWith("\xFF\xFE") ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE;
        const QString text = QStringDecoder(encoding, QStringDecoder::Flag::Stateless).decode(Bytes.mid(2));
        Utf8 = text.toUtf8();
        return text;
    }
    Utf8 = Bytes.startsWith("\xEF\xBB\xBF") ? Bytes.mid(3) : Bytes;
    return QString::fromUtf8(Utf8);
}

// The lenient reader keeps what precedes a fault, so only a strict reading tells whether the whole
// file was there.
bool IsCompleteJsonArray(const QByteArray& Utf8) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(Utf8, &error);
    return error.error == QJsonParseError::NoError && doc.isArray();
}

// Keeps the bytes of a damaged file under "<name>.bad-<time>" before it is replaced. Gives the name it
// was kept under, and whether it was linked (the original stays in place) or moved.
QString KeepDamagedFile(const QString& FileName, bool& Linked) {
    const QString base = FileName + QStringLiteral(".bad-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    QString keep = base;
    for (int n = 1; PathExists(keep); ++n)
        keep = base + QStringLiteral("-%1").arg(n);
    std::error_code error;
    // A second name for the same bytes leaves the library file in place until the new one replaces it.
    std::filesystem::create_hard_link(FsPath(FileName), FsPath(keep), error);
    Linked = !error;
    if (error) {
        error.clear();
        std::filesystem::rename(FsPath(FileName), FsPath(keep), error);
    }
    if (error)
        throw EInOutError(QStringLiteral("Unable to keep the damaged file %1. %2")
                              .arg(FileName, QString::fromStdString(error.message())));
    return keep;
}

// The catalog sends texts; null or a missing attribute gives an empty text.
QString AttributeText(const TJSONVariantData& Attributes, const QString& Name) {
    const TJsonValue v = Attributes.MemberCopy(Name);
    return v.IsNull() ? QString() : v.AsString();
}

std::unique_ptr<TAppsLibrary> gAppsLibrary;
std::unique_ptr<TComponentsLibrary> gComponentsLibrary;

} // namespace

QString LibraryItemStateToText(TLibraryItemState State) {
    switch (State) {
    case lisInstalled: return InstalledText;
    case lisQueued: return QueuedText;
    case lisNone: break;
    }
    return QString();
}

// ---- TGenericLibraryItem ------------------------------------------------------------------------------

TGenericLibraryItem::TGenericLibraryItem() : Version(NoVersion), FSubscribersOnDownloadProgress(this) {}

TGenericLibraryItem::TGenericLibraryItem(const QString& APublicKey, TMetaProvider& MetaProvider)
    : TGenericLibraryItem() {
    const TMetaTranslator meta(MetaProvider.GetMeta(APublicKey));
    PublicKey = APublicKey;
    Name = meta.GetName();
}

TGenericLibraryItem::~TGenericLibraryItem() = default;

const TJsonPropertyList<TGenericLibraryItem>& TGenericLibraryItem::JsonProperties() {
    using T = TGenericLibraryItem;
    static const TJsonPropertyList<T> list{
        JsonStringProperty<T>(QStringLiteral("_key"), &T::PublicKey, &T::SetKey),
        JsonStringProperty<T>(QStringLiteral("_name"), &T::Name, [](T& i, const QString& v) { i.Name = v; }),
        JsonStringProperty<T>(QStringLiteral("_path"), &T::Path, &T::SetPathText),
        JsonStringProperty<T>(QStringLiteral("_state"), [](const T& i) { return LibraryItemStateToText(i.State()); },
                              &T::SetStateText),
        JsonStringProperty<T>(QStringLiteral("_description"), &T::Description,
                              [](T& i, const QString& v) { i.Description = v; }),
        JsonStringProperty<T>(QStringLiteral("_version"), &T::Version, &T::SetVersionText),
    };
    return list;
}

void TGenericLibraryItem::SetState(TLibraryItemState Value) { FState = Value; }

void TGenericLibraryItem::SetKey(const QString& Value) { PublicKey = Value; }

void TGenericLibraryItem::UpdateFrom(const TGenericLibraryItem& Item) {
    Name = Item.Name;
    Description = Item.Description;
}

void TGenericLibraryItem::SetPathText(const QString& Value) {
    if (!Value.isEmpty())
        Path = Value;
}

void TGenericLibraryItem::SetStateText(const QString& Value) {
    if (Value == InstalledText)
        SetState(lisInstalled);
    else if (Value == QueuedText)
        SetState(lisQueued);
}

void TGenericLibraryItem::SetVersionText(const QString& Value) {
    Version = Value.contains(u'.') ? Value : NoVersion;
}

void TGenericLibraryItem::UpdateDownloadProgress(int Total, int Delta) {
    FTotalDownloadSize.store(Total, std::memory_order_relaxed);
    FCurrentDownloadSize.fetch_add(Delta, std::memory_order_relaxed);
    // Handlers run outside the lock so that one may (un)subscribe or hand work to the main thread.
    TSubscriberList subscribers;
    {
        std::lock_guard lock(FProgressLock);
        subscribers = FSubscribersOnDownloadProgress;
    }
    subscribers.NotifySubscribers();
}

void TGenericLibraryItem::SubscribeOnDownloadProgress(const TNotifyEvent& Subscriber) {
    std::lock_guard lock(FProgressLock);
    FSubscribersOnDownloadProgress.Subscribe(Subscriber);
}

void TGenericLibraryItem::UnsubscribeOnDownloadProgress(const TNotifyEvent& Subscriber) {
    std::lock_guard lock(FProgressLock);
    FSubscribersOnDownloadProgress.Unsubscribe(Subscriber);
}

// ---- TAppLibraryItem ----------------------------------------------------------------------------------

TAppLibraryItem::TAppLibraryItem() : FSubscribersOnStateChange(this) {}

TAppLibraryItem::TAppLibraryItem(const QString& APublicKey, TMetaProvider& MetaProvider)
    : TGenericLibraryItem(APublicKey, MetaProvider), FSubscribersOnStateChange(this) {}

TAppLibraryItem::~TAppLibraryItem() = default;

std::unique_ptr<TAppLibraryItem> TAppLibraryItem::CreateByPublicKey(const QString& APublicKey) {
    TAppMetaProvider provider;
    return std::make_unique<TAppLibraryItem>(APublicKey, provider);
}

void TAppLibraryItem::SetState(TLibraryItemState Value) {
    if (Value == FState)
        return;
    if (Value == lisInstalled && !FAppConfig) {
        if (Path.isEmpty())
            throw Exception(QStringLiteral("Set Path before setting state to installed"));
        FAppConfig = std::make_unique<TAppConfig>(PublicKey, Path);
    }
    TGenericLibraryItem::SetState(Value);
    FSubscribersOnStateChange.NotifySubscribers();
}

void TAppLibraryItem::UpdateFrom(const TGenericLibraryItem& Item) {
    TGenericLibraryItem::UpdateFrom(Item);
    if (const auto* app = dynamic_cast<const TAppLibraryItem*>(&Item)) {
        CoverUrl = app->CoverUrl;
        Locked = app->Locked;
    }
}

QString TAppLibraryItem::GetCoverResource() const {
    if (FAppConfig && !FAppConfig->CoverFileName.isEmpty())
        return FAppConfig->CoverFileName;
    return CoverUrl;
}

bool TAppLibraryItem::isRecommedInfoNeeded() const {
    return FAppConfig && FAppConfig->RecommendInfoOnFirstRun() && FAppConfig->isFirstRun();
}

void TAppLibraryItem::SetCatalogPage(std::unique_ptr<TAppCatalogPage> AppCatalogPage) {
    Assert(!FCatalogPage, QStringLiteral("The catalog page of \"%1\" is already set").arg(PublicKey), UnitName);
    FCatalogPage = std::move(AppCatalogPage);
}

// ---- TComponentLibraryItem ----------------------------------------------------------------------------

TComponentLibraryItem::TComponentLibraryItem() { Path = ComponentItemPath(PublicKey); }

TComponentLibraryItem::TComponentLibraryItem(const QString& APublicKey, TMetaProvider& MetaProvider)
    : TGenericLibraryItem(APublicKey, MetaProvider) {
    Path = ComponentItemPath(PublicKey);
}

TComponentLibraryItem::~TComponentLibraryItem() = default;

std::unique_ptr<TComponentLibraryItem> TComponentLibraryItem::CreateByPublicKey(const QString& APublicKey) {
    TComponentMetaProvider provider;
    return std::make_unique<TComponentLibraryItem>(APublicKey, provider);
}

TComponentConfig& TComponentLibraryItem::ComponentConfig() {
    if (!FComponentConfig)
        FComponentConfig = std::make_unique<TComponentConfig>(PublicKey, Path);
    return *FComponentConfig;
}

void TComponentLibraryItem::SetKey(const QString& Value) {
    TGenericLibraryItem::SetKey(Value);
    Path = ComponentItemPath(PublicKey);
}

// ---- TLibraryFile -------------------------------------------------------------------------------------

QString TLibraryFile::ReadForLoad() {
    const QString empty = QStringLiteral("[]");
    if (FFileName.isEmpty() || !PathExists(FFileName))
        return empty;
    QFile file(FFileName);
    if (!QFileInfo(FFileName).isFile() || !file.open(QIODevice::ReadOnly)) {
        LoadFailed(QStringLiteral("Cannot read %1. %2").arg(FFileName, file.errorString()));
        return empty;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        LoadFailed(QStringLiteral("Cannot read %1. %2").arg(FFileName, file.errorString()));
        return empty;
    }
    QByteArray utf8;
    const QString text = DecodeLibraryText(bytes, utf8);
    // A file with nothing in it has nothing to keep.
    if (text.trimmed().isEmpty())
        return empty;
    if (!IsCompleteJsonArray(utf8))
        LoadFailed(QStringLiteral("%1 is not one complete JSON array").arg(FFileName));
    return text;
}

void TLibraryFile::LoadFailed(const QString& Reason) {
    if (FLoadError.isEmpty())
        FLoadError = Reason;
    if (!FFileName.isEmpty() && PathExists(FFileName))
        FDamagedFileName = FFileName;
}

void TLibraryFile::WriteLibraryText(const QString& NewFileName, const QString& JsonText) {
    if (!NewFileName.isEmpty())
        FFileName = NewFileName;
    if (FFileName.isEmpty())
        throw EInOutError(QStringLiteral("The library has no file to be saved to"));
    const QString dir = ExtractDirPart(FFileName);
    if (!dir.isEmpty() && !QDir().mkpath(dir))
        throw EInOutError(QStringLiteral("Unable to create directory %1").arg(dir));

    const QByteArray bytes = QByteArrayLiteral("\xEF\xBB\xBF") + JsonText.toUtf8() + QByteArrayLiteral("\r\n");
    const bool keepDamaged =
        !FDamagedFileName.isEmpty() && SameFile(FDamagedFileName, FFileName) && PathExists(FFileName);
    QString kept;
    bool linked = false;
    if (keepDamaged)
        kept = KeepDamagedFile(FFileName, linked);
    try {
        WriteFileReplacing(FFileName, bytes);
    } catch (...) {
        // The old file stays the library file; the next save keeps it again.
        std::error_code error;
        if (linked)
            std::filesystem::remove(FsPath(kept), error);
        else if (!kept.isEmpty() && !PathExists(FFileName))
            std::filesystem::rename(FsPath(kept), FsPath(FFileName), error);
        throw;
    }
    if (!FDamagedFileName.isEmpty() && SameFile(FDamagedFileName, FFileName))
        FDamagedFileName.clear();
}

// ---- process-wide libraries ---------------------------------------------------------------------------

void InitLibraries() {
    gAppsLibrary = std::make_unique<TAppsLibrary>(Lib::GetPath() + QStringLiteral("apps.json"));
    gComponentsLibrary = std::make_unique<TComponentsLibrary>(ComponentsPath() + QStringLiteral("components.json"));
}

void DoneLibraries() {
    gComponentsLibrary.reset();
    gAppsLibrary.reset();
}

TAppsLibrary& AppsLibrary() {
    Assert(gAppsLibrary != nullptr, QStringLiteral("The apps library is not loaded"), UnitName);
    return *gAppsLibrary;
}

TComponentsLibrary& ComponentsLibrary() {
    Assert(gComponentsLibrary != nullptr, QStringLiteral("The components library is not loaded"), UnitName);
    return *gComponentsLibrary;
}

// ---- catalog conversion -------------------------------------------------------------------------------

std::unique_ptr<TAppLibraryItem> TJsonToAppLibraryItemConverter::ConvertToObject(const TJsonValue& JsonObject) {
    const TJSONVariantData a = SafeJsonData(JsonObject, jvObject);
    auto item = std::make_unique<TAppLibraryItem>();
    item->PublicKey = AttributeText(a, QStringLiteral("key"));
    item->Name = AttributeText(a, QStringLiteral("title"));
    item->CoverUrl = AttributeText(a, QStringLiteral("cover_url"));
    item->Description = AttributeText(a, QStringLiteral("description"));
    try {
        item->Locked = a.MemberCopy(QStringLiteral("locked")).AsBoolean();
    } catch (const Exception&) {
        item->Locked = false; // unreadable: not locked
    }
    return item;
}

TJsonApiToAppLibraryItemConverter::TJsonApiToAppLibraryItemConverter()
    : SubConverter(std::make_unique<TJsonToAppLibraryItemConverter>()) {}

TJsonApiToAppLibraryItemConverter::~TJsonApiToAppLibraryItemConverter() = default;

std::unique_ptr<TAppLibraryItem> TJsonApiToAppLibraryItemConverter::ConvertToObject(const TJsonValue& JsonObject) {
    const TJSONVariantData d = SafeJsonData(JsonObject, jvObject);
    const TJsonValue type = d.MemberRef(QStringLiteral("type"));
    if (!(type == TJsonValue(QStringLiteral("app"))))
        throw Exception(QStringLiteral("Invalid data type:") + (type.IsNull() ? QString() : type.AsString()));
    return SubConverter->ConvertToObject(TJsonValue(SafeJsonData(d.MemberRef(QStringLiteral("attributes")), jvObject)));
}

std::unique_ptr<TAppsLibrary> TJsonLibraryItemsListConverter::CreateListFromJson(const TJsonValue& JsonArray) {
    auto library = std::make_unique<TAppsLibrary>(QString());
    TJsonApiToAppLibraryItemConverter converter;
    TJsonObjectList<TAppLibraryItem> items;
    const TJsonArrayToCollectionConverter<TAppLibraryItem> walker(converter);
    walker.Convert(JsonArray, items);
    for (auto& item : items)
        library->Append(std::move(item));
    return library;
}
