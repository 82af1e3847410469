#include "App/MainThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <exception>

bool IsMainThread() {
    auto* app = QCoreApplication::instance();
    return app == nullptr || QThread::currentThread() == app->thread();
}

void RunOnMainThread(const std::function<void()>& fn) {
    if (IsMainThread()) {
        fn();
        return;
    }
    std::exception_ptr error;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [&] {
            try {
                fn();
            } catch (...) {
                error = std::current_exception();
            }
        },
        Qt::BlockingQueuedConnection);
    if (error)
        std::rethrow_exception(error);
}

void QueueOnMainThread(std::function<void()> fn) {
    auto* app = QCoreApplication::instance();
    if (app == nullptr) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(
        app,
        [fn = std::move(fn)] {
            try {
                fn();
            } catch (...) {
                // Queued work has nobody to report to; the caller chose fire-and-forget.
            }
        },
        Qt::QueuedConnection);
}
