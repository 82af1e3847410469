#include "Platform/IniFile.h"

#include "App/Exceptions.h"
#include "Platform/SafeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <mutex>
#include <optional>
#include <vector>

namespace {

enum class TLineKind { Other, Section, Key };

// One line of the file as byte offsets, so that edits can splice the original bytes.
struct TIniLine {
    qsizetype Start = 0;   // first byte
    qsizetype End = 0;     // end of the text, before the line break
    qsizetype Next = 0;    // first byte of the following line
    qsizetype ValueAt = 0; // key lines: first byte after "="
    TLineKind Kind = TLineKind::Other;
    QString Name; // section or key name, trimmed
};

struct TIniDocument {
    QByteArray Bytes;
    std::vector<TIniLine> Lines;
    QByteArray LineBreak = "\n";
};

// A write reads, edits and replaces the whole file; two at once in one process would lose one of them.
std::mutex gWriteMutex;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

QString TrimBlanks(const QString& s) {
    qsizetype b = 0, e = s.size();
    while (b < e && (s[b] == u' ' || s[b] == u'\t'))
        ++b;
    while (e > b && (s[e - 1] == u' ' || s[e - 1] == u'\t' || s[e - 1] == u'\r'))
        --e;
    return s.mid(b, e - b);
}

TIniDocument Parse(QByteArray bytes) {
    TIniDocument doc;
    doc.Bytes = std::move(bytes);
    const QByteArray& b = doc.Bytes;
    if (b.contains("\r\n"))
        doc.LineBreak = "\r\n";
    qsizetype pos = b.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (pos < b.size()) {
        TIniLine line;
        line.Start = pos;
        qsizetype nl = b.indexOf('\n', pos);
        line.Next = nl < 0 ? b.size() : nl + 1;
        line.End = nl < 0 ? b.size() : nl;
        if (line.End > line.Start && b[line.End - 1] == '\r')
            --line.End;
        qsizetype s = line.Start;
        while (s < line.End && IsBlank(b[s]))
            ++s;
        const QByteArrayView text(b.constData() + s, line.End - s);
        if (text.startsWith('[')) {
            qsizetype close = text.indexOf(']');
            line.Kind = TLineKind::Section;
            line.Name =
                TrimBlanks(QString::fromUtf8(text.sliced(1, close < 0 ? text.size() - 1 : close - 1)));
        } else if (!text.startsWith(';')) {
            const qsizetype eq = text.indexOf('=');
            if (eq > 0) {
                line.Name = TrimBlanks(QString::fromUtf8(text.first(eq)));
                if (!line.Name.isEmpty()) {
                    line.Kind = TLineKind::Key;
                    line.ValueAt = s + eq + 1;
                }
            }
        }
        doc.Lines.push_back(std::move(line));
        pos = doc.Lines.back().Next;
    }
    return doc;
}

TIniDocument Load(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return Parse(file.readAll());
}

bool SameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Index range [first, last) of the lines after the first header of the section; nullopt when missing.
std::optional<std::pair<size_t, size_t>> FindSection(const TIniDocument& doc, const QString& section) {
    const QString wanted = TrimBlanks(section);
    for (size_t i = 0; i < doc.Lines.size(); ++i) {
        if (doc.Lines[i].Kind != TLineKind::Section || !SameName(doc.Lines[i].Name, wanted))
            continue;
        size_t j = i + 1;
        while (j < doc.Lines.size() && doc.Lines[j].Kind != TLineKind::Section)
            ++j;
        return std::make_pair(i + 1, j);
    }
    return std::nullopt;
}

const TIniLine* FindKey(const TIniDocument& doc, const QString& section, const QString& key) {
    const auto range = FindSection(doc, section);
    if (!range)
        return nullptr;
    const QString wanted = TrimBlanks(key);
    for (size_t i = range->first; i < range->second; ++i)
        if (doc.Lines[i].Kind == TLineKind::Key && SameName(doc.Lines[i].Name, wanted))
            return &doc.Lines[i];
    return nullptr;
}

QString ValueOf(const TIniDocument& doc, const TIniLine& line) {
    QString value = TrimBlanks(QString::fromUtf8(doc.Bytes.mid(line.ValueAt, line.End - line.ValueAt)));
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
        value.back() == value.front())
        value = value.mid(1, value.size() - 2);
    return value.left(TIniFile::MaxValueLength);
}

bool HasLineBreak(const QString& s) {
    return s.contains(u'\n') || s.contains(u'\r');
}

[[noreturn]] void CannotWrite(const QString& fileName) {
    throw EIniFileException(QStringLiteral("Unable to write to %1").arg(fileName));
}

} // namespace

bool TryStrToInt(const QString& text, int& value) {
    QString s = text;
    bool negative = false;
    if (s.startsWith(u'-') || s.startsWith(u'+')) {
        negative = s.front() == u'-';
        s.remove(0, 1);
    }
    int base = 10;
    if (s.startsWith(u'$')) {
        base = 16;
        s.remove(0, 1);
    } else if (s.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        base = 16;
        s.remove(0, 2);
    }
    if (s.isEmpty())
        return false;
    for (QChar c : s)
        if (!(c.isDigit() && c.unicode() < 128) &&
            !(base == 16 && QStringLiteral("abcdefABCDEF").contains(c)))
            return false;
    bool ok = false;
    const qulonglong magnitude = s.toULongLong(&ok, base);
    if (!ok)
        return false;
    if (base == 16) {
        // Hexadecimal texts cover the whole 32-bit pattern, as "$FFFFFFFF" is -1.
        if (magnitude > 0xFFFFFFFFull)
            return false;
        const qint32 bits = qint32(quint32(magnitude));
        value = negative ? -bits : bits;
        return true;
    }
    if (magnitude > (negative ? 2147483648ull : 2147483647ull))
        return false;
    value = negative ? int(-qint64(magnitude)) : int(magnitude);
    return true;
}

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& defaultValue) const {
    const TIniDocument doc = Load(FFileName);
    const TIniLine* line = FindKey(doc, section, key);
    return line ? ValueOf(doc, *line) : defaultValue.left(MaxValueLength);
}

int TIniFile::ReadInteger(const QString& section, const QString& key, int defaultValue) const {
    int value = 0;
    return TryStrToInt(ReadString(section, key, QString()), value) ? value : defaultValue;
}

bool TIniFile::ReadBool(const QString& section, const QString& key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

QStringList TIniFile::ReadSection(const QString& section) const {
    const TIniDocument doc = Load(FFileName);
    QStringList keys;
    if (const auto range = FindSection(doc, section))
        for (size_t i = range->first; i < range->second; ++i)
            if (doc.Lines[i].Kind == TLineKind::Key)
                keys.append(doc.Lines[i].Name);
    return keys;
}

QStringList TIniFile::ReadSections() const {
    const TIniDocument doc = Load(FFileName);
    QStringList sections;
    for (const TIniLine& line : doc.Lines)
        if (line.Kind == TLineKind::Section && !sections.contains(line.Name, Qt::CaseInsensitive))
            sections.append(line.Name);
    return sections;
}

bool TIniFile::SectionExists(const QString& section) const {
    return FindSection(Load(FFileName), section).has_value();
}

bool TIniFile::ValueExists(const QString& section, const QString& key) const {
    return FindKey(Load(FFileName), section, key) != nullptr;
}

void TIniFile::WriteString(const QString& section, const QString& key, const QString& value) {
    const QString sectionName = TrimBlanks(section), keyName = TrimBlanks(key);
    if (sectionName.isEmpty() || keyName.isEmpty() || HasLineBreak(section) || HasLineBreak(key) ||
        HasLineBreak(value) || sectionName.contains(u']') || keyName.contains(u'=') ||
        keyName.startsWith(u'[') || keyName.startsWith(u';'))
        CannotWrite(FFileName);

    std::lock_guard lock(gWriteMutex);
    QFile file(FFileName);
    if (file.exists() && !file.open(QIODevice::ReadOnly))
        CannotWrite(FFileName);
    TIniDocument doc = Parse(file.isOpen() ? file.readAll() : QByteArray());
    file.close();

    QByteArray& bytes = doc.Bytes;
    const QByteArray& br = doc.LineBreak;
    const QByteArray valueBytes = value.toUtf8();
    if (const TIniLine* line = FindKey(doc, sectionName, keyName)) {
        bytes.replace(line->ValueAt, line->End - line->ValueAt, valueBytes);
    } else if (const auto range = FindSection(doc, sectionName)) {
        // After the last key of the section, so that blank lines and comments before the next section stay.
        size_t after = range->first - 1;
        for (size_t i = range->first; i < range->second; ++i)
            if (doc.Lines[i].Kind == TLineKind::Key)
                after = i;
        const TIniLine& anchor = doc.Lines[after];
        QByteArray insert = keyName.toUtf8() + '=' + valueBytes + br;
        if (anchor.Next == bytes.size() && !bytes.endsWith('\n')) // last line without a line break
            insert.prepend(br);
        bytes.insert(anchor.Next, insert);
    } else {
        if (!bytes.isEmpty() && !bytes.endsWith('\n'))
            bytes.append(br);
        bytes.append('[' + sectionName.toUtf8() + ']' + br + keyName.toUtf8() + '=' + valueBytes + br);
    }

    if (!QFileInfo(QFileInfo(FFileName).absolutePath()).isDir())
        CannotWrite(FFileName);
    try {
        WriteFileReplacing(FFileName, bytes);
    } catch (const Exception&) {
        CannotWrite(FFileName);
    }
}

void TIniFile::WriteInteger(const QString& section, const QString& key, int value) {
    WriteString(section, key, QString::number(value));
}

void TIniFile::WriteBool(const QString& section, const QString& key, bool value) {
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void TIniFile::DeleteKey(const QString& section, const QString& key) {
    std::lock_guard lock(gWriteMutex);
    TIniDocument doc = Load(FFileName);
    const TIniLine* line = FindKey(doc, section, key);
    if (line == nullptr)
        return;
    doc.Bytes.remove(line->Start, line->Next - line->Start);
    try {
        WriteFileReplacing(FFileName, doc.Bytes);
    } catch (const Exception&) {
        // Removing a key is best effort by contract.
    }
}
