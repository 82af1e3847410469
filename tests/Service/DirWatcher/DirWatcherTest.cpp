#include "Service/DirWatcher.h"

#include "App/Exceptions.h"
#include "App/Paths.h"
#include "Forms/Debug.h"
#include "Service/AppsLibrary.h"
#include "Service/AppsLibrary/AppConfig.h"
#include "Service/DirWatcher/ThunderQ.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <QFile>
#include <QFileInfo>
#include <QThreadPool>
#include <QtEndian>

#include <mutex>

namespace {

// Game reports as the service receives them: the decoded texts, in arrival order.
class DirWatcherTest : public ::testing::Test {
protected:
    void SetUp() override {
        FServer.Server().Post("/api/kiv/public/event/app", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(FMutex);
            FReports.push_back(QString::fromUtf8(QByteArray::fromBase64(QByteArray::fromStdString(req.body))));
            res.set_content("", "application/json");
        });
        FServer.Start();
        qputenv("TARVENOX_SERVICE_URL", FServer.Origin().toUtf8());
        InitPaths();
        InitWatchers();
    }
    void TearDown() override {
        Settle();
        DoneWatchers();
        qputenv("TARVENOX_SERVICE_URL", "http://127.0.0.1:9");
        InitPaths();
    }

    std::unique_ptr<TAppLibraryItem> Game(const QString& Key, const QByteArray& Ini = "[Launcher]\n") {
        auto item = std::make_unique<TAppLibraryItem>();
        item->PublicKey = Key;
        item->Path = MakeTempDir(QStringLiteral("game ") + Key);
        WriteFile(item->Path + Key + QStringLiteral(".ini"), Ini);
        item->SetState(lisInstalled);
        return item;
    }
    QStringList Reports() {
        std::lock_guard lock(FMutex);
        return FReports;
    }
    bool Arrived(const QString& Text, int Times = 1) {
        return WaitFor([&] { return Reports().count(Text) >= Times; });
    }
    // Every report that was sent has arrived.
    static void Settle() {
        WaitFor([] { return QThreadPool::globalInstance()->activeThreadCount() == 0; });
    }
    static QString Score(const QString& Key, const QString& Board, int Value) {
        return QStringLiteral("{\"a\":\"%1\",\"e\":\"%2\", \"p\":%3}").arg(Key, Board).arg(Value);
    }
    static QString Event(const QString& Key, const QString& Name) {
        return QStringLiteral("{\"a\":\"%1\",\"e\":\"%2\"}").arg(Key, Name);
    }

    TestHttpServer FServer;
    std::mutex FMutex;
    QStringList FReports;
};

// A thunder-q table: a header we must not touch, then nine records of a score and 12 other bytes.
QByteArray TqTable(std::initializer_list<qint32> Scores) {
    QByteArray table(TqFileSize, '\0');
    for (int i = 0; i < 198; ++i)
        table[i] = char(i * 7);
    int record = 0;
    for (qint32 s : Scores) {
        qToLittleEndian<qint32>(s, table.data() + 198 + 16 * record);
        table.replace(198 + 16 * record + 4, 12, QByteArray(12, char('A' + record)));
        ++record;
    }
    return table;
}

qint32 TqScore(const QByteArray& Table, int Record) {
    return qFromLittleEndian<qint32>(Table.constData() + 198 + 16 * Record);
}

} // namespace

TEST_F(DirWatcherTest, ScoreAndEventFilesAreReadDeletedAndReported) {
    auto game = Game(QStringLiteral("arcade"));
    const QString meta = game->Path + QStringLiteral(".meta/");
    WatchApp(game.get());
    WatchApp(game.get());
    EXPECT_EQ(Watchers().Count(), 1);

    struct TCase {
        const char* Name;
        QByteArray Bytes;
        QString Report; // empty: nothing is reported
    } cases[] = {
        {"HiScore.se", QByteArray::fromHex("10270000"), Score("arcade", "hiscore", 10000)},
        {"short.se", QByteArray::fromHex("3905"), Score("arcade", "short", 1337)},
        {"long.se", QByteArray::fromHex("feffffff0102"), Score("arcade", "long", -2)},
        {"zero.se", QByteArray::fromHex("00000000"), QString()},
        {"Boss.ae", "anything", Event("arcade", "boss")},
        {"notes.txt", "1", QString()},
    };
    for (const TCase& c : cases)
        WriteFile(meta + QString::fromUtf8(c.Name), c.Bytes);
    // Outside ".meta" nothing counts.
    WriteFile(game->Path + QStringLiteral("top.se"), QByteArray::fromHex("01000000"));
    WriteFile(meta + QStringLiteral("last.ae"), "1");
    ASSERT_TRUE(Arrived(Event("arcade", "last")));
    Settle();

    QStringList expected;
    for (const TCase& c : cases) {
        const bool read = QString::fromUtf8(c.Name).endsWith(QStringLiteral("e"));
        EXPECT_EQ(QFileInfo::exists(meta + QString::fromUtf8(c.Name)), !read) << c.Name;
        if (!c.Report.isEmpty())
            expected << c.Report;
    }
    expected << Event("arcade", "last");
    QStringList got = Reports();
    got.sort();
    expected.sort();
    EXPECT_EQ(got, expected);
    EXPECT_TRUE(QFileInfo::exists(game->Path + QStringLiteral("top.se")));
}

TEST_F(DirWatcherTest, ScoreFileIsReadOnlyOnceTheGameHasClosedIt) {
    auto game = Game(QStringLiteral("slow"));
    const QString meta = game->Path + QStringLiteral(".meta/");
    WriteFile(meta + QStringLiteral("keep"), "");
    WatchApp(game.get());
    // A plain watch beside it tells when a file left open has been quiet long enough to be reported.
    TDirectoryWatch plain;
    QStringList quiet;
    plain.SetOnNotify([&](TDirectoryWatch*, TWatchAction a, const QString& name) {
        if (a == waModified)
            quiet << name;
    });
    plain.SetDirectory(game->Path);
    plain.Start();

    QFile score(meta + QStringLiteral("best.se"));
    ASSERT_TRUE(score.open(QIODevice::WriteOnly));
    score.write("\x10\x27", 2);
    score.flush();
    ASSERT_TRUE(WaitFor([&] { return quiet.contains(QStringLiteral(".meta/best.se")); }));
    WriteFile(meta + QStringLiteral("mark.ae"), "1");
    ASSERT_TRUE(Arrived(Event("slow", "mark")));
    EXPECT_TRUE(QFileInfo::exists(meta + QStringLiteral("best.se")));

    score.write("\x01\x00", 2);
    score.close();
    ASSERT_TRUE(Arrived(Score("slow", "best", 0x00012710)));
    Settle();
    EXPECT_EQ(Reports().size(), 2);
}

TEST_F(DirWatcherTest, FilesMovedIntoPlaceOrCreatedEmptyCountToo) {
    auto game = Game(QStringLiteral("atomic"));
    const QString meta = game->Path + QStringLiteral(".meta/");
    WriteFile(meta + QStringLiteral("keep"), "");
    WatchApp(game.get());
    // A score written aside and renamed into place, and an event file that is only created.
    WriteFile(meta + QStringLiteral("tmp"), QByteArray::fromHex("2a000000"));
    ASSERT_TRUE(QFile::rename(meta + QStringLiteral("tmp"), meta + QStringLiteral("Moved.se")));
    QFile created(meta + QStringLiteral("level-up.ae"));
    ASSERT_TRUE(created.open(QIODevice::WriteOnly));
    created.close();
    ASSERT_TRUE(Arrived(Score("atomic", "moved", 42)));
    ASSERT_TRUE(Arrived(Event("atomic", "level-up")));
    Settle();
    EXPECT_EQ(Reports().size(), 2);
    EXPECT_FALSE(QFileInfo::exists(meta + QStringLiteral("Moved.se")));
    EXPECT_FALSE(QFileInfo::exists(meta + QStringLiteral("level-up.ae")));
}

TEST_F(DirWatcherTest, LogBasedGamesReportOpenedDataFilesByTheirHashedNames) {
    auto game = Game(QStringLiteral("dosgame"), "[Launcher]\nKey=dosbox\nZEB=1\n");
    WriteFile(game->Path + QStringLiteral("data.zeb"), "level2.dat\r\nMAPS\\level#1.dat\n");
    WatchApp(game.get());
    TDirWatcher* w = Watchers().FindByKey(QStringLiteral("dosgame"));
    ASSERT_NE(w, nullptr);
    w->ZebTaskSleep = 20;
    const QString level2 = Event("dosgame", QStringLiteral("555f141f9fc1080c11563c1e8b69af97"));
    const QString level1 = Event("dosgame", QStringLiteral("0f311ee02f802fb9c043dbb7d4690dcf"));

    // Written like the emulator does: appended and flushed, kept open.
    const QString logName = game->Path + QStringLiteral(".meta/zeb.log");
    WriteFile(logName, "");
    QFile log(logName);
    ASSERT_TRUE(log.open(QIODevice::WriteOnly | QIODevice::Append));
    const auto append = [&](const QByteArray& text) {
        log.write(text);
        log.flush();
    };
    append("      1000: FILES:file open command 0 file LEVEL2.DAT\n");
    ASSERT_TRUE(Arrived(level2));

    // "FILES:" too early, a file not on the list, and a line still being written.
    append("FILES: open LEVEL2.DAT\n      2000: FILES:file open command 0 file OTHER.DAT\n"
           "      3000: FILES:file open command 0 file LEV");
    ASSERT_TRUE(WaitFor([&] { return w->FZebStreamSize == QFileInfo(logName).size(); }));
    append("EL2.DAT\n");
    ASSERT_TRUE(Arrived(level2, 2));
    ASSERT_TRUE(WaitFor([&] { return w->FZebStreamSize == QFileInfo(logName).size(); }));
    Settle();
    EXPECT_EQ(Reports(), (QStringList{level2, level2}));

    // The game starts its log anew: reading starts again at the beginning.
    log.close();
    WriteFile(logName, "      1000: FILES:file open command 0 file Maps\\LEVEL#1.DAT\n");
    ASSERT_TRUE(Arrived(level1));
    Settle();
    EXPECT_EQ(Reports(), (QStringList{level2, level2, level1}));
}

TEST_F(DirWatcherTest, WithoutAcceptListTheLogReportsNothing) {
    auto game = Game(QStringLiteral("nolist"), "[Launcher]\nKey=dosbox\nZEB=1\n");
    WatchApp(game.get());
    TDirWatcher* w = Watchers().FindByKey(QStringLiteral("nolist"));
    w->ZebTaskSleep = 20;
    const QString logName = game->Path + QStringLiteral(".meta/zeb.log");
    WriteFile(logName, "      1000: FILES:file open command 0 file LEVEL2.DAT\n");
    ASSERT_TRUE(WaitFor([&] { return w->FZebStreamSize == QFileInfo(logName).size(); }));
    WriteFile(game->Path + QStringLiteral(".meta/done.ae"), "1");
    ASSERT_TRUE(Arrived(Event("nolist", "done")));
    Settle();
    EXPECT_EQ(Reports(), QStringList{Event("nolist", "done")});
}

TEST_F(DirWatcherTest, ThunderQTableKeepsThePlayersFileAndReportsNewScores) {
    auto game = Game(QStringLiteral("thunder-q"));
    const QString cfg = game->Path + QStringLiteral("Image/TQ/TQ.CFG");
    const QByteArray players = TqTable({5000, 4000, 3000, 2000, 1000, 900, 800, 700, 600});
    WriteFile(cfg, players);

    WatchApp(game.get());
    // Prepared: 9, 8, ..., 1 with 0xFF after each score, the rest untouched; the player's table is kept.
    const QByteArray prepared = ReadFile(cfg);
    ASSERT_EQ(prepared.size(), TqFileSize);
    EXPECT_EQ(prepared.left(198), players.left(198));
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(TqScore(prepared, i), 9 - i);
        EXPECT_EQ(prepared.mid(198 + 16 * i + 4, 12), QByteArray(12, char(0xFF)));
    }
    EXPECT_EQ(ReadFile(cfg + QStringLiteral(".orig")), players);

    // The game puts a new score into its table.
    QByteArray table = prepared;
    qToLittleEndian<qint32>(15000, table.data() + 198);
    WriteFile(cfg, table);
    const QString board = QStringLiteral("e41b07c39a5f4d6e8c2a1f90b3d7c655");
    ASSERT_TRUE(Arrived(Score("thunder-q", board, 15000)));
    // A change to 5 is a placeholder score; the same table again is nothing new.
    qToLittleEndian<qint32>(5, table.data() + 198 + 16 * 4);
    WriteFile(cfg, table);
    WriteFile(game->Path + QStringLiteral(".meta/after.ae"), "1");
    ASSERT_TRUE(Arrived(Event("thunder-q", "after")));
    Settle();
    EXPECT_EQ(Reports(), (QStringList{Score("thunder-q", board, 15000), Event("thunder-q", "after")}));

    // A table the game left short: the error report tells, and the snapshot stays as it was.
    static QStringList errors;
    errors.clear();
    const TExceptionHandler before = ExceptionHandler();
    SetExceptionHandler([](QObject*, std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (const Exception& e) {
            errors << e.Message();
        }
    });
    WriteFile(cfg, table.left(300));
    EXPECT_TRUE(WaitFor([] { return !errors.isEmpty(); }));
    SetExceptionHandler(before);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(QStringLiteral("shorter than 342 bytes"))) << errors[0].toStdString();
    qToLittleEndian<qint32>(16000, table.data() + 198 + 16);
    WriteFile(cfg, table);
    ASSERT_TRUE(Arrived(Score("thunder-q", board, 16000)));

    // A second launch makes no second watcher and takes no second snapshot.
    WatchApp(game.get());
    EXPECT_EQ(Watchers().Count(), 1);
    EXPECT_EQ(TqScore(ReadFile(cfg), 0), 15000);
}

TEST(ThunderQ, SnapshotComparisonAndItsErrors) {
    const QString dir = MakeTempDir(QStringLiteral("tq"));
    const QString cfg = dir + QStringLiteral("TQ.CFG");
    const QByteArray players = TqTable({700, 600});
    WriteFile(cfg, players);
    TqStartScoreWatch(cfg);
    EXPECT_EQ(ReadFile(cfg + QStringLiteral(".orig")), players);

    QByteArray table = ReadFile(cfg);
    EXPECT_EQ(TqReadNewScore(), 0);
    // The first record that changed to a score above 9 counts.
    qToLittleEndian<qint32>(10, table.data() + 198 + 16 * 2);
    qToLittleEndian<qint32>(20000, table.data() + 198 + 16 * 5);
    WriteFile(cfg, table);
    EXPECT_EQ(TqReadNewScore(), 10);
    EXPECT_EQ(TqReadNewScore(), 0);

    // A table that cannot be read in full raises and leaves the snapshot as it was.
    WriteFile(cfg, table.left(341));
    EXPECT_THROW(TqReadNewScore(), EInOutError);
    qToLittleEndian<qint32>(-3, table.data() + 198 + 16 * 7);
    qToLittleEndian<qint32>(123, table.data() + 198 + 16 * 8);
    WriteFile(cfg, table);
    EXPECT_EQ(TqReadNewScore(), 123);

    // Preparing again keeps the copy made before the first reset.
    TqResetScoreTable(cfg);
    EXPECT_EQ(ReadFile(cfg + QStringLiteral(".orig")), players);
    EXPECT_EQ(TqScore(ReadFile(cfg), 0), 9);

    // A short table stops the watch before anything is written.
    const QString shortCfg = dir + QStringLiteral("short/TQ.CFG");
    WriteFile(shortCfg, QByteArray(100, 'x'));
    EXPECT_THROW(TqStartScoreWatch(shortCfg), EInOutError);
    EXPECT_EQ(ReadFile(shortCfg), QByteArray(100, 'x'));
    EXPECT_FALSE(QFileInfo::exists(shortCfg + QStringLiteral(".orig")));
    TqDone();
}

TEST_F(DirWatcherTest, UnreadableTableStopsTheWatcherAndForeignWatchesAreRefused) {
    auto game = Game(QStringLiteral("thunder-q"));
    EXPECT_THROW(WatchApp(game.get()), EInOutError);
    EXPECT_EQ(Watchers().Count(), 0);

    TDirectoryWatch foreign;
    try {
        Watchers().DirWatchNotify(&foreign, waModified, QStringLiteral(".meta/x.se"));
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("DirWatcher not found"));
    }
}
