#pragma once

// Brings an item's local folder in line with the file list of its metadata: every listed file that is
// missing or differs (size or last-write time) is downloaded. Games and components differ only in where
// their folder is, which library item shows the progress and what must be installed with them.

#include "Service/Install/Tasks.h"
#include "Service/Meta/Translator.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

class TGenericLibraryItem;
class TMetaProvider;
struct TJsonFileDescriptor;

// Managers are shared objects (std::make_shared): the tasks they create hold them while the work runs.
class TSyncAbstractManager : public std::enable_shared_from_this<TSyncAbstractManager> {
public:
    // Reads the metadata through MetaProvider (not kept); its errors reach the caller.
    TSyncAbstractManager(const QString& APublicKey, TMetaProvider& MetaProvider);
    virtual ~TSyncAbstractManager();
    TSyncAbstractManager(const TSyncAbstractManager&) = delete;
    TSyncAbstractManager& operator=(const TSyncAbstractManager&) = delete;

    // True when the item is installed already, so nothing has to be done.
    virtual bool isAvailable() = 0;
    // Creates the tasks of what must be installed with the item, before the item's own task.
    virtual void InstallDependencies() = 0;
    // The item's local folder, ending with "/".
    virtual QString GetPath() = 0;
    // The library item that receives the download progress, or null. Called on the main thread only:
    // progress is handed there, so a worker never holds an item the main thread may drop.
    virtual TGenericLibraryItem* GetItem() = 0;

    // Runs on the calling (worker) thread; returns when every listed file is up to date, or raises. A
    // list entry whose name would leave the item's folder fails it before anything is written.
    void SyncFiles();
    // Unless the item is available: the tasks of its dependencies, then its own task, appended to
    // InstallTasks.
    void InstallWhenNotAvailable();

    const QString& PublicKey() const { return FPublicKey; }
    // The install task whose cancellation points this manager's synchronisation honours; null outside one.
    std::shared_ptr<TInstallTask> InstallTask() const;
    void SetInstallTask(const std::shared_ptr<TInstallTask>& Task);

    std::unique_ptr<TMetaTranslator> Meta;
    QString BaseUrl; // ends with "/"; file names are appended when a file has no download sources
    TInstallTaskType InstallTaskType = ttApp;

    // The bytes of all listed files, the up-to-date ones included (valid during SyncFiles).
    std::uint64_t TotalDownloadSize() const { return FTotalDownloadSize; }

protected:
    // Progress of the current file: R bytes read so far. Cancellation point.
    void DownloadProgress(std::int64_t ReadCount);

private:
    bool IsUpToDate(const QString& LocalName, const TJsonFileDescriptor& File) const;
    void DownloadFile(const QString& LocalName, const TJsonFileDescriptor& File);
    void CheckCanceled() const;
    void PostProgress(int Total, int Delta, bool Flush = false);

    mutable std::mutex FTaskLock;
    std::weak_ptr<TInstallTask> FInstallTask;
    QString FPublicKey;
    std::uint64_t FTotalDownloadSize = 0;
    std::int64_t FPrevDownloadReadCount = 0;
    // Progress waiting for the main thread; one delivery at a time carries whatever has gathered.
    struct TPendingProgress;
    std::shared_ptr<TPendingProgress> FPending;
};

// A list name ("a\b.dat") as a path below the item's folder ("a/b.dat"). Raises EInOutError when the
// name is empty, absolute, carries a drive letter, names a folder or climbs out with "..".
QString SafeRelativeFileName(const QString& FileName);
