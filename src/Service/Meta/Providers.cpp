#include "Service/Meta/Providers.h"

#include "App/Exceptions.h"
#include "App/Paths.h"
#include "Service/FileDownloader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <filesystem>
#include <system_error>

namespace {

const QString UnitName = QStringLiteral("Service.Meta.Providers");
constexpr qint64 FreshMinutes = 10;

// Keys name files in the cache and paths on the service; one that could leave its folder is refused.
void CheckKey(const QString& PublicKey) {
    if (!IsUsableItemKey(PublicKey))
        throw Exception(QStringLiteral("Invalid item key: \"%1\"").arg(PublicKey));
}

QString ReadCachedText(const QString& FileName) {
    QFile file(FileName);
    if (!file.open(QIODevice::ReadOnly))
        throw EInOutError(QStringLiteral("Cannot open file \"%1\". %2").arg(FileName, file.errorString()));
    return StreamToText(file);
}

} // namespace

bool IsUsableItemKey(const QString& PublicKey) {
    if (PublicKey.isEmpty() || PublicKey == QStringLiteral(".") || PublicKey == QStringLiteral(".."))
        return false;
    for (const QChar c : PublicKey)
        if (c == u'/' || c == u'\\' || c.unicode() < 32)
            return false;
    return true;
}

bool IsMetaCopyFresh(const QDateTime& LastWrite, const QDateTime& Now) {
    const qint64 minutes = qAbs(LastWrite.msecsTo(Now)) / 60000;
    return minutes < FreshMinutes;
}

TMetaProvider::TMetaProvider(const QString& ItemTypeName)
    : RemoteUrl(MetaRootUrl() + ItemTypeName + QStringLiteral("/")), ItemType(ItemTypeName) {
    Assert(ItemType == QStringLiteral("apps") || ItemType == QStringLiteral("components") ||
               ItemType == QStringLiteral("dependencies"),
           QStringLiteral("Invalid ItemType \"%1\". Check used constructor").arg(ItemType), UnitName);
}

QString TMetaProvider::GetLocalFileName(const QString& PublicKey) const {
    CheckKey(PublicKey);
    return MetaPath() + ItemType + QStringLiteral("/") + PublicKey + QStringLiteral(".json");
}

QString TMetaProvider::GetRemoteFileUrl(const QString& PublicKey) const {
    CheckKey(PublicKey);
    return RemoteUrl + PublicKey + QStringLiteral(".json");
}

QString TMetaProvider::GetMeta(const QString& PublicKey) {
    const QFileInfo local(GetLocalFileName(PublicKey));
    if (local.isFile() && IsMetaCopyFresh(local.lastModified(), QDateTime::currentDateTime()))
        return ReadCachedText(local.filePath());
    return GetRemoteMeta(PublicKey);
}

QString TMetaProvider::GetRemoteMeta(const QString& PublicKey) {
    const QString url = GetRemoteFileUrl(PublicKey);
    const QString fileName = GetLocalFileName(PublicKey);
    // The downloader removes its target when it fails; a name of our own keeps the old copy until the
    // new one is complete, and two threads fetching one key never share it.
    const QString fresh = fileName + QStringLiteral(".new-") + QUuid::createUuid().toString(QUuid::Id128);
    TFileDownloader().DownloadFile(url, fresh);
    std::error_code error;
    std::filesystem::rename(QFile::encodeName(fresh).toStdString(), QFile::encodeName(fileName).toStdString(),
                            error);
    if (error) {
        QFile::remove(fresh);
        throw EInOutError(QStringLiteral("Cannot create file \"%1\". %2")
                              .arg(fileName, QString::fromStdString(error.message())));
    }
    return ReadCachedText(fileName);
}
