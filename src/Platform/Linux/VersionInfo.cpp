#include "Platform/VersionInfo.h"

#include "BuildConfig.h"

#include <QFile>

// Linux executables have no version resource, so every binary that links the core carries this record:
// 16 magic bytes, then the product and the file version as eight little-endian 16-bit numbers. Readers
// find it by scanning the file. The magic exists only here (the reader copies it from this object at run
// time), so a scan never stops at a stray copy.
namespace {

constexpr int MagicSize = 16;
constexpr int RecordSize = MagicSize + 16;

#define TVX_LE16(v) static_cast<unsigned char>((v)&0xFF), static_cast<unsigned char>(((v) >> 8) & 0xFF)
#define TVX_PARTS                                                                                            \
    TVX_LE16(TARVENOX_VERSION_MAJOR), TVX_LE16(TARVENOX_VERSION_MINOR), TVX_LE16(TARVENOX_VERSION_PATCH),    \
        TVX_LE16(TARVENOX_VERSION_TWEAK)

} // namespace

extern "C" {
__attribute__((used)) const volatile unsigned char tarvenox_version_record[RecordSize] = {
    0x7F,      'T', 'V', 'X', '-', 'V', 'E', 'R', 'S', 'I', 'O', 'N', 0x00, 0xA5, 0x5A, 0x01,
    TVX_PARTS, // product
    TVX_PARTS, // file
};
}

namespace {

QByteArray Magic() {
    QByteArray magic(MagicSize, Qt::Uninitialized);
    for (int i = 0; i < MagicSize; ++i)
        magic[i] = char(tarvenox_version_record[i]);
    return magic;
}

quint16 Part(const uchar* p, int index) {
    return quint16(p[2 * index] | (p[2 * index + 1] << 8));
}

} // namespace

TVersionNumbers OwnVersionNumbers() {
    return {{TARVENOX_VERSION_MAJOR, TARVENOX_VERSION_MINOR, TARVENOX_VERSION_PATCH, TARVENOX_VERSION_TWEAK},
            {TARVENOX_VERSION_MAJOR, TARVENOX_VERSION_MINOR, TARVENOX_VERSION_PATCH, TARVENOX_VERSION_TWEAK}};
}

QByteArray MakeVersionRecord(const TVersionNumbers& numbers) {
    QByteArray record = Magic();
    for (const auto* parts : {&numbers.Product, &numbers.File})
        for (quint16 v : *parts) {
            record.append(char(v & 0xFF));
            record.append(char(v >> 8));
        }
    return record;
}

bool ReadExecutableVersion(const QString& fileName, TVersionNumbers& numbers) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly) || file.size() < RecordSize)
        return false;
    const qint64 size = file.size();
    // Executables can be large; mapping lets the search run over the page cache without a copy.
    const uchar* data = file.map(0, size);
    QByteArray copy;
    if (data == nullptr) {
        copy = file.readAll();
        if (copy.size() < RecordSize)
            return false;
        data = reinterpret_cast<const uchar*>(copy.constData());
    }
    const QByteArrayView haystack(data, qsizetype(copy.isEmpty() ? size : copy.size()));
    const qsizetype at = haystack.indexOf(QByteArrayView(Magic()));
    if (at < 0 || at + RecordSize > haystack.size())
        return false;
    const uchar* p = data + at + MagicSize;
    for (int i = 0; i < 4; ++i) {
        numbers.Product[i] = Part(p, i);
        numbers.File[i] = Part(p, i + 4);
    }
    return true;
}
