#include "Service/CatalogPageProvider.h"

#include "App/Paths.h"
#include "Lib/Json.h"
#include "Service/Converters/Json.h"
#include "Service/FileDownloader.h"

std::unique_ptr<TAppCatalogPage> TCatalogPageProvider::GetCatalogPage(const QString& PublicKey) {
    TFileDownloader downloader;
    downloader.EnableJsonApiGet();
    QString url = CatalogPageUrl();
    if (const qsizetype at = url.indexOf(QStringLiteral("%s")); at >= 0)
        url.replace(at, 2, PublicKey);
    const TJsonValue document = ParseJson(downloader.Get(url));
    return TJsonApiToCatalogPage().ConvertToObject(
        SafeJsonData(document, jvObject).MemberRef(QStringLiteral("data")));
}
