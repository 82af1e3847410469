#pragma once

#include "App/Exceptions.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

TARVENOX_EXCEPTION(EStreamStorageError, Exception)

// A byte stream of named values, the payload of a channel message. Each value is laid out as
//   name length (int32 LE, bytes) | name (UTF-16LE) | value length (int64 LE) | value bytes
// Names are case-sensitive and unique within one store.
class TStreamStorage {
public:
    TStreamStorage() = default;
    explicit TStreamStorage(QByteArray bytes) : FBytes(std::move(bytes)) {}

    // Appends a value; a name that is already there raises EStreamStorageError.
    void WriteBytes(const QString& Name, const QByteArray& Value);
    // Narrow text: stored as its UTF-8 bytes, no terminator.
    void WriteAnsiString(const QString& Name, const QString& Value);

    bool Contains(const QString& Name) const;
    // A missing name or a malformed stream raises EStreamStorageError.
    QByteArray ReadBytes(const QString& Name) const;
    QString ReadAnsiString(const QString& Name) const;
    QStringList Names() const;

    const QByteArray& Bytes() const { return FBytes; }
    void SetBytes(QByteArray bytes) { FBytes = std::move(bytes); }
    qint64 Size() const { return FBytes.size(); }
    void Clear() { FBytes.clear(); }

private:
    struct TEntry {
        QString Name;
        qint64 ValueOffset;
        qint64 ValueLength;
    };
    // Walks the stream; stops early when visit returns true. Raises on a malformed stream.
    template <typename F>
    void Walk(F visit) const;

    QByteArray FBytes;
};

// One request or response on the channel.
struct TMessageData {
    QString ID;
    TStreamStorage Data;
};

// Names and IDs travel as UTF-16 little-endian code units.
QByteArray Utf16Le(const QString& s);
