// Draws the launcher's lists and windows off screen with sample games and saves them as pictures. The
// catalog comes from a small service of its own on 127.0.0.1; everything else lives in a temporary home.
#include "App/Paths.h"
#include "App/Settings.h"
#include "App/User.h"
#include "Forms/uFrameApp.h"
#include "Forms/uFrameCatalog.h"
#include "Forms/uFrameLibrary.h"
#include "Forms/uLibManagerForm.h"
#include "Forms/uMain.h"
#include "Forms/uSettings.h"
#include "Service/AppsLibrary.h"
#include "Service/ImageProviders.h"

#include <httplib.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QProgressDialog>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>
#include <cstdlib>
#include <thread>

static void InitResources() { Q_INIT_RESOURCE(tarvenox); }

namespace {

QString gOut;

void Spin(const std::function<bool()>& done, int timeoutMs = 5000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
}

void Save(QWidget* w, const QString& name) {
    QCoreApplication::processEvents();
    const QString file = gOut + u'/' + name + QStringLiteral(".png");
    if (!w->grab().save(file))
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
    else
        std::printf("%s\n", qPrintable(file));
}

QString Sample(const char* path) { return QStringLiteral(TARVENOX_SAMPLE_DIR "/") + QLatin1String(path); }

// A game in the library; installed ones get a configuration file in their folder.
TAppLibraryItem* AddGame(const QString& key, const QString& name, TLibraryItemState state, const QString& cover,
                         const QByteArray& ini = "[Launcher]\nCmd=run.sh\n") {
    auto item = std::make_unique<TAppLibraryItem>();
    item->PublicKey = key;
    item->Name = name;
    item->CoverUrl = cover;
    item->Path = Lib::GetAppDir(key);
    if (state == lisInstalled) {
        QDir().mkpath(item->Path);
        QFile f(item->Path + key + QStringLiteral(".ini"));
        f.open(QIODevice::WriteOnly);
        f.write(ini);
    }
    item->SetState(state);
    return AppsLibrary().Items(AppsLibrary().Add(std::move(item)));
}

const char* CatalogJson = R"({"data":[
 {"type":"app","id":"1","attributes":{"key":"demo-arcade","title":"Demo Arcade","cover_url":"%1","locked":false}},
 {"type":"app","id":"2","attributes":{"key":"demo-dos","title":"Demo DOS","cover_url":"%2","locked":false}},
 {"type":"app","id":"3","attributes":{"key":"demo-locked","title":"Demo Locked","cover_url":"%3","locked":true}},
 {"type":"app","id":"4","attributes":{"key":"star-pilot","title":"Star Pilot: Долгая дорога домой","cover_url":"","locked":false}}
]})";

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: tarvenox-screenshots OUTPUT-FOLDER\n");
        return 2;
    }
    QTemporaryDir home;
    const QByteArray h = home.path().toUtf8();
    setenv("HOME", h.constData(), 1);
    setenv("XDG_DATA_HOME", (h + "/data").constData(), 1);
    setenv("XDG_CONFIG_HOME", (h + "/config").constData(), 1);
    setenv("XDG_CACHE_HOME", (h + "/cache").constData(), 1);

    httplib::Server server;
    const QString catalog = QString::fromUtf8(CatalogJson)
                                .arg(Sample("apps/demo-arcade/cover.png"), Sample("apps/demo-dos/cover.png"),
                                     Sample("apps/demo-locked/cover.png"));
    server.Get("/api/kiv/public/catalog", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(catalog.toStdString(), "application/vnd.api+json");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { server.listen_after_bind(); });
    setenv("TARVENOX_SERVICE_URL", QStringLiteral("http://127.0.0.1:%1").arg(port).toUtf8().constData(), 1);

    InitPaths();
    Core::LoadSettings();
    Lib::LoadSettings();
    InitUser();
    InitLibraries();
    InitImageProvider();

    QApplication app(argc, argv);
    InitResources();
    QFile style(QStringLiteral(":/styles/Carbon.qss"));
    style.open(QIODevice::ReadOnly);
    app.setStyleSheet(QString::fromUtf8(style.readAll()));
    gOut = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(gOut);
    const QString suffix = qEnvironmentVariableIsSet("QT_SCALE_FACTOR")
                               ? QStringLiteral("@") + qEnvironmentVariable("QT_SCALE_FACTOR") + u'x'
                               : QString();

    AddGame(QStringLiteral("demo-arcade"), QStringLiteral("Demo Arcade"), lisInstalled,
            Sample("apps/demo-arcade/cover.png"),
            "[Internet]\nGameUrl=http://127.0.0.1/arcade\n[Launcher]\nCmd=run.sh\n[Boards]\n1=Лучшие\n");
    AddGame(QStringLiteral("demo-dos"), QStringLiteral("Demo DOS"), lisInstalled, Sample("apps/demo-dos/cover.png"));
    AddGame(QStringLiteral("star-pilot"), QStringLiteral("Star Pilot: Долгая дорога домой"), lisInstalled, QString());
    AddGame(QStringLiteral("queued-game"), QStringLiteral("В очереди"), lisQueued, QString());

    {
        QWidget window;
        window.setObjectName(QStringLiteral("fMain"));
        window.resize(1000, 470);
        auto* layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* library = new TFrameLibrary(&window);
        layout->addWidget(library);
        window.show();
        Spin([&] { return false; }, 400); // covers load in the background
        QList<TFrameApp*> tiles = ListTiles(library);
        tiles[0]->FrameMouseEnter();
        Spin([&] { return !tiles[0]->timerFadeOut->isActive(); });
        Save(&window, QStringLiteral("library") + suffix);
        tiles[0]->PopupMenuPopup();
        tiles[0]->PopupMenu->popup(tiles[0]->mapToGlobal(QPoint(100, 200)));
        Spin([&] { return tiles[0]->PopupMenu->isVisible(); });
        Save(tiles[0]->PopupMenu, QStringLiteral("tile-menu") + suffix);
        tiles[0]->PopupMenu->hide();
    }
    {
        // The catalog with its own tiles; the installed games show their local state.
        QWidget window;
        window.resize(1320, 470);
        auto* layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* catalogFrame = new TFrameCatalog(&window);
        layout->addWidget(catalogFrame);
        window.show();
        Spin([&] { return catalogFrame->Loaded(); });
        Spin([&] { return false; }, 400);
        if (TFrameApp* locked = catalogFrame->FindAppFrame(QStringLiteral("demo-locked"))) {
            if (!locked->AppLibItem()->CatalogPage()) {
                auto page = std::make_unique<TAppCatalogPage>();
                page->PublishedAt = QDateTime(QDate(2027, 3, 14), QTime(0, 0), Qt::UTC);
                locked->AppLibItem()->SetCatalogPage(std::move(page));
            }
            locked->UpdateReleaseNote();
            locked->FrameMouseEnter();
        }
        if (TFrameApp* dos = catalogFrame->FindAppFrame(QStringLiteral("demo-dos")))
            dos->FrameMouseEnter();
        if (TFrameApp* pilot = catalogFrame->FindAppFrame(QStringLiteral("star-pilot")))
            pilot->FrameMouseEnter();
        Spin([&] { return false; }, 300);
        Save(&window, QStringLiteral("catalog") + suffix);
    }
    {
        DoneLibraries();
        Lib::SetPath(home.path() + QStringLiteral("/empty/"));
        InitLibraries();
        QWidget window;
        window.resize(800, 400);
        auto* layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(new TFrameLibrary(&window));
        window.show();
        Save(&window, QStringLiteral("library-empty") + suffix);
    }
    {
        // The main window around the lists, logged in, with nothing that would open a question.
        Core::UpdatesCore = Core::UpdatesApps = Core::UpdatesComponents = false;
        Core::CheckBrowserIntegration = false;
        CurrentUser().SetName(QStringLiteral("player_one"));
        CurrentUser().SetToken(QStringLiteral("demo-token"));
        TfMain main;
        main.resize(1000, 560);
        main.show();
        Spin([&] { return false; }, 600);
        Save(&main, QStringLiteral("main") + suffix);
    }
    {
        QWidget owner;
        ShowSettingsWindow(&owner);
        Save(SettingsWindow(), QStringLiteral("settings") + suffix);
        SettingsWindow()->hide();
    }
    {
        TLibManagerForm form(nullptr);
        form.ePath->setText(QStringLiteral("/srv/games/"));
        form.show();
        Save(&form, QStringLiteral("folders") + suffix);
    }
    {
        // The folder move's progress window, as the folder manager shows it.
        QProgressDialog progress(QStringLiteral("Перемещение файлов игр..."), QStringLiteral("Отмена"), 0, 1000);
        progress.setWindowTitle(QStringLiteral("Управление папками"));
        progress.setMinimumWidth(420);
        progress.setValue(420);
        progress.show();
        Save(&progress, QStringLiteral("folder-move") + suffix);
    }
    server.stop();
    serving.join();
    DoneImageProvider();
    DoneLibraries();
    return 0;
}
