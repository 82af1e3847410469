#include "App/Exceptions.h"
#include "Platform/Shell.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QMutex>

#include <cerrno>
#include <unistd.h>

namespace {

// A script that writes its working folder and then each argument on a line of its own to "out"; the
// rename makes the file appear whole.
QString WriteReportScript(const QString& folder) {
    const QString script = folder + QStringLiteral("report.sh");
    WriteFile(script, "#!/bin/sh\npwd > out.tmp\nfor a in \"$@\"; do echo \"$a\" >> out.tmp; done\nmv out.tmp out\n");
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return script;
}

int StartErrorCode(const QString& file, const QString& folder) {
    try {
        PlatformShellStart(file, QString(), folder);
    } catch (const EOSError& e) {
        return e.ErrorCode();
    }
    return 0;
}

} // namespace

TEST(Shell, HookSeesEveryCallInsteadOfTheSystem) {
    QMutex lock;
    std::vector<TShellCall> calls;
    bool answer = true;
    TScopedShellHook hook([&](const TShellCall& call) {
        QMutexLocker l(&lock);
        calls.push_back(call);
        return answer;
    });

    EXPECT_TRUE(PlatformShellOpen(QStringLiteral("http://127.0.0.1:9/page")));
    PlatformShellStart(QStringLiteral("/nowhere/game"), QStringLiteral("-a \"b c\""), QStringLiteral("/nowhere/"),
                       TShowMode::Hidden);
    PlatformRunElevatedAndWait(QStringLiteral("/nowhere/setup"), QStringLiteral("/S"));

    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].Kind, TShellCall::TKind::Open);
    EXPECT_EQ(calls[0].File, QStringLiteral("http://127.0.0.1:9/page"));
    EXPECT_EQ(calls[1].Kind, TShellCall::TKind::Start);
    EXPECT_EQ(calls[1].File, QStringLiteral("/nowhere/game"));
    EXPECT_EQ(calls[1].Parameters, QStringLiteral("-a \"b c\""));
    EXPECT_EQ(calls[1].WorkingFolder, QStringLiteral("/nowhere/"));
    EXPECT_EQ(calls[1].Show, TShowMode::Hidden);
    EXPECT_EQ(calls[2].Kind, TShellCall::TKind::ElevatedWait);
    EXPECT_EQ(calls[2].Parameters, QStringLiteral("/S"));

    // A refusal is what a missing program looks like.
    answer = false;
    EXPECT_FALSE(PlatformShellOpen(QStringLiteral("x")));
    EXPECT_EQ(StartErrorCode(QStringLiteral("/nowhere/game"), QString()), ENOENT);
    EXPECT_THROW(PlatformRunElevatedAndWait(QStringLiteral("/nowhere/setup"), QString()), EOSError);
}

TEST(Shell, ScopedHookRestoresTheOneBefore) {
    int outer = 0, inner = 0;
    TScopedShellHook a([&](const TShellCall&) { return ++outer, true; });
    {
        TScopedShellHook b([&](const TShellCall&) { return ++inner, true; });
        PlatformShellOpen(QStringLiteral("x"));
    }
    PlatformShellOpen(QStringLiteral("x"));
    EXPECT_EQ(inner, 1);
    EXPECT_EQ(outer, 1);
}

TEST(Shell, SplitsParametersLikeACommandLine) {
    struct TCase {
        const char* Text;
        QStringList Arguments;
    } cases[] = {
        {"", {}},
        {"-a -b", {"-a", "-b"}},
        {"  -conf   \"my dir/dosbox.conf\" ", {"-conf", "my dir/dosbox.conf"}},
        {"say \"\"\"hi\"\"\"", {"say", "\"hi\""}},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(SplitParameters(QString::fromUtf8(c.Text)), c.Arguments) << c.Text;
}

TEST(Shell, StartsABareNameFromTheWorkingFolderWithItsArguments) {
    const QString folder = MakeTempDir(QStringLiteral("shell start"));
    WriteReportScript(folder);

    PlatformShellStart(QStringLiteral("report.sh"), QStringLiteral("one \"two words\" three"), folder);

    ASSERT_TRUE(WaitFor([&] { return QFileInfo::exists(folder + QStringLiteral("out")); }));
    const QString out = QString::fromUtf8(ReadFile(folder + QStringLiteral("out")));
    const QString expected = QFileInfo(folder).canonicalFilePath() + QStringLiteral("\none\ntwo words\nthree\n");
    EXPECT_EQ(out, expected);
}

TEST(Shell, FailedStartCarriesTheSystemCode) {
    const QString folder = MakeTempDir(QStringLiteral("shell fail"));
    const QString script = WriteReportScript(folder);
    const QString plain = folder + QStringLiteral("plain.txt");
    WriteFile(plain, "not a program");

    EXPECT_EQ(StartErrorCode(folder + QStringLiteral("missing"), folder), ENOENT);
    EXPECT_EQ(StartErrorCode(script, folder + QStringLiteral("no-such-folder")), ENOENT);
    EXPECT_EQ(StartErrorCode(plain, folder), EACCES);
    EXPECT_EQ(StartErrorCode(QString(), folder), ENOENT);
    EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("out")));
}

TEST(Shell, ElevatedRunReturnsWhenTheProgramHasEnded) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "asks for a password through pkexec when not root";
    const QString folder = MakeTempDir(QStringLiteral("shell elevated"));
    const QString script = folder + QStringLiteral("setup.sh");
    // Writes after a pause, so only a real wait sees the file.
    WriteFile(script, "#!/bin/sh\nsleep 0.3\necho \"$1\" > \"$(dirname \"$0\")/done\"\nexit 3\n");
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    PlatformRunElevatedAndWait(script, QStringLiteral("/quiet"));

    EXPECT_EQ(ReadFile(folder + QStringLiteral("done")), QByteArray("/quiet\n"));
    EXPECT_THROW(PlatformRunElevatedAndWait(folder + QStringLiteral("missing"), QString()), EOSError);
}
