#include "Service/RestClient.h"

#include "App/HttpExceptions.h"
#include "Service/FileDownloader.h"
#include "Service/HttpHeadersProvider.h"

#include <QBuffer>

namespace {
const QString UnitName = QStringLiteral("Service\\Service.RestClient");
constexpr qint64 MaxResponseTextSize = 4000;
} // namespace

void TRestClient::Post(const QString& Url, const QString& Payload, QIODevice* ResponseStream) {
    Assert(ResponseStream != nullptr, QStringLiteral("Post needs a response stream"), UnitName);
    // UTF-8 stands for the system's 8-bit code page; no byte-order mark.
    QByteArray body = JoinLinesCrLf(Payload).toUtf8();
    QBuffer source(&body);
    source.open(QIODevice::ReadOnly);
    THttpClient client;
    const int status = client.Post(Url, source, *ResponseStream, GetJsonHeaders());
    if (status != 200)
        throw ERestClientException(status, Url, GetResponseText(*ResponseStream));
}

QString TRestClient::Post(const QString& Url, const QString& Payload) {
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    Post(Url, Payload, &buffer);
    return GetResponseText(buffer);
}

// Large answers (an error page, say) would swamp a message; their size is enough to tell them apart.
QString TRestClient::GetResponseText(QIODevice& Stream) {
    const qint64 size = Stream.size();
    if (size > MaxResponseTextSize)
        return QString::number(size);
    const qint64 position = Stream.pos();
    const QString text = StreamToText(Stream);
    Stream.seek(position);
    return text;
}
