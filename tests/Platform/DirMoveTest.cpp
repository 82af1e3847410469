#include "Platform/DirMove.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>

#include <sys/stat.h>

namespace {

// Every file and link under Dir by relative name: file contents, or "-> target" for links.
QMap<QString, QByteArray> Tree(const QString& Dir) {
    QMap<QString, QByteArray> tree;
    QDirIterator it(Dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info(path);
        const QString name = QDir(Dir).relativeFilePath(path);
        if (info.isSymLink())
            tree[name] = "-> " + QFile::encodeName(info.symLinkTarget());
        else if (info.isFile())
            tree[name] = ReadFile(path);
        else if (QDir(path).isEmpty())
            tree[name + u'/'] = "";
    }
    return tree;
}

// A small game folder: nested files, a hidden one, an empty folder and a link that points outside.
QMap<QString, QByteArray> MakeGames(const QString& Dir, const QString& Outside) {
    WriteFile(Dir + QStringLiteral("apps.json"), "[]");
    WriteFile(Dir + QStringLiteral("doom/doom.ini"), "[Launcher]\nCmd=doom\n");
    WriteFile(Dir + QStringLiteral("doom/data/level1.wad"), QByteArray(3 << 20, 'w'));
    WriteFile(Dir + QStringLiteral("doom/.meta/score.se"), "\x01\x02");
    QDir().mkpath(Dir + QStringLiteral("empty"));
    WriteFile(Outside + QStringLiteral("shared.txt"), "outside");
    QFile::link(Outside + QStringLiteral("shared.txt"), Dir + QStringLiteral("doom/shared-link"));
    return Tree(Dir);
}

bool SameDevice(const QString& a, const QString& b) {
    struct stat sa {}, sb {};
    return ::stat(QFile::encodeName(a).constData(), &sa) == 0 && ::stat(QFile::encodeName(b).constData(), &sb) == 0 &&
           sa.st_dev == sb.st_dev;
}

class DirMove : public ::testing::TestWithParam<bool> {
protected:
    // The parameter: move to another file system (copy, then delete) instead of renaming.
    void SetUp() override {
        FSource = MakeTempDir(QStringLiteral("source"));
        FOutside = MakeTempDir(QStringLiteral("outside"));
        if (GetParam()) {
            FOtherFs = std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/tarvenox-move-XXXXXX"));
            if (!FOtherFs->isValid() || SameDevice(FOtherFs->path(), FSource))
                GTEST_SKIP() << "no second file system to move to";
            FTarget = FOtherFs->path() + QStringLiteral("/games/new/");
        } else {
            FTarget = MakeTempDir(QStringLiteral("target")) + QStringLiteral("new/");
        }
    }

    QString FSource, FTarget, FOutside;
    std::unique_ptr<QTemporaryDir> FOtherFs;
};

} // namespace

TEST_P(DirMove, MovesEverythingAndLeavesTheSourceEmpty) {
    const QMap<QString, QByteArray> before = MakeGames(FSource, FOutside);
    const QDateTime stamp = QFileInfo(FSource + QStringLiteral("doom/doom.ini")).lastModified();
    qint64 lastDone = -1, total = -1;
    TDirMove move;
    move.OnProgress = [&](qint64 Done, qint64 Total) {
        EXPECT_GE(Done, lastDone);
        lastDone = Done;
        total = Total;
    };
    const TDirMove::TResult result = move.Run(FSource, FTarget);
    EXPECT_TRUE(result.Complete) << result.Errors.join(u'\n').toStdString();
    EXPECT_FALSE(result.Cancelled);
    EXPECT_EQ(Tree(FTarget), before);
    EXPECT_TRUE(QDir(FSource).isEmpty());
    EXPECT_TRUE(QFileInfo(FTarget + QStringLiteral("doom/shared-link")).isSymLink()) << "links stay links";
    EXPECT_EQ(ReadFile(FOutside + QStringLiteral("shared.txt")), "outside");
    EXPECT_EQ(QFileInfo(FTarget + QStringLiteral("doom/doom.ini")).lastModified(), stamp);
    EXPECT_EQ(lastDone, total);
    EXPECT_GE(total, qint64(3 << 20));
}

TEST_P(DirMove, ConflictsAreAskedAndASkipLeavesBothFiles) {
    MakeGames(FSource, FOutside);
    WriteFile(FTarget + QStringLiteral("doom/doom.ini"), "theirs");
    WriteFile(FTarget + QStringLiteral("doom/extra.txt"), "kept");
    for (const auto answer : {TDirMove::TConflictAnswer::Skip, TDirMove::TConflictAnswer::Replace}) {
        QStringList asked;
        TDirMove move;
        move.OnConflict = [&](const QString& Source, const QString& Target) {
            asked << QDir(FSource).relativeFilePath(Source) + QStringLiteral(" | ") + QDir(FTarget).relativeFilePath(Target);
            return answer;
        };
        const TDirMove::TResult result = move.Run(FSource, FTarget);
        EXPECT_EQ(asked, QStringList{QStringLiteral("doom/doom.ini | doom/doom.ini")});
        EXPECT_EQ(ReadFile(FTarget + QStringLiteral("doom/extra.txt")), "kept") << "merged, not replaced";
        if (answer == TDirMove::TConflictAnswer::Skip) {
            EXPECT_FALSE(result.Complete);
            EXPECT_EQ(result.Skipped.size(), 1);
            EXPECT_EQ(ReadFile(FTarget + QStringLiteral("doom/doom.ini")), "theirs");
            EXPECT_EQ(ReadFile(FSource + QStringLiteral("doom/doom.ini")), "[Launcher]\nCmd=doom\n");
            EXPECT_EQ(Tree(FSource).keys(), QStringList{QStringLiteral("doom/doom.ini")});
        } else {
            EXPECT_TRUE(result.Complete) << result.Errors.join(u'\n').toStdString();
            EXPECT_EQ(ReadFile(FTarget + QStringLiteral("doom/doom.ini")), "[Launcher]\nCmd=doom\n");
            EXPECT_TRUE(QDir(FSource).isEmpty());
        }
    }
}

TEST_P(DirMove, ALinkInTheTargetIsNeverFollowed) {
    WriteFile(FSource + QStringLiteral("game/save.dat"), "mine");
    QDir().mkpath(FTarget);
    ASSERT_TRUE(QFile::link(QDir::cleanPath(FOutside), FTarget + QStringLiteral("game")));
    TDirMove move;
    int asked = 0;
    move.OnConflict = [&](const QString&, const QString&) {
        ++asked;
        return TDirMove::TConflictAnswer::Replace;
    };
    const TDirMove::TResult result = move.Run(FSource, FTarget);
    EXPECT_FALSE(result.Complete);
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(QDir(FOutside).isEmpty()) << "nothing was written through the link";
    EXPECT_EQ(ReadFile(FSource + QStringLiteral("game/save.dat")), "mine");
    EXPECT_TRUE(QFileInfo(FTarget + QStringLiteral("game")).isSymLink());
}

TEST_P(DirMove, ACancelledMoveLosesNothing) {
    MakeGames(FSource, FOutside);
    for (int i = 0; i < 4; ++i)
        WriteFile(FSource + QStringLiteral("big/part%1.bin").arg(i), QByteArray(2 << 20, char('a' + i)));
    const QMap<QString, QByteArray> all = Tree(FSource);
    TDirMove move;
    // Stops in the middle: after the first megabytes on a copy, after the first entry on a rename.
    move.OnProgress = [&](qint64 Done, qint64) {
        if (Done >= (1 << 20))
            move.Cancel();
    };
    const TDirMove::TResult result = move.Run(FSource, FTarget);
    EXPECT_TRUE(result.Cancelled);
    EXPECT_FALSE(result.Complete);
    // Every file is whole in exactly one place, and no piece of a copy is left.
    QMap<QString, QByteArray> found = Tree(FSource);
    const QMap<QString, QByteArray> moved = Tree(FTarget);
    EXPECT_FALSE(moved.isEmpty()) << "stopped after some of the work";
    EXPECT_TRUE(found.contains(QStringLiteral("doom/doom.ini"))) << "stopped before the rest";
    for (auto it = moved.begin(); it != moved.end(); ++it) {
        if (it.key().endsWith(u'/'))
            continue; // a folder can exist on both sides after a stop
        EXPECT_FALSE(found.contains(it.key())) << it.key().toStdString();
        found.insert(it.key(), it.value());
    }
    for (auto it = all.begin(); it != all.end(); ++it) {
        if (!it.key().endsWith(u'/'))
            EXPECT_EQ(found.value(it.key()), it.value()) << it.key().toStdString();
    }
    for (const QString& name : moved.keys())
        EXPECT_FALSE(name.contains(QStringLiteral(".part-"))) << name.toStdString();
}

TEST_P(DirMove, RefusesATargetInsideTheSourceAndASourceThatIsNoFolder) {
    const QMap<QString, QByteArray> before = MakeGames(FSource, FOutside);
    for (const QString& target : {FSource, FSource + QStringLiteral("doom/inner/"), FSource + QStringLiteral("./")}) {
        TDirMove move;
        const TDirMove::TResult result = move.Run(FSource, target);
        EXPECT_FALSE(result.Complete) << target.toStdString();
        EXPECT_FALSE(result.Errors.isEmpty());
        EXPECT_EQ(Tree(FSource), before);
    }
    WriteFile(FSource + QStringLiteral("plain-file"), "x");
    TDirMove fromFile;
    EXPECT_FALSE(fromFile.Run(FSource + QStringLiteral("plain-file"), FTarget).Complete);
    EXPECT_FALSE(QFileInfo::exists(FTarget));
    // A games folder that was never made: nothing to move, and the new one is ready.
    TDirMove fromNothing;
    EXPECT_TRUE(fromNothing.Run(FSource + QStringLiteral("missing/"), FTarget).Complete);
    EXPECT_TRUE(QFileInfo(FTarget).isDir());
}

INSTANTIATE_TEST_SUITE_P(Rename, DirMove, ::testing::Values(false));
INSTANTIATE_TEST_SUITE_P(OtherFileSystem, DirMove, ::testing::Values(true));
