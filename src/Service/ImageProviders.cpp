#include "Service/ImageProviders.h"

#include "App/Exceptions.h"
#include "App/MainThread.h"
#include "App/Paths.h"
#include "Service/FileDownloader.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFileInfo>
#include <QImageReader>

#include <future>
#include <mutex>

namespace {

// The file-name rule for extensions, with this system's folder separator among the stops: an address
// without an extension in its last segment must not turn into sub-folders of the cache.
QString ExtractFileExt(const QString& FileName) {
    for (qsizetype i = FileName.size() - 1; i >= 0; --i) {
        const QChar c = FileName.at(i);
        if (c == u'.')
            return FileName.mid(i);
        if (c == u'/' || c == u'\\' || c == u':')
            break;
    }
    return QString();
}

void LoadPicture(QImage& Picture, const QString& FileName) {
    const QByteArray format = ExtractFileExt(FileName).mid(1).toLower().toLatin1();
    if (format.isEmpty() || !QImageReader::supportedImageFormats().contains(format))
        return;
    QImageReader reader(FileName, format);
    if (!reader.read(&Picture))
        Picture = QImage();
}

std::mutex gProviderMutex;
std::shared_ptr<TImageProvider> gProvider;

} // namespace

struct TImageProvider::TDownload {
    std::shared_future<void> Done;
    int Waiters = 1;
};

TImageProvider::TImageProvider() = default;
TImageProvider::~TImageProvider() = default;

const QImage* TImageProvider::GetImage(const QString& Resource) {
    {
        std::lock_guard lock(FLock);
        if (const auto it = Images.find(Resource); it != Images.end())
            return it->second.get();
    }
    if (QFileInfo(Resource).isFile())
        return AddFromFile(Resource);
    const QString cacheFile = ImageCacheFileName(Resource);
    FetchToCache(Resource, cacheFile);
    return AddFromFile(cacheFile);
}

// One download per cache file at a time: a second caller waits for the first one's file (or its error)
// instead of writing the same file at once.
void TImageProvider::FetchToCache(const QString& Url, const QString& CacheFile) {
    std::shared_ptr<std::promise<void>> mine;
    std::shared_future<void> pending;
    {
        std::lock_guard lock(FLock);
        if (const auto it = FDownloads.constFind(CacheFile); it != FDownloads.constEnd()) {
            ++(*it)->Waiters;
            pending = (*it)->Done;
        } else if (!QFileInfo::exists(CacheFile)) {
            mine = std::make_shared<std::promise<void>>();
            auto download = std::make_shared<TDownload>();
            download->Done = pending = mine->get_future().share();
            FDownloads.insert(CacheFile, download);
        }
    }
    if (mine) {
        try {
            TFileDownloader().DownloadFile(Url, CacheFile);
            mine->set_value();
        } catch (...) {
            mine->set_exception(std::current_exception());
        }
        {
            std::lock_guard lock(FLock);
            FDownloads.remove(CacheFile);
        }
        // The main thread may be among the waiters, asleep in its event loop: wake it.
        if (QCoreApplication::instance())
            QueueOnMainThread([] {});
    }
    // The download needs nothing from the waiting thread; the main thread still keeps its window
    // responsive while it waits for another thread's download.
    if (!mine && pending.valid() && QCoreApplication::instance() && IsMainThread())
        while (pending.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (pending.valid())
        pending.get();
}

const QImage* TImageProvider::AddFromFile(const QString& FileName) {
    auto picture = std::make_unique<QImage>();
    LoadPicture(*picture, FileName);
    std::lock_guard lock(FLock);
    auto& slot = Images[FileName];
    if (!slot)
        slot = std::move(picture);
    return slot.get();
}

int TImageProvider::DownloadWaiters(const QString& Resource) const {
    std::lock_guard lock(FLock);
    const auto download = FDownloads.value(ImageCacheFileName(Resource));
    return download ? download->Waiters : 0;
}

QString ImageCacheFileName(const QString& Url) {
    const QByteArray digest = QCryptographicHash::hash(Url.toUtf8(), QCryptographicHash::Sha256).toHex();
    return ImageCachePath() + QString::fromLatin1(digest) + ExtractFileExt(Url);
}

const QImage* GetPicture(const QString& Resource) {
    if (Resource.isEmpty())
        return nullptr;
    std::shared_ptr<TImageProvider> provider;
    {
        std::lock_guard lock(gProviderMutex);
        provider = gProvider;
    }
    Assert(provider != nullptr, QStringLiteral("Image provider is not created"),
           QStringLiteral("Service\\Service.ImageProviders"));
    return provider->GetImage(Resource);
}

void InitImageProvider() {
    std::lock_guard lock(gProviderMutex);
    gProvider = std::make_shared<TImageProvider>();
}

void DoneImageProvider() {
    std::lock_guard lock(gProviderMutex);
    gProvider.reset();
}
