#pragma once

#include <QString>
#include <QStringList>

// An INI file with the rules of the Windows private-profile functions: section and key names compare
// without letter case, the first matching section and key count, values are trimmed of blanks and of
// one pair of enclosing quotes, a read gives at most 2047 characters, and a write replaces only its own
// key line, keeping every other byte of the file. Every call goes to the file itself; there is no cached
// copy. Text is UTF-8; a leading byte order mark is kept.
class TIniFile {
public:
    static constexpr int MaxValueLength = 2047;

    explicit TIniFile(QString fileName) : FFileName(std::move(fileName)) {}
    const QString& FileName() const { return FFileName; }

    // A missing file, section or key gives the default.
    QString ReadString(const QString& section, const QString& key, const QString& defaultValue) const;
    // Decimal, or hexadecimal after "0x" or "$", with an optional sign; any other text gives the default.
    int ReadInteger(const QString& section, const QString& key, int defaultValue) const;
    // An integer (as ReadInteger) other than 0 is true.
    bool ReadBool(const QString& section, const QString& key, bool defaultValue) const;
    // Key names of the section in file order; empty when the file or section is missing.
    QStringList ReadSection(const QString& section) const;
    QStringList ReadSections() const;
    bool SectionExists(const QString& section) const;
    bool ValueExists(const QString& section, const QString& key) const;

    // Raise EIniFileException "Unable to write to <file>" when the file cannot be written (the folder is
    // not created) or when a name or value would break the file's lines.
    void WriteString(const QString& section, const QString& key, const QString& value);
    void WriteInteger(const QString& section, const QString& key, int value);
    // Booleans are written "1" and "0".
    void WriteBool(const QString& section, const QString& key, bool value);
    // Removes the key line; a missing file, section or key is no error, and no error is ever raised.
    void DeleteKey(const QString& section, const QString& key);

private:
    QString FFileName;
};

// The integer rule of ReadInteger for any text; false when the text is not an integer.
bool TryStrToInt(const QString& text, int& value);
