#pragma once

#include "Platform/HttpClient.h"

#include <QString>

// "<ProductVersion>/<FileVersion>" of the running executable, read once per process.
QString GetVersionText();

// User-Agent, Kiv-Signature, Content-Type (when given), then User-Token (when logged in).
TNetHeaders GetHttpHeaders(const QString& ContentType);
TNetHeaders GetJsonHeaders();
// The JSON:API headers end with Accept, after the token.
TNetHeaders GetJsonApiHeaders();
