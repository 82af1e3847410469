#pragma once

#include "Forms/Debug.h"
#include "Forms/MsgBoxes.h"

#include <functional>
#include <vector>

// Records every message instead of showing it; questions get the given answer. OnMessage, when set,
// runs as each message arrives (to see where the focus is at that moment).
struct TMessageLog {
    explicit TMessageLog(bool answer = true)
        : Hook([this, answer](const TMessageRecord& r) {
              Records.push_back(r);
              if (OnMessage)
                  OnMessage(r);
              return answer;
          }) {}
    std::vector<TMessageRecord> Records;
    std::function<void(const TMessageRecord&)> OnMessage;
    TScopedMessageBoxHook Hook;
};

// The program's handler of unhandled errors for the life of the object.
struct TInstalledHandler {
    TInstalledHandler() : FPrevious(ExceptionHandler()) {
        SetExceptionHandler(nullptr);
        InstallExceptionHandler();
    }
    ~TInstalledHandler() { SetExceptionHandler(FPrevious); }
    TExceptionHandler FPrevious;
};

#include <QApplication>
#include <QTimer>

// Runs action on the first modal window of type T once it is on screen.
template <typename T>
void OnModal(std::function<void(T&)> action) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            action(*dialog);
        }
    });
    timer->start();
}
