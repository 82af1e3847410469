#pragma once

#include <QHash>
#include <QObject>
#include <QString>

#include <functional>
#include <initializer_list>
#include <memory>

class QThread;

enum TWatchOption { woFileName, woDirName, woAttributes, woSize, woLastWrite, woLastAccess, woCreation, woSecurity };
enum TWatchAction { waAdded, waRemoved, waModified, waRenamedOld, waRenamedNew };

// A set of enumeration values (at most 32).
template <typename E>
class TEnumSet {
public:
    constexpr TEnumSet() = default;
    constexpr TEnumSet(std::initializer_list<E> values) {
        for (E v : values)
            FBits |= 1u << unsigned(v);
    }
    constexpr bool Contains(E v) const { return FBits & (1u << unsigned(v)); }
    constexpr bool operator==(const TEnumSet&) const = default;
    constexpr bool IsEmpty() const { return FBits == 0; }

private:
    unsigned FBits = 0;
};

using TWatchOptions = TEnumSet<TWatchOption>;
using TWatchActions = TEnumSet<TWatchAction>;

// Action numbers as the change source reports them: 1 added, 2 removed, 3 modified, 4 old and 5 new
// name of a rename; TWatchAction is the number minus one.
constexpr int DIR_ACTION_ADDED = 1;
constexpr int DIR_ACTION_REMOVED = 2;
constexpr int DIR_ACTION_MODIFIED = 3;
constexpr int DIR_ACTION_RENAMED_OLD = 4;
constexpr int DIR_ACTION_RENAMED_NEW = 5;
// Reported when the kernel's queue overflowed and changes were lost.
constexpr int DIR_ERROR_NOTIFY_ENUM_DIR = 1022;

class TDirectoryWatch;

// Worker that blocks on inotify and posts every change to its watch's thread as a queued call.
class TDirWatchThread {
public:
    // Raises EOSError "Error trying to create file handle for "%s". Error code: %d" when the folder
    // cannot be watched. Starts running at once.
    TDirWatchThread(const QString& Directory, bool WatchSubTree, TWatchOptions Filter, int AbortEvent,
                    int BufferSize, TDirectoryWatch* Receiver);
    ~TDirWatchThread();
    // Waits up to Milliseconds for the loop to end after the abort event; terminates it otherwise.
    void Finish(int Milliseconds);

    // Handles one read's worth of inotify records (also used for a synthetic overflow in tests).
    void HandleEvents(const char* Buffer, qint64 Length);

private:
    struct TPending {
        qint64 FirstMs;
        qint64 LastMs;
        bool CloseOnly; // reported at its close, never while open
    };
    void Run();
    int AddWatch(const QString& Relative, bool Initial);
    void AddSubTree(const QString& Relative, bool ReportContents);
    void RemoveSubTree(const QString& Relative);
    void RenameSubTree(const QString& OldRelative, const QString& NewRelative);
    void ReportDueModifications(bool All);
    int NextTimeout() const;
    void PostNotify(int Action, const QString& FileName);
    void PostError(int Code, const QString& Message);

    bool FWatchSubTree;
    int FAbortEvent;
    int FNotifyHandle = -1;  // inotify instance (FDirHandle)
    qint64 FBufferSize;
    TDirectoryWatch* FReceiver;
    QString FDirectory;  // without trailing "/"
    TWatchOptions FFilter;
    unsigned FMask = 0;
    QHash<int, QString> FWatches;        // watch descriptor -> folder relative to FDirectory ("" for it)
    QHash<QString, TPending> FPendingModified;  // written files not yet closed, by relative name
    QHash<quint32, QString> FMovedFromDirs;      // rename cookie -> old relative folder, within one read
    std::function<bool(const QString&)> FReportOpenFiles;
    std::unique_ptr<QThread> FThread;
};

// Watches a folder (and its subfolders) and calls OnNotify on the thread that created it, once per
// changed file, in the order the changes were reported.
class TDirectoryWatch : public QObject {
public:
    using TNotifyEvent = std::function<void(TDirectoryWatch* Sender, TWatchAction Action, const QString& FileName)>;
    using TErrorEvent = std::function<void(TDirectoryWatch* Sender, int ErrorCode, const QString& ErrorMessage)>;
    using TChangeEvent = std::function<void(TDirectoryWatch* Sender)>;
    // Decides, by relative name, whether a file that is written and kept open is reported once it has
    // been quiet for a moment (a log). A file it refuses counts as written only when it is closed, so
    // its reader never sees it half-written. Called on the watch thread.
    using TOpenFileFilter = std::function<bool(const QString& FileName)>;

    TDirectoryWatch();
    ~TDirectoryWatch() override;

    void Start();
    void Stop();
    bool Running() const { return FWatchThread != nullptr; }

    QString Directory() const { return FDirectory; }
    void SetDirectory(const QString& Value);
    TWatchOptions WatchOptions() const { return FWatchOptions; }
    void SetWatchOptions(TWatchOptions Value);
    TWatchActions WatchActions() const { return FWatchActions; }
    void SetWatchActions(TWatchActions Value);
    bool WatchSubTree() const { return FWatchSubTree; }
    void SetWatchSubTree(bool Value);
    // Empty (the default): every file kept open is reported once quiet. A running watch restarts.
    void SetReportOpenFiles(TOpenFileFilter Filter);
    int BufferSize() const { return FBufferSize; }

    void SetOnNotify(TNotifyEvent Handler) { FOnNotify = std::move(Handler); }
    void SetOnError(TErrorEvent Handler) { FOnError = std::move(Handler); }
    void SetOnChange(TChangeEvent Handler) { FOnChange = std::move(Handler); }

    // For tests: the running worker, or null.
    TDirWatchThread* WatchThread() const { return FWatchThread.get(); }

protected:
    virtual void DoChange();
    virtual void DoNotify(int Action, const QString& FileName);
    virtual void DoError(int ErrorCode, const QString& ErrorMessage);

private:
    friend class TDirWatchThread;
    void Restart();

    TWatchOptions FWatchOptions{woFileName, woDirName, woAttributes, woSize, woLastWrite, woLastAccess, woCreation, woSecurity};
    TWatchActions FWatchActions{waAdded, waRemoved, waModified, waRenamedOld, waRenamedNew};
    bool FWatchSubTree = true;
    std::unique_ptr<TDirWatchThread> FWatchThread;
    int FBufferSize = 32;
    QString FDirectory;
    int FAbortEvent = -1;
    TErrorEvent FOnError;
    TChangeEvent FOnChange;
    TNotifyEvent FOnNotify;
    TOpenFileFilter FReportOpenFiles;
};
