#pragma once

#include <QDateTime>
#include <QString>

// True when a key can name files and service paths: not empty, not "." or "..", without slashes or
// control characters.
bool IsUsableItemKey(const QString& PublicKey);

// Finds the metadata document of a game, component or dependency: the cached copy in the per-user
// metadata folder while it is fresh, otherwise the service's copy, which then replaces the cache.
class TMetaProvider {
public:
    // ItemTypeName is "apps", "components" or "dependencies"; any other name is an assertion failure.
    explicit TMetaProvider(const QString& ItemTypeName);
    virtual ~TMetaProvider() = default;

    // The cached text while it is fresh, else GetRemoteMeta.
    QString GetMeta(const QString& PublicKey);
    // Downloads the service's copy into the cache and gives its text. A failed download raises the
    // download error and leaves the previous cached copy as it was.
    QString GetRemoteMeta(const QString& PublicKey);

    // The cache file and the service address of a key. A key that would leave its folder raises.
    QString GetLocalFileName(const QString& PublicKey) const;
    QString GetRemoteFileUrl(const QString& PublicKey) const;

    QString RemoteUrl; // the metadata root, the type name and "/"
    QString ItemType;
};

class TAppMetaProvider : public TMetaProvider {
public:
    TAppMetaProvider() : TMetaProvider(QStringLiteral("apps")) {}
};

class TComponentMetaProvider : public TMetaProvider {
public:
    TComponentMetaProvider() : TMetaProvider(QStringLiteral("components")) {}
};

class TDependencyMetaProvider : public TMetaProvider {
public:
    TDependencyMetaProvider() : TMetaProvider(QStringLiteral("dependencies")) {}
};

// A cached copy written at LastWrite is fresh at Now while fewer than 10 whole minutes lie between them,
// taken either way round, so a copy stamped by a clock that ran ahead is not kept for ever.
bool IsMetaCopyFresh(const QDateTime& LastWrite, const QDateTime& Now);
