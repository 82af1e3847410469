// Renders the dialogs and secondary windows with the Carbon look, against a scoreboard served on
// 127.0.0.1, and saves each as a PNG into the folder given as the first argument.
#include "App/Paths.h"
#include "App/Settings.h"
#include "App/User.h"
#include "Forms/Debug.h"
#include "Forms/MsgBoxes.h"
#include "Forms/uAbout.h"
#include "Forms/uAchievementNotification.h"
#include "Forms/uCatalogPage.h"
#include "Forms/uFrameScoreboard.h"
#include "Forms/uLogin.h"
#include "Forms/uRegister.h"
#include "Forms/uScoreboard.h"
#include "Service/AppsLibrary.h"
#include "Service/AppsLibrary/AppConfig.h"

#include <httplib.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <thread>

static void InitResources() {
    Q_INIT_RESOURCE(tarvenox);
}

namespace {

QString gOut;

void Settle(int ms = 50) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

void Save(QWidget& w, const char* name) {
    w.show();
    Settle();
    const QString file = gOut + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png");
    if (!w.grab().save(file))
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
    else
        std::printf("%s %dx%d\n", qPrintable(file), w.width(), w.height());
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    QTemporaryDir home;
    const QByteArray h = home.path().toUtf8();
    setenv("HOME", h.constData(), 1);
    setenv("XDG_DATA_HOME", (h + "/data").constData(), 1);
    setenv("XDG_CONFIG_HOME", (h + "/config").constData(), 1);
    setenv("XDG_CACHE_HOME", (h + "/cache").constData(), 1);

    httplib::Server server;
    server.Get(R"(/api/kiv/score/.*)", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(R"({"data":[{"user":"alice","value":1234567,"self":false},)"
                        R"({"user":"bob","value":98765,"self":true},{"user":"carol","value":420,"self":false}]})",
                        "application/json");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread serverThread([&] { server.listen_after_bind(); });
    setenv("TARVENOX_SERVICE_URL", ("http://127.0.0.1:" + std::to_string(port)).c_str(), 1);

    InitPaths();
    Core::LoadSettings();
    Lib::LoadSettings();
    InitUser();
    int rc = 0;
    {
        TApplication app(argc, argv);
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        InitResources();
        QFile style(QStringLiteral(":/styles/Carbon.qss"));
        if (style.open(QIODevice::ReadOnly | QIODevice::Text))
            app.setStyleSheet(QString::fromUtf8(style.readAll()));
        gOut = QString::fromLocal8Bit(argv[1]);
        QDir().mkpath(gOut);

        {
            CurrentUser().SetName(QStringLiteral("player_1"));
            TfLogin login;
            Save(login, "login");
            TfRegister reg;
            reg.eName->setText(QStringLiteral("player_1"));
            reg.eEmail->setText(QStringLiteral("player@example.org"));
            Save(reg, "register");
        }
        {
            TDetailsDialog details(
                QStringLiteral("Во время работы приложения возникла непредвиденная ошибка.\rПожалуйста, "
                               "сообщите о проишествии Вашему системному администратору."),
                QStringLiteral("Message: Component \"dosbox\" is not available\rCategory: "
                               "ENoComponentFoundException\rObject: QPushButton\rErrorCode: 0x00000002"),
                TMsgDlgType::mtError);
            Save(details, "error-report");
            details.ToggleDetails();
            Save(details, "error-report-folded");
        }
        {
            TAboutForm about;
            Save(about, "about");
        }
        {
            auto* note = new TfAchievementNotification;
            const TAchievementEntry a{QStringLiteral("Первая кровь: пройти первый уровень без единой потери"),
                                      QString(), QStringLiteral("demo"), QStringLiteral("Demo Arcade")};
            note->Show(&a);
            Save(*note, "achievement");
            note->close();
        }
        const QString gameDir = home.path() + QStringLiteral("/games/demo/");
        QDir().mkpath(gameDir);
        {
            QFile ini(gameDir + QStringLiteral("demo.ini"));
            ini.open(QIODevice::WriteOnly);
            ini.write("[Launcher]\r\nKey=dosbox\r\n[Boards]\r\n1=Лучшие\r\n2=За неделю\r\n");
        }
        TAppLibraryItem game;
        game.PublicKey = QStringLiteral("demo");
        game.Name = QStringLiteral("Demo Arcade");
        game.Description = QStringLiteral("Короткая аркада.");
        game.Path = gameDir;
        game.SetState(lisInstalled);
        {
            TfScoreboard board;
            board.AssignApp(game);
            auto* frame = board.findChild<TFrameScoreboard*>();
            QElapsedTimer t;
            t.start();
            while (frame && !frame->Loaded() && t.elapsed() < 5000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            Save(board, "scoreboard");
        }
        {
            auto page = std::make_unique<TAppCatalogPage>();
            page->Title = QStringLiteral("Demo Arcade");
            page->DescriptionLong = QStringLiteral(
                "Небольшая аркада, на которой проверяется установка, запуск и подсчёт очков. Соберите все "
                "кристаллы, не задев стен, и попадите в таблицу рекордов.");
            page->AchievementCount = 12;
            page->ScoreboardCount = 1;
            page->PublishedAt = QDateTime(QDate(2024, 3, 8), QTime(0, 0), Qt::UTC);
            game.SetCatalogPage(std::move(page));
            QPixmap cover(300, 420);
            cover.fill(QColor(0x3a, 0x5f, 0x8f));
            TfCatalogPage catalog;
            catalog.Show(game, cover);
            Save(catalog, "catalog-page");
        }
    }
    server.stop();
    serverThread.join();
    DoneUser();
    return rc;
}
