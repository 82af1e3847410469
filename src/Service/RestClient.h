#pragma once

#include <QString>

class QIODevice;

// POSTs a JSON text with the JSON headers. Statuses other than 200 raise ERestClientException.
class TRestClient {
public:
    // Writes the answer into ResponseStream, whatever the status.
    void Post(const QString& Url, const QString& Payload, QIODevice* ResponseStream);
    // The answer as text; an answer above 4000 bytes gives its size instead.
    QString Post(const QString& Url, const QString& Payload);

private:
    static QString GetResponseText(QIODevice& Stream);
};
