#pragma once

#include <QApplication>
#include <QString>
#include <exception>
#include <functional>

class QObject;
class QWidget;

// The report of errors no code caught: a short apology with folding technical details.

// The application's handler of unhandled errors; null until one is set.
using TExceptionHandler = void (*)(QObject* Sender, std::exception_ptr Error);
TExceptionHandler ExceptionHandler();
void SetExceptionHandler(TExceptionHandler Handler);
// Passes an error no code caught to the handler; without one, shows its message in a plain error box
// (the silent abort still shows nothing).
void HandleException(QObject* Sender, std::exception_ptr Error);

// Makes AppExceptionHandler the handler of unhandled errors unless another one is set. Runs at start-up.
void InstallExceptionHandler();

// The details lines of the report ("Message: ", "Category: ", "Object: ", "ErrorCode: 0x%.8x" ...),
// separated by carriage returns. Sender may be null.
QString BuildErrorDetails(QObject* Sender, std::exception_ptr Error);

// Shows the report for Error, unless it is the silent abort. Main thread.
void AppExceptionHandler(QObject* Sender, std::exception_ptr Error);

// Runs a user action; whatever it raises ends in the error report, naming Sender as the object.
void RunUserAction(QObject* Sender, const std::function<void()>& Action);

// A slot for connect() that runs Action as a user action of Sender:
//   connect(bInstall, &QPushButton::clicked, this, UserAction(bInstall, [this] { ... }));
template <typename F>
auto UserAction(QObject* Sender, F Action) {
    return [Sender, Action]() { RunUserAction(Sender, Action); };
}

// Runs Work on a worker thread while the main thread keeps drawing and serving hand-overs; Busy (may be
// null) takes no input meanwhile. Work's error reaches the caller. Main thread.
void RunWhileResponsive(QWidget* Busy, const std::function<void()>& Work);

// The application object: an error escaping an event handler ends in the error report instead of
// ending the process.
class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* Receiver, QEvent* Event) override;
};
