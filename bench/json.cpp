// Parses and writes a catalog-like document of about 10 MB with the launcher's JSON code and with
// QJsonDocument on the same text, and prints the speed of each in MB/s (MB of the text's UTF-8 form).

#include "Lib/Json.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>

#include <cstdio>
#include <functional>

namespace {

QString MakeCatalog(qsizetype TargetBytes) {
    QRandomGenerator rng(7);
    const QStringList words = {QStringLiteral("Подземелье"), QStringLiteral("quest"), QStringLiteral("dragon"),
                               QStringLiteral("Рыцарь"), QStringLiteral("space"), QStringLiteral("Ключ"),
                               QStringLiteral("arcade"), QStringLiteral("éclair"), QStringLiteral("日本")};
    const auto phrase = [&](int n) {
        QString s;
        for (int i = 0; i < n; ++i) {
            if (i)
                s += rng.bounded(8) == 0 ? QStringLiteral("\\n") : QStringLiteral(" ");
            s += words[rng.bounded(words.size())];
        }
        return s;
    };
    QString out = QStringLiteral("{\"data\":[");
    qsizetype bytes = 0;
    for (int id = 1; bytes < TargetBytes; ++id) {
        QString item = QStringLiteral(
                           "{\"type\":\"app\",\"id\":\"%1\",\"attributes\":{\"key\":\"game-%1\",\"title\":\"%2 "
                           "\\\"%3\\\"\",\"description\":\"%4\",\"description_long\":\"%5\",\"rating\":%6,"
                           "\"downloads\":%7,\"size\":%8,\"achievement_count\":%9,\"scoreboard_count\":%10,"
                           "\"publish_date\":\"2020-01-%11\",\"free\":%12,\"price\":null,\"cover_url\":"
                           "\"https:\\/\\/cdn.example\\/covers\\/%1.jpg\",\"tags\":[\"dos\",\"%13\",\"\\u00e9t\\u00E9\"]},"
                           "\"relationships\":{\"component\":{\"data\":{\"type\":\"component\",\"id\":\"dosbox-%14\"}}}}")
                           .arg(id)
                           .arg(phrase(2), phrase(1), phrase(8), phrase(40))
                           .arg(double(rng.bounded(5000)) / 1000.0 + 0.5, 0, 'g', 15)
                           .arg(rng.bounded(1000000))
                           .arg(qint64(rng.bounded(2000000000)) * 3)
                           .arg(rng.bounded(50))
                           .arg(rng.bounded(10))
                           .arg(10 + rng.bounded(18))
                           .arg(rng.bounded(2) ? QStringLiteral("true") : QStringLiteral("false"))
                           .arg(words[rng.bounded(words.size())])
                           .arg(rng.bounded(3));
        if (id > 1)
            out += u',';
        out += item;
        bytes += item.toUtf8().size();
    }
    out += QStringLiteral("],\"meta\":{\"page\":1,\"total\":12345}}");
    return out;
}

// Best of a few runs, in MB/s.
double Speed(qsizetype Bytes, const std::function<void()>& Work) {
    qint64 best = -1;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer t;
        t.start();
        Work();
        const qint64 ns = t.nsecsElapsed();
        if (best < 0 || ns < best)
            best = ns;
    }
    return double(Bytes) / 1e6 / (double(best) / 1e9);
}

} // namespace

int main() {
    const QString text = MakeCatalog(10 * 1000 * 1000);
    const QByteArray utf8 = text.toUtf8();
    const qsizetype bytes = utf8.size();

    TJsonValue doc;
    const double parse = Speed(bytes, [&] { doc = ParseJson(text); });
    QString written;
    const double write = Speed(bytes, [&] { written = doc.ToJSON(); });

    QJsonDocument qdoc;
    const double qparse = Speed(bytes, [&] { qdoc = QJsonDocument::fromJson(utf8); });
    QByteArray qwritten;
    const double qwrite = Speed(bytes, [&] { qwritten = qdoc.toJson(QJsonDocument::Compact); });

    // Both must have read the whole document, or the figures mean nothing.
    if (SafeJsonData(doc["data"]).VCount() != qdoc.object().value(QStringLiteral("data")).toArray().size() ||
        written.size() < text.size() / 2) {
        std::fprintf(stderr, "documents differ\n");
        return 1;
    }
    std::printf("parse: %.0f MB/s\n", parse);
    std::printf("write: %.0f MB/s\n", write);
    std::printf("QJsonDocument parse: %.0f MB/s\n", qparse);
    std::printf("QJsonDocument write: %.0f MB/s\n", qwrite);
    return 0;
}
