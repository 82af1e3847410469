#include "Forms/Debug.h"

#include "App/Exceptions.h"
#include "Forms/MsgBoxes.h"

#include <QEventLoop>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <cxxabi.h>
#include <cstdlib>
#include <thread>
#include <typeinfo>

namespace {

TExceptionHandler gHandler = nullptr;

const QString ReportText = QStringLiteral(
    "Во время работы приложения возникла непредвиденная ошибка.\r"
    "Пожалуйста, сообщите о проишествии Вашему системному администратору.");

// The readable name of a C++ type, for errors that do not come from our own class tree.
QString TypeName(const std::type_info& type) {
    int status = 0;
    char* name = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
    const QString result = QString::fromUtf8(status == 0 && name ? name : type.name());
    std::free(name);
    return result;
}

bool IsAbort(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const EAbort&) {
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace

TExceptionHandler ExceptionHandler() {
    return gHandler;
}

void SetExceptionHandler(TExceptionHandler Handler) {
    gHandler = Handler;
}

void InstallExceptionHandler() {
    if (!gHandler)
        gHandler = &AppExceptionHandler;
}

void HandleException(QObject* Sender, std::exception_ptr Error) {
    if (!Error)
        return;
    if (gHandler) {
        gHandler(Sender, Error);
        return;
    }
    if (IsAbort(Error))
        return;
    try {
        std::rethrow_exception(Error);
    } catch (const Exception& e) {
        ShowError(e.Message());
    } catch (const std::exception& e) {
        ShowError(QString::fromUtf8(e.what()));
    } catch (...) {
        ShowError(QString());
    }
}

QString BuildErrorDetails(QObject* Sender, std::exception_ptr Error) {
    QString message;
    QString category;
    QStringList extra;
    try {
        std::rethrow_exception(Error);
    } catch (const EOSError& e) {
        message = e.Message();
        category = e.ClassName();
        extra << QStringLiteral("ErrorCode: 0x%1")
                     .arg(static_cast<quint32>(e.ErrorCode()), 8, 16, QLatin1Char('0'));
    } catch (const Exception& e) {
        message = e.Message();
        category = e.ClassName();
    } catch (const std::exception& e) {
        message = QString::fromUtf8(e.what());
        category = TypeName(typeid(e));
    } catch (...) {
        category = QStringLiteral("Unknown");
    }
    QStringList lines;
    lines << QStringLiteral("Message: ") + message << QStringLiteral("Category: ") + category
          << QStringLiteral("Object: ") +
                 (Sender ? QString::fromLatin1(Sender->metaObject()->className()) : QString());
    lines << extra;
    return lines.join(QLatin1Char('\r'));
}

void AppExceptionHandler(QObject* Sender, std::exception_ptr Error) {
    if (!Error || IsAbort(Error))
        return;
    ShowErrorWithDetails(ReportText, BuildErrorDetails(Sender, Error));
}

void RunUserAction(QObject* Sender, const std::function<void()>& Action) {
    try {
        Action();
    } catch (...) {
        HandleException(Sender, std::current_exception());
    }
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
}

bool TApplication::notify(QObject* Receiver, QEvent* Event) {
    try {
        return QApplication::notify(Receiver, Event);
    } catch (...) {
        // The loop goes on after the report.
        HandleException(Receiver, std::current_exception());
        return false;
    }
}

void RunWhileResponsive(QWidget* Busy, const std::function<void()>& Work) {
    QPointer<QWidget> busy = Busy;
    if (busy)
        busy->setEnabled(false);
    std::exception_ptr error;
    QEventLoop loop;
    std::thread worker([&] {
        try {
            Work();
        } catch (...) {
            error = std::current_exception();
        }
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    if (busy)
        busy->setEnabled(true);
    if (error)
        std::rethrow_exception(error);
}
