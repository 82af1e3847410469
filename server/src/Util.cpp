#include "Util.h"

#include <QJsonDocument>
#include <sodium.h>

#include <cstdio>
#include <ctime>
#include <memory>

namespace tvx {

bool IsValidKey(const std::string& key) {
    if (key.empty() || key.size() > 64 || key[0] == '.' || key[0] == '-')
        return false;
    for (unsigned char c : key)
        if (!(isalnum(c) || c == '-' || c == '_' || c == '.'))
            return false;
    return key.find("..") == std::string::npos;
}

std::optional<std::vector<std::string>> SplitSafeRelativePath(const std::string& path) {
    std::vector<std::string> parts;
    if (path.empty())
        return std::nullopt;
    size_t start = 0;
    while (true) {
        size_t slash = path.find('/', start);
        std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (part.empty() || part == "." || part == "..")
            return std::nullopt;
        for (unsigned char c : part)
            if (c < 32 || c == 127 || c == '\\')
                return std::nullopt;
        parts.push_back(part);
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    return parts;
}

std::optional<QByteArray> DecodeBase64Lines(const std::string& body) {
    QByteArray compact;
    compact.reserve(int(body.size()));
    for (char c : body)
        if (c != '\r' && c != '\n')
            compact.append(c);
    if (compact.isEmpty() || compact.size() % 4 != 0)
        return std::nullopt;
    auto result = QByteArray::fromBase64Encoding(compact, QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        return std::nullopt;
    return *result;
}

std::string FormatUtc(int64_t seconds) {
    time_t t = time_t(seconds);
    tm parts{};
    gmtime_r(&t, &parts);
    char text[32];
    strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
    return text;
}

std::optional<int64_t> ParseUtc(const std::string& text) {
    tm parts{};
    int y, mo, d, h = 0, mi = 0, s = 0;
    char sep;
    if (text.size() == 19) {
        if (sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d", &y, &mo, &d, &sep, &h, &mi, &s) != 7 ||
            (sep != 'T' && sep != ' '))
            return std::nullopt;
    } else if (text.size() == 10) {
        if (sscanf(text.c_str(), "%4d-%2d-%2d", &y, &mo, &d) != 3)
            return std::nullopt;
    } else {
        return std::nullopt;
    }
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59)
        return std::nullopt;
    parts.tm_year = y - 1900;
    parts.tm_mon = mo - 1;
    parts.tm_mday = d;
    parts.tm_hour = h;
    parts.tm_min = mi;
    parts.tm_sec = s;
    return int64_t(timegm(&parts));
}

std::string ToJson(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

std::string Printable(const std::string& text) {
    std::string out;
    for (unsigned char c : text)
        out += (c < 32 || c == 127) ? '?' : char(c);
    return out;
}

std::string HtmlEscape(const QString& text) { return text.toHtmlEscaped().toStdString(); }

std::optional<std::string> HashFile(const std::string& fileName) {
    std::unique_ptr<FILE, int (*)(FILE*)> f(fopen(fileName.c_str(), "rb"), fclose);
    if (!f)
        return std::nullopt;
    crypto_hash_sha256_state state;
    crypto_hash_sha256_init(&state);
    std::vector<unsigned char> buffer(1 << 20);
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), f.get())) > 0)
        crypto_hash_sha256_update(&state, buffer.data(), n);
    if (ferror(f.get()))
        return std::nullopt;
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256_final(&state, digest);
    char hex[crypto_hash_sha256_BYTES * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
    return std::string(hex);
}

std::string Sha256Hex(const std::string& bytes) {
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    char hex[crypto_hash_sha256_BYTES * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
    return std::string(hex);
}

} // namespace tvx
