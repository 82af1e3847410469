#include "Service/IPC/Pipe.h"
#include "App/MainThread.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>

TEST(ServiceIPCPipe, FirstInstanceWhenNothingListens) {
    DonePipe();
    EXPECT_TRUE(IsFirstInstance());
    // The missing socket fails the connect at once instead of waiting out the 500 ms.
    ASSERT_NE(PipeClient(), nullptr);
    EXPECT_EQ(PipeClient()->ErrorDesc(), QStringLiteral("WaitNamedPipe failed while wating for the pipe"));
    DonePipe();
}

TEST(ServiceIPCPipe, ForwardedLinkReachesTheHandlerOnTheMainThread) {
    DonePipe();
    QStringList received;
    bool onMain = true;
    SetUriCommandHandler([&](const QString& raw) {
        received << raw;
        onMain = onMain && IsMainThread();
    });
    StartPipeServer();
    EXPECT_FALSE(IsFirstInstance());

    // Sent from the main thread itself: the answer comes back without the main thread's help.
    SendToFirstInstance(QStringLiteral("hello"));
    EXPECT_TRUE(PipeClient()->AnswerValid());
    SendToFirstInstance(QStringLiteral("TARVENOX://run/abc"));
    SendToFirstInstance(QStringLiteral("tarvenox://run/K/"));
    EXPECT_TRUE(PipeClient()->AnswerValid()) << PipeClient()->ErrorDesc().toStdString();
    EXPECT_TRUE(WaitFor([&] { return !received.isEmpty(); }));
    // Texts that are not links were ignored: the link is the only call.
    EXPECT_EQ(received, QStringList{QStringLiteral("run/K")});
    EXPECT_TRUE(onMain);

    DonePipe();
    EXPECT_TRUE(IsFirstInstance());
    DonePipe();
    SetUriCommandHandler(nullptr);
}

// The second process of ForwardingBetweenTwoProcesses; it finds the first through the parent's folder.
TEST(ServiceIPCPipeChild, DISABLED_Secondary) {
    const QByteArray runtime = qgetenv("TARVENOX_PIPE_TEST_RUNTIME");
    if (runtime.isEmpty())
        GTEST_SKIP();
    qputenv("XDG_RUNTIME_DIR", runtime);
    DonePipe();
    ASSERT_FALSE(IsFirstInstance()) << PipeClient()->ErrorDesc().toStdString();
    SendToFirstInstance(qEnvironmentVariable("TARVENOX_PIPE_TEST_ARG"));
    EXPECT_TRUE(PipeClient()->AnswerValid()) << PipeClient()->ErrorDesc().toStdString();
    DonePipe();
}

TEST(ServiceIPCPipe, ForwardingBetweenTwoProcesses) {
    DonePipe();
    QStringList received;
    SetUriCommandHandler([&](const QString& raw) { received << raw; });
    StartPipeServer();
    for (const QString arg : {QStringLiteral("hello"), QStringLiteral("tarvenox://run/K/")}) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TARVENOX_PIPE_TEST_RUNTIME"), qEnvironmentVariable("XDG_RUNTIME_DIR"));
        env.insert(QStringLiteral("TARVENOX_PIPE_TEST_ARG"), arg);
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--gtest_filter=ServiceIPCPipeChild.DISABLED_Secondary"),
                     QStringLiteral("--gtest_also_run_disabled_tests")});
        // Blocking the main thread here: the server answers from its worker all the same.
        ASSERT_TRUE(child.waitForFinished(60000));
        const QByteArray output = child.readAll();
        EXPECT_EQ(child.exitCode(), 0) << output.constData();
        EXPECT_TRUE(output.contains("1 test")) << output.constData();
    }
    EXPECT_TRUE(WaitFor([&] { return !received.isEmpty(); }));
    EXPECT_EQ(received, QStringList{QStringLiteral("run/K")});
    DonePipe();
    SetUriCommandHandler(nullptr);
}
