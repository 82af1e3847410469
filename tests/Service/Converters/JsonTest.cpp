#include "Service/Converters/Json.h"
#include "App/Exceptions.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

// The member "m" of a document, reached by reference as the callers do.
TJsonValue MemberOf(const QString& json, const char* name = "m") {
    return SafeJsonData(ParseJson(json)).MemberRef(QString::fromLatin1(name));
}

QDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC);
}

// Runs fn and gives the class name and message of what it raised, or "" when nothing was raised.
QString ErrorOf(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const Exception& e) {
        return e.ClassName() + QStringLiteral(": ") + e.Message();
    }
    return QString();
}

} // namespace

TEST(FileListConverterTest, ItemsBecomeDescriptors) {
    const auto list = TJsonFilesListConverter::CreateListFromJson(MemberOf(QStringLiteral(R"({"m":[
        {"file":"data\\maps\\a#1.dat","size":5000000000,"updated":"2021-03-04 05:06:07","hash":"ab12",
         "sources":["http://127.0.0.1/a","http://127.0.0.1/b"],"extra":1},
        {},
        {"file":"x","sources":"x"},
        {"file":"y","sources":{"k":"v"},"updated":"2021-03-04T05:06:07Z"},
        7
    ]})")));
    ASSERT_EQ(list.size(), 5u);
    const auto& a = *list[0];
    EXPECT_EQ(a.FileName, QStringLiteral("data\\maps\\a#1.dat"));
    EXPECT_EQ(a.FileSize, 5000000000LL);
    EXPECT_EQ(a.Modified, At(2021, 3, 4, 5, 6, 7));
    EXPECT_EQ(a.Hash, QStringLiteral("ab12"));
    EXPECT_EQ(a.Sources,
              (QStringList{QStringLiteral("http://127.0.0.1/a"), QStringLiteral("http://127.0.0.1/b")}));
    for (size_t i = 1; i < list.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(list[i]->Sources.isEmpty());
        EXPECT_FALSE(list[i]->Modified.isValid()); // absent, or unreadable because of the time zone
        EXPECT_EQ(list[i]->FileSize, 0);
        EXPECT_TRUE(list[i]->Hash.isEmpty());
    }
    EXPECT_TRUE(list[1]->FileName.isEmpty());
    EXPECT_TRUE(list[4]->FileName.isEmpty()); // not an object
}

TEST(FileListConverterTest, BadItemFailsTheWholeList) {
    const struct {
        const char* item;
        const char* error;
    } cases[] = {
        {R"({"file":null})", "EVariantTypeCastError"},
        {R"({"size":"abc"})", "EVariantTypeCastError"},
        {R"({"size":null})", "EVariantTypeCastError"},
        {R"({"hash":null})", "EVariantTypeCastError"},
        {R"({"updated":null})", "EVariantTypeCastError"},
        {R"({"updated":"2021-02-30"})", "EConvertError"},
        {R"({"sources":["a",null]})", "EVariantTypeCastError"},
    };
    for (const auto& c : cases) {
        const QString json = QStringLiteral(R"({"m":[{"file":"ok"},%1]})").arg(QString::fromUtf8(c.item));
        EXPECT_TRUE(ErrorOf([&] {
                        TJsonFilesListConverter::CreateListFromJson(MemberOf(json));
                    }).startsWith(QString::fromLatin1(c.error)))
            << c.item;
    }
}

TEST(ArrayWalkTest, FailedItemLeavesTheCallersListUnchanged) {
    TJsonToScoreboardEntry converter;
    TJsonObjectList<TScoreboardEntry> list;
    list.push_back(std::make_unique<TScoreboardEntry>());
    TJsonArrayToCollectionConverter<TScoreboardEntry> walk(converter);
    EXPECT_THROW(walk.Convert(MemberOf(QStringLiteral(R"({"m":[{"user":"a"},{"user":null}]})")), list),
                 EVariantTypeCastError);
    EXPECT_EQ(list.size(), 1u);
    walk.Convert(MemberOf(QStringLiteral(R"({"m":[{"user":"a"},{"user":"b"}]})")), list);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[2]->UserName, QStringLiteral("b"));
}

TEST(ArrayWalkTest, WhatCountsAsAnArray) {
    const struct {
        const char* json;
        QStringList texts;
    } cases[] = {
        {R"({"m":["a","b",3,true]})", {"a", "b", "3", "True"}},
        {R"({"m":[]})", {}},
        {R"({"x":1})", {}},
        {R"({"m":"a"})", {}},
        {R"({"m":{"k1":"v1","k2":"v2"}})", {"v1", "v2"}}, // a reference is walked whatever it holds
    };
    for (const auto& c : cases)
        EXPECT_EQ(
            TJsonArrayToStringArrayConverter::GetStringArrayFromJson(MemberOf(QString::fromUtf8(c.json))),
            c.texts)
            << c.json;
    // A value that is not a reference is checked: an object is no array.
    EXPECT_TRUE(
        TJsonArrayToStringArrayConverter::GetStringArrayFromJson(ParseJson(QStringLiteral(R"({"k":"v"})")))
            .isEmpty());
    EXPECT_THROW(
        TJsonArrayToStringArrayConverter::GetStringArrayFromJson(MemberOf(QStringLiteral(R"({"m":[null]})"))),
        EVariantTypeCastError);
}

TEST(ScoreboardConverterTest, EntriesAndTheirLimits) {
    const auto list = TJsonScoreboardEntryListConverter::CreateListFromJson(MemberOf(
        QStringLiteral(
            R"({"data":[{"user":"ann","value":2147483647,"self":true},{"user":"bob","value":-5},{}]})"),
        "data"));
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0]->UserName, QStringLiteral("ann"));
    EXPECT_EQ(list[0]->Score, 2147483647);
    EXPECT_TRUE(list[0]->isOwner);
    EXPECT_EQ(list[1]->Score, -5);
    EXPECT_FALSE(list[1]->isOwner);
    EXPECT_TRUE(list[2]->UserName.isEmpty());

    const struct {
        const char* item;
        const char* error;
    } bad[] = {
        {R"({"value":2147483648})", "ERangeError"},
        {R"({"value":null})", "EVariantTypeCastError"},
        {R"({"self":null})", "EVariantTypeCastError"},
        {R"({"user":null})", "EVariantTypeCastError"},
    };
    for (const auto& c : bad) {
        const QString json = QStringLiteral(R"({"data":[%1]})").arg(QString::fromUtf8(c.item));
        EXPECT_TRUE(ErrorOf([&] {
                        TJsonScoreboardEntryListConverter::CreateListFromJson(MemberOf(json, "data"));
                    }).startsWith(QString::fromLatin1(c.error)))
            << c.item;
    }
}

TEST(CatalogPageConverterTest, AttributesDefaultsAndDates) {
    const auto page = [](const char* attributes) {
        const QString json =
            QStringLiteral(R"({"data":{"type":"app-page"%1}})").arg(QString::fromUtf8(attributes));
        return TJsonApiToCatalogPage().ConvertToObject(MemberOf(json, "data"));
    };
    const auto full =
        page(R"(,"attributes":{"achievement_count":300,"scoreboard_count":2,"description":"short",
        "description_long":"long","title":"Game","cover_url":"http://127.0.0.1/c.png","media":["a",{"b":1}],
        "publish_date":"2021-03-04"})");
    EXPECT_EQ(full->AchievementCount, 44); // only the low byte of 300
    EXPECT_EQ(full->ScoreboardCount, 2);
    EXPECT_EQ(full->Description, QStringLiteral("short"));
    EXPECT_EQ(full->DescriptionLong, QStringLiteral("long"));
    EXPECT_EQ(full->Title, QStringLiteral("Game"));
    EXPECT_EQ(full->CoverUrl, QStringLiteral("http://127.0.0.1/c.png"));
    EXPECT_EQ(full->Media, QStringLiteral(R"(["a",{"b":1}])"));
    EXPECT_EQ(full->PublishedAt, At(2021, 3, 4));

    const auto nullLong =
        page(R"(,"attributes":{"description":"short","description_long":null,"title":null})");
    EXPECT_EQ(nullLong->DescriptionLong, QStringLiteral("short"));
    EXPECT_TRUE(nullLong->Title.isEmpty());
    EXPECT_TRUE(page(R"(,"attributes":{"description":"short"})")->DescriptionLong.isEmpty());

    for (const char* date : {"null", "\"2021-02-30\"", "\"2021-03-04T05:06:07Z\"", "5"}) {
        const auto p =
            page((QStringLiteral(R"(,"attributes":{"title":"T","achievement_count":null,"publish_date":%1})")
                      .arg(QString::fromLatin1(date)))
                     .toUtf8()
                     .constData());
        EXPECT_FALSE(p->PublishedAt.isValid()) << date;
        EXPECT_EQ(p->Title, QStringLiteral("T")) << date;
        EXPECT_EQ(p->AchievementCount, 0) << date;
    }

    const auto bare = page("");
    EXPECT_TRUE(bare->Title.isEmpty());
    EXPECT_TRUE(bare->DescriptionLong.isEmpty());
    EXPECT_EQ(bare->AchievementCount, 0);
    EXPECT_FALSE(bare->PublishedAt.isValid());
}

TEST(JsonApiConverterTest, TypeAndAttributeChecks) {
    const struct {
        const char* name;
        std::function<void()> run;
        const char* error;
    } cases[] = {
        {"page without data",
         [] { TJsonApiToCatalogPage().ConvertToObject(MemberOf(QStringLiteral("{}"), "data")); },
         R"(Exception: Invalid type. Expected app-page, got "")"},
        {"page of another type",
         [] {
             TJsonApiToCatalogPage().ConvertToObject(
                 MemberOf(QStringLiteral(R"({"data":{"type":"app"}})"), "data"));
         },
         R"(Exception: Invalid type. Expected app-page, got "app")"},
        {"profile of type user",
         [] {
             TJsonApiToOwnProfile().ConvertStringToObject(
                 QStringLiteral(R"({"data":{"type":"user","attributes":{}}})"));
         },
         R"(Exception: Invalid type. Expected kiv-user-info, got "user")"},
        {"profile without attributes",
         [] {
             TJsonApiToOwnProfile().ConvertStringToObject(
                 QStringLiteral(R"({"data":{"type":"kiv-user-info"}})"));
         },
         R"(Exception: Invalid format. No field "attributes" found)"},
        {"profile coins out of range",
         [] {
             TJsonApiToOwnProfile().ConvertStringToObject(
                 QStringLiteral(R"({"data":{"type":"kiv-user-info","attributes":{"coins":-2147483649}}})"));
         },
         "ERangeError"},
        {"achievement list item without attributes",
         [] {
             TJsonApiAchievementListConverter::CreateListFromJson(
                 MemberOf(QStringLiteral(
                              R"({"data":[{"type":"achievement","attributes":{}},{"type":"achievement"}]})"),
                          "data"));
         },
         R"(Exception: Invalid format. No field "attributes" found)"},
        {"achievement of another type",
         [] {
             TJsonApiAchievementListConverter::CreateListFromJson(
                 MemberOf(QStringLiteral(R"({"data":[{"type":"score","attributes":{}}]})"), "data"));
         },
         R"(Exception: Invalid type. Expected achievement, got "score")"},
        {"achievement with a null name",
         [] {
             TJsonApiAchievementListConverter::CreateListFromJson(MemberOf(
                 QStringLiteral(R"({"data":[{"type":"achievement","attributes":{"name":null}}]})"), "data"));
         },
         "EVariantTypeCastError"},
    };
    for (const auto& c : cases)
        EXPECT_TRUE(ErrorOf(c.run).startsWith(QString::fromUtf8(c.error)))
            << c.name << ": " << ErrorOf(c.run).toStdString();
}

TEST(JsonApiConverterTest, ProfileAndAchievements) {
    const auto profile = TJsonApiToOwnProfile().ConvertStringToObject(
        QStringLiteral(R"({"data":{"type":"kiv-user-info","attributes":{"coins":"42","name":"Ann"}}})"));
    EXPECT_EQ(profile->Coins, 42);
    EXPECT_EQ(profile->Name, QStringLiteral("Ann"));
    const auto nulls = TJsonApiToOwnProfile().ConvertStringToObject(
        QStringLiteral(R"({"data":{"type":"kiv-user-info","attributes":{"coins":null,"name":null}}})"));
    EXPECT_EQ(nulls->Coins, 0);
    EXPECT_TRUE(nulls->Name.isEmpty());

    const auto earned =
        TJsonApiAchievementListConverter::CreateListFromJson(MemberOf(QStringLiteral(R"({"data":[
        {"type":"achievement","attributes":{"name":"First","description":"Did it","app_key":"game1","app_name":"Game"}},
        {"type":"achievement","attributes":{}}]})"),
                                                                      "data"));
    ASSERT_EQ(earned.size(), 2u);
    EXPECT_EQ(earned[0]->Name, QStringLiteral("First"));
    EXPECT_EQ(earned[0]->Description, QStringLiteral("Did it"));
    EXPECT_EQ(earned[0]->AppPublicKey, QStringLiteral("game1"));
    EXPECT_EQ(earned[0]->AppTitle, QStringLiteral("Game"));
    EXPECT_TRUE(earned[1]->Name.isEmpty());

    for (const char* json : {R"({"data":[]})", "{}"})
        EXPECT_TRUE(
            TJsonApiAchievementListConverter::CreateListFromJson(MemberOf(QString::fromUtf8(json), "data"))
                .empty())
            << json;
}
