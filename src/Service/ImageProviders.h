#pragma once

#include <QHash>
#include <QImage>
#include <QString>

#include <memory>
#include <mutex>
#include <unordered_map>

// Pictures by local file name or web address. Downloaded pictures are kept in the image cache folder
// under a name made from the address; every loaded picture stays in memory for the life of the provider,
// so all tiles showing one cover share one picture. Usable from any thread: the dictionary is guarded by
// a lock of its own, so no caller ever waits for the main thread.
class TImageProvider {
public:
    TImageProvider();
    ~TImageProvider();

    // The picture for a local file or, when no such file exists, a web address; owned by the provider.
    // A download error reaches the caller; a file that is not a readable picture gives an empty one.
    // Callers asking for the same address while its first download runs share that download.
    const QImage* GetImage(const QString& Resource);
    // Loads a picture file (format by its extension) and enters it, or gives the one entered before.
    const QImage* AddFromFile(const QString& FileName);

    // How many callers share the running download of Resource, its starter included.
    int DownloadWaiters(const QString& Resource) const;

private:
    struct TDownload;
    void FetchToCache(const QString& Url, const QString& CacheFile);

    std::unordered_map<QString, std::unique_ptr<QImage>> Images;
    QHash<QString, std::shared_ptr<TDownload>> FDownloads; // by cache file name
    mutable std::mutex FLock; // guards Images and FDownloads
};

// The image cache file of a web address: SHA-256 of its UTF-8 bytes in lower-case hex, then the
// address's extension (from its last ".", unless a "/", "\" or ":" follows).
QString ImageCacheFileName(const QString& Url);

// No picture for an empty resource, otherwise GetImage of the process's provider.
const QImage* GetPicture(const QString& Resource);

// The process's provider, made at start-up and freed at shut-down with every picture it holds.
void InitImageProvider();
void DoneImageProvider();
