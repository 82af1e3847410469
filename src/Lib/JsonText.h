#pragma once

// The text side of the JSON values: the lenient parser, the compact writer and the number texts they
// share. Lib/Json.h is the interface the rest of the launcher uses.

#include "Lib/Json.h"

#include <QByteArray>
#include <QStringView>

namespace JsonText {

// Deeper nesting stops the parser as any fault does, so hostile input cannot exhaust the stack.
constexpr int MaxDepth = 512;

TJsonValue Parse(QStringView Text);
QString WriteValue(const TJsonValue& Value);
QString WriteDocument(const TJSONVariantData& Doc);

// General format: up to 15 significant digits, "." as separator, exponent as "E" and its value (1E20,
// 1.5E-7) when the number has more than 15 integer digits or is below 0.00001.
QString FloatToText(double Value);

// The whole of Text as an optional "-" and decimal digits fitting a signed 64-bit integer.
bool ReadInteger(QStringView Text, qint64& Value);
// The whole of Text as a floating number with "." as separator; no infinities or NaNs.
bool ReadFloat(QStringView Text, double& Value);

QString Utf8ToText(const QByteArray& Bytes);

} // namespace JsonText
