#include "Lib/Json.h"
#include "App/Exceptions.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>

namespace {

QString J(const char* Utf8) { return QString::fromUtf8(Utf8); }

// What a parse gives, as compact text: scalars by kind, documents by their JSON.
QString Describe(const TJsonValue& V) {
    switch (V.Kind()) {
    case jkEmpty: return QStringLiteral("empty");
    case jkNull: return QStringLiteral("null");
    case jkBoolean: return QStringLiteral("bool:") + V.ToJSON();
    case jkInteger: return QStringLiteral("int:") + V.ToJSON();
    case jkFloating: return QStringLiteral("float:") + V.ToJSON();
    case jkString: return QStringLiteral("str:") + V.ToJSON();
    case jkDocument: return QStringLiteral("doc:") + V.ToJSON();
    }
    return {};
}

} // namespace

TEST(Json, ParsesTopLevelValuesAndLenientForms) {
    const struct {
        const char* text;
        const char* expected;
    } cases[] = {
        {"", "empty"},
        {"   ", "empty"},
        {"123", "int:123"},
        {"12.5", "float:12.5"},
        {"null", "null"},
        {" true ", "bool:true"},
        {"false", "bool:false"},
        {"{}", "doc:{}"},
        {"{ }", "doc:{}"},
        {"[ ]", "doc:[]"},
        {"-0", "int:0"},
        {"007", "int:7"},
        {"1e3", "float:1000"},
        {"-.5", "float:-0.5"},
        {"9223372036854775807", "int:9223372036854775807"},
        {"-9223372036854775808", "int:-9223372036854775808"},
        {"9223372036854775808", "float:9.22337203685478E18"},
        {"1e-400", "float:0"},
        {"1e400", "empty"},
        {"1.2.3", "empty"},
        {"-", "empty"},
        {"+1", "empty"},
        {"tru", "empty"},
        {"nul", "empty"},
        {"x", "empty"},
        {"\"abc", "empty"},             // no closing quote, no escape: a fault
        {"\"a\\", "str:\"a\""},         // once an escape was seen the end of text ends the string
        {"\"a\\nb", "str:\"a\\nb\""},
        {"\"\\u0041\\u00e9\\u00E9\"", "str:\"Aéé\""},
        {"\"\\\"\\\\\\/\\q\"", "str:\"\\\"\\\\/q\""},
        {"\"\\b\\t\\f\\r\"", "str:\"\\b\\t\\f\\r\""},
        {"\"ab\\u12\"", "str:\"ab\""},  // a short \u ends the text there
        {"\"x\"tail", "str:\"x\""},
        // names
        {"{a:1, b=2}", "doc:{\"a\":1,\"b\":2}"},
        {"{$gt:1,_a1=2}", "doc:{\"$gt\":1,\"_a1\":2}"},
        {"{\"a\" : 1 }", "doc:{\"a\":1}"},
        {"{\"a\" = 1}", "doc:null"},      // "=" only after an unquoted name
        {"{a :1}", "doc:null"},           // unquoted name must touch its ":"
        {"{1a:2}", "doc:null"},
        {"{a-b:2}", "doc:null"},
        {"{\"a\":1,\"a\":2}", "doc:{\"a\":1,\"a\":2}"},
        // faults keep what was completed
        {"[1,2,]", "doc:[1,2]"},
        {"[,]", "doc:null"},
        {"{\"x\":1,\"y\":}", "doc:{\"x\":1}"},
        {"{\"x\":1,}", "doc:{\"x\":1}"},
        {"{\"x\":1} trailing", "doc:{\"x\":1}"},
        {"[1,[2,3", "doc:[1]"},
        {"{\"a\":1,\"b\":{\"c\":2,\"d\":}}", "doc:{\"a\":1}"},
        {"[\"a\\uZZ\"]", "doc:[\"a\"]"},
        {"[\"ab", "doc:null"},
        {"[\"a\\nb", "doc:[\"a\\nb\"]"},
        {"[truex]", "doc:[true]"},
        {"[1 2]", "doc:[1]"},
        {"[01, -0, 1E2, 1e+2, 2.50]", "doc:[1,0,100,100,2.5]"},
        {"[1e400, 2]", "doc:null"},
        {"\x01\x1f [1]", "doc:[1]"},       // everything up to code 32 is whitespace
    };
    for (const auto& c : cases)
        EXPECT_EQ(Describe(ParseJson(J(c.text))), J(c.expected)) << c.text;
}

TEST(Json, DocumentKindAndCount) {
    const TJsonValue obj = ParseJson(J("{}"));
    EXPECT_EQ(SafeJsonData(obj).VKind(), jvObject);
    EXPECT_EQ(SafeJsonData(obj).VCount(), 0);
    EXPECT_FALSE(obj.IsEmpty());

    const TJsonValue undefinedDoc = ParseJson(J("{a :1}"));
    EXPECT_TRUE(undefinedDoc.IsEmpty());
    EXPECT_EQ(SafeJsonData(undefinedDoc).VKind(), jvUndefined);
    EXPECT_EQ(SafeJsonData(undefinedDoc).VCount(), 0);

    const TJSONVariantData dupes(J("{\"a\":1,\"a\":2}"));
    EXPECT_EQ(dupes.VCount(), 2);
    EXPECT_EQ(dupes.Names(), QList<QString>({"a", "a"}));
    EXPECT_EQ(dupes.MemberCopy("a").AsInt64(), 1);

    // Init of a record: anything but an object or array leaves the empty document.
    for (const char* text : {"null", "5", "\"s\"", "", "{a :1}"}) {
        TJSONVariantData d(J("[1]"));
        d.Init(J(text));
        EXPECT_EQ(d.VKind(), jvUndefined) << text;
        EXPECT_EQ(d.VCount(), 0) << text;
    }
}

TEST(Json, NestingPastTheLimitStopsLikeAFault) {
    const auto nested = [](int depth) {
        return QString(depth, u'[') + QString(depth, u']');
    };
    EXPECT_EQ(ParseJson(nested(512)).ToJSON(), nested(512));

    // One level deeper: the innermost document is a fault, so every level drops its failed item.
    EXPECT_TRUE(ParseJson(nested(513)).IsEmpty());
    QString withItems;
    for (int i = 0; i < 600; ++i)
        withItems += QStringLiteral("[1,");
    EXPECT_EQ(ParseJson(withItems).ToJSON(), J("[1]"));
    // Objects count towards the same depth.
    QString objects;
    for (int i = 0; i < 600; ++i)
        objects += QStringLiteral("{\"a\":1,\"b\":");
    EXPECT_EQ(ParseJson(objects).ToJSON(), J("{\"a\":1}"));

    // Hostile sizes do not exhaust the stack.
    EXPECT_TRUE(ParseJson(QString(2000000, u'[')).IsEmpty());
    EXPECT_TRUE(ParseJson(QString(1000000, u'{')).IsEmpty());
    EXPECT_EQ(ParseJson(QStringLiteral("[1") + QString(3000000, u'0') + "]").ToJSON(), J("null"));
    EXPECT_EQ(ParseJson(QStringLiteral("[0.") + QString(3000000, u'0') + "1]").ToJSON(), J("[0]"));
    const TJsonValue longText = ParseJson(QStringLiteral("[\"") + QString(3000000, u'x') + "\\n\"]");
    EXPECT_EQ(SafeJsonData(longText).ItemCopy(0).AsString().size(), 3000001);
}

TEST(Json, TruncatedAndRandomInputNeverBreaksTheParser) {
    const QString sample = J("{\"data\":[{\"type\":\"app\",\"id\":12,\"attributes\":{\"title\":\"Игра \\\"Q\\\"\\u0021\","
                             "\"rating\":4.75,\"tags\":[\"a\",null,true,false],e=-1E-3}}],\"meta\":{}}");
    // Every prefix parses to a document whose text reads back to itself.
    for (qsizetype n = 0; n <= sample.size(); ++n) {
        const TJsonValue v = ParseJson(sample.left(n));
        const QString text = v.ToJSON();
        EXPECT_EQ(ParseJson(text).ToJSON(), text) << n;
    }
    QRandomGenerator rng(42);
    for (int round = 0; round < 300; ++round) {
        QString noise;
        const int len = int(rng.bounded(200));
        const QString alphabet = J("[]{}\":,=\\ u0123456789abcdefE.-+tnrl\x01");
        for (int i = 0; i < len; ++i)
            noise += round % 2 ? QChar(char16_t(rng.bounded(0x10000))) : alphabet[rng.bounded(alphabet.size())];
        const QString text = ParseJson(noise).ToJSON();
        EXPECT_EQ(ParseJson(text).ToJSON(), text);
    }
}

TEST(Json, MemberLookups) {
    const TJSONVariantData d(J("{\"n\":null,\"s\":7,\"a\":[10,20],\"A\":1}"));
    EXPECT_EQ(d.NameIndex("a"), 2);
    EXPECT_EQ(d.NameIndex("A"), 3);
    EXPECT_EQ(d.NameIndex("x"), -1);
    EXPECT_TRUE(d.MemberCopy("x").IsEmpty());
    EXPECT_FALSE(d.MemberCopy("x").IsNull());
    EXPECT_TRUE(d.MemberCopy("n").IsNull());
    EXPECT_EQ(d.MemberRef("s").AsInt64(), 7);
    EXPECT_TRUE(d.MemberRef("s").IsReference());
    EXPECT_FALSE(d.MemberCopy("s").IsReference());
    EXPECT_TRUE(d.MemberRef("x").IsEmpty());
    EXPECT_TRUE(d.ItemCopy(0).IsEmpty()); // not an array

    // GetValueCopyDefault: null takes the default, a missing member stays empty.
    EXPECT_EQ(d.GetValueCopyDefault("n", 5).AsInt64(), 5);
    EXPECT_TRUE(d.GetValueCopyDefault("missing", 5).IsEmpty());
    EXPECT_EQ(d.GetValueCopyDefault("s", 5).AsInt64(), 7);

    const TJSONVariantData arr = SafeJsonData(d.MemberRef("a"));
    EXPECT_EQ(arr.ItemCopy(1).AsInt64(), 20);
    EXPECT_TRUE(arr.ItemCopy(2).IsEmpty());
    EXPECT_TRUE(arr.ItemCopy(-1).IsEmpty());
    EXPECT_EQ(arr.NameIndex("a"), -1);
    EXPECT_TRUE(arr.MemberCopy("a").IsEmpty());
}

TEST(Json, SafeJsonDataChecksKindExceptThroughReferences) {
    const TJsonValue arrayValue = ParseJson(J("[1,2]"));
    EXPECT_EQ(SafeJsonData(arrayValue, jvObject).VKind(), jvUndefined);
    EXPECT_EQ(SafeJsonData(arrayValue, jvObject).VCount(), 0);
    EXPECT_EQ(SafeJsonData(arrayValue, jvArray).VCount(), 2);
    EXPECT_EQ(SafeJsonData(arrayValue).VCount(), 2);
    EXPECT_EQ(SafeJsonData(TJsonValue(5)).VKind(), jvUndefined);
    EXPECT_EQ(SafeJsonData(TJsonValue::Null(), jvArray).VKind(), jvUndefined);

    const TJSONVariantData holder(J("{\"files\":[1,2],\"n\":3}"));
    EXPECT_EQ(SafeJsonData(holder.MemberRef("files"), jvObject).VKind(), jvArray);
    EXPECT_EQ(SafeJsonData(holder.MemberCopy("files"), jvObject).VKind(), jvUndefined);
    EXPECT_EQ(SafeJsonData(holder.MemberRef("n"), jvObject).VKind(), jvUndefined);
}

TEST(Json, LateBoundMemberAccess) {
    const TJsonValue doc = ParseJson(J("{\"x\":1}"));
    EXPECT_TRUE(doc["data"].IsNull());
    EXPECT_FALSE(doc["data"].IsEmpty());

    const TJsonValue withData = ParseJson(J("{\"data\":[1],\"data\":2}"));
    const TJsonValue data = withData["data"];
    EXPECT_TRUE(data.IsReference());
    EXPECT_EQ(SafeJsonData(data).VKind(), jvArray);
    EXPECT_EQ(SafeJsonData(data).ItemCopy(0).AsInt64(), 1);

    EXPECT_TRUE(ParseJson(J("[1]"))["x"].IsNull());
    EXPECT_TRUE(ParseJson(J("{a :1}"))["x"].IsNull());
    const TJsonValue deep = ParseJson(J("{\"data\":{\"attributes\":{\"name\":\"Вася\"}}}"));
    EXPECT_EQ(deep["data"]["attributes"]["name"].AsString(), J("Вася"));

    for (const TJsonValue& v : {TJsonValue(), TJsonValue::Null(), TJsonValue(1), TJsonValue("s")})
        EXPECT_THROW(v.Member("x"), EVariantInvalidOpError) << Describe(v).toStdString();
    EXPECT_THROW(doc["data"]["x"], EVariantInvalidOpError); // null has no members
}

TEST(Json, CopiesAreIndependentAndReferencesStaySafe) {
    TJSONVariantData original(J("{\"a\":[1]}"));
    TJSONVariantData copy = original;
    copy.AddNameValue("b", 2);
    EXPECT_EQ(original.ToJSON(), J("{\"a\":[1]}"));
    EXPECT_EQ(copy.ToJSON(), J("{\"a\":[1],\"b\":2}"));

    TJsonValue value = original;
    TJsonValue valueCopy = value;
    original.AddNameValue("c", 3);
    EXPECT_EQ(value.ToJSON(), J("{\"a\":[1]}"));
    EXPECT_EQ(valueCopy.ToJSON(), J("{\"a\":[1]}"));

    // A reference keeps the document it points into readable, even after the owner is gone.
    TJsonValue ref;
    {
        TJSONVariantData scoped(J("{\"k\":\"v\"}"));
        ref = scoped.MemberRef("k");
        scoped.AddNameValue("k", "other");
    }
    EXPECT_EQ(ref.AsString(), J("v"));

    // Storing a reference stores its target.
    TJSONVariantData target;
    target.AddNameValue("copied", ref);
    EXPECT_FALSE(target.MemberCopy("copied").IsReference());
    EXPECT_EQ(target.ToJSON(), J("{\"copied\":\"v\"}"));

    // Appending never replaces and keeps order; an array grows with AddValue.
    TJSONVariantData list;
    EXPECT_EQ(list.ToJSON(), J("null"));
    list.AddValue(1);
    list.AddValue(TJsonValue::Null());
    list.AddValue(TJsonValue());
    EXPECT_EQ(list.VKind(), jvArray);
    EXPECT_EQ(list.ToJSON(), J("[1,null,null]"));
}

TEST(Json, WritesCompactTextWithTheEscapes) {
    TJSONVariantData d;
    d.AddNameValue("t", J("\"\té"));
    EXPECT_EQ(d.ToJSON(), J("{\"t\":\"\\\"\\té\"}"));

    const struct {
        TJsonValue value;
        const char* expected;
    } cases[] = {
        {QString(QChar(1)), "\"\\u0001\""},
        {QString(QChar(0x1f)) + QChar(0) + QChar(0x7f), "\"\\u001F\\u0000\x7f\""},
        {J("\b\n\f\r\\/"), "\"\\b\\n\\f\\r\\\\/\""},
        {J("日本"), "\"日本\""},
        {TJsonValue(), "null"},
        {TJsonValue::Null(), "null"},
        {true, "true"},
        {qint64(-9223372036854775807LL - 1), "-9223372036854775808"},
        {1e20, "1E20"},
        {1.5e-7, "1.5E-7"},
        {0.00001, "0.00001"},
        {0.000001, "1E-6"},
        {0.5, "0.5"},
        {-2.5, "-2.5"},
        {0.1, "0.1"},
        {1.0 / 3, "0.333333333333333"},
        {100000000000000.0, "100000000000000"},
        {1e15, "1E15"},
        {123456789012345678.0, "1.23456789012346E17"},
        {0.0, "0"},
        {12.0, "12"},
        {std::numeric_limits<double>::infinity(), "null"},
        {TJSONVariantData(J("{ \"a\" : [ 1 , { } , [ ] ] }")), "{\"a\":[1,{},[]]}"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.value.ToJSON(), J(c.expected)) << c.expected;
}

TEST(Json, Conversions) {
    const TJsonValue doc = ParseJson(J("{\"a\":[1,\"x\"]}"));
    const struct {
        TJsonValue value;
        const char* text;
        qint64 integer;
        bool boolean;
    } cases[] = {
        {TJsonValue(), "", 0, false},
        {true, "True", 1, true},
        {false, "False", 0, false},
        {42, "42", 42, true},
        {0, "0", 0, false},
        {2.5, "2.5", 2, true},
        {3.5, "3.5", 4, true},
        {-2.5, "-2.5", -2, true},
        {2.6, "2.6", 3, true},
        {J(" 12 "), " 12 ", 12, true},
        {J("2.5"), "2.5", 2, true},
        {J("0"), "0", 0, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.value.AsString(), J(c.text)) << c.text;
        EXPECT_EQ(c.value.AsInt64(), c.integer) << c.text;
        EXPECT_EQ(c.value.AsBoolean(), c.boolean) << c.text;
    }
    EXPECT_EQ(TJsonValue("TRUE").AsBoolean(), true);
    EXPECT_EQ(TJsonValue("false").AsBoolean(), false);
    EXPECT_DOUBLE_EQ(TJsonValue("1.25").AsDouble(), 1.25);
    EXPECT_DOUBLE_EQ(TJsonValue(3).AsDouble(), 3.0);
    EXPECT_EQ(doc.AsString(), J("{\"a\":[1,\"x\"]}"));
    EXPECT_EQ(SafeJsonData(doc).MemberRef("a").AsString(), J("[1,\"x\"]"));

    const TJsonValue null = TJsonValue::Null();
    EXPECT_THROW(null.AsString(), EVariantTypeCastError);
    EXPECT_THROW(null.AsInt64(), EVariantTypeCastError);
    EXPECT_THROW(null.AsBoolean(), EVariantTypeCastError);
    EXPECT_THROW(null.AsDouble(), EVariantTypeCastError);
    EXPECT_THROW(TJsonValue("abc").AsInt64(), EVariantTypeCastError);
    EXPECT_THROW(TJsonValue("yes").AsBoolean(), EVariantTypeCastError);
    EXPECT_THROW(doc.AsInt64(), EVariantTypeCastError);
    EXPECT_THROW(TJsonValue(1e300).AsInt64(), ERangeError);
    EXPECT_THROW(TJsonValue(qint64(1) << 40).AsInteger(), ERangeError);

    EXPECT_TRUE(ParseJson(J("{\"type\":\"app-page\"}"))["type"] == "app-page");
    EXPECT_FALSE(ParseJson(J("{\"type\":null}"))["type"] == "app-page");
    EXPECT_FALSE(TJsonValue::Null() == TJsonValue());
    EXPECT_TRUE(TJsonValue::Null() == TJsonValue::Null());
    EXPECT_TRUE(TJsonValue() == "");
    EXPECT_TRUE(TJsonValue(5) == "5");
    EXPECT_TRUE(TJsonValue(5) == 5.0);
    EXPECT_FALSE(TJsonValue("A") == "a");
    EXPECT_TRUE(TJsonValue(QLatin1String("ab")) == QStringLiteral("ab"));
}

TEST(Json, ReadsDates) {
    const QDateTime day(QDate(2020, 1, 31), QTime(0, 0), Qt::UTC);
    const QDateTime moment(QDate(2020, 1, 31), QTime(10, 20, 30), Qt::UTC);
    const struct {
        const char* text;
        QDateTime expected;
    } cases[] = {
        {"2020-01-31", day},
        {"2020/01/31", day},
        {"2020-01/31", {}},
        {"2020.01.31", {}},
        {"2020-01-31 10:20:30", moment},
        {"2020-01-31T10:20:30", moment},
        {"2020/01/31T10:20:30", moment},
        {"2020-01-31X10:20:30", {}},
        {"2020-01-31T10-20:30", {}},
        {"2020-01-31T10:20:30Z", {}},
        {"2020-01-31T10:20:30.5", {}},
        {"T10:20:30", QDateTime(QDate(1899, 12, 30), QTime(10, 20, 30), Qt::UTC)},
        {"T00:00:00", {}},
        {"10:20:30", {}},
        {"2020-13-01", {}},
        {"2020-00-01", {}},
        {"2020-01-32", {}},
        {"2020-01-31T24:00:00", {}},
        {"2020-01-31T10:60:00", {}},
        {"", {}},
        {"abcd-ef-gh", {}},
    };
    for (const auto& c : cases) {
        const QDateTime got = JsonTextToDateTime(J(c.text));
        EXPECT_EQ(got.isValid(), c.expected.isValid()) << c.text;
        if (c.expected.isValid()) {
            EXPECT_EQ(got, c.expected) << c.text;
        }
    }
    EXPECT_THROW(JsonTextToDateTime(J("2020-02-30")), EConvertError);
    EXPECT_THROW(JsonTextToDateTime(J("2021-02-29T01:02:03")), EConvertError);
    EXPECT_EQ(JsonTextToDateTime(J("2020-02-29")).date(), QDate(2020, 2, 29));
}

TEST(Json, ReadsUtf8FilesAsTheyAre) {
    const QString dir = MakeTempDir(QStringLiteral("json"));
    WriteFile(dir + "/bom.json", QByteArray("\xEF\xBB\xBF[\"\xD0\x98\"]"));
    const QString text = ReadUtf8TextFile(dir + "/bom.json");
    EXPECT_EQ(text, QString(QChar(0xFEFF)) + J("[\"И\"]"));
    EXPECT_THROW(ReadUtf8TextFile(dir + "/missing.json"), EInOutError);
}

namespace {

class TPersisted {
public:
    virtual ~TPersisted() = default;
    QString FKey, FName;
    QStringList FApplied; // the order in which setters ran

    QString Key() const { return FKey; }
    virtual void SetKey(const QString& Value) {
        FKey = Value;
        FApplied << QStringLiteral("key");
    }

    static const TJsonPropertyList<TPersisted>& JsonProperties() {
        static const TJsonPropertyList<TPersisted> list{
            JsonStringProperty<TPersisted>("_key", &TPersisted::Key, &TPersisted::SetKey),
            JsonStringProperty<TPersisted>(
                "_name", [](const TPersisted& o) { return o.FName; },
                [](TPersisted& o, const QString& v) {
                    o.FName = v;
                    o.FApplied << QStringLiteral("name");
                }),
        };
        return list;
    }
};

class TPersistedChild : public TPersisted {
public:
    QString FExtra;
    void SetKey(const QString& Value) override { TPersisted::SetKey(Value.toUpper()); }

    static const TJsonPropertyList<TPersistedChild>& JsonProperties() {
        static const TJsonPropertyList<TPersistedChild> list = [] {
            auto l = JsonInheritProperties<TPersistedChild>(TPersisted::JsonProperties());
            l.append(JsonStringProperty<TPersistedChild>(
                "_extra", [](const TPersistedChild& o) { return o.FExtra; },
                [](TPersistedChild& o, const QString& v) { o.FExtra = v; }));
            return l;
        }();
        return list;
    }
};

class TNothingPersisted {
public:
    static const TJsonPropertyList<TNothingPersisted>& JsonProperties() {
        static const TJsonPropertyList<TNothingPersisted> list;
        return list;
    }
};

} // namespace

TEST(Json, WritesObjectsInDeclarationOrder) {
    TPersistedChild item;
    item.FKey = J("k\\1");
    item.FName = J("Имя \"2\"");
    item.FExtra = J("x");
    EXPECT_EQ(ObjectToJsonText(&item), J("{\"_key\":\"k\\\\1\",\"_name\":\"Имя \\\"2\\\"\",\"_extra\":\"x\"}"));
    EXPECT_EQ(ObjectToJsonText(static_cast<const TPersistedChild*>(nullptr)), J("null"));
    TNothingPersisted nothing;
    EXPECT_EQ(ObjectToJsonText(&nothing), J("null"));
}

TEST(Json, ReadsObjectLists) {
    EXPECT_EQ(JsonTextToObjectList<TPersisted>(J("[]"))->size(), 0u);
    for (const char* text : {"{}", "not json", "", "[[1]]", "[{},[1]]", "5"})
        EXPECT_FALSE(JsonTextToObjectList<TPersisted>(J(text)).has_value()) << text;

    try {
        JsonTextToObjectList<TPersisted>(J("[{},5]"));
        FAIL() << "a scalar item must raise";
    } catch (const EJSONException& e) {
        EXPECT_EQ(e.Message(), J("JSONVariantData.Data(20<>JSONVariant)"));
    }
    EXPECT_THROW(JsonTextToObjectList<TPersisted>(J("[null]")), EJSONException);
    EXPECT_THROW(JsonTextToObjectList<TPersisted>(J("[\"s\"]")), EJSONException);

    const auto list = JsonTextToObjectList<TPersistedChild>(
        J("[{\"_NAME\":null,\"other\":1,\"_Key\":\"abc\",\"_\\u212Aey\":\"kelvin\",\"_extra\":5},{\"_extra\":true},{}]"));
    ASSERT_TRUE(list.has_value());
    ASSERT_EQ(list->size(), 3u);
    const TPersistedChild& first = *(*list)[0];
    EXPECT_EQ(first.FKey, J("ABC")); // the setter of the derived class ran
    EXPECT_EQ(first.FName, QString());
    EXPECT_EQ(first.FExtra, J("5"));
    EXPECT_EQ(first.FApplied, QStringList({"name", "key"})); // members apply in document order
    EXPECT_EQ((*list)[1]->FExtra, J("True"));
    EXPECT_TRUE((*list)[2]->FApplied.isEmpty());

    // What was written reads back.
    TPersistedChild item;
    item.FKey = J("KEY");
    item.FName = J("a\tb\\c");
    const auto back = JsonTextToObjectList<TPersistedChild>(QStringLiteral("[") + ObjectToJsonText(&item) + "]");
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ((*back)[0]->FName, item.FName);
}
