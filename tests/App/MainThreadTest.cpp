#include "App/MainThread.h"
#include "App/Exceptions.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QThread>
#include <atomic>
#include <thread>

TEST(MainThread, WorkerHandsOverAndSeesErrors) {
    std::atomic<bool> ranOnMain{false}, sawError{false}, done{false};
    std::thread worker([&] {
        RunOnMainThread([&] { ranOnMain = IsMainThread(); });
        try {
            RunOnMainThread([] { throw EAbort(QStringLiteral("x")); });
        } catch (const EAbort&) {
            sawError = true;
        }
        done = true;
    });
    EXPECT_TRUE(WaitFor([&] { return done.load(); }));
    worker.join();
    EXPECT_TRUE(ranOnMain);
    EXPECT_TRUE(sawError);
}
