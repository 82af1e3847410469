#pragma once

#include "Platform/HttpClient.h"

#include <QString>

#include <functional>

class QFile;
class QIODevice;

// Fetches one resource by GET into a stream, a text or a file. Statuses other than 200 raise
// EDownloadException; transport errors and errors raised by OnReceiveDataEvent pass through unchanged.
class TFileDownloader {
public:
    // Not the service's address: none of the launcher's headers are sent.
    bool ExternalRequest = false;
    TReceiveDataEvent OnReceiveDataEvent;

    void EnableJsonApiGet() { RequestJsonApi = true; }

    // Writes the body into ResponseStream from its current position, whatever the status.
    void Get(const QString& Url, QIODevice* ResponseStream);
    // The body as text (see StreamToText).
    QString Get(const QString& Url);
    // Streams the body to FullFileName, creating missing folders. The body goes to a file beside the
    // target, which replaces it when complete. On any failure no file is left at FullFileName, also when
    // one was there before, unless KeepOldFileOnFailure is set: then an older copy stays untouched.
    void DownloadFile(const QString& Url, const QString& FullFileName);

    bool KeepOldFileOnFailure = false;
    // When no file is at FullFileName yet, the body is written there directly (a failure still removes
    // it). For callers that can tell a complete file from a broken one by other means.
    bool InPlaceWhenMissing = false;
    // Called with the complete file, flushed and still open for reading and writing, before it takes its
    // name; an exception fails the download.
    std::function<void(QFile& File)> OnFileComplete;

private:
    bool RequestJsonApi = false;
};

// A file list name as a URL path: "\" becomes "/", "#" becomes "%23"; nothing else is escaped.
QString FileNameToUrlPath(const QString& FileName);

// Text of a response body, read from the stream's start: a UTF-8 or UTF-16 byte-order mark selects
// that encoding, otherwise UTF-8; every line, the last one included, ends with CR LF.
QString StreamToText(QIODevice& Stream);

// Lines split at CR, LF or CR LF and joined with CR LF after every line; empty text stays empty.
QString JoinLinesCrLf(const QString& Text);
