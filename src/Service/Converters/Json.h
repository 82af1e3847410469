#pragma once

#include "App/DataContracts.h"
#include "Lib/Json.h"

#include <QStringList>
#include <memory>

// Converters from JSON values to records. Each converter makes records of one class T and hands them to
// its caller; a list operation either gives every record or, when one item fails, raises and gives
// nothing.

template <class T> class TJsonObjectToObjectConverter {
public:
    virtual ~TJsonObjectToObjectConverter() = default;
    // A new record from JsonObject (an object, or a member reference to one).
    virtual std::unique_ptr<T> ConvertToObject(const TJsonValue& JsonObject) = 0;
};

// The attributes object of a JSON:API resource. Raises Exception when "type" is not ExpectedType or
// "attributes" is missing.
TJSONVariantData JsonApiAttributes(const TJsonValue& JsonObject, const QString& ExpectedType);

// Base of converters of one JSON:API resource.
template <class T> class TJsonApiObjectToObjectConverter : public TJsonObjectToObjectConverter<T> {
public:
    // Converts the "data" member of the document in Data.
    std::unique_ptr<T> ConvertStringToObject(const QString& Data) {
        const TJSONVariantData top = SafeJsonData(ParseJson(Data), jvObject);
        return this->ConvertToObject(top.MemberRef(QStringLiteral("data")));
    }

protected:
    static TJSONVariantData GetAttributes(const TJsonValue& JsonObject, const QString& ExpectedType) {
        return JsonApiAttributes(JsonObject, ExpectedType);
    }
};

// Applies one converter (not owned) to every item of an array, in order.
template <class T> class TJsonArrayToCollectionConverter {
public:
    explicit TJsonArrayToCollectionConverter(TJsonObjectToObjectConverter<T>& ObjectConverter)
        : Converter(ObjectConverter) {}

    // Appends the records to List only when every item converted; an absent or non-array value gives no
    // items. A member reference is walked whatever it holds (an object over its member values).
    void Convert(const TJsonValue& JsonArray, TJsonObjectList<T>& List) const {
        const TJSONVariantData data = SafeJsonData(JsonArray, jvArray);
        TJsonObjectList<T> made;
        made.reserve(size_t(data.VCount()));
        for (const TJsonValue& item : data.Values())
            made.push_back(Converter.ConvertToObject(item));
        for (auto& record : made)
            List.push_back(std::move(record));
    }

    TJsonObjectToObjectConverter<T>& Converter;
};

class TJsonArrayToStringArrayConverter {
public:
    // One text per item, in order; a null item raises EVariantTypeCastError.
    static QStringList GetStringArrayFromJson(const TJsonValue& JsonArray);
};

class TJsonToFileDescriptor : public TJsonObjectToObjectConverter<TJsonFileDescriptor> {
public:
    std::unique_ptr<TJsonFileDescriptor> ConvertToObject(const TJsonValue& JsonObject) override;
};

class TJsonToScoreboardEntry : public TJsonObjectToObjectConverter<TScoreboardEntry> {
public:
    std::unique_ptr<TScoreboardEntry> ConvertToObject(const TJsonValue& JsonObject) override;
};

// An "app-page" resource; a missing "attributes" gives an empty page.
class TJsonApiToCatalogPage : public TJsonObjectToObjectConverter<TAppCatalogPage> {
public:
    std::unique_ptr<TAppCatalogPage> ConvertToObject(const TJsonValue& JsonObject) override;
};

class TJsonApiToAchievementEntry : public TJsonApiObjectToObjectConverter<TAchievementEntry> {
public:
    std::unique_ptr<TAchievementEntry> ConvertToObject(const TJsonValue& JsonObject) override;
};

class TJsonApiToOwnProfile : public TJsonApiObjectToObjectConverter<TOwnProfile> {
public:
    std::unique_ptr<TOwnProfile> ConvertToObject(const TJsonValue& JsonObject) override;
};

class TJsonFilesListConverter {
public:
    static TJsonObjectList<TJsonFileDescriptor> CreateListFromJson(const TJsonValue& JsonArray);
};

class TJsonScoreboardEntryListConverter {
public:
    static TJsonObjectList<TScoreboardEntry> CreateListFromJson(const TJsonValue& JsonArray);
};

class TJsonApiAchievementListConverter {
public:
    static TJsonObjectList<TAchievementEntry> CreateListFromJson(const TJsonValue& JsonArray);
};
