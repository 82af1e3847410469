#include "Lib/Json.h"

#include "App/Exceptions.h"
#include "Lib/JsonText.h"

#include <QFile>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

const QList<QString> EmptyNames;
const QList<TJsonValue> EmptyValues;

QString StoreTypeName(TJsonValueKind Kind) {
    switch (Kind) {
    case jkEmpty: return QStringLiteral("Empty");
    case jkNull: return QStringLiteral("Null");
    case jkBoolean: return QStringLiteral("Boolean");
    case jkInteger: return QStringLiteral("Int64");
    case jkFloating: return QStringLiteral("Double");
    case jkString: return QStringLiteral("UnicodeString");
    case jkDocument: return QStringLiteral("TJSONVariant");
    }
    return {};
}

[[noreturn]] void RaiseCast(TJsonValueKind From, const char* To) {
    throw EVariantTypeCastError(QStringLiteral("Could not convert variant of type (%1) into type (%2)")
                                    .arg(StoreTypeName(From), QString::fromLatin1(To)));
}

[[noreturn]] void RaiseRange() {
    throw ERangeError(QStringLiteral("Range check error"));
}

// Rounds to the nearest integer, halves to the even neighbour, and checks the 64-bit range.
qint64 RoundToInt64(double Value) {
    const double r = std::nearbyint(Value);
    if (!(r >= -9223372036854775808.0 && r < 9223372036854775808.0))
        RaiseRange();
    return qint64(r);
}

// A number written as text, the way typed fields read it: surrounding whitespace allowed, then an
// integer or a floating number with "." as separator.
bool TextToNumber(const QString& Text, bool& IsInteger, qint64& Int, double& Float) {
    const QString t = Text.trimmed();
    if (t.isEmpty())
        return false;
    QStringView v(t);
    if (v.front() == u'+')
        v = v.mid(1);
    if (JsonText::ReadInteger(v, Int)) {
        IsInteger = true;
        return true;
    }
    if (JsonText::ReadFloat(v, Float)) {
        IsInteger = false;
        return true;
    }
    return false;
}

} // namespace

// ---- TJSONVariantData ---------------------------------------------------------------------------------

TJSONVariantData::TJSONVariantData(const QString& JSON) { Init(JSON); }

void TJSONVariantData::Init() { d.reset(); }

void TJSONVariantData::Init(const QString& JSON) {
    const TJsonValue v = ParseJson(JSON);
    if (v.FStore == TJsonValue::sDocument)
        *this = v.FDoc;
    else
        d.reset();
}

const QList<QString>& TJSONVariantData::Names() const { return d ? d->Names : EmptyNames; }
const QList<TJsonValue>& TJSONVariantData::Values() const { return d ? d->Values : EmptyValues; }

void TJSONVariantData::Detach() {
    if (!d)
        d = new TJsonDocStorage;
    else
        d.detach();
}

int TJSONVariantData::NameIndex(const QString& aName) const {
    if (!d || d->VKind != jvObject)
        return -1;
    const QList<QString>& names = d->Names;
    for (qsizetype i = 0, n = names.size(); i < n; ++i)
        if (names[i] == aName)
            return int(i);
    return -1;
}

TJsonValue TJSONVariantData::MemberRef(const QString& Name) const {
    const int i = NameIndex(Name);
    if (i < 0)
        return {};
    TJsonValue r;
    r.FStore = TJsonValue::sReference;
    new (&r.FRef) TJsonValue::TRef{d, i};
    return r;
}

TJsonValue TJSONVariantData::MemberCopy(const QString& Name) const {
    const int i = NameIndex(Name);
    return i < 0 ? TJsonValue() : d->Values[i];
}

TJsonValue TJSONVariantData::GetValueCopyDefault(const QString& aName, const TJsonValue& DefaultValue) const {
    TJsonValue v = MemberCopy(aName);
    return v.FStore == TJsonValue::sNull ? DefaultValue.Deref() : v;
}

TJsonValue TJSONVariantData::ItemCopy(int Index) const {
    if (!d || d->VKind != jvArray || Index < 0 || Index >= d->Values.size())
        return {};
    return d->Values[Index];
}

void TJSONVariantData::AddNameValue(const QString& aName, const TJsonValue& aValue) {
    TJsonValue v = aValue.Deref();
    Detach();
    if (d->VKind == jvUndefined)
        d->VKind = jvObject;
    d->Names.append(aName);
    d->Values.append(std::move(v));
}

void TJSONVariantData::AddValue(const TJsonValue& aValue) {
    TJsonValue v = aValue.Deref();
    Detach();
    if (d->VKind == jvUndefined)
        d->VKind = jvArray;
    d->Values.append(std::move(v));
}

QString TJSONVariantData::ToJSON() const { return JsonText::WriteDocument(*this); }

// ---- TJsonValue -----------------------------------------------------------------------------------------

void TJsonValue::Clear() noexcept {
    switch (FStore) {
    case sString: FString.~QString(); break;
    case sDocument: FDoc.~TJSONVariantData(); break;
    case sReference: FRef.~TRef(); break;
    default: break;
    }
    FStore = sEmpty;
}

void TJsonValue::CopyFrom(const TJsonValue& Other) {
    FStore = Other.FStore;
    switch (FStore) {
    case sString: new (&FString) QString(Other.FString); break;
    case sDocument: new (&FDoc) TJSONVariantData(Other.FDoc); break;
    case sReference: new (&FRef) TRef(Other.FRef); break;
    default: FInt = Other.FInt; break;
    }
}

void TJsonValue::MoveFrom(TJsonValue&& Other) noexcept {
    // Every member is relocatable (plain data or a single shared pointer), so the bytes move as they are.
    std::memcpy(static_cast<void*>(this), static_cast<const void*>(&Other), sizeof(TJsonValue));
    Other.FStore = sEmpty;
}

TJsonValueKind TJsonValue::Kind() const {
    switch (Target().FStore) {
    case sEmpty: return jkEmpty;
    case sNull: return jkNull;
    case sBoolean: return jkBoolean;
    case sInteger: return jkInteger;
    case sFloating: return jkFloating;
    case sString: return jkString;
    default: return jkDocument;
    }
}

bool TJsonValue::IsEmpty() const {
    const TJsonValue& t = Target();
    return t.FStore == sEmpty || (t.FStore == sDocument && t.FDoc.VKind() == jvUndefined);
}

TJsonValue TJsonValue::Deref() const { return Target(); }

TJsonValue TJsonValue::Member(const QString& Name) const {
    const TJsonValue& t = Target();
    if (t.FStore != sDocument)
        throw EVariantInvalidOpError(QStringLiteral("Invalid variant operation"));
    TJsonValue r = t.FDoc.MemberRef(Name);
    return r.FStore == sEmpty ? Null() : r;
}

QString TJsonValue::AsString() const {
    const TJsonValue& t = Target();
    switch (t.FStore) {
    case sEmpty: return {};
    case sNull: RaiseCast(jkNull, "UnicodeString");
    case sBoolean: return t.FBool ? QStringLiteral("True") : QStringLiteral("False");
    case sInteger: return QString::number(t.FInt);
    case sFloating: return JsonText::FloatToText(t.FFloat);
    case sString: return t.FString;
    default: return t.FDoc.ToJSON();
    }
}

qint64 TJsonValue::AsInt64() const {
    const TJsonValue& t = Target();
    switch (t.FStore) {
    case sEmpty: return 0;
    case sNull: RaiseCast(jkNull, "Int64");
    case sBoolean: return t.FBool ? 1 : 0;
    case sInteger: return t.FInt;
    case sFloating: return RoundToInt64(t.FFloat);
    default: {
        bool isInt = false;
        qint64 i = 0;
        double f = 0;
        if (!TextToNumber(t.AsString(), isInt, i, f))
            RaiseCast(t.Kind(), "Int64");
        return isInt ? i : RoundToInt64(f);
    }
    }
}

int TJsonValue::AsInteger() const {
    const qint64 v = AsInt64();
    if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
        RaiseRange();
    return int(v);
}

bool TJsonValue::AsBoolean() const {
    const TJsonValue& t = Target();
    switch (t.FStore) {
    case sEmpty: return false;
    case sNull: RaiseCast(jkNull, "Boolean");
    case sBoolean: return t.FBool;
    case sInteger: return t.FInt != 0;
    case sFloating: return t.FFloat != 0;
    default: {
        const QString s = t.AsString().trimmed();
        if (s.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return true;
        if (s.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
            return false;
        bool isInt = false;
        qint64 i = 0;
        double f = 0;
        if (!TextToNumber(s, isInt, i, f))
            RaiseCast(t.Kind(), "Boolean");
        return isInt ? i != 0 : f != 0;
    }
    }
}

double TJsonValue::AsDouble() const {
    const TJsonValue& t = Target();
    switch (t.FStore) {
    case sEmpty: return 0;
    case sNull: RaiseCast(jkNull, "Double");
    case sBoolean: return t.FBool ? 1 : 0;
    case sInteger: return double(t.FInt);
    case sFloating: return t.FFloat;
    default: {
        bool isInt = false;
        qint64 i = 0;
        double f = 0;
        if (!TextToNumber(t.AsString(), isInt, i, f))
            RaiseCast(t.Kind(), "Double");
        return isInt ? double(i) : f;
    }
    }
}

QString TJsonValue::ToJSON() const { return JsonText::WriteValue(*this); }

bool TJsonValue::Equals(const TJsonValue& Other) const {
    const TJsonValue& a = Target();
    const TJsonValue& b = Other.Target();
    if (a.FStore == sNull || b.FStore == sNull)
        return a.FStore == b.FStore;
    const auto isNumber = [](const TJsonValue& v) {
        return v.FStore == sBoolean || v.FStore == sInteger || v.FStore == sFloating;
    };
    if (a.FStore == sInteger && b.FStore == sInteger)
        return a.FInt == b.FInt;
    const auto numberOf = [&](const TJsonValue& v, double& out) {
        if (isNumber(v)) {
            out = v.AsDouble();
            return true;
        }
        if (v.FStore != sString)
            return false;
        bool isInt = false;
        qint64 i = 0;
        if (!TextToNumber(v.FString, isInt, i, out))
            return false;
        if (isInt)
            out = double(i);
        return true;
    };
    if (isNumber(a) || isNumber(b)) {
        double x = 0, y = 0;
        if (numberOf(a, x) && numberOf(b, y))
            return x == y;
    }
    return a.AsString() == b.AsString();
}

// ---- free functions -------------------------------------------------------------------------------------

TJsonValue ParseJson(const QString& Text) { return JsonText::Parse(QStringView(Text)); }

TJSONVariantData SafeJsonData(const TJsonValue& Value, TJSONVariantKind ExpectedKind) {
    const TJsonValue& t = Value.Target();
    if (t.FStore != TJsonValue::sDocument)
        return {};
    if (Value.IsReference() || ExpectedKind == jvUndefined || ExpectedKind == t.FDoc.VKind())
        return t.FDoc;
    return {};
}

namespace {

// Reads Count decimal digits at Pos the simple way (each character minus '0'), as the date shapes ask.
int Digits(const QString& Text, int Pos, int Count) {
    int v = 0;
    for (int i = 0; i < Count; ++i)
        v = v * 10 + (Text[Pos + i].unicode() - u'0');
    return v;
}

} // namespace

QDateTime JsonTextToDateTime(const QString& Text) {
    const qsizetype len = Text.size();
    int y = 1899, m = 12, d = 30, h = 0, n = 0, s = 0;
    bool hasDate = false, hasTime = false;
    if (len == 10 || len == 19) {
        const QChar sep = Text[4];
        if (Text[7] != sep || (sep != u'-' && sep != u'/'))
            return {};
        if (len == 19 && ((Text[10] != u'T' && Text[10] != u' ') || Text[13] != u':' || Text[16] != u':'))
            return {};
        y = Digits(Text, 0, 4);
        m = Digits(Text, 5, 2);
        d = Digits(Text, 8, 2);
        hasDate = true;
        if (len == 19) {
            h = Digits(Text, 11, 2);
            n = Digits(Text, 14, 2);
            s = Digits(Text, 17, 2);
            hasTime = true;
        }
    } else if (len == 9) {
        if (Text[0] != u'T' || Text[3] != u':' || Text[6] != u':')
            return {};
        h = Digits(Text, 1, 2);
        n = Digits(Text, 4, 2);
        s = Digits(Text, 7, 2);
        hasTime = true;
    } else {
        return {};
    }
    if (hasDate && (y < 0 || y > 9999 || m < 1 || m > 12 || d < 1 || d > 31))
        return {};
    if (hasTime && (h < 0 || h > 23 || n < 0 || n > 59 || s < 0 || s > 59))
        return {};
    const QDate date(y, m, d);
    if (!date.isValid())
        throw EConvertError(QStringLiteral("Invalid argument to date encode"));
    // Midnight of day zero is the "no date" value itself.
    if (y == 1899 && m == 12 && d == 30 && h == 0 && n == 0 && s == 0)
        return {};
    return QDateTime(date, QTime(h, n, s), Qt::UTC);
}

QString ReadUtf8TextFile(const QString& FileName) {
    QFile f(FileName);
    if (!f.open(QIODevice::ReadOnly))
        throw EInOutError(QStringLiteral("Cannot open file \"%1\". %2").arg(FileName, f.errorString()));
    const QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError)
        throw EInOutError(QStringLiteral("Cannot read file \"%1\". %2").arg(FileName, f.errorString()));
    return JsonText::Utf8ToText(bytes);
}

bool JsonSameNameIgnoringAsciiCase(QStringView A, QStringView B) {
    if (A.size() != B.size())
        return false;
    const auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
    for (qsizetype i = 0; i < A.size(); ++i)
        if (lower(A[i].unicode()) != lower(B[i].unicode()))
            return false;
    return true;
}

QString ObjectToJsonText(const TJsonPropertyGetters& Properties) {
    if (Properties.isEmpty())
        return QStringLiteral("null");
    TJSONVariantData doc;
    for (const auto& p : Properties)
        doc.AddNameValue(p.first, p.second());
    return doc.ToJSON();
}

bool JsonDocumentToObject(const TJsonValue& Value,
                          const std::function<void(const QString&, const TJsonValue&)>& Apply) {
    // The type codes of the platform's variant, which the message has always shown.
    int typeCode = 0;
    switch (Value.Kind()) {
    case jkDocument: {
        const TJSONVariantData doc = SafeJsonData(Value);
        if (doc.VKind() != jvObject)
            return false;
        const QList<QString>& names = doc.Names();
        const QList<TJsonValue>& values = doc.Values();
        for (qsizetype i = 0; i < values.size(); ++i)
            Apply(names[i], values[i]);
        return true;
    }
    case jkEmpty: typeCode = 0; break;
    case jkNull: typeCode = 1; break;
    case jkFloating: typeCode = 5; break;
    case jkBoolean: typeCode = 11; break;
    case jkInteger: typeCode = 20; break;
    case jkString: typeCode = 258; break;
    }
    throw EJSONException(QStringLiteral("JSONVariantData.Data(%1<>JSONVariant)").arg(typeCode));
}
