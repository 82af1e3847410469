#pragma once

// JSON values of the launcher: a tagged value (TJsonValue) that holds nothing, null, a boolean, a 64-bit
// integer, a double, a text or a document (TJSONVariantData, one object or array), the lenient parser,
// the compact writer, and the persistence of objects through declared property lists.
//
// Documents are implicitly shared: copying a value or a TJSONVariantData costs a reference count, and
// the copy behaves as a copy (changing one never changes the other). Values and documents may be passed
// between threads; one instance must not be changed while another thread reads it.

#include <QDateTime>
#include <QExplicitlySharedDataPointer>
#include <QList>
#include <QSharedData>
#include <QString>

#include <concepts>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class TJsonValue;
struct TJsonDocStorage;

enum TJSONVariantKind { jvUndefined, jvObject, jvArray };

// What a value holds. A reference (see TJsonValue::IsReference) reports the kind of its target.
enum TJsonValueKind { jkEmpty, jkNull, jkBoolean, jkInteger, jkFloating, jkString, jkDocument };

// One JSON object or array. Kind jvUndefined until the first member or item is added; a default
// TJSONVariantData is the shared empty document. Names is parallel to Values for objects and empty for
// arrays. Members keep their order; names need not be unique and lookups find the first exact match.
class TJSONVariantData {
public:
    TJSONVariantData();
    // Parses JSON into a new document (same as Init(JSON)).
    explicit TJSONVariantData(const QString& JSON);
    TJSONVariantData(const TJSONVariantData& Other);
    TJSONVariantData(TJSONVariantData&& Other) noexcept;
    TJSONVariantData& operator=(const TJSONVariantData& Other);
    TJSONVariantData& operator=(TJSONVariantData&& Other) noexcept;
    ~TJSONVariantData();

    // Makes this the empty document.
    void Init();
    // Parses JSON into this document; a top-level value that is not an object or array (null included)
    // leaves it the empty document. A parse fault keeps what was read before it.
    void Init(const QString& JSON);

    TJSONVariantKind VKind() const;
    int VCount() const;
    const QList<QString>& Names() const;
    const QList<TJsonValue>& Values() const;

    // A reference to the value of the first member called Name; empty when this is not an object or
    // there is no such member. The reference keeps this document's current contents alive, so it
    // stays safe to read; it does not see changes made to the document afterwards.
    TJsonValue MemberRef(const QString& Name) const;
    // A copy of that value, with the same empty result.
    TJsonValue MemberCopy(const QString& Name) const;
    // MemberCopy, except that a member whose value is null gives DefaultValue. A missing member still
    // gives empty.
    TJsonValue GetValueCopyDefault(const QString& aName, const TJsonValue& DefaultValue) const;
    // A copy of the array item at Index; empty when this is not an array or Index is out of range.
    TJsonValue ItemCopy(int Index) const;
    // Index of the first member called aName, or -1 (also when this is not an object).
    int NameIndex(const QString& aName) const;

    // Appends a member (never replaces one of the same name); an undefined document becomes an object.
    // A reference is stored as a copy of its target.
    void AddNameValue(const QString& aName, const TJsonValue& aValue);
    // Appends an array item; an undefined document becomes an array.
    void AddValue(const TJsonValue& aValue);

    // Compact JSON text: no whitespace; an undefined document is "null".
    QString ToJSON() const;

private:
    friend class TJsonValue;
    friend class TJsonParser;
    explicit TJSONVariantData(TJsonDocStorage* Storage);
    void Detach();

    QExplicitlySharedDataPointer<TJsonDocStorage> d;
};

// A JSON value. Converting constructors let literals stand for values: TJsonValue(5), TJsonValue("x").
class TJsonValue {
public:
    TJsonValue() noexcept : FStore(sEmpty) {}
    TJsonValue(bool Value) noexcept : FStore(sBoolean) { FBool = Value; }
    TJsonValue(int Value) noexcept : FStore(sInteger) { FInt = Value; }
    TJsonValue(qint64 Value) noexcept : FStore(sInteger) { FInt = Value; }
    template <std::integral I>
        requires(!std::same_as<I, bool> && !std::same_as<I, int> && !std::same_as<I, qint64>)
    TJsonValue(I Value) noexcept : FStore(sInteger) { FInt = qint64(Value); }
    TJsonValue(double Value) noexcept : FStore(sFloating) { FFloat = Value; }
    TJsonValue(const QString& Value) : FStore(sString) { new (&FString) QString(Value); }
    TJsonValue(QString&& Value) noexcept : FStore(sString) { new (&FString) QString(std::move(Value)); }
    // UTF-8 text.
    TJsonValue(const char* Value) : TJsonValue(QString::fromUtf8(Value)) {}
    TJsonValue(QLatin1String Value) : TJsonValue(QString(Value)) {}
    // A document value; it reads as empty while the document is undefined.
    TJsonValue(const TJSONVariantData& Value) : FStore(sDocument) { new (&FDoc) TJSONVariantData(Value); }
    TJsonValue(TJSONVariantData&& Value) noexcept : FStore(sDocument) {
        new (&FDoc) TJSONVariantData(std::move(Value));
    }

    TJsonValue(const TJsonValue& Other) { CopyFrom(Other); }
    TJsonValue(TJsonValue&& Other) noexcept { MoveFrom(std::move(Other)); }
    TJsonValue& operator=(const TJsonValue& Other) {
        if (this != &Other) {
            TJsonValue tmp(Other);
            Clear();
            MoveFrom(std::move(tmp));
        }
        return *this;
    }
    TJsonValue& operator=(TJsonValue&& Other) noexcept {
        if (this != &Other) {
            Clear();
            MoveFrom(std::move(Other));
        }
        return *this;
    }
    ~TJsonValue() { Clear(); }

    static TJsonValue Null() noexcept {
        TJsonValue v;
        v.FStore = sNull;
        return v;
    }

    // Kind of the value, or of the target of a reference. A dangling-safe reference always has a target.
    TJsonValueKind Kind() const;
    // True for a member reference (from MemberRef or late-bound access).
    bool IsReference() const { return FStore == sReference; }
    // Empty: no value, or a document that is still undefined (it reads as empty).
    bool IsEmpty() const;
    bool IsNull() const { return Kind() == jkNull; }
    bool IsDocument() const { return Kind() == jkDocument; }
    bool IsString() const { return Kind() == jkString; }
    // The value itself, or a copy of a reference's target (what storing a reference in a document does).
    TJsonValue Deref() const;

    // Late-bound member access, as in Raw.files or doc.data: on a document gives a reference to the first
    // member of that name, or null when there is none or the document is an array. On anything else
    // (scalar, null, empty) raises EVariantInvalidOpError.
    TJsonValue Member(const QString& Name) const;
    TJsonValue operator[](const QString& Name) const { return Member(Name); }
    TJsonValue operator[](const char* Name) const { return Member(QString::fromUtf8(Name)); }

    // Conversions for copying a value into a typed field. Empty gives "", 0, false, 0.0; null raises
    // EVariantTypeCastError; a document converts to its JSON text (and to nothing else); a fraction
    // rounds to the nearest integer with halves to the even neighbour; texts are parsed ("True"/"False"
    // in any letter case, or a number, for booleans); numbers are true when not 0. A boolean's text is
    // "True" or "False"; a double's text follows the JSON writing rules. Out-of-range numbers raise
    // ERangeError; unreadable texts raise EVariantTypeCastError.
    QString AsString() const;
    qint64 AsInt64() const;
    int AsInteger() const;
    bool AsBoolean() const;
    double AsDouble() const;

    // The JSON text of this value: strings quoted and escaped, empty and null as "null".
    QString ToJSON() const;

    // Loose equality as the reading code needs it: null equals only null; a document compares by its
    // JSON text; a number and a text compare as numbers when the text reads as one, else as texts;
    // everything else compares by text (empty as "").
    bool Equals(const TJsonValue& Other) const;
    friend bool operator==(const TJsonValue& A, const TJsonValue& B) { return A.Equals(B); }

private:
    friend class TJSONVariantData;
    friend class TJsonParser;
    friend struct TJsonWriter;
    friend TJSONVariantData SafeJsonData(const TJsonValue& Value, TJSONVariantKind ExpectedKind);
    enum TStore : quint8 { sEmpty, sNull, sBoolean, sInteger, sFloating, sString, sDocument, sReference };
    struct TRef {
        QExplicitlySharedDataPointer<TJsonDocStorage> Doc;
        int Index;
    };

    // The value a reference points at, or this value itself.
    const TJsonValue& Target() const;
    void Clear() noexcept;
    void CopyFrom(const TJsonValue& Other);
    void MoveFrom(TJsonValue&& Other) noexcept;

    union {
        bool FBool;
        qint64 FInt;
        double FFloat;
        QString FString;
        TJSONVariantData FDoc;
        TRef FRef;
    };
    TStore FStore;
};
Q_DECLARE_TYPEINFO(TJsonValue, Q_RELOCATABLE_TYPE);

struct TJsonDocStorage : QSharedData {
    TJSONVariantKind VKind = jvUndefined;
    QList<QString> Names;
    QList<TJsonValue> Values;
};

// The top-level value of Text: a document for an object or array (kept partial up to a fault), the
// scalar for a scalar, empty for an empty or unreadable start. Text after the first value is ignored.
TJsonValue ParseJson(const QString& Text);

// The document held by Value when ExpectedKind is jvUndefined or equals its kind, else the shared empty
// document. A member reference is followed without the kind check.
TJSONVariantData SafeJsonData(const TJsonValue& Value, TJSONVariantKind ExpectedKind = jvUndefined);

// A date-time from "yyyy-mm-dd" ("-" or "/" used twice), "yyyy-mm-ddThh:nn:ss" ("T" or a space) or
// "Thh:nn:ss" (a time on day zero, 30 December 1899). Anything else gives an invalid QDateTime, which
// stands for "no date", as does midnight of day zero. The result is a plain calendar time carried as
// UTC so that no time zone shifts it. A day that does not exist in its month raises EConvertError.
QDateTime JsonTextToDateTime(const QString& Text);

// The whole file decoded as UTF-8 (a byte-order mark is not looked for). Raises EInOutError when the
// file cannot be read.
QString ReadUtf8TextFile(const QString& FileName);

// ---- Object persistence -------------------------------------------------------------------------------
//
// A class persists "published properties" by declaring them in order:
//
//   class TItem {
//   public:
//       static const TJsonPropertyList<TItem>& JsonProperties() {
//           static const TJsonPropertyList<TItem> list{
//               JsonStringProperty<TItem>("_key", &TItem::Key, &TItem::SetKey),
//               JsonStringProperty<TItem>("_name", [](const TItem& i) { return i.FName; },
//                                         [](TItem& i, const QString& v) { i.FName = v; }),
//           };
//           return list;
//       }
//   };
//
// A derived class lists its base's properties first: JsonInheritProperties<TDerived>(TBase::JsonProperties())
// gives them for the derived class, then append its own. Setters may be virtual member functions.

template <class T>
struct TJsonProperty {
    QString Name;
    std::function<TJsonValue(const T&)> Get;
    std::function<void(T&, const TJsonValue&)> Set;
};

template <class T>
using TJsonPropertyList = QList<TJsonProperty<T>>;

// A text property. When read from JSON, null or empty gives "", numbers and booleans give their text.
template <class T, class Getter, class Setter>
TJsonProperty<T> JsonStringProperty(const QString& Name, Getter Get, Setter Set) {
    return TJsonProperty<T>{
        Name,
        [Get](const T& Obj) { return TJsonValue(QString(std::invoke(Get, Obj))); },
        [Set](T& Obj, const TJsonValue& Value) {
            std::invoke(Set, Obj, Value.IsNull() ? QString() : Value.AsString());
        }};
}

// A property of any kind, converted by the caller's own getter and setter.
template <class T>
TJsonProperty<T> JsonValueProperty(const QString& Name, std::function<TJsonValue(const T&)> Get,
                                   std::function<void(T&, const TJsonValue&)> Set) {
    return TJsonProperty<T>{Name, std::move(Get), std::move(Set)};
}

template <class Derived, class Base>
TJsonPropertyList<Derived> JsonInheritProperties(const TJsonPropertyList<Base>& BaseList) {
    TJsonPropertyList<Derived> list;
    for (const auto& p : BaseList)
        list.append(TJsonProperty<Derived>{
            p.Name, [g = p.Get](const Derived& Obj) { return g(static_cast<const Base&>(Obj)); },
            [s = p.Set](Derived& Obj, const TJsonValue& Value) { s(static_cast<Base&>(Obj), Value); }});
    return list;
}

// Property names match when they are equal apart from the letter case of A-Z.
bool JsonSameNameIgnoringAsciiCase(QStringView A, QStringView B);

// Type-erased forms behind the templates below.
using TJsonPropertyGetters = QList<QPair<QString, std::function<TJsonValue()>>>;
QString ObjectToJsonText(const TJsonPropertyGetters& Properties);
// Raises EJSONException "JSONVariantData.Data(%d<>JSONVariant)" when Value is a scalar; returns false
// (the whole list fails) when Value is an array or undefined document; else applies each member, in
// document order, through Apply(name) (names matched without regard to ASCII letter case by the caller).
bool JsonDocumentToObject(const TJsonValue& Value,
                          const std::function<void(const QString&, const TJsonValue&)>& Apply);

// Writes the declared properties of Instance as a compact JSON object in declaration order; no
// instance, or one without properties, is "null".
template <class T>
QString ObjectToJsonText(const T* Instance) {
    TJsonPropertyGetters getters;
    if (Instance)
        for (const auto& p : T::JsonProperties())
            getters.append({p.Name, [&p, Instance] { return p.Get(*Instance); }});
    return ObjectToJsonText(getters);
}

// Fills Instance from an object document: members whose names match a property (ASCII letter case
// ignored) set it, in the order of the members; other members are ignored. Returns false when Value is
// not an object; raises EJSONException for a scalar.
template <class T>
bool JsonToObject(const TJsonValue& Value, T& Instance) {
    const auto& props = T::JsonProperties();
    return JsonDocumentToObject(Value, [&](const QString& Name, const TJsonValue& Member) {
        for (const auto& p : props)
            if (JsonSameNameIgnoringAsciiCase(p.Name, Name)) {
                p.Set(Instance, Member);
                return;
            }
    });
}

template <class T>
using TJsonObjectList = std::vector<std::unique_ptr<T>>;

// Parses Text; unless it is an array document gives no list. Otherwise makes one default-constructed T
// per item, in order, filled from the item. An item that is an array (or an undefined document) makes
// the result no list; a scalar item raises EJSONException.
template <class T>
std::optional<TJsonObjectList<T>> JsonTextToObjectList(const QString& Text) {
    const TJsonValue doc = ParseJson(Text);
    const TJSONVariantData data = SafeJsonData(doc, jvArray);
    if (data.VKind() != jvArray)
        return std::nullopt;
    TJsonObjectList<T> list;
    list.reserve(size_t(data.VCount()));
    for (const TJsonValue& item : data.Values()) {
        auto obj = std::make_unique<T>();
        if (!JsonToObject(item, *obj))
            return std::nullopt;
        list.push_back(std::move(obj));
    }
    return list;
}

// ---- inline definitions that need TJsonDocStorage ----------------------------------------------------

inline TJSONVariantData::TJSONVariantData() = default;
inline TJSONVariantData::TJSONVariantData(TJsonDocStorage* Storage) : d(Storage) {}
inline TJSONVariantData::TJSONVariantData(const TJSONVariantData& Other) = default;
inline TJSONVariantData::TJSONVariantData(TJSONVariantData&& Other) noexcept = default;
inline TJSONVariantData& TJSONVariantData::operator=(const TJSONVariantData& Other) = default;
inline TJSONVariantData& TJSONVariantData::operator=(TJSONVariantData&& Other) noexcept = default;
inline TJSONVariantData::~TJSONVariantData() = default;
inline TJSONVariantKind TJSONVariantData::VKind() const { return d ? d->VKind : jvUndefined; }
inline int TJSONVariantData::VCount() const { return d ? int(d->Values.size()) : 0; }

inline const TJsonValue& TJsonValue::Target() const {
    return FStore == sReference ? FRef.Doc->Values.at(FRef.Index) : *this;
}
