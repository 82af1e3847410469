#include "Service/DirWatcher.h"

#include "App/Exceptions.h"
#include "App/MainThread.h"
#include "Service/AppsLibrary.h"
#include "Service/AppsLibrary/AppConfig.h"
#include "Service/DirWatcher/ThunderQ.h"
#include "Service/EventReporter.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFileInfo>
#include <QThreadPool>
#include <QtEndian>

#include <chrono>
#include <condition_variable>
#include <mutex>

// Cancellation of one log task; the task sleeps on it between its checks.
struct TZebTask {
    std::mutex Lock;
    std::condition_variable Wake;
    std::atomic<bool> Cancelled{false};

    void Cancel() {
        {
            std::lock_guard<std::mutex> lock(Lock);
            Cancelled = true;
        }
        Wake.notify_all();
    }
    // True when cancelled while sleeping.
    bool Sleep(unsigned Ms) {
        std::unique_lock<std::mutex> lock(Lock);
        return Wake.wait_for(lock, std::chrono::milliseconds(Ms), [this] { return Cancelled.load(); });
    }
};

namespace {

const QString MetaFolder = QStringLiteral(".meta/");
const QString ZebLogName = QStringLiteral(".meta/zeb.log");
const QString ThunderQKey = QStringLiteral("thunder-q");
const QString ThunderQTable = QStringLiteral("Image/TQ/TQ.CFG");
constexpr int MaxLogTaskThreads = 1000;
// "FILES:" counts only from this (0-based) position on.
constexpr int FilesTagFrom = 10;

std::unique_ptr<TWatchers> GWatchers;
std::unique_ptr<QThreadPool> GPool;

// The names the service knows are lower case; only ASCII letters change, as the games wrote them.
QString AsciiLower(QString Text) {
    for (QChar& c : Text)
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + 32);
    return Text;
}

// The file name without folder and without its three-character extension, in lower case.
QString NameFromFile(const QString& File) {
    QString name = QFileInfo(File).fileName();
    name.chop(3);
    return AsciiLower(name);
}

bool IsScoreOrEventFile(const QString& Name) {
    return Name.endsWith(QStringLiteral(".se"), Qt::CaseInsensitive) ||
           Name.endsWith(QStringLiteral(".ae"), Qt::CaseInsensitive);
}

QStringList ReadAcceptList(const QString& FileName) {
    QFile file(FileName);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList result;
    for (const QByteArray& raw : file.readAll().split('\n')) {
        QByteArray line = raw;
        if (line.endsWith('\r'))
            line.chop(1);
        if (!line.isEmpty())
            result.append(QString::fromUtf8(line));
    }
    return result;
}

// Runs Step on the main thread with the watcher, when it still exists; false when it is gone.
bool OnWatcher(const std::weak_ptr<TDirWatcher>& Weak, const std::function<bool(TDirWatcher&)>& Step) {
    bool alive = false;
    RunOnMainThread([&] {
        const std::shared_ptr<TDirWatcher> w = Weak.lock();
        alive = w && !w->FTerminated && Step(*w);
    });
    return alive;
}

void RunLogTask(const std::weak_ptr<TDirWatcher>& Weak, const std::shared_ptr<TZebTask>& Task, unsigned SleepMs) {
    for (;;) {
        if (!OnWatcher(Weak, [](TDirWatcher& w) { return w.ReadLogTail(); }))
            return;
        bool changed = false;
        while (!changed) {
            if (Task->Sleep(SleepMs))
                return;
            if (!OnWatcher(Weak, [&](TDirWatcher& w) {
                    bool alive = false;
                    changed = w.CheckLogChanged(alive);
                    return alive;
                }))
                return;
        }
    }
}

} // namespace

// ---- TDirWatcher --------------------------------------------------------------------------------------

TDirWatcher::TDirWatcher(TAppLibraryItem* App)
    : FWatcher(std::make_unique<TDirectoryWatch>()), FKey(App->PublicKey), FPath(App->Path) {
    if (!FPath.isEmpty() && !FPath.endsWith(QLatin1Char('/')))
        FPath += QLatin1Char('/');
    if (App->AppConfig() && App->AppConfig()->LogBasedAchievements) {
        FLogBased = true;
        ZebAcceptFiles = ReadAcceptList(FPath + QStringLiteral("data.zeb"));
        for (const QString& name : ZebAcceptFiles)
            FZebAcceptLower.insert(name.toLower());
    }
    FWatcher->SetDirectory(FPath);
    FWatcher->SetWatchSubTree(true);
    // A score or event file counts once the game has closed it; the log is followed while it stays open.
    FWatcher->SetReportOpenFiles([](const QString& Name) { return !IsScoreOrEventFile(Name); });
    // An error of a notification (a log that cannot be opened, an unreadable score table) ends in the
    // application's error report, as an error of any event does; the next write of the game tries again.
    FWatcher->SetOnNotify([](TDirectoryWatch* Sender, TWatchAction Action, const QString& FileName) {
        Watchers().DirWatchNotify(Sender, Action, FileName);
    });
    // Before the watch runs, so that preparing the table is not taken for a new score.
    if (FKey == ThunderQKey)
        TqStartScoreWatch(FPath + ThunderQTable);
    FWatcher->Start();
}

TDirWatcher::~TDirWatcher() {
    FTerminated = true;
    if (ZebTask)
        ZebTask->Cancel();
}

bool TDirWatcher::ReadLogTail() {
    if (FTerminated || !FZebStream)
        return false;
    if (FZebStream->size() < FZebStreamSize) {
        // The game started its log anew.
        FZebStreamSize = 0;
        FZebPartialLine.clear();
    }
    if (!FZebStream->seek(FZebStreamSize))
        return false;
    const bool fromStart = FZebStreamSize == 0;
    QByteArray text = FZebPartialLine + FZebStream->readAll();
    FZebStreamSize = FZebStream->pos();
    if (fromStart && text.startsWith("\xEF\xBB\xBF"))
        text.remove(0, 3);
    // A line still being written waits for its end instead of being read in two halves.
    const qsizetype end = text.lastIndexOf('\n') + 1;
    FZebPartialLine = text.mid(end);
    text.truncate(end);
    FLines.clear();
    for (const QByteArray& raw : text.split('\n')) {
        QByteArray line = raw;
        if (line.endsWith('\r'))
            line.chop(1);
        FLines.append(QString::fromUtf8(line));
    }
    if (!FLines.isEmpty())
        FLines.removeLast(); // what follows the last line end
    ProcessLogLines(*this);
    return true;
}

bool TDirWatcher::CheckLogChanged(bool& Alive) const {
    Alive = !FTerminated && FZebStream != nullptr;
    return Alive && FZebStream->size() != FZebStreamSize;
}

// ---- TWatchers ----------------------------------------------------------------------------------------

TWatchers::~TWatchers() {
    for (const auto& w : FItems) {
        w->FTerminated = true;
        if (w->ZebTask)
            w->ZebTask->Cancel();
    }
    // A log task may be waiting for the main thread: let it through while waiting for the pool.
    if (GPool) {
        if (QCoreApplication::instance() && IsMainThread()) {
            while (!GPool->waitForDone(20))
                QCoreApplication::processEvents();
        } else {
            GPool->waitForDone();
        }
    }
    FItems.clear();
}

std::shared_ptr<TDirWatcher> TWatchers::Shared(TDirWatcher* Watcher) const {
    for (const auto& w : FItems)
        if (w.get() == Watcher)
            return w;
    return nullptr;
}

TDirWatcher* TWatchers::FindByKey(const QString& Key) const {
    for (const auto& w : FItems)
        if (w->FKey == Key)
            return w.get();
    return nullptr;
}

TDirWatcher* TWatchers::GetDirWatcher(TDirectoryWatch* DW) const {
    for (const auto& w : FItems)
        if (w->FWatcher.get() == DW)
            return w.get();
    throw Exception(QStringLiteral("DirWatcher not found"));
}

QString TWatchers::GetAppKey(TDirectoryWatch* DW) const {
    return GetDirWatcher(DW)->FKey;
}

void TWatchers::Add(std::shared_ptr<TDirWatcher> Watcher) {
    FItems.push_back(std::move(Watcher));
}

void TWatchers::DirWatchNotify(TDirectoryWatch* Sender, TWatchAction Action, const QString& FileName) {
    // A file renamed into place is complete, and an event file says all by being there: both count
    // like a finished write.
    const bool arrived = (Action == waRenamedNew && IsScoreOrEventFile(FileName)) ||
                         (Action == waAdded && FileName.endsWith(QStringLiteral(".ae"), Qt::CaseInsensitive));
    if (Action != waModified && !(arrived && FileName.contains(MetaFolder)))
        return;
    TDirWatcher* w = GetDirWatcher(Sender);
    if (FileName.contains(MetaFolder)) {
        // The file is opened under the name the game gave it; only the reported names are lower case.
        const QString full = w->FPath + FileName;
        if (!QFileInfo(full).isFile())
            return;
        if (FileName.endsWith(QStringLiteral(".se"), Qt::CaseInsensitive))
            return ProcessScoreFile(w->FKey, full);
        if (FileName.endsWith(QStringLiteral(".ae"), Qt::CaseInsensitive))
            return ProcessEventFile(w->FKey, full);
        if (w->FLogBased && FileName == ZebLogName)
            ProcessLogBasedEvents(Shared(w), full);
    }
    if (FileName.contains(QStringLiteral("/TQ.CFG")) && w->FKey == ThunderQKey) {
        if (const int score = TqReadNewScore())
            ReportScore(ThunderQKey, TqBoardName, score);
    }
}

// ---- files --------------------------------------------------------------------------------------------

void ProcessScoreFile(const QString& Key, const QString& File) {
    qint32 score = 0;
    {
        QFile file(File);
        // A file we cannot open stays for a later notification.
        if (!file.open(QIODevice::ReadOnly))
            return;
        char bytes[4] = {0, 0, 0, 0};
        if (file.read(bytes, 4) > 0)
            score = qFromLittleEndian<qint32>(bytes);
        file.close();
        file.remove();
    }
    if (score != 0)
        ReportScore(Key, NameFromFile(File), score);
}

void ProcessEventFile(const QString& Key, const QString& File) {
    QFile::remove(File);
    ReportInGameEvent(Key, NameFromFile(File));
}

QString ZebEventName(const QString& FileName) {
    return QString::fromLatin1(
        QCryptographicHash::hash((FileName + QStringLiteral("*QRN")).toUtf8(), QCryptographicHash::Md5).toHex());
}

void ProcessLogLines(TDirWatcher& W) {
    const QString tag = QStringLiteral("FILES:");
    for (const QString& line : W.FLines) {
        const qsizetype at = line.indexOf(tag, FilesTagFrom);
        if (at < 0)
            continue;
        qsizetype blank = -1;
        for (qsizetype i = line.size() - 2; i >= at && blank < 0; --i)
            if (line.at(i) == u' ')
                blank = i;
        if (blank < 0)
            continue;
        const QString candidate = line.mid(blank + 1);
        if (W.FZebAcceptLower.contains(candidate.toLower()))
            ReportInGameEvent(W.FKey, ZebEventName(candidate));
    }
}

void ProcessLogBasedEvents(const std::shared_ptr<TDirWatcher>& W, const QString& File) {
    if (!W || W->ZebTask || W->FTerminated)
        return;
    if (!W->FZebStream) {
        auto stream = std::make_unique<QFile>(File);
        // Unbuffered: the game keeps appending, and every read must see the file as it is now.
        if (!stream->open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            throw EInOutError(QStringLiteral("Cannot open %1: %2").arg(File, stream->errorString()));
        W->FZebStream = std::move(stream);
        W->FLines.clear();
        W->FZebStreamSize = 0;
    }
    auto task = std::make_shared<TZebTask>();
    W->ZebTask = task;
    const std::weak_ptr<TDirWatcher> weak = W;
    const unsigned sleepMs = W->ZebTaskSleep;
    WatcherPool().start([weak, task, sleepMs] {
        try {
            RunLogTask(weak, task, sleepMs);
        } catch (...) {
            // The log is no longer followed; scores and event files still are.
        }
    });
}

// ---- module -------------------------------------------------------------------------------------------

QThreadPool& WatcherPool() {
    if (!GPool) {
        GPool = std::make_unique<QThreadPool>();
        GPool->setMaxThreadCount(MaxLogTaskThreads);
    }
    return *GPool;
}

TWatchers& Watchers() {
    if (!GWatchers)
        GWatchers = std::make_unique<TWatchers>();
    return *GWatchers;
}

void InitWatchers() {
    WatcherPool();
    Watchers();
}

void DoneWatchers() {
    GWatchers.reset();
    GPool.reset();
    TqDone();
}

void WatchApp(TAppLibraryItem* App) {
    if (!Watchers().FindByKey(App->PublicKey))
        Watchers().Add(std::make_shared<TDirWatcher>(App));
}
