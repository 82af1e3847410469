#pragma once

#include "App/Exceptions.h"

#include <QList>
#include <QString>
#include <functional>

class QIODevice;

struct TNameValuePair {
    QString Name;
    QString Value;
};

// Request headers, sent in list order after the client's own ones.
using TNetHeaders = QList<TNameValuePair>;

// Receive progress: the announced body length (-1 while unknown) and the body bytes received so far.
// An exception thrown here ends the transfer and reaches the caller of Get unchanged; setting AAbort
// ends it with EAbort.
using TReceiveDataEvent =
    std::function<void(const void* Sender, qint64 AContentLength, qint64 AReadCount, bool& AAbort)>;

// A transport failure: name resolution, refused connection, time-out, TLS, too many redirects.
class ENetHTTPClientException : public Exception {
public:
    using Exception::Exception;
    QString ClassName() const override { return QStringLiteral("ENetHTTPClientException"); }
};

// One HTTP request per object; no cookies or credentials are shared between requests, and connections
// only inside a THttpConnectionReuse scope.
// Redirects are followed, certificates are checked, connecting may take 60 s and a transfer that
// receives nothing for 60 s is dropped. Usable from any thread.
class THttpClient {
public:
    // Writes the final response's body into ResponseContent from its current position; returns the
    // final status code after redirects.
    int Get(const QString& Url, QIODevice& ResponseContent, const TNetHeaders& Headers,
            const TReceiveDataEvent& OnReceiveData = {});
    // Sends Source from its start as the body.
    int Post(const QString& Url, QIODevice& Source, QIODevice& ResponseContent, const TNetHeaders& Headers);
};

// While one lives, requests made on its thread reuse their connections to a host (a download of many
// small files otherwise pays a new connection per file); the last one to end closes them.
class THttpConnectionReuse {
public:
    THttpConnectionReuse();
    ~THttpConnectionReuse();
    THttpConnectionReuse(const THttpConnectionReuse&) = delete;
    THttpConnectionReuse& operator=(const THttpConnectionReuse&) = delete;
};
