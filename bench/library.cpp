// Times of the library file (save and load of 10,000 games) and of the catalog conversion (10,000 "app"
// resources). Runs in a temporary home so that nothing touches the user's files.
#include "App/Paths.h"
#include "Lib/Json.h"
#include "Service/AppsLibrary.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

constexpr int ItemCount = 10000;
constexpr int Runs = 5;

// Best and mean of several runs, in milliseconds.
void Measure(const char* What, const std::function<void()>& Work) {
    double best = 1e9, total = 0;
    for (int i = 0; i < Runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        Work();
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        best = std::min(best, ms);
        total += ms;
    }
    std::printf("%-48s best %8.2f ms   mean %8.2f ms\n", What, best, total / Runs);
}

QString CatalogDocument() {
    QString text = QStringLiteral("{\"data\":[");
    for (int i = 0; i < ItemCount; ++i) {
        if (i > 0)
            text += u',';
        text += QStringLiteral("{\"type\":\"app\",\"id\":\"%1\",\"attributes\":{\"key\":\"game-%1\",\"title\":\"Игра "
                               "номер %1\",\"cover_url\":\"http://127.0.0.1/covers/game-%1.png\",\"description\":"
                               "\"Короткое описание игры %1\",\"locked\":%2}}")
                    .arg(i)
                    .arg(i % 7 == 0 ? QStringLiteral("true") : QStringLiteral("false"));
    }
    return text + QStringLiteral("]}");
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    const QByteArray h = home.path().toUtf8();
    qputenv("HOME", h);
    qputenv("XDG_DATA_HOME", h + "/data");
    qputenv("XDG_CONFIG_HOME", h + "/config");
    qputenv("XDG_CACHE_HOME", h + "/cache");
    QCoreApplication app(argc, argv);
    InitPaths();

    const QString games = home.path() + QStringLiteral("/Games/");
    const QString file = games + QStringLiteral("apps.json");
    TAppsLibrary library(file);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < ItemCount; ++i) {
        auto item = std::make_unique<TAppLibraryItem>();
        item->PublicKey = QStringLiteral("game-%1").arg(i);
        item->Name = QStringLiteral("Игра номер %1").arg(i);
        item->Description = QStringLiteral("Короткое описание игры \"%1\"").arg(i);
        item->Path = games + item->PublicKey + QStringLiteral("/");
        item->Version = QStringLiteral("1.%1.0").arg(i % 50);
        // A third installed (each reads its configuration file), a third queued, a third catalog only.
        item->SetState(i % 3 == 0 ? lisInstalled : i % 3 == 1 ? lisQueued : lisNone);
        library.Add(std::move(item));
    }
    std::printf("%-48s      %8.2f ms\n", "build 10,000 items (3,334 installed)", double(timer.nsecsElapsed()) / 1e6);

    Measure("save 10,000 items", [&] { library.SaveToFile(); });
    std::printf("%-48s      %8lld bytes\n", "library file", qlonglong(QFileInfo(file).size()));
    int loaded = 0;
    Measure("load 10,000 items (3,334 installed)", [&] { loaded = TAppsLibrary(file).Count(); });

    // Without installed games: the file alone, no configuration files looked for.
    for (const auto& item : library)
        item->SetState(lisQueued);
    const QString queuedFile = games + QStringLiteral("queued.json");
    library.SaveToFile(queuedFile);
    Measure("load 10,000 queued items", [&] { loaded = TAppsLibrary(queuedFile).Count(); });

    const QString catalog = CatalogDocument();
    std::printf("%-48s      %8lld chars\n", "catalog document", qlonglong(catalog.size()));
    TJsonValue doc;
    Measure("parse catalog document", [&] { doc = ParseJson(catalog); });
    int converted = 0;
    Measure("convert 10,000 app resources", [&] {
        converted = TJsonLibraryItemsListConverter::CreateListFromJson(doc[QStringLiteral("data")])->Count();
    });
    if (loaded != ItemCount || converted != ItemCount) {
        std::printf("wrong counts: loaded %d, converted %d\n", loaded, converted);
        return 1;
    }
    return 0;
}
