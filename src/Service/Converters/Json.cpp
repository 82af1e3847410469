#include "Service/Converters/Json.h"

#include "App/Exceptions.h"

namespace {

// Checks the resource's "type"; a missing one reads as empty text.
TJSONVariantData CheckedResource(const TJsonValue& JsonObject, const QString& ExpectedType) {
    const TJSONVariantData d = SafeJsonData(JsonObject, jvObject);
    const TJsonValue type = d.MemberRef(QStringLiteral("type"));
    if (!type.Equals(TJsonValue(ExpectedType))) {
        // A null type has no text; it is named as JSON writes it rather than failing on the message.
        const QString got = type.IsNull() ? QStringLiteral("null") : type.AsString();
        throw Exception(QStringLiteral("Invalid type. Expected %1, got \"%2\"").arg(ExpectedType, got));
    }
    return d;
}

template <class T, class TConverter> TJsonObjectList<T> CreateList(const TJsonValue& JsonArray) {
    TConverter converter;
    TJsonObjectList<T> list;
    TJsonArrayToCollectionConverter<T>(converter).Convert(JsonArray, list);
    return list;
}

} // namespace

TJSONVariantData JsonApiAttributes(const TJsonValue& JsonObject, const QString& ExpectedType) {
    const TJSONVariantData d = CheckedResource(JsonObject, ExpectedType);
    if (d.NameIndex(QStringLiteral("attributes")) == -1)
        throw Exception(QStringLiteral("Invalid format. No field \"attributes\" found"));
    return SafeJsonData(d.MemberRef(QStringLiteral("attributes")), jvObject);
}

QStringList TJsonArrayToStringArrayConverter::GetStringArrayFromJson(const TJsonValue& JsonArray) {
    const TJSONVariantData data = SafeJsonData(JsonArray, jvArray);
    QStringList result;
    result.reserve(data.VCount());
    for (const TJsonValue& item : data.Values())
        result.append(item.AsString());
    return result;
}

std::unique_ptr<TJsonFileDescriptor> TJsonToFileDescriptor::ConvertToObject(const TJsonValue& JsonObject) {
    const TJSONVariantData d = SafeJsonData(JsonObject, jvObject);
    auto record = std::make_unique<TJsonFileDescriptor>();
    record->FileName = d.MemberCopy(QStringLiteral("file")).AsString();
    record->FileSize = d.MemberCopy(QStringLiteral("size")).AsInt64();
    record->Modified = JsonTextToDateTime(d.MemberCopy(QStringLiteral("updated")).AsString());
    record->Hash = d.MemberCopy(QStringLiteral("hash")).AsString();
    const TJSONVariantData sources = SafeJsonData(d.MemberRef(QStringLiteral("sources")), jvArray);
    if (sources.VKind() == jvArray)
        for (const TJsonValue& source : sources.Values())
            record->Sources.append(source.AsString());
    return record;
}

std::unique_ptr<TScoreboardEntry> TJsonToScoreboardEntry::ConvertToObject(const TJsonValue& JsonObject) {
    const TJSONVariantData d = SafeJsonData(JsonObject, jvObject);
    auto record = std::make_unique<TScoreboardEntry>();
    record->UserName = d.MemberCopy(QStringLiteral("user")).AsString();
    record->Score = d.MemberCopy(QStringLiteral("value")).AsInteger();
    record->isOwner = d.MemberCopy(QStringLiteral("self")).AsBoolean();
    return record;
}

std::unique_ptr<TAppCatalogPage> TJsonApiToCatalogPage::ConvertToObject(const TJsonValue& JsonObject) {
    const TJSONVariantData d = CheckedResource(JsonObject, QStringLiteral("app-page"));
    const TJSONVariantData a = SafeJsonData(d.MemberRef(QStringLiteral("attributes")), jvObject);
    const TJsonValue empty{QString()};
    auto text = [&](const char* name, const TJsonValue& fallback) {
        return a.GetValueCopyDefault(QString::fromLatin1(name), fallback).AsString();
    };
    auto record = std::make_unique<TAppCatalogPage>();
    // The counts are small by nature; only the low byte is kept.
    record->AchievementCount =
        quint8(a.GetValueCopyDefault(QStringLiteral("achievement_count"), 0).AsInt64());
    record->ScoreboardCount = quint8(a.GetValueCopyDefault(QStringLiteral("scoreboard_count"), 0).AsInt64());
    record->Description = text("description", empty);
    record->DescriptionLong = text("description_long", TJsonValue(record->Description));
    record->Title = text("title", empty);
    record->CoverUrl = text("cover_url", empty);
    record->Media = text("media", empty);
    try {
        record->PublishedAt = JsonTextToDateTime(a.MemberCopy(QStringLiteral("publish_date")).AsString());
    } catch (const Exception&) {
        record->PublishedAt = QDateTime(); // a null or impossible date is no date
    }
    return record;
}

std::unique_ptr<TAchievementEntry> TJsonApiToAchievementEntry::ConvertToObject(const TJsonValue& JsonObject) {
    const TJSONVariantData a = GetAttributes(JsonObject, QStringLiteral("achievement"));
    auto record = std::make_unique<TAchievementEntry>();
    record->Name = a.MemberCopy(QStringLiteral("name")).AsString();
    record->Description = a.MemberCopy(QStringLiteral("description")).AsString();
    record->AppPublicKey = a.MemberCopy(QStringLiteral("app_key")).AsString();
    record->AppTitle = a.MemberCopy(QStringLiteral("app_name")).AsString();
    return record;
}

std::unique_ptr<TOwnProfile> TJsonApiToOwnProfile::ConvertToObject(const TJsonValue& JsonObject) {
    const TJSONVariantData a = GetAttributes(JsonObject, QStringLiteral("kiv-user-info"));
    auto record = std::make_unique<TOwnProfile>();
    record->Coins = a.GetValueCopyDefault(QStringLiteral("coins"), 0).AsInteger();
    record->Name = a.GetValueCopyDefault(QStringLiteral("name"), QString()).AsString();
    return record;
}

TJsonObjectList<TJsonFileDescriptor>
TJsonFilesListConverter::CreateListFromJson(const TJsonValue& JsonArray) {
    return CreateList<TJsonFileDescriptor, TJsonToFileDescriptor>(JsonArray);
}

TJsonObjectList<TScoreboardEntry>
TJsonScoreboardEntryListConverter::CreateListFromJson(const TJsonValue& JsonArray) {
    return CreateList<TScoreboardEntry, TJsonToScoreboardEntry>(JsonArray);
}

TJsonObjectList<TAchievementEntry>
TJsonApiAchievementListConverter::CreateListFromJson(const TJsonValue& JsonArray) {
    return CreateList<TAchievementEntry, TJsonApiToAchievementEntry>(JsonArray);
}
