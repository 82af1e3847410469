#pragma once

#include <QByteArray>
#include <QString>
#include <array>

// The version numbers an executable carries: four 16-bit parts each (major, minor, release, build).
struct TVersionNumbers {
    std::array<quint16, 4> Product{};
    std::array<quint16, 4> File{};
    bool operator==(const TVersionNumbers&) const = default;
};

// Reads the version record stored in an executable file. False, leaving numbers unchanged, when the file
// cannot be read or carries no record.
bool ReadExecutableVersion(const QString& fileName, TVersionNumbers& numbers);

// The bytes of a version record as stored in an executable; lets tools and tests stamp other files.
QByteArray MakeVersionRecord(const TVersionNumbers& numbers);

// The numbers this build was stamped with.
TVersionNumbers OwnVersionNumbers();
