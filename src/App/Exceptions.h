#pragma once

#include <QString>
#include <exception>

// Base of every error the launcher raises: a message for the user or the error report and the class
// name the report shows beside it.
class Exception : public std::exception {
public:
    explicit Exception(QString message) : FMessage(std::move(message)), FUtf8(FMessage.toUtf8()) {}
    const QString& Message() const { return FMessage; }
    virtual QString ClassName() const { return QStringLiteral("Exception"); }
    const char* what() const noexcept override { return FUtf8.constData(); }

private:
    QString FMessage;
    QByteArray FUtf8;
};

#define TARVENOX_EXCEPTION(Name, Base)                                                                   \
    class Name : public Base {                                                                           \
    public:                                                                                              \
        using Base::Base;                                                                                \
        QString ClassName() const override { return QStringLiteral(#Name); }                             \
    };

// The user's cancel: the error report ignores it.
TARVENOX_EXCEPTION(EAbort, Exception)
TARVENOX_EXCEPTION(EOperationCancelled, Exception)
TARVENOX_EXCEPTION(EInOutError, Exception)
TARVENOX_EXCEPTION(EConvertError, Exception)
TARVENOX_EXCEPTION(EVariantTypeCastError, Exception)
TARVENOX_EXCEPTION(EVariantInvalidOpError, Exception)
TARVENOX_EXCEPTION(ERangeError, Exception)
TARVENOX_EXCEPTION(EJSONException, Exception)
TARVENOX_EXCEPTION(EIniFileException, Exception)

// An operating-system call failed; carries the system's error code.
class EOSError : public Exception {
public:
    EOSError(QString message, int code) : Exception(std::move(message)), FErrorCode(code) {}
    int ErrorCode() const { return FErrorCode; }
    QString ClassName() const override { return QStringLiteral("EOSError"); }

private:
    int FErrorCode;
};

// A broken contract between the program's own units; the message names the unit, e.g.
// "Service\Service.AppsLibrary".
class EAssertionFailed : public Exception {
public:
    EAssertionFailed(const QString& message, const QString& unit)
        : Exception(QStringLiteral("%1 (%2)").arg(message, unit)) {}
    QString ClassName() const override { return QStringLiteral("EAssertionFailed"); }
};

// Raises EAssertionFailed naming the unit when the condition does not hold.
inline void Assert(bool condition, const QString& message, const QString& unit) {
    if (!condition)
        throw EAssertionFailed(message, unit);
}
