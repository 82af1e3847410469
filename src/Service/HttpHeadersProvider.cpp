#include "Service/HttpHeadersProvider.h"

#include "App/Paths.h"
#include "App/User.h"

#include <QCoreApplication>

namespace {

const QString JsonApiType = QStringLiteral("application/vnd.api+json");

// Any thread builds requests; the user keeps a locked copy of its token for them.
QString CurrentToken() {
    return CurrentUser().SharedToken();
}

} // namespace

QString GetVersionText() {
    static const QString text = [] {
        TFileVersionInfo info;
        if (QCoreApplication::instance())
            GetFileVersionInfo(QCoreApplication::applicationFilePath(), info);
        return info.ProductVersion + QStringLiteral("/") + info.FileVersion;
    }();
    return text;
}

TNetHeaders GetHttpHeaders(const QString& ContentType) {
    TNetHeaders headers;
    headers.append({QStringLiteral("User-Agent"), QStringLiteral("Tarveno! v") + GetVersionText()});
    headers.append({QStringLiteral("Kiv-Signature"), GetInstallKey()});
    if (!ContentType.isEmpty())
        headers.append({QStringLiteral("Content-Type"), ContentType});
    const QString token = CurrentToken();
    if (!token.isEmpty())
        headers.append({QStringLiteral("User-Token"), token});
    return headers;
}

TNetHeaders GetJsonHeaders() {
    return GetHttpHeaders(QStringLiteral("application/json"));
}

TNetHeaders GetJsonApiHeaders() {
    TNetHeaders headers = GetHttpHeaders(JsonApiType);
    headers.append({QStringLiteral("Accept"), JsonApiType});
    return headers;
}
