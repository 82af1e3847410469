// Runs the launcher's executable to check the courses that must work without a display.
#include "Service/IPC/Pipe.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

namespace {

QString LauncherExecutable() {
    return QStringLiteral(TARVENOX_TEST_BIN_DIR "/tarvenox");
}

// A started process with no display at all: QApplication would abort, so only the headless courses pass.
QProcess* StartHeadless(const QStringList& arguments) {
    auto* process = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    // The protocol words open a web page; a stand-in opener keeps browsers out of the test run.
    const QString bin = TestHome() + QStringLiteral("/fake-bin");
    if (!QFile::exists(bin + QStringLiteral("/xdg-open"))) {
        WriteFile(bin + QStringLiteral("/xdg-open"), "#!/bin/sh\nexit 0\n");
        QFile::setPermissions(bin + QStringLiteral("/xdg-open"),
                              QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    }
    env.insert(QStringLiteral("PATH"), bin + QLatin1Char(':') + env.value(QStringLiteral("PATH")));
    process->setProcessEnvironment(env);
    process->start(LauncherExecutable(), arguments);
    return process;
}

bool Finished(QProcess* process) {
    return WaitFor([process] { return process->state() == QProcess::NotRunning; }, 20000);
}

} // namespace

TEST(EntrySequence, ProtocolWordsDoTheirJobWithoutDisplay) {
    if (!QFile::exists(LauncherExecutable()))
        GTEST_SKIP() << "the launcher is not built";
    for (const QStringList& args :
         {QStringList{"x", "Register-URL-Protocol=yes"}, QStringList{"unregister-url-protocol"}}) {
        std::unique_ptr<QProcess> process(StartHeadless(args));
        ASSERT_TRUE(Finished(process.get())) << args.join(' ').toStdString();
        EXPECT_EQ(process->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process->exitCode(), 0);
    }
}

TEST(EntrySequence, SecondStartForwardsFirstArgumentAndEnds) {
    if (!QFile::exists(LauncherExecutable()))
        GTEST_SKIP() << "the launcher is not built";
    QStringList received;
    SetUriCommandHandler([&](const QString& raw) { received << raw; });
    StartPipeServer();

    std::unique_ptr<QProcess> second(StartHeadless({"tarvenox://run/abc/"}));
    ASSERT_TRUE(Finished(second.get()));
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_TRUE(WaitFor([&] { return !received.isEmpty(); }));

    // Only the first argument travels; "x" is no link, so the running instance hears nothing.
    std::unique_ptr<QProcess> third(StartHeadless({"x", "tarvenox://run/def"}));
    ASSERT_TRUE(Finished(third.get()));
    std::unique_ptr<QProcess> bare(StartHeadless({}));
    ASSERT_TRUE(Finished(bare.get()));
    EXPECT_EQ(bare->exitCode(), 0);

    StopPipeServer();
    SetUriCommandHandler(nullptr);
    EXPECT_EQ(received, QStringList({"run/abc"}));
}
