#include "Lib/PipeStorage.h"

#include <QtEndian>
#include <cstring>

QByteArray Utf16Le(const QString& s) {
    QByteArray out(s.size() * 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < s.size(); ++i)
        qToLittleEndian<quint16>(s.at(i).unicode(), out.data() + 2 * i);
    return out;
}

namespace {

QString FromUtf16Le(const char* p, qint64 bytes) {
    QString s(bytes / 2, Qt::Uninitialized);
    for (qint64 i = 0; i < bytes / 2; ++i)
        s[i] = QChar(qFromLittleEndian<quint16>(p + 2 * i));
    return s;
}

[[noreturn]] void Malformed() { throw EStreamStorageError(QStringLiteral("Malformed value stream")); }

}  // namespace

template <typename F>
void TStreamStorage::Walk(F visit) const {
    const char* p = FBytes.constData();
    const qint64 size = FBytes.size();
    qint64 pos = 0;
    while (pos < size) {
        if (size - pos < 4)
            Malformed();
        const qint32 nameLen = qFromLittleEndian<qint32>(p + pos);
        pos += 4;
        if (nameLen < 0 || nameLen % 2 != 0 || nameLen > size - pos)
            Malformed();
        const QString name = FromUtf16Le(p + pos, nameLen);
        pos += nameLen;
        if (size - pos < 8)
            Malformed();
        const qint64 valueLen = qFromLittleEndian<qint64>(p + pos);
        pos += 8;
        if (valueLen < 0 || valueLen > size - pos)
            Malformed();
        if (visit(TEntry{name, pos, valueLen}))
            return;
        pos += valueLen;
    }
}

void TStreamStorage::WriteBytes(const QString& Name, const QByteArray& Value) {
    if (Contains(Name))
        throw EStreamStorageError(QStringLiteral("Duplicate value name: ") + Name);
    const QByteArray name = Utf16Le(Name);
    char len4[4];
    char len8[8];
    qToLittleEndian<qint32>(qint32(name.size()), len4);
    qToLittleEndian<qint64>(qint64(Value.size()), len8);
    FBytes.append(len4, 4).append(name).append(len8, 8).append(Value);
}

void TStreamStorage::WriteAnsiString(const QString& Name, const QString& Value) {
    WriteBytes(Name, Value.toUtf8());
}

bool TStreamStorage::Contains(const QString& Name) const {
    bool found = false;
    Walk([&](const TEntry& e) { return found = (e.Name == Name); });
    return found;
}

QByteArray TStreamStorage::ReadBytes(const QString& Name) const {
    QByteArray value;
    bool found = false;
    Walk([&](const TEntry& e) {
        if (e.Name != Name)
            return false;
        value = FBytes.mid(e.ValueOffset, e.ValueLength);
        return found = true;
    });
    if (!found)
        throw EStreamStorageError(QStringLiteral("Value not found: ") + Name);
    return value;
}

QString TStreamStorage::ReadAnsiString(const QString& Name) const {
    return QString::fromUtf8(ReadBytes(Name));
}

QStringList TStreamStorage::Names() const {
    QStringList names;
    Walk([&](const TEntry& e) {
        names << e.Name;
        return false;
    });
    return names;
}
