#include "Lib/JsonText.h"

#include <QStringDecoder>

#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

// ---- parser ---------------------------------------------------------------------------------------------

// One pass over UTF-16 text. Faults never raise: each level returns false, keeps what it completed,
// and its caller drops the failed member or item and stops too.
class TJsonParser {
public:
    explicit TJsonParser(QStringView Text)
        : p(reinterpret_cast<const char16_t*>(Text.utf16())), end(p + Text.size()) {}

    TJsonValue ParseTop() {
        TJsonValue v;
        ParseValue(v, 0);
        return v;
    }

private:
    const char16_t* p;
    const char16_t* end;
    // Completed items and members of every open document, innermost last; a closing document takes
    // its tail, so lists are built once at their final size.
    std::vector<TJsonValue> FValues;
    std::vector<QString> FNames;
    std::u16string FBuf;
    // Member names and short texts repeat a lot in service documents; equal ones share one buffer.
    std::vector<QString> FShort;

    static bool IsWhite(char16_t c) { return c <= 32; }
    void SkipWhite() {
        while (p < end && IsWhite(*p))
            ++p;
    }

    QString MakeString(const char16_t* s, qsizetype n) {
        if (n == 0)
            return QString();
        if (n > 16)
            return QString(reinterpret_cast<const QChar*>(s), n);
        quint32 h = quint32(n);
        for (qsizetype i = 0; i < n; ++i)
            h = h * 31 + s[i];
        if (FShort.empty())
            FShort.resize(1024);
        QString& slot = FShort[(h ^ (h >> 10)) & (FShort.size() - 1)];
        if (slot.size() == n && std::memcmp(slot.constData(), s, size_t(n) * 2) == 0)
            return slot;
        slot = QString(reinterpret_cast<const QChar*>(s), n);
        return slot;
    }

    static void SetString(TJsonValue& Out, QString&& S) {
        Out.FStore = TJsonValue::sString;
        new (&Out.FString) QString(std::move(S));
    }
    static void SetDoc(TJsonValue& Out, TJsonDocStorage* Storage) {
        Out.FStore = TJsonValue::sDocument;
        new (&Out.FDoc) TJSONVariantData(Storage);
    }

    bool ParseValue(TJsonValue& Out, int Depth) {
        SkipWhite();
        if (p == end)
            return false;
        switch (*p) {
        case u'"': {
            ++p;
            QString s;
            if (!ParseString(s))
                return false;
            SetString(Out, std::move(s));
            return true;
        }
        case u'[':
            if (Depth >= JsonText::MaxDepth)
                return false;
            ++p;
            return ParseArray(Out, Depth + 1);
        case u'{':
            if (Depth >= JsonText::MaxDepth)
                return false;
            ++p;
            return ParseObject(Out, Depth + 1);
        case u't':
            if (end - p >= 4 && p[1] == u'r' && p[2] == u'u' && p[3] == u'e') {
                p += 4;
                Out.FStore = TJsonValue::sBoolean;
                Out.FBool = true;
                return true;
            }
            return false;
        case u'f':
            if (end - p >= 5 && p[1] == u'a' && p[2] == u'l' && p[3] == u's' && p[4] == u'e') {
                p += 5;
                Out.FStore = TJsonValue::sBoolean;
                Out.FBool = false;
                return true;
            }
            return false;
        case u'n':
            if (end - p >= 4 && p[1] == u'u' && p[2] == u'l' && p[3] == u'l') {
                p += 4;
                Out.FStore = TJsonValue::sNull;
                return true;
            }
            return false;
        case u'-':
        case u'0': case u'1': case u'2': case u'3': case u'4':
        case u'5': case u'6': case u'7': case u'8': case u'9':
            return ParseNumber(Out);
        default:
            return false;
        }
    }

    // After the opening quote. A text without closing quote is a fault unless an escape was seen.
    bool ParseString(QString& Out) {
        const char16_t* s = p;
        while (p < end) {
            const char16_t c = *p;
            if (c == u'"') {
                Out = MakeString(s, p - s);
                ++p;
                return true;
            }
            if (c == u'\\')
                break;
            ++p;
        }
        if (p == end)
            return false;
        FBuf.assign(s, p);
        while (p < end) {
            const char16_t* run = p;
            while (p < end && *p != u'"' && *p != u'\\')
                ++p;
            FBuf.append(run, p);
            if (p == end)
                break;
            if (*p++ == u'"')
                break;
            if (p == end)
                break;
            const char16_t c = *p++;
            switch (c) {
            case u'b': FBuf.push_back(8); break;
            case u't': FBuf.push_back(9); break;
            case u'n': FBuf.push_back(10); break;
            case u'f': FBuf.push_back(12); break;
            case u'r': FBuf.push_back(13); break;
            case u'u': {
                char16_t code = 0;
                if (end - p < 4 || !ReadHex4(p, code)) {
                    Out = MakeString(FBuf.data(), qsizetype(FBuf.size()));
                    return true;
                }
                FBuf.push_back(code);
                p += 4;
                break;
            }
            default: FBuf.push_back(c); break;
            }
        }
        Out = MakeString(FBuf.data(), qsizetype(FBuf.size()));
        return true;
    }

    static bool ReadHex4(const char16_t* s, char16_t& Code) {
        unsigned v = 0;
        for (int i = 0; i < 4; ++i) {
            const char16_t c = s[i];
            unsigned d;
            if (c >= u'0' && c <= u'9')
                d = c - u'0';
            else if (c >= u'a' && c <= u'f')
                d = c - u'a' + 10;
            else if (c >= u'A' && c <= u'F')
                d = c - u'A' + 10;
            else
                return false;
            v = v * 16 + d;
        }
        Code = char16_t(v);
        return true;
    }

    bool ParseNumber(TJsonValue& Out) {
        const char16_t* s = p;
        while (p < end) {
            const char16_t c = *p;
            if ((c >= u'0' && c <= u'9') || c == u'-' || c == u'+' || c == u'.' || c == u'E' || c == u'e')
                ++p;
            else
                break;
        }
        const QStringView token(s, p - s);
        if (JsonText::ReadInteger(token, Out.FInt)) {
            Out.FStore = TJsonValue::sInteger;
            return true;
        }
        if (JsonText::ReadFloat(token, Out.FFloat)) {
            Out.FStore = TJsonValue::sFloating;
            return true;
        }
        return false;
    }

    bool ParseArray(TJsonValue& Out, int Depth) {
        const size_t base = FValues.size();
        bool closed = false;
        SkipWhite();
        if (p < end && *p == u']') {
            ++p;
            closed = true;
        } else {
            for (;;) {
                TJsonValue item;
                if (!ParseValue(item, Depth))
                    break;
                FValues.push_back(std::move(item));
                SkipWhite();
                if (p == end)
                    break;
                const char16_t c = *p++;
                if (c == u',')
                    continue;
                closed = c == u']';
                break;
            }
        }
        const size_t count = FValues.size() - base;
        if (count == 0 && !closed) {
            SetDoc(Out, nullptr);
            return false;
        }
        auto* doc = new TJsonDocStorage;
        doc->VKind = jvArray;
        doc->Values.reserve(qsizetype(count));
        for (size_t i = base; i < FValues.size(); ++i)
            doc->Values.append(std::move(FValues[i]));
        FValues.resize(base);
        SetDoc(Out, doc);
        return closed;
    }

    // An unquoted member name: [A-Za-z_$][A-Za-z0-9_]* followed directly by ':' or '='.
    bool ParseBareName(QString& Name) {
        const char16_t* s = p;
        if (p == end)
            return false;
        char16_t c = *p;
        if (!((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_' || c == u'$'))
            return false;
        ++p;
        while (p < end) {
            c = *p;
            if ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'_') {
                ++p;
                continue;
            }
            if (c == u':' || c == u'=') {
                Name = MakeString(s, p - s);
                ++p;
                return true;
            }
            return false;
        }
        return false;
    }

    bool ParseObject(TJsonValue& Out, int Depth) {
        const size_t base = FValues.size();
        bool closed = false;
        SkipWhite();
        if (p < end && *p == u'}') {
            ++p;
            closed = true;
        } else {
            for (;;) {
                SkipWhite();
                if (p == end)
                    break;
                QString name;
                if (*p == u'"') {
                    ++p;
                    if (!ParseString(name))
                        break;
                    SkipWhite();
                    if (p == end || *p != u':')
                        break;
                    ++p;
                } else if (!ParseBareName(name)) {
                    break;
                }
                TJsonValue value;
                if (!ParseValue(value, Depth))
                    break;
                FNames.push_back(std::move(name));
                FValues.push_back(std::move(value));
                SkipWhite();
                if (p == end)
                    break;
                const char16_t c = *p++;
                if (c == u',')
                    continue;
                closed = c == u'}';
                break;
            }
        }
        const size_t count = FValues.size() - base;
        if (count == 0 && !closed) {
            SetDoc(Out, nullptr);
            return false;
        }
        const size_t nameBase = FNames.size() - count;
        auto* doc = new TJsonDocStorage;
        doc->VKind = jvObject;
        doc->Names.reserve(qsizetype(count));
        doc->Values.reserve(qsizetype(count));
        for (size_t i = 0; i < count; ++i) {
            doc->Names.append(std::move(FNames[nameBase + i]));
            doc->Values.append(std::move(FValues[base + i]));
        }
        FNames.resize(nameBase);
        FValues.resize(base);
        SetDoc(Out, doc);
        return closed;
    }
};

// ---- writer ---------------------------------------------------------------------------------------------

struct TJsonWriter {
    QString FOut;
    char16_t* FData = nullptr;
    qsizetype FLen = 0;
    qsizetype FCap = 0;

    void Reserve(qsizetype n) {
        if (FLen + n > FCap) {
            FCap = std::max(FCap * 2, FLen + n + 256);
            FOut.resize(FCap);
            FData = reinterpret_cast<char16_t*>(FOut.data());
        }
    }
    void Put(char16_t c) {
        Reserve(1);
        FData[FLen++] = c;
    }
    void PutAscii(const char* s, size_t n) {
        Reserve(qsizetype(n));
        for (size_t i = 0; i < n; ++i)
            FData[FLen++] = char16_t(static_cast<unsigned char>(s[i]));
    }
    void PutText(const QString& s) {
        Reserve(s.size());
        std::memcpy(FData + FLen, s.constData(), size_t(s.size()) * 2);
        FLen += s.size();
    }
    QString Take() {
        FOut.resize(FLen);
        return std::move(FOut);
    }

    static bool NeedsEscape(char16_t c) { return c < 32 || c == u'"' || c == u'\\'; }

    void WriteString(const QString& s) {
        const char16_t* c = reinterpret_cast<const char16_t*>(s.constData());
        const char16_t* e = c + s.size();
        Reserve(s.size() + 2);
        FData[FLen++] = u'"';
        while (c < e) {
            const char16_t* run = c;
            while (c < e && !NeedsEscape(*c))
                ++c;
            if (c > run) {
                Reserve(c - run);
                std::memcpy(FData + FLen, run, size_t(c - run) * 2);
                FLen += c - run;
            }
            if (c == e)
                break;
            const char16_t ch = *c++;
            switch (ch) {
            case 8: PutAscii("\\b", 2); break;
            case 9: PutAscii("\\t", 2); break;
            case 10: PutAscii("\\n", 2); break;
            case 12: PutAscii("\\f", 2); break;
            case 13: PutAscii("\\r", 2); break;
            case u'"': PutAscii("\\\"", 2); break;
            case u'\\': PutAscii("\\\\", 2); break;
            default: {
                static const char hex[] = "0123456789ABCDEF";
                const char u[6] = {'\\', 'u', '0', '0', hex[ch >> 4], hex[ch & 15]};
                PutAscii(u, 6);
            }
            }
        }
        Put(u'"');
    }

    void WriteInteger(qint64 v) {
        char buf[24];
        const auto r = std::to_chars(buf, buf + sizeof buf, v);
        PutAscii(buf, size_t(r.ptr - buf));
    }

    void WriteValue(const TJsonValue& Value) {
        const TJsonValue& v = Value.Target();
        switch (v.FStore) {
        case TJsonValue::sEmpty:
        case TJsonValue::sNull: PutAscii("null", 4); break;
        case TJsonValue::sBoolean: v.FBool ? PutAscii("true", 4) : PutAscii("false", 5); break;
        case TJsonValue::sInteger: WriteInteger(v.FInt); break;
        case TJsonValue::sFloating:
            // Infinities and NaNs have no JSON form; writing them would make the text unreadable.
            if (std::isfinite(v.FFloat))
                PutText(JsonText::FloatToText(v.FFloat));
            else
                PutAscii("null", 4);
            break;
        case TJsonValue::sString: WriteString(v.FString); break;
        default: WriteDocument(v.FDoc); break;
        }
    }

    void WriteDocument(const TJSONVariantData& Doc) {
        switch (Doc.VKind()) {
        case jvUndefined: PutAscii("null", 4); return;
        case jvArray: {
            Put(u'[');
            bool first = true;
            for (const TJsonValue& v : Doc.Values()) {
                if (!first)
                    Put(u',');
                first = false;
                WriteValue(v);
            }
            Put(u']');
            return;
        }
        case jvObject: {
            Put(u'{');
            const QList<QString>& names = Doc.Names();
            const QList<TJsonValue>& values = Doc.Values();
            for (qsizetype i = 0; i < values.size(); ++i) {
                if (i)
                    Put(u',');
                WriteString(names[i]);
                Put(u':');
                WriteValue(values[i]);
            }
            Put(u'}');
            return;
        }
        }
    }
};

// ---- shared number texts --------------------------------------------------------------------------------

namespace JsonText {

TJsonValue Parse(QStringView Text) { return TJsonParser(Text).ParseTop(); }

QString WriteValue(const TJsonValue& Value) {
    TJsonWriter w;
    w.WriteValue(Value);
    return w.Take();
}

QString WriteDocument(const TJSONVariantData& Doc) {
    TJsonWriter w;
    w.WriteDocument(Doc);
    return w.Take();
}

QString FloatToText(double Value) {
    if (std::isnan(Value))
        return QStringLiteral("NAN");
    if (std::isinf(Value))
        return Value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
    if (Value == 0)
        return QStringLiteral("0");
    // 15 significant digits, correctly rounded: "d.dddddddddddddde[+-]x".
    char sci[40];
    const auto r = std::to_chars(sci, sci + sizeof sci, Value, std::chars_format::scientific, 14);
    const char* c = sci;
    const bool negative = *c == '-';
    if (negative)
        ++c;
    char digits[16];
    int nd = 0;
    for (; c < r.ptr && *c != 'e'; ++c)
        if (*c != '.')
            digits[nd++] = *c;
    // The exponent as to_chars wrote it: "e", a sign, digits (the buffer is not NUL-terminated).
    int exponent = 0;
    const bool negativeExponent = c + 1 < r.ptr && c[1] == '-';
    for (const char* x = c + 2; x < r.ptr; ++x)
        exponent = exponent * 10 + (*x - '0');
    if (negativeExponent)
        exponent = -exponent;
    while (nd > 1 && digits[nd - 1] == '0')
        --nd;

    std::string out;
    if (negative)
        out += '-';
    if (exponent >= 15 || exponent < -5) {
        out += digits[0];
        if (nd > 1) {
            out += '.';
            out.append(digits + 1, size_t(nd - 1));
        }
        out += 'E';
        out += std::to_string(exponent);
    } else if (exponent < 0) {
        out += "0.";
        out.append(size_t(-exponent - 1), '0');
        out.append(digits, size_t(nd));
    } else {
        const int intDigits = exponent + 1;
        for (int i = 0; i < intDigits; ++i)
            out += i < nd ? digits[i] : '0';
        if (nd > intDigits) {
            out += '.';
            out.append(digits + intDigits, size_t(nd - intDigits));
        }
    }
    return QString::fromLatin1(out.data(), qsizetype(out.size()));
}

bool ReadInteger(QStringView Text, qint64& Value) {
    const char16_t* c = reinterpret_cast<const char16_t*>(Text.utf16());
    const char16_t* e = c + Text.size();
    const bool negative = c < e && *c == u'-';
    if (negative)
        ++c;
    if (c == e)
        return false;
    quint64 v = 0;
    const quint64 limit = negative ? quint64(1) << 63 : (quint64(1) << 63) - 1;
    for (; c < e; ++c) {
        const unsigned d = unsigned(*c) - u'0';
        if (d > 9)
            return false;
        if (v > (limit - d) / 10)
            return false;
        v = v * 10 + d;
    }
    Value = negative ? qint64(0 - v) : qint64(v);
    return true;
}

namespace {

// The power of ten of the first significant digit of a well-formed number text (its sign ignored).
qint64 DecimalMagnitude(const char* s, qsizetype n) {
    qsizetype i = 0;
    if (i < n && s[i] == '-')
        ++i;
    qint64 intDigits = 0, fractionZeros = 0;
    bool afterPoint = false, significant = false;
    for (; i < n && s[i] != 'e' && s[i] != 'E'; ++i) {
        if (s[i] == '.')
            afterPoint = true;
        else if (!afterPoint && (significant || s[i] != '0'))
            ++intDigits, significant = true;
        else if (afterPoint && !significant && s[i] == '0')
            ++fractionZeros;
        else
            significant = true;
    }
    qint64 exponent = 0;
    bool negative = false;
    if (i < n) {
        ++i;
        if (i < n && (s[i] == '-' || s[i] == '+'))
            negative = s[i++] == '-';
        for (; i < n; ++i)
            exponent = std::min<qint64>(exponent * 10 + (s[i] - '0'), qint64(1) << 40);
    }
    const qint64 magnitude = intDigits > 0 ? intDigits - 1 : -(fractionZeros + 1);
    return magnitude + (negative ? -exponent : exponent);
}

} // namespace

bool ReadFloat(QStringView Text, double& Value) {
    const qsizetype n = Text.size();
    if (n == 0)
        return false;
    char small[64];
    std::string large;
    char* buf = small;
    if (n >= qsizetype(sizeof small)) {
        large.resize(size_t(n));
        buf = large.data();
    }
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = Text.utf16()[i];
        if (!((c >= u'0' && c <= u'9') || c == u'-' || c == u'+' || c == u'.' || c == u'E' || c == u'e'))
            return false;
        buf[i] = char(c);
    }
    const auto r = std::from_chars(buf, buf + n, Value, std::chars_format::general);
    if (r.ptr != buf + n)
        return false;
    if (r.ec == std::errc::result_out_of_range) {
        // Too small to hold reads as zero; too large is not a number we can keep.
        if (DecimalMagnitude(buf, n) >= 0)
            return false;
        Value = buf[0] == '-' ? -0.0 : 0.0;
        return true;
    }
    return r.ec == std::errc();
}

QString Utf8ToText(const QByteArray& Bytes) {
    // QString::fromUtf8 drops a leading byte-order mark; this keeps every character of the file.
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
    return decoder(Bytes);
}

} // namespace JsonText
