#include "Service/FileDownloader.h"

#include "App/HttpExceptions.h"
#include "App/Paths.h"
#include "Service/HttpHeadersProvider.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <filesystem>
#include <system_error>

namespace {

const QString UnitName = QStringLiteral("Service\\Service.FileDownloader");

// Opens a new "<name>.part-XXXXXX" beside the target with the usual permissions of a new file.
void OpenPartFile(QFile& part, const QString& fullFileName) {
    for (int attempt = 0;; ++attempt) {
        part.setFileName(fullFileName + QStringLiteral(".part-") +
                         QStringLiteral("%1").arg(QRandomGenerator::global()->bounded(0x1000000), 6, 16,
                                                  QLatin1Char('0')));
        if (part.open(QIODevice::ReadWrite | QIODevice::NewOnly))
            return;
        if (attempt >= 20 || !QFile::exists(part.fileName())) { // a clash of names is retried
            const QString reason = part.errorString();
            part.setFileName(QString());
            throw EInOutError(QStringLiteral("Cannot create file \"%1\". %2").arg(fullFileName, reason));
        }
    }
}

} // namespace

void TFileDownloader::Get(const QString& Url, QIODevice* ResponseStream) {
    Assert(ResponseStream != nullptr, QStringLiteral("Get needs a response stream"), UnitName);
    TNetHeaders headers;
    if (!ExternalRequest)
        headers = RequestJsonApi ? GetJsonApiHeaders() : GetHttpHeaders(QString());
    THttpClient client;
    const int status = client.Get(Url, *ResponseStream, headers, OnReceiveDataEvent);
    if (status != 200)
        throw EDownloadException(status, Url);
}

QString TFileDownloader::Get(const QString& Url) {
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    Get(Url, &buffer);
    return StreamToText(buffer);
}

void TFileDownloader::DownloadFile(const QString& Url, const QString& FullFileName) {
    // A name that is a folder could never be written; fail before anything is sent.
    if (FullFileName.isEmpty() || FullFileName.endsWith(QLatin1Char('/')) || QFileInfo(FullFileName).isDir())
        throw EInOutError(QStringLiteral("Cannot create file \"%1\". Is a directory").arg(FullFileName));

    // The body goes to a file beside the target and replaces it only when complete, so that a crash
    // never leaves a truncated file under the real name and two downloads of one file cannot mix.
    QFile part;
    bool inPlace = false;
    try {
        const QString dir = ExtractDirPart(FullFileName);
        if (!dir.isEmpty())
            QDir().mkpath(dir);
        if (InPlaceWhenMissing) {
            part.setFileName(FullFileName);
            inPlace = part.open(QIODevice::ReadWrite | QIODevice::NewOnly);
            if (!inPlace)
                part.setFileName(QString());
        }
        if (!inPlace)
            OpenPartFile(part, FullFileName);
        Get(Url, &part);
        if (!part.flush())
            throw EInOutError(
                QStringLiteral("Unable to write \"%1\". %2").arg(FullFileName, part.errorString()));
        if (OnFileComplete)
            OnFileComplete(part);
        part.close();
        if (!inPlace) {
            std::error_code error;
            std::filesystem::rename(QFile::encodeName(part.fileName()).toStdString(),
                                    QFile::encodeName(FullFileName).toStdString(), error);
            if (error)
                throw EInOutError(QStringLiteral("Cannot create file \"%1\". %2")
                                      .arg(FullFileName, QString::fromStdString(error.message())));
        }
    } catch (...) {
        if (part.isOpen())
            part.close();
        if (!part.fileName().isEmpty())
            QFile::remove(part.fileName());
        // Callers rely on a failed download leaving nothing under the name, not even an older copy.
        if (!KeepOldFileOnFailure && !inPlace)
            QFile::remove(FullFileName);
        throw;
    }
}

QString FileNameToUrlPath(const QString& FileName) {
    QString path = FileName;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    path.replace(QLatin1Char('#'), QStringLiteral("%23"));
    return path;
}

QString StreamToText(QIODevice& Stream) {
    Stream.seek(0);
    const QByteArray bytes = Stream.readAll();
    QString text;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        text = QString::fromUtf8(bytes.mid(3));
    else if (bytes.startsWith("\xFF\xFE"))
        text = QStringDecoder(QStringDecoder::Utf16LE, QStringDecoder::Flag::Stateless).decode(bytes.mid(2));
    else if (bytes.startsWith("\xFE\xFF"))
        text = QStringDecoder(QStringDecoder::Utf16BE, QStringDecoder::Flag::Stateless).decode(bytes.mid(2));
    else
        text = QString::fromUtf8(bytes); // UTF-8 stands for the system's 8-bit code page
    return JoinLinesCrLf(text);
}

QString JoinLinesCrLf(const QString& Text) {
    QString result;
    result.reserve(Text.size() + 2);
    const qsizetype n = Text.size();
    qsizetype i = 0;
    while (i < n) {
        qsizetype end = i;
        while (end < n && Text[end] != QLatin1Char('\r') && Text[end] != QLatin1Char('\n'))
            ++end;
        result += QStringView(Text).mid(i, end - i);
        result += QStringLiteral("\r\n");
        if (end < n && Text[end] == QLatin1Char('\r') && end + 1 < n && Text[end + 1] == QLatin1Char('\n'))
            ++end;
        i = end + 1;
    }
    return result;
}
