#pragma once

// Game watchers: one per game launched since the program started. They watch the game's install folder
// and turn what the game writes there into scores and in-game events for the service: score files
// ".meta/<board>.se", event files ".meta/<event>.ae", the file-open lines of the DOSBox debugger build's
// log (games with log-based achievements), and the high-score table of thunder-q.

#include "Lib/DirectoryWatch.h"

#include <QByteArray>
#include <QFile>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <vector>

class QThreadPool;
class TAppLibraryItem;
struct TZebTask;

class TDirWatcher {
public:
    // Starts watching the game's folder (subfolders included). Raises when the folder cannot be watched
    // or, for thunder-q, when its score table cannot be read in full.
    explicit TDirWatcher(TAppLibraryItem* App);
    ~TDirWatcher();
    TDirWatcher(const TDirWatcher&) = delete;
    TDirWatcher& operator=(const TDirWatcher&) = delete;

    // Set on the main thread before the watcher goes; the log task stops on it.
    std::atomic<bool> FTerminated{false};
    std::unique_ptr<TDirectoryWatch> FWatcher;
    QString FKey;
    QString FPath; // the install folder, ends with "/"
    bool FLogBased = false;

    // The game log and how far it has been read.
    std::unique_ptr<QFile> FZebStream;
    qint64 FZebStreamSize = 0;
    // A last line without its end yet: it is finished by the next read.
    QByteArray FZebPartialLine;
    // The log polling task; once started it is never replaced.
    std::shared_ptr<TZebTask> ZebTask;
    unsigned ZebTaskSleep = 1000; // ms between log size checks
    QStringList FLines;           // the lines of the last read
    QStringList ZebAcceptFiles;   // from "data.zeb"
    QSet<QString> FZebAcceptLower;

    // Log task steps, run on the main thread. False when the watcher is no longer alive.
    bool ReadLogTail();
    bool CheckLogChanged(bool& Alive) const;
};

// The owning list of watchers; every change notification of their watches arrives here.
class TWatchers {
public:
    TWatchers() = default;
    // Marks every watcher terminated, waits for the log tasks and frees the watchers.
    ~TWatchers();

    TDirWatcher* FindByKey(const QString& Key) const;
    // The watcher of a watch; raise "DirWatcher not found" when it belongs to none.
    QString GetAppKey(TDirectoryWatch* DW) const;
    TDirWatcher* GetDirWatcher(TDirectoryWatch* DW) const;
    void Add(std::shared_ptr<TDirWatcher> Watcher);
    int Count() const { return int(FItems.size()); }

    void DirWatchNotify(TDirectoryWatch* Sender, TWatchAction Action, const QString& FileName);

private:
    std::shared_ptr<TDirWatcher> Shared(TDirWatcher* Watcher) const;
    std::vector<std::shared_ptr<TDirWatcher>> FItems;
};

// The process-wide list and the pool of the log tasks (at most 1000 threads). Both are made on first
// use if InitWatchers has not run.
TWatchers& Watchers();
QThreadPool& WatcherPool();
void InitWatchers();
void DoneWatchers();

// Makes sure the game's folder is watched: creates its watcher at the first call.
void WatchApp(TAppLibraryItem* App);

// A score file: its first 4 bytes are the score (little-endian, missing bytes count as 0); it is read,
// deleted and, when not 0, reported on the board named by the file.
void ProcessScoreFile(const QString& Key, const QString& File);
// An event file: deleted, and its name reported as an in-game event.
void ProcessEventFile(const QString& Key, const QString& File);
// Opens the game log at the first change and starts the watcher's log task.
void ProcessLogBasedEvents(const std::shared_ptr<TDirWatcher>& W, const QString& File);
// Reports an event for every file-open line of FLines that names an accepted data file.
void ProcessLogLines(TDirWatcher& W);
// The event name of an opened data file: MD5 of its name as logged followed by "*QRN", in hex.
QString ZebEventName(const QString& FileName);
