#include "Service/Install/SyncAbstractManager.h"

#include "App/DataContracts.h"
#include "App/HttpExceptions.h"
#include "App/MainThread.h"
#include "Service/AppsLibrary.h"
#include "Service/Converters/Json.h"
#include "Service/FileDownloader.h"
#include "Service/Meta/Providers.h"
#include "Platform/HttpClient.h"

#include <QFile>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

struct TSyncAbstractManager::TPendingProgress {
    std::atomic<std::int64_t> Delta{0};
    std::atomic<int> Total{0};
    std::atomic<bool> Queued{false};
    std::atomic<std::int64_t> LastPostNs{0};
};

namespace {

std::int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A progress bar needs no more than this; more often would only wake the main thread for nothing.
constexpr std::int64_t ProgressIntervalNs = 20'000'000;

} // namespace

namespace {

bool IsSeparator(QChar c) {
    return c == QLatin1Char('\\') || c == QLatin1Char('/');
}

// A complete download gets the list's time stamp (when there is one), and programs and scripts get the
// execute bit so that they stay runnable. Done on the open file, before it takes its name.
void FinishDownloadedFile(QFile& File, const QDateTime& Modified) {
    const int fd = File.handle();
    if (fd < 0)
        return;
    if (Modified.isValid()) {
        const qint64 ms = Modified.toMSecsSinceEpoch();
        const qint64 sec = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
        struct timespec times[2];
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_OMIT; // the access time is not ours to change
        times[1].tv_sec = time_t(sec);
        times[1].tv_nsec = long(ms - sec * 1000) * 1000000L;
        // A file that cannot be stamped keeps its time; the next check simply downloads it again.
        ::futimens(fd, times);
    }
    char head[4] = {0, 0, 0, 0};
    const ssize_t n = ::pread(fd, head, sizeof head, 0);
    struct stat st {};
    if (((n == 4 && head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F') ||
         (n >= 2 && head[0] == '#' && head[1] == '!')) &&
        ::fstat(fd, &st) == 0) {
        // Execute for whoever may read it.
        const mode_t x = ((st.st_mode & S_IRUSR) ? S_IXUSR : 0) | ((st.st_mode & S_IRGRP) ? S_IXGRP : 0) |
                         ((st.st_mode & S_IROTH) ? S_IXOTH : 0);
        ::fchmod(fd, st.st_mode | x);
    }
}

// The last-write time in milliseconds since the epoch (UTC), or nothing when the file is not a regular
// file of the given size.
bool StatMatches(const QString& FileName, qint64 Size, qint64& MTimeMs) {
    struct stat st {};
    if (::stat(QFile::encodeName(FileName).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (qint64(st.st_size) != Size)
        return false;
    MTimeMs = qint64(st.st_mtim.tv_sec) * 1000 + qint64(st.st_mtim.tv_nsec) / 1000000;
    return true;
}

} // namespace

QString SafeRelativeFileName(const QString& FileName) {
    const auto refuse = [&](const char* why) {
        throw EInOutError(QStringLiteral("Invalid file name \"%1\" in the file list: %2")
                              .arg(FileName, QString::fromLatin1(why)));
    };
    if (FileName.isEmpty())
        refuse("the name is empty");
    if (FileName.contains(QChar(0)))
        refuse("the name contains a null character");
    if (IsSeparator(FileName.front()))
        refuse("the name is absolute");
    if (FileName.size() >= 2 && FileName[1] == QLatin1Char(':') && FileName[0].isLetter())
        refuse("the name has a drive letter");
    if (IsSeparator(FileName.back()))
        refuse("the name is a folder");
    QString local = FileName;
    local.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QStringList parts = local.split(QLatin1Char('/'));
    for (const QString& part : parts) {
        if (part == QLatin1String(".."))
            refuse("the name leads out of the item's folder");
        if (part.isEmpty())
            refuse("the name has an empty part");
    }
    if (parts.back() == QLatin1String("."))
        refuse("the name is a folder");
    return local;
}

TSyncAbstractManager::TSyncAbstractManager(const QString& APublicKey, TMetaProvider& MetaProvider)
    : FPublicKey(APublicKey), FPending(std::make_shared<TPendingProgress>()) {
    Meta = std::make_unique<TMetaTranslator>(MetaProvider.GetMeta(APublicKey));
}

TSyncAbstractManager::~TSyncAbstractManager() = default;

std::shared_ptr<TInstallTask> TSyncAbstractManager::InstallTask() const {
    std::lock_guard lock(FTaskLock);
    return FInstallTask.lock();
}

void TSyncAbstractManager::SetInstallTask(const std::shared_ptr<TInstallTask>& Task) {
    std::lock_guard lock(FTaskLock);
    FInstallTask = Task;
}

void TSyncAbstractManager::CheckCanceled() const {
    std::shared_ptr<TInstallTask> task = InstallTask();
    TInstallTask::CheckCanceled(task.get());
}

void TSyncAbstractManager::InstallWhenNotAvailable() {
    if (isAvailable())
        return;
    InstallDependencies();
    std::shared_ptr<TSyncAbstractManager> self = shared_from_this();
    // The task holds the manager, the manager only a weak link back: no cycle keeps either alive.
    std::shared_ptr<TInstallTask> task = TInstallTask::Create(
        FPublicKey, Meta->GetName(), Meta->GetDescription(), InstallTaskType, [self] {
            self->SyncFiles();
            self->SetInstallTask(nullptr);
        });
    SetInstallTask(task);
    AddToInstallTasks(task);
}

void TSyncAbstractManager::SyncFiles() {
    TJsonObjectList<TJsonFileDescriptor> files = TJsonFilesListConverter::CreateListFromJson(Meta->Raw["files"]);

    // Every name is checked before anything is written, so a bad list changes nothing on disk.
    QStringList localNames;
    localNames.reserve(qsizetype(files.size()));
    for (const auto& file : files)
        localNames.append(SafeRelativeFileName(file->FileName));

    for (const auto& file : files)
        FTotalDownloadSize += std::uint64_t(qMax<qint64>(0, file->FileSize));

    // One connection serves the whole list; it is closed when the synchronisation ends.
    THttpConnectionReuse reuse;
    // Whatever progress is still gathered goes to the item at the end, also when the end is an error.
    struct TFlush {
        TSyncAbstractManager* Self;
        ~TFlush() { Self->PostProgress(int(Self->FTotalDownloadSize / 1000), 0, true); }
    } flush{this};
    // The folder is asked for once: for a game it is a look-up on the main thread.
    QString path;
    bool havePath = false;
    for (size_t i = 0; i < files.size(); ++i) {
        CheckCanceled();
        if (!havePath) {
            path = GetPath();
            havePath = true;
        }
        const QString localName = path + localNames[qsizetype(i)];
        if (IsUpToDate(localName, *files[i]))
            continue;
        DownloadFile(localName, *files[i]);
    }
}

bool TSyncAbstractManager::IsUpToDate(const QString& LocalName, const TJsonFileDescriptor& File) const {
    qint64 mtime = 0;
    if (!StatMatches(LocalName, File.FileSize, mtime))
        return false;
    return File.Modified.isValid() && mtime == File.Modified.toMSecsSinceEpoch();
}

void TSyncAbstractManager::DownloadFile(const QString& LocalName, const TJsonFileDescriptor& File) {
    TFileDownloader downloader;
    QString url;
    if (!File.Sources.isEmpty()) {
        url = File.Sources.first();
        downloader.ExternalRequest = true; // another host: the service's headers are not its business
    } else {
        url = BaseUrl + FileNameToUrlPath(File.FileName);
    }
    FPrevDownloadReadCount = 0;
    downloader.OnReceiveDataEvent = [this](const void*, qint64, qint64 ReadCount, bool&) {
        DownloadProgress(ReadCount);
    };
    // An update of a file keeps the old copy until the new one is complete. A new file is written in
    // place: until it carries the list's time stamp, a broken one never counts as up to date.
    downloader.KeepOldFileOnFailure = true;
    downloader.InPlaceWhenMissing = true;
    qint64 size = -1;
    downloader.OnFileComplete = [&](QFile& Done) {
        FinishDownloadedFile(Done, File.Modified);
        size = Done.size();
    };
    downloader.DownloadFile(url, LocalName);
    // The transfer's last bytes may arrive after its last progress call; count them now.
    if (size >= 0)
        DownloadProgress(size);
}

void TSyncAbstractManager::DownloadProgress(std::int64_t ReadCount) {
    CheckCanceled();
    std::int64_t delta = (ReadCount - FPrevDownloadReadCount) / 1000;
    FPrevDownloadReadCount = ReadCount;
    if (delta < 0)
        delta = 0;
    if (delta != 0)
        PostProgress(int(FTotalDownloadSize / 1000), int(delta));
}

void TSyncAbstractManager::PostProgress(int Total, int Delta, bool Flush) {
    // The worker never waits for the main thread here: progress gathers in FPending and one queued call
    // at a time, at most one per interval, hands whatever has gathered to the item there.
    FPending->Delta.fetch_add(Delta);
    FPending->Total.store(Total);
    const std::int64_t now = NowNs();
    if (!Flush && now - FPending->LastPostNs.load() < ProgressIntervalNs)
        return;
    if (Flush && FPending->Delta.load() == 0)
        return;
    if (FPending->Queued.exchange(true))
        return;
    FPending->LastPostNs.store(now);
    std::shared_ptr<TSyncAbstractManager> self = weak_from_this().lock();
    if (!self) { // not a shared manager: nobody could look the item up later
        FPending->Queued.store(false);
        return;
    }
    std::shared_ptr<TPendingProgress> pending = FPending;
    QueueOnMainThread([self, pending] {
        pending->Queued.store(false);
        const std::int64_t delta = pending->Delta.exchange(0);
        if (delta == 0)
            return;
        if (TGenericLibraryItem* item = self->GetItem())
            item->UpdateDownloadProgress(pending->Total.load(), int(delta));
    });
}
