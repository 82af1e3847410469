#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tvx {

// A key of a game, component or dependency: the name of its folder in the content and a part of addresses.
bool IsValidKey(const std::string& key);

// Splits a relative path taken from an address into its parts; empty when the path could leave its
// folder (".." or "." parts, empty parts from "//" or a leading "/", backslashes, control characters).
std::optional<std::vector<std::string>> SplitSafeRelativePath(const std::string& path);

// Base64 in the MIME form the launcher sends (lines separated by CR LF); nullopt when malformed.
std::optional<QByteArray> DecodeBase64Lines(const std::string& body);

// Seconds since the epoch as "yyyy-mm-ddThh:nn:ss" in UTC.
std::string FormatUtc(int64_t seconds);

// Parses "yyyy-mm-ddThh:nn:ss" or "yyyy-mm-dd" (UTC); nullopt otherwise.
std::optional<int64_t> ParseUtc(const std::string& text);

std::string ToJson(const QJsonObject& object);

// Replaces characters that would break a log line.
std::string Printable(const std::string& text);

std::string HtmlEscape(const QString& text);

// SHA-256 of a file as lower-case hex; nullopt when the file cannot be read.
std::optional<std::string> HashFile(const std::string& fileName);
std::string Sha256Hex(const std::string& bytes);

} // namespace tvx
