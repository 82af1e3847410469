#include "Service/IPC/Pipe.h"
#include "App/MainThread.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

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
