#pragma once

#include "App/Exceptions.h"

// Errors of requests to the service and of what depends on its answers. "\r\r" is two carriage
// returns: the error report shows the pieces as separate paragraphs.

// A GET or download answered with a status other than 200.
class EDownloadException : public Exception {
public:
    EDownloadException(int AStatusCode, const QString& AUrl)
        : Exception(QStringLiteral("Failed to download: %1\r\rHTTP Status Code: %2")
                        .arg(AUrl, QString::number(AStatusCode))),
          StatusCode(AStatusCode), Url(AUrl) {}
    QString ClassName() const override { return QStringLiteral("EDownloadException"); }

    int StatusCode;
    QString Url;
};

// A POST answered with a status other than 200; Response is the answer text (or its size when large).
class ERestClientException : public Exception {
public:
    ERestClientException(int AStatusCode, const QString& AUrl, const QString& AResponse)
        : Exception(QStringLiteral("%1\r\rHTTP Status Code: %2\r\rResponse: %3")
                        .arg(AUrl, QString::number(AStatusCode), AResponse)),
          StatusCode(AStatusCode), Url(AUrl), Response(AResponse) {}
    QString ClassName() const override { return QStringLiteral("ERestClientException"); }

    int StatusCode;
    QString Url;
    QString Response;
};

// A game needs a component that is not installed.
class ENoComponentFoundException : public Exception {
public:
    explicit ENoComponentFoundException(const QString& ComponentPublicKey)
        : Exception(QStringLiteral("Component \"%1\" is not available").arg(ComponentPublicKey)),
          ComponentKey(ComponentPublicKey) {}
    QString ClassName() const override { return QStringLiteral("ENoComponentFoundException"); }

    QString ComponentKey;
};

TARVENOX_EXCEPTION(EInvalidJsonFormatException, Exception)
