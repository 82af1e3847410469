#include "Platform/HttpClient.h"

#include <QIODevice>
#include <QUrl>
#include <curl/curl.h>
#include <exception>
#include <memory>
#include <mutex>

namespace {

constexpr long ConnectTimeoutSeconds = 60;
constexpr long StallTimeSeconds = 60;
constexpr long MaxRedirects = 10;

void EnsureCurlStarted() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct TTransfer {
    const void* Sender = nullptr;
    CURL* Handle = nullptr;
    QIODevice* Sink = nullptr;
    QIODevice* Source = nullptr;
    const TReceiveDataEvent* OnReceiveData = nullptr;
    qint64 ReadCount = 0;
    // An error raised inside a curl callback must not unwind through C code: it waits here until
    // curl has returned.
    std::exception_ptr Error;
};

size_t WriteBody(char* data, size_t size, size_t count, void* userData) {
    auto* t = static_cast<TTransfer*>(userData);
    const qint64 length = qint64(size * count);
    try {
        if (t->Sink->write(data, length) != length)
            throw EInOutError(QStringLiteral("Unable to write the response: %1").arg(t->Sink->errorString()));
    } catch (...) {
        t->Error = std::current_exception();
        return 0; // makes curl stop with a write error
    }
    t->ReadCount += length;
    return size_t(length);
}

size_t ReadBody(char* buffer, size_t size, size_t count, void* userData) {
    auto* t = static_cast<TTransfer*>(userData);
    const qint64 n = t->Source->read(buffer, qint64(size * count));
    if (n < 0) {
        t->Error = std::make_exception_ptr(
            EInOutError(QStringLiteral("Unable to read the request body: %1").arg(t->Source->errorString())));
        return CURL_READFUNC_ABORT;
    }
    return size_t(n);
}

// A redirect that keeps the method (307, 308) sends the body again.
int SeekBody(void* userData, curl_off_t offset, int origin) {
    auto* t = static_cast<TTransfer*>(userData);
    if (origin != SEEK_SET || !t->Source->seek(qint64(offset)))
        return CURL_SEEKFUNC_CANTSEEK;
    return CURL_SEEKFUNC_OK;
}

int Progress(void* userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* t = static_cast<TTransfer*>(userData);
    if (!t->OnReceiveData || !*t->OnReceiveData)
        return 0;
    try {
        curl_off_t contentLength = -1;
        curl_easy_getinfo(t->Handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &contentLength);
        bool abort = false;
        (*t->OnReceiveData)(t->Sender, qint64(contentLength), t->ReadCount, abort);
        if (abort)
            throw EAbort(QStringLiteral("Operation aborted"));
    } catch (...) {
        t->Error = std::current_exception();
        return 1; // aborts the transfer
    }
    return 0;
}

// Header values come from files and the service; a line break in one would split the request.
QByteArray HeaderLine(const TNameValuePair& header) {
    QString value = header.Value;
    value.remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));
    if (value.isEmpty())
        return header.Name.toUtf8() + ';'; // curl's way to send a header with an empty value
    return header.Name.toUtf8() + ": " + value.toUtf8();
}

using TCurlList = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;

// Inside a THttpConnectionReuse scope the thread keeps one handle between requests, so that its
// connections to a host are reused. Every option is reset before each request, and no cookie engine or
// credentials are ever set, so nothing else carries over.
thread_local int tReuseDepth = 0;
thread_local CURL* tCached = nullptr;
thread_local bool tCachedInUse = false;

class THandleLease {
public:
    THandleLease() {
        EnsureCurlStarted();
        if (tReuseDepth > 0 && !tCachedInUse) {
            if (!tCached)
                tCached = curl_easy_init();
            FHandle = tCached;
            if (FHandle) {
                curl_easy_reset(FHandle);
                tCachedInUse = true;
                FShared = true;
            }
        }
        if (!FHandle)
            FHandle = curl_easy_init(); // a request made from inside another one's callback gets its own
        if (!FHandle)
            throw ENetHTTPClientException(QStringLiteral("Unable to create an HTTP request"));
    }
    ~THandleLease() {
        if (FShared) {
            curl_easy_reset(FHandle); // drops the pointers into this request's stack frame
            tCachedInUse = false;
        } else {
            curl_easy_cleanup(FHandle);
        }
    }
    THandleLease(const THandleLease&) = delete;
    THandleLease& operator=(const THandleLease&) = delete;
    CURL* Handle() const { return FHandle; }

private:
    CURL* FHandle = nullptr;
    bool FShared = false;
};

int Perform(const void* sender, const QString& url, const TNetHeaders& headers, QIODevice& sink,
            QIODevice* source, const TReceiveDataEvent* onReceiveData) {
    THandleLease lease;
    CURL* h = lease.Handle();

    TTransfer transfer;
    transfer.Sender = sender;
    transfer.Handle = h;
    transfer.Sink = &sink;
    transfer.Source = source;
    transfer.OnReceiveData = onReceiveData;

    TCurlList list(nullptr, &curl_slist_free_all);
    for (const auto& header : headers) {
        curl_slist* next = curl_slist_append(list.get(), HeaderLine(header).constData());
        if (!next)
            throw ENetHTTPClientException(QStringLiteral("Unable to create an HTTP request"));
        list.release();
        list.reset(next);
    }
    // Without this curl waits for a "100 Continue" before sending larger bodies.
    if (source) {
        curl_slist* next = curl_slist_append(list.get(), "Expect:");
        if (next) {
            list.release();
            list.reset(next);
        }
    }

    // Spaces and non-ASCII characters of file names are escaped here; existing escapes stay as they are.
    const QByteArray encodedUrl = QUrl(url, QUrl::TolerantMode).toEncoded();
    char errorText[CURL_ERROR_SIZE] = {0};

    curl_easy_setopt(h, CURLOPT_URL, encodedUrl.constData());
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    // Larger reads mean fewer writes to the sink and fewer progress calls per megabyte.
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 64L * 1024);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, MaxRedirects);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, ConnectTimeoutSeconds);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, StallTimeSeconds);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, list.get());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &WriteBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &Progress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, onReceiveData && *onReceiveData ? 0L : 1L);
    if (source) {
        if (!source->seek(0))
            throw EInOutError(QStringLiteral("Unable to read the request body"));
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(source->size()));
        curl_easy_setopt(h, CURLOPT_READFUNCTION, &ReadBody);
        curl_easy_setopt(h, CURLOPT_READDATA, &transfer);
        curl_easy_setopt(h, CURLOPT_SEEKFUNCTION, &SeekBody);
        curl_easy_setopt(h, CURLOPT_SEEKDATA, &transfer);
    } else {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    }

    const CURLcode code = curl_easy_perform(h);
    if (transfer.Error)
        std::rethrow_exception(transfer.Error);
    if (code != CURLE_OK) {
        const QString detail = errorText[0] ? QString::fromUtf8(errorText).trimmed()
                                            : QString::fromUtf8(curl_easy_strerror(code));
        throw ENetHTTPClientException(
            QStringLiteral("Error sending data: (%1) %2").arg(int(code)).arg(detail));
    }
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    return int(status);
}

} // namespace

THttpConnectionReuse::THttpConnectionReuse() {
    ++tReuseDepth;
}

THttpConnectionReuse::~THttpConnectionReuse() {
    if (--tReuseDepth == 0 && tCached && !tCachedInUse) {
        curl_easy_cleanup(tCached); // closes the kept connections
        tCached = nullptr;
    }
}

int THttpClient::Get(const QString& Url, QIODevice& ResponseContent, const TNetHeaders& Headers,
                     const TReceiveDataEvent& OnReceiveData) {
    return Perform(this, Url, Headers, ResponseContent, nullptr, &OnReceiveData);
}

int THttpClient::Post(const QString& Url, QIODevice& Source, QIODevice& ResponseContent,
                      const TNetHeaders& Headers) {
    return Perform(this, Url, Headers, ResponseContent, &Source, nullptr);
}
