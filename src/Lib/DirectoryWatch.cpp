#include "Lib/DirectoryWatch.h"

#include "App/Exceptions.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

// A file written and left open is reported once it has been quiet this long, or at the latest this
// long after its first unreported write; closing it after writing reports it at once.
constexpr qint64 QuietMs = 200;
constexpr qint64 MaxDelayMs = 1000;

qint64 NowMs() {
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
}

QString ErrorText(int code) { return QString::fromLocal8Bit(std::strerror(code)); }

QString OverflowText() {
    return QStringLiteral(
        "A notify change request is being completed and the information is not being returned in the caller's "
        "buffer. The caller now needs to enumerate the files to find the changes.");
}

bool ReportsNames(TWatchOptions f) { return f.Contains(woFileName) || f.Contains(woDirName); }
bool ReportsWrites(TWatchOptions f) { return f.Contains(woSize) || f.Contains(woLastWrite); }
bool ReportsAttributes(TWatchOptions f) {
    return f.Contains(woAttributes) || f.Contains(woLastAccess) || f.Contains(woCreation) || f.Contains(woSecurity);
}

}  // namespace

// ---- TDirWatchThread ----

TDirWatchThread::TDirWatchThread(const QString& Directory, bool WatchSubTree, TWatchOptions Filter, int AbortEvent,
                                 int BufferSize, TDirectoryWatch* Receiver)
    : FWatchSubTree(WatchSubTree),
      FAbortEvent(AbortEvent),
      // Room for at least one record with the longest name.
      FBufferSize(std::max<qint64>(qint64(BufferSize) * 532, sizeof(inotify_event) + NAME_MAX + 1)),
      FReceiver(Receiver),
      FFilter(Filter),
      FReportOpenFiles(Receiver ? Receiver->FReportOpenFiles : nullptr) {
    FDirectory = Directory;
    while (FDirectory.size() > 1 && FDirectory.endsWith(QLatin1Char('/')))
        FDirectory.chop(1);

    // Folder events are always needed inside a subtree, to follow new and renamed folders; what is
    // reported is filtered by the options.
    if (ReportsNames(Filter) || WatchSubTree)
        FMask |= IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
    if (ReportsWrites(Filter))
        FMask |= IN_MODIFY | IN_CLOSE_WRITE;
    if (ReportsAttributes(Filter))
        FMask |= IN_ATTRIB;

    FNotifyHandle = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    int error = FNotifyHandle < 0 ? errno : 0;
    if (!error) {
        const int wd = AddWatch(QString(), true);
        if (wd < 0)
            error = -wd;
    }
    if (error) {
        if (FNotifyHandle >= 0)
            ::close(FNotifyHandle);
        throw EOSError(QStringLiteral("Error trying to create file handle for \"%1\". Error code: %2").arg(Directory).arg(error),
                       error);
    }
    if (FWatchSubTree)
        AddSubTree(QString(), false);

    FThread.reset(QThread::create([this] { Run(); }));
    FThread->start();
}

TDirWatchThread::~TDirWatchThread() {
    Finish(3000);
    ::close(FNotifyHandle);
}

void TDirWatchThread::Finish(int Milliseconds) {
    if (!FThread)
        return;
    if (!FThread->wait(Milliseconds)) {
        FThread->terminate();
        FThread->wait();
    }
    FThread.reset();
}

// The descriptor, or -errno.
int TDirWatchThread::AddWatch(const QString& Relative, bool Initial) {
    const QString full = Relative.isEmpty() ? FDirectory : FDirectory + QLatin1Char('/') + Relative;
    const int wd = ::inotify_add_watch(FNotifyHandle, QFile::encodeName(full).constData(), FMask | IN_ONLYDIR | IN_DONT_FOLLOW);
    if (wd < 0) {
        const int e = errno;
        // A folder that vanished meanwhile is no error; running out of watches is worth a report.
        if (!Initial && e != ENOENT && e != ENOTDIR)
            PostError(e, ErrorText(e) + QStringLiteral(": ") + full);
        return -e;
    }
    FWatches.insert(wd, Relative);
    return wd;
}

void TDirWatchThread::AddSubTree(const QString& Relative, bool ReportContents) {
    if (!Relative.isEmpty() && AddWatch(Relative, false) < 0)
        return;
    // Whatever appeared in a new folder before its watch existed would be missed: report it from here.
    const QString full = Relative.isEmpty() ? FDirectory : FDirectory + QLatin1Char('/') + Relative;
    const QFileInfoList entries =
        QDir(full).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& e : entries) {
        const QString child = Relative.isEmpty() ? e.fileName() : Relative + QLatin1Char('/') + e.fileName();
        const bool isDir = e.isDir() && !e.isSymLink();
        if (ReportContents && FFilter.Contains(isDir ? woDirName : woFileName))
            PostNotify(DIR_ACTION_ADDED, child);
        if (isDir)
            AddSubTree(child, ReportContents);
        else if (ReportContents && ReportsWrites(FFilter) && e.size() > 0)
            PostNotify(DIR_ACTION_MODIFIED, child);
    }
}

void TDirWatchThread::RemoveSubTree(const QString& Relative) {
    const QString prefix = Relative + QLatin1Char('/');
    for (auto it = FWatches.begin(); it != FWatches.end();) {
        if (it.value() == Relative || it.value().startsWith(prefix)) {
            ::inotify_rm_watch(FNotifyHandle, it.key());
            it = FWatches.erase(it);
        } else {
            ++it;
        }
    }
}

void TDirWatchThread::RenameSubTree(const QString& OldRelative, const QString& NewRelative) {
    const QString prefix = OldRelative + QLatin1Char('/');
    for (auto it = FWatches.begin(); it != FWatches.end(); ++it) {
        if (it.value() == OldRelative)
            it.value() = NewRelative;
        else if (it.value().startsWith(prefix))
            it.value() = NewRelative + it.value().mid(OldRelative.size());
    }
}

void TDirWatchThread::HandleEvents(const char* Buffer, qint64 Length) {
    qint64 pos = 0;
    while (pos + qint64(sizeof(inotify_event)) <= Length) {
        inotify_event ev;
        std::memcpy(&ev, Buffer + pos, sizeof ev);
        const char* namePtr = Buffer + pos + sizeof(inotify_event);
        pos += qint64(sizeof(inotify_event)) + ev.len;
        if (pos > Length)
            break;

        if (ev.mask & IN_Q_OVERFLOW) {
            PostError(DIR_ERROR_NOTIFY_ENUM_DIR, OverflowText());
            // Folders created during the overflow would stay unwatched otherwise.
            if (FWatchSubTree)
                AddSubTree(QString(), false);
            continue;
        }
        if (ev.mask & IN_IGNORED) {
            FWatches.remove(ev.wd);
            continue;
        }
        const auto folder = FWatches.constFind(ev.wd);
        if (folder == FWatches.constEnd() || ev.len == 0)
            continue;
        const QString name = QFile::decodeName(QByteArray(namePtr, int(strnlen(namePtr, ev.len))));
        const QString rel = folder->isEmpty() ? name : *folder + QLatin1Char('/') + name;
        const bool isDir = ev.mask & IN_ISDIR;
        const bool reportName = FFilter.Contains(isDir ? woDirName : woFileName);

        if (ev.mask & IN_CREATE) {
            if (reportName)
                PostNotify(DIR_ACTION_ADDED, rel);
            if (isDir && FWatchSubTree)
                AddSubTree(rel, true);
        }
        if (ev.mask & IN_DELETE) {
            FPendingModified.remove(rel);
            if (reportName)
                PostNotify(DIR_ACTION_REMOVED, rel);
        }
        if (ev.mask & IN_MOVED_FROM) {
            FPendingModified.remove(rel);
            if (reportName)
                PostNotify(DIR_ACTION_RENAMED_OLD, rel);
            if (isDir && FWatchSubTree)
                FMovedFromDirs.insert(ev.cookie, rel);
        }
        if (ev.mask & IN_MOVED_TO) {
            if (reportName)
                PostNotify(DIR_ACTION_RENAMED_NEW, rel);
            if (isDir && FWatchSubTree) {
                const auto from = FMovedFromDirs.constFind(ev.cookie);
                if (from != FMovedFromDirs.constEnd()) {
                    RenameSubTree(*from, rel);
                    FMovedFromDirs.erase(from);
                } else {
                    AddSubTree(rel, false);
                }
            }
        }
        if ((ev.mask & IN_MODIFY) && !isDir) {
            const qint64 now = NowMs();
            auto it = FPendingModified.find(rel);
            if (it == FPendingModified.end())
                FPendingModified.insert(rel, TPending{now, now, FReportOpenFiles && !FReportOpenFiles(rel)});
            else
                it->LastMs = now;
        }
        // The end of a write, so a reader never sees a half-written file; a file that was opened for
        // writing but not written is no modification.
        if ((ev.mask & IN_CLOSE_WRITE) && FPendingModified.remove(rel))
            PostNotify(DIR_ACTION_MODIFIED, rel);
        if (ev.mask & IN_ATTRIB)
            PostNotify(DIR_ACTION_MODIFIED, rel);
    }
    // A folder moved out of the tree: its watches would report under a stale name.
    for (const QString& gone : std::as_const(FMovedFromDirs))
        RemoveSubTree(gone);
    FMovedFromDirs.clear();
}

int TDirWatchThread::NextTimeout() const {
    if (std::none_of(FPendingModified.cbegin(), FPendingModified.cend(), [](const TPending& p) { return !p.CloseOnly; }))
        return -1;
    const qint64 now = NowMs();
    qint64 next = MaxDelayMs;
    for (const TPending& p : FPendingModified)
        if (!p.CloseOnly)
            next = std::min(next, std::min(p.LastMs + QuietMs, p.FirstMs + MaxDelayMs) - now);
    return int(std::max<qint64>(0, next));
}

void TDirWatchThread::ReportDueModifications(bool All) {
    const qint64 now = NowMs();
    QList<std::pair<qint64, QString>> due;
    for (auto it = FPendingModified.cbegin(); it != FPendingModified.cend(); ++it)
        if (!it->CloseOnly && (All || now >= it->LastMs + QuietMs || now >= it->FirstMs + MaxDelayMs))
            due.append({it->FirstMs, it.key()});
    std::sort(due.begin(), due.end());
    for (const auto& d : due) {
        FPendingModified.remove(d.second);
        PostNotify(DIR_ACTION_MODIFIED, d.second);
    }
}

void TDirWatchThread::Run() {
    QByteArray buffer(FBufferSize, Qt::Uninitialized);
    for (;;) {
        pollfd fds[2] = {{FNotifyHandle, POLLIN, 0}, {FAbortEvent, POLLIN, 0}};
        const int r = ::poll(fds, 2, NextTimeout());
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 || fds[1].revents)
            return;
        try {
            if (fds[0].revents & POLLIN) {
                for (;;) {
                    const ssize_t n = ::read(FNotifyHandle, buffer.data(), size_t(buffer.size()));
                    if (n < 0) {
                        if (errno == EINTR)
                            continue;
                        if (errno != EAGAIN)
                            PostError(0, ErrorText(errno));
                        break;
                    }
                    HandleEvents(buffer.constData(), n);
                }
            }
            ReportDueModifications(false);
        } catch (const std::exception& e) {
            PostError(0, QString::fromUtf8(e.what()));
        }
    }
}

void TDirWatchThread::PostNotify(int Action, const QString& FileName) {
    TDirectoryWatch* r = FReceiver;
    QMetaObject::invokeMethod(r, [r, Action, FileName] { r->DoNotify(Action, FileName); }, Qt::QueuedConnection);
}

void TDirWatchThread::PostError(int Code, const QString& Message) {
    if (Code == 0)
        Code = errno;
    TDirectoryWatch* r = FReceiver;
    QMetaObject::invokeMethod(r, [r, Code, Message] { r->DoError(Code, Message); }, Qt::QueuedConnection);
}

// ---- TDirectoryWatch ----

TDirectoryWatch::TDirectoryWatch() = default;

TDirectoryWatch::~TDirectoryWatch() { Stop(); }

void TDirectoryWatch::Start() {
    if (FDirectory.isEmpty())
        throw Exception(QStringLiteral("Please specify a directory to watch"));
    if (Running())
        return;
    FAbortEvent = ::eventfd(0, EFD_CLOEXEC);
    try {
        FWatchThread = std::make_unique<TDirWatchThread>(FDirectory, FWatchSubTree, FWatchOptions, FAbortEvent, FBufferSize, this);
    } catch (...) {
        ::close(FAbortEvent);
        FAbortEvent = -1;
        throw;
    }
    DoChange();
}

void TDirectoryWatch::Stop() {
    if (!Running())
        return;
    const quint64 one = 1;
    if (::write(FAbortEvent, &one, sizeof one) < 0) {
        // Finish terminates the thread when it does not end by itself.
    }
    FWatchThread->Finish(3000);
    FWatchThread.reset();
    ::close(FAbortEvent);
    FAbortEvent = -1;
    DoChange();
}

void TDirectoryWatch::Restart() {
    if (Running()) {
        Stop();
        Start();
    }
}

void TDirectoryWatch::SetDirectory(const QString& Value) {
    const QString v = Value.trimmed();
    if (v.compare(FDirectory, Qt::CaseInsensitive) == 0)
        return;
    FDirectory = v;
    Restart();
    DoChange();
}

void TDirectoryWatch::SetWatchOptions(TWatchOptions Value) {
    if (Value == FWatchOptions)
        return;
    FWatchOptions = Value;
    Restart();
    DoChange();
}

void TDirectoryWatch::SetWatchActions(TWatchActions Value) {
    if (Value == FWatchActions)
        return;
    FWatchActions = Value;
    Restart();
    DoChange();
}

void TDirectoryWatch::SetWatchSubTree(bool Value) {
    if (Value == FWatchSubTree)
        return;
    FWatchSubTree = Value;
    Restart();
    DoChange();
}

void TDirectoryWatch::SetReportOpenFiles(TOpenFileFilter Filter) {
    FReportOpenFiles = std::move(Filter);
    Restart();
    DoChange();
}

void TDirectoryWatch::DoChange() {
    if (FOnChange)
        FOnChange(this);
}

void TDirectoryWatch::DoNotify(int Action, const QString& FileName) {
    if (!FOnNotify || Action < DIR_ACTION_ADDED || Action > DIR_ACTION_RENAMED_NEW)
        return;
    const auto action = TWatchAction(Action - 1);
    if (FWatchActions.Contains(action))
        FOnNotify(this, action, FileName);
}

void TDirectoryWatch::DoError(int ErrorCode, const QString& ErrorMessage) {
    if (FOnError)
        FOnError(this, ErrorCode, ErrorMessage);
}
