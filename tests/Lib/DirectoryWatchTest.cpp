#include "Lib/DirectoryWatch.h"
#include "App/Exceptions.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QThread>

#include <cstring>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

struct TChange {
    TWatchAction Action;
    QString Name;
    bool operator==(const TChange&) const = default;
};

std::ostream& operator<<(std::ostream& os, const TChange& c) {
    return os << int(c.Action) << ":" << c.Name.toStdString();
}

// Records every notification and error, and checks they arrive on the main thread.
struct Recorder {
    QList<TChange> Changes;
    QList<int> Errors;
    int ChangeCalls = 0;
    bool OffMainThread = false;

    void Attach(TDirectoryWatch& w) {
        w.SetOnNotify([this](TDirectoryWatch*, TWatchAction a, const QString& n) {
            OffMainThread |= QThread::currentThread() != qApp->thread();
            Changes << TChange{a, n};
        });
        w.SetOnError([this](TDirectoryWatch*, int code, const QString&) { Errors << code; });
        w.SetOnChange([this](TDirectoryWatch*) { ++ChangeCalls; });
    }
    int Count(TWatchAction a, const QString& n) const { return int(Changes.count(TChange{a, n})); }
};

void CreateEmpty(const QString& path) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
}

}  // namespace

TEST(DirectoryWatch, WritesInSubfolderAreReportedOncePerWriteWithRelativeNames) {
    const QString dir = MakeTempDir(QStringLiteral("watch"));
    QDir().mkpath(dir + QStringLiteral(".meta"));
    TDirectoryWatch w;
    Recorder r;
    r.Attach(w);
    w.SetDirectory(dir);
    w.Start();
    ASSERT_TRUE(w.Running());

    WriteFile(dir + QStringLiteral(".meta/x.se"), QByteArray::fromHex("10270000"));
    ASSERT_TRUE(WaitFor([&] { return r.Count(waModified, QStringLiteral(".meta/x.se")) == 1; }));
    WriteFile(dir + QStringLiteral(".meta/x.se"), QByteArray::fromHex("20270000"));
    ASSERT_TRUE(WaitFor([&] { return r.Count(waModified, QStringLiteral(".meta/x.se")) == 2; }));
    // A marker after the writes: once it is seen, nothing more is owed for the file.
    CreateEmpty(dir + QStringLiteral("marker"));
    ASSERT_TRUE(WaitFor([&] { return r.Count(waAdded, QStringLiteral("marker")) == 1; }));
    EXPECT_EQ(r.Count(waModified, QStringLiteral(".meta/x.se")), 2);
    EXPECT_EQ(r.Count(waAdded, QStringLiteral(".meta/x.se")), 1);
    EXPECT_FALSE(r.OffMainThread);
}

TEST(DirectoryWatch, ActionsInOrderAndLimitedToTheChosenOnes) {
    const QString dir = MakeTempDir(QStringLiteral("watch"));
    TDirectoryWatch w;
    Recorder r;
    r.Attach(w);
    w.SetDirectory(dir);
    w.Start();

    CreateEmpty(dir + QStringLiteral("a"));
    QFile::rename(dir + QStringLiteral("a"), dir + QStringLiteral("b"));
    QFile::remove(dir + QStringLiteral("b"));
    const QList<TChange> expected = {{waAdded, QStringLiteral("a")},
                                     {waRenamedOld, QStringLiteral("a")},
                                     {waRenamedNew, QStringLiteral("b")},
                                     {waRemoved, QStringLiteral("b")}};
    ASSERT_TRUE(WaitFor([&] { return r.Changes.size() >= expected.size(); }));
    EXPECT_EQ(r.Changes, expected);

    // Only modifications: creating and deleting files reports nothing; a write still does.
    w.SetWatchActions(TWatchActions{waModified});
    r.Changes.clear();
    CreateEmpty(dir + QStringLiteral("c"));
    QFile::remove(dir + QStringLiteral("c"));
    WriteFile(dir + QStringLiteral("d"), "data");
    ASSERT_TRUE(WaitFor([&] { return !r.Changes.isEmpty(); }));
    EXPECT_EQ(r.Changes, (QList<TChange>{{waModified, QStringLiteral("d")}}));
}

TEST(DirectoryWatch, FoldersCreatedLaterAreWatchedToo) {
    const QString dir = MakeTempDir(QStringLiteral("watch"));
    TDirectoryWatch w;
    Recorder r;
    r.Attach(w);
    w.SetDirectory(dir);
    w.Start();

    // A game makes its folder and writes at once, before the watch on the new folder may exist.
    WriteFile(dir + QStringLiteral("new/deep/s.se"), "1234");
    ASSERT_TRUE(WaitFor([&] { return r.Count(waModified, QStringLiteral("new/deep/s.se")) >= 1; }));
    // Writes made long after are reported through the new folder's own watch.
    WriteFile(dir + QStringLiteral("new/deep/t.ae"), "1");
    ASSERT_TRUE(WaitFor([&] { return r.Count(waModified, QStringLiteral("new/deep/t.ae")) == 1; }));

    // A renamed folder reports under its new name.
    ASSERT_TRUE(QDir().rename(dir + QStringLiteral("new"), dir + QStringLiteral("moved")));
    ASSERT_TRUE(WaitFor([&] { return r.Count(waRenamedNew, QStringLiteral("moved")) == 1; }));
    WriteFile(dir + QStringLiteral("moved/deep/u.se"), "1");
    ASSERT_TRUE(WaitFor([&] { return r.Count(waModified, QStringLiteral("moved/deep/u.se")) == 1; }));

    // Without the subtree, only the folder itself counts.
    w.SetWatchSubTree(false);
    r.Changes.clear();
    WriteFile(dir + QStringLiteral("moved/deep/v.se"), "1");
    WriteFile(dir + QStringLiteral("top"), "1");
    ASSERT_TRUE(WaitFor([&] { return r.Count(waModified, QStringLiteral("top")) == 1; }));
    for (const TChange& c : r.Changes)
        EXPECT_FALSE(c.Name.contains(QLatin1Char('/'))) << c;
}

TEST(DirectoryWatch, FileKeptOpenIsReportedOnceQuietNotMidWrite) {
    const QString dir = MakeTempDir(QStringLiteral("watch"));
    TDirectoryWatch w;
    Recorder r;
    r.Attach(w);
    w.SetDirectory(dir);
    w.SetWatchActions(TWatchActions{waModified});
    w.Start();

    // Like an emulator's log: appended and flushed, never closed while the game runs.
    QFile log(dir + QStringLiteral("zeb.log"));
    ASSERT_TRUE(log.open(QIODevice::WriteOnly | QIODevice::Append));
    log.write("line 1\n");
    log.flush();
    ASSERT_TRUE(WaitFor([&] { return r.Count(waModified, QStringLiteral("zeb.log")) == 1; }));
    log.write("line 2\n");
    log.flush();
    ASSERT_TRUE(WaitFor([&] { return r.Count(waModified, QStringLiteral("zeb.log")) == 2; }));
    log.close();
    // Closing after the quiet report owes nothing more.
    WriteFile(dir + QStringLiteral("marker"), "1");
    ASSERT_TRUE(WaitFor([&] { return r.Count(waModified, QStringLiteral("marker")) == 1; }));
    EXPECT_EQ(r.Count(waModified, QStringLiteral("zeb.log")), 2);
}

TEST(DirectoryWatch, StartStopAndSetterRules) {
    TDirectoryWatch w;
    Recorder r;
    r.Attach(w);
    try {
        w.Start();
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Please specify a directory to watch"));
    }
    EXPECT_FALSE(w.Running());

    const QString missing = TestHome() + QStringLiteral("/no-such-folder");
    w.SetDirectory(QStringLiteral("  ") + missing + QStringLiteral(" "));
    EXPECT_EQ(w.Directory(), missing);
    try {
        w.Start();
        FAIL() << "no error";
    } catch (const EOSError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Error trying to create file handle for \"%1\". Error code: %2").arg(missing).arg(ENOENT));
    }
    EXPECT_FALSE(w.Running());

    const QString dir = MakeTempDir(QStringLiteral("Watch"));
    w.SetDirectory(dir);
    w.Start();
    ASSERT_TRUE(w.Running());
    TDirWatchThread* thread = w.WatchThread();
    const int before = r.ChangeCalls;
    // The same folder in another letter case, and unchanged settings: no restart, no change call.
    w.SetDirectory(dir.toUpper());
    w.SetWatchSubTree(true);
    w.SetWatchActions(w.WatchActions());
    EXPECT_EQ(w.WatchThread(), thread);
    EXPECT_EQ(r.ChangeCalls, before);
    EXPECT_EQ(w.Directory(), dir);

    // A real change restarts a running watch.
    w.SetWatchOptions(TWatchOptions{woFileName});
    EXPECT_TRUE(w.Running());
    EXPECT_GT(r.ChangeCalls, before);

    w.Stop();
    EXPECT_FALSE(w.Running());
    w.Stop();
    // Changes while stopped are lost.
    WriteFile(dir + QStringLiteral("lost"), "1");
    w.Start();
    WriteFile(dir + QStringLiteral("seen"), "1");
    ASSERT_TRUE(WaitFor([&] { return r.Count(waAdded, QStringLiteral("seen")) == 1; }));
    EXPECT_EQ(r.Count(waAdded, QStringLiteral("lost")), 0);
}

TEST(DirectoryWatch, OverflowIsReportedAsErrorCode1022) {
    const QString dir = MakeTempDir(QStringLiteral("watch"));
    TDirectoryWatch w;
    Recorder r;
    r.Attach(w);
    w.SetDirectory(dir);
    // A worker whose loop has already ended, fed the kernel's overflow record by hand.
    const int abortEvent = ::eventfd(1, EFD_CLOEXEC);
    TDirWatchThread thread(dir, true, w.WatchOptions(), abortEvent, 32, &w);
    thread.Finish(3000);
    inotify_event overflow{};
    overflow.wd = -1;
    overflow.mask = IN_Q_OVERFLOW;
    thread.HandleEvents(reinterpret_cast<const char*>(&overflow), sizeof overflow);
    ASSERT_TRUE(WaitFor([&] { return !r.Errors.isEmpty(); }));
    EXPECT_EQ(r.Errors, QList<int>{DIR_ERROR_NOTIFY_ENUM_DIR});
    EXPECT_TRUE(r.Changes.isEmpty());
    ::close(abortEvent);
}

TEST(DirectoryWatch, FileRefusedWhileOpenCountsOnlyWhenClosedAfterWriting) {
    const QString dir = MakeTempDir(QStringLiteral("watch"));
    TDirectoryWatch w;
    Recorder r;
    r.Attach(w);
    w.SetDirectory(dir);
    w.SetWatchActions(TWatchActions{waModified});
    w.SetReportOpenFiles([](const QString& name) { return !name.endsWith(QStringLiteral(".se")); });
    w.Start();

    // Half a score, flushed and left open.
    QFile score(dir + QStringLiteral("hiscore.se"));
    ASSERT_TRUE(score.open(QIODevice::WriteOnly));
    score.write("\x10\x27", 2);
    score.flush();
    // A log written after it and also left open: once its quiet report arrives, the score file has been
    // quiet for longer, and would have been reported by now if it were reported while open.
    QFile log(dir + QStringLiteral("game.log"));
    ASSERT_TRUE(log.open(QIODevice::WriteOnly));
    log.write("started\n");
    log.flush();
    ASSERT_TRUE(WaitFor([&] { return r.Count(waModified, QStringLiteral("game.log")) == 1; }));
    EXPECT_EQ(r.Count(waModified, QStringLiteral("hiscore.se")), 0);

    score.write("\0\0", 2);
    score.close();
    ASSERT_TRUE(WaitFor([&] { return r.Count(waModified, QStringLiteral("hiscore.se")) == 1; }));
    EXPECT_EQ(ReadFile(dir + QStringLiteral("hiscore.se")), QByteArray::fromHex("10270000"));

    // Opened for writing and closed without a write: nothing was written.
    QFile untouched(dir + QStringLiteral("hiscore.se"));
    ASSERT_TRUE(untouched.open(QIODevice::WriteOnly | QIODevice::Append));
    untouched.close();
    WriteFile(dir + QStringLiteral("marker.se"), "1");
    ASSERT_TRUE(WaitFor([&] { return r.Count(waModified, QStringLiteral("marker.se")) == 1; }));
    EXPECT_EQ(r.Count(waModified, QStringLiteral("hiscore.se")), 1);
}
