#include "App/HttpExceptions.h"
#include "App/Paths.h"
#include "Forms/uCatalogPage.h"
#include "Forms/uInfo.h"
#include "Service/AppsLibrary.h"
#include "Service/AppsLibrary/AppConfig.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QWebEngineView>

#include <atomic>
#include <optional>

namespace {

// An installed game in its own folder, with the given configuration text.
std::unique_ptr<TAppLibraryItem> InstalledGame(const QString& key, const QByteArray& ini) {
    const QString dir = MakeTempDir(key) + QLatin1Char('/');
    WriteFile(dir + key + QStringLiteral(".ini"), ini);
    auto item = std::make_unique<TAppLibraryItem>();
    item->PublicKey = key;
    item->Name = QStringLiteral("Name of ") + key;
    item->Description = QStringLiteral("short");
    item->Path = dir;
    item->SetState(lisInstalled);
    return item;
}

// The events that reached an object past the application's filters.
struct TEventLog : QObject {
    QList<QEvent::Type> Types;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::ContextMenu || e->type() == QEvent::MouseButtonPress)
            Types << e->type();
        return false;
    }
};

class CatalogPage : public ::testing::Test {
protected:
    void SetUp() override {
        FServer.Server().Get(R"(/api/kiv/public/catalog/(.*))", [this](const httplib::Request& req,
                                                                       httplib::Response& res) {
            ++FRequests;
            if (req.matches[1] != "game") {
                res.status = 404;
                return;
            }
            res.set_content(R"({"data":{"type":"app-page","id":"1","attributes":{"title":"Page title",)"
                            R"("description":"d","description_long":"Long text","achievement_count":12,)"
                            R"("scoreboard_count":1,"publish_date":"2024-03-08"}}})",
                            "application/vnd.api+json");
        });
        FServer.Start();
        qputenv("TARVENOX_SERVICE_URL", FServer.Origin().toUtf8());
        InitPaths();
    }
    void TearDown() override {
        qputenv("TARVENOX_SERVICE_URL", "http://127.0.0.1:9");
        InitPaths();
    }
    TestHttpServer FServer;
    std::atomic<int> FRequests{0};
};

} // namespace

TEST_F(CatalogPage, LabelsFollowThePage) {
    struct Case {
        int achievements, boards;
        QDateTime published;
        QString achievementsText, boardsText, dateText;
    };
    const QDateTime date(QDate(2024, 3, 8), QTime(0, 0), Qt::UTC);
    const std::vector<Case> cases = {
        {0, 0, QDateTime(), QStringLiteral("Достижения: нет"), QStringLiteral("Таблица рекордов: нет"),
         QStringLiteral("Дата публикации: неопределена")},
        {12, 1, date, QStringLiteral("Достижения: 12"), QStringLiteral("Таблица рекордов: ДА"),
         QStringLiteral("Дата публикации: ") + QLocale().toString(QDate(2024, 3, 8), QLocale::ShortFormat)},
    };
    TfCatalogPage form;
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Catalog Page"));
    EXPECT_EQ(form.txtReleaseDate->text(), QStringLiteral("Дата релиза:"));
    EXPECT_EQ(form.panelRight->width(), 185);
    for (const Case& c : cases) {
        TAppCatalogPage page;
        page.AchievementCount = quint8(c.achievements);
        page.ScoreboardCount = quint8(c.boards);
        page.PublishedAt = c.published;
        page.Title = QStringLiteral("T");
        page.DescriptionLong = QStringLiteral("L");
        form.FillFromPage(page);
        EXPECT_EQ(form.txtAchievements->text(), c.achievementsText);
        EXPECT_EQ(form.txtScoreboards->text(), c.boardsText);
        EXPECT_EQ(form.txtReleaseDate->text(), c.dateText);
        EXPECT_EQ(form.txtAchievements->font().bold(), c.achievements != 0);
        EXPECT_EQ(form.txtScoreboards->font().bold(), c.boards != 0);
        EXPECT_FALSE(form.txtReleaseDate->font().bold());
        EXPECT_EQ(form.txtTitle->text(), QStringLiteral("T"));
        EXPECT_EQ(form.txtDesc->text(), QStringLiteral("L"));
    }
}

TEST_F(CatalogPage, FetchedOnceAndKeptWithTheItem) {
    TAppLibraryItem item;
    item.PublicKey = QStringLiteral("game");
    item.Name = QStringLiteral("Игра");
    item.Description = QStringLiteral("Коротко");
    TfCatalogPage form;
    QPixmap cover(40, 60);
    cover.fill(Qt::red);
    form.Show(item, cover);
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(form.isModal());
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Игра"));
    EXPECT_EQ(FRequests.load(), 1);
    ASSERT_TRUE(item.isCatalogPageLoaded());
    EXPECT_EQ(form.txtTitle->text(), QStringLiteral("Page title"));
    EXPECT_EQ(form.txtDesc->text(), QStringLiteral("Long text"));
    EXPECT_EQ(form.txtAchievements->text(), QStringLiteral("Достижения: 12"));
    EXPECT_FALSE(form.imgCover->pixmap().isNull());

    form.Show(item, QPixmap());
    EXPECT_EQ(FRequests.load(), 1);
    EXPECT_TRUE(form.imgCover->pixmap().isNull());

    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&form, &esc);
    EXPECT_FALSE(form.isVisible());
}

TEST_F(CatalogPage, FailedFetchReachesTheCallerWithTheWindowShown) {
    TAppLibraryItem item;
    item.PublicKey = QStringLiteral("missing");
    item.Name = QStringLiteral("Нет страницы");
    TfCatalogPage form;
    EXPECT_THROW(form.Show(item, QPixmap()), EDownloadException);
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.txtTitle->text(), QStringLiteral("Нет страницы"));
    EXPECT_FALSE(item.isCatalogPageLoaded());
}

TEST(InfoWindow, GameWithoutAnAddressLeavesItHiddenAndWithoutBrowser) {
    auto game = InstalledGame(QStringLiteral("noinfo"), "[Launcher]\r\nKey=dosbox\r\n");
    TfInfo form;
    form.ShowEx(*game);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.Browser(), nullptr);
    TAppLibraryItem notInstalled;
    form.ShowEx(notInstalled);
    EXPECT_FALSE(form.isVisible());
}

TEST(InfoWindow, ShowsTheLocalPageAndEscClosesFromInsideThePage) {
    auto game = InstalledGame(QStringLiteral("infogame"), "[Launcher]\r\nKey=dosbox\r\n");
    WriteFile(game->Path + QStringLiteral("infogame.html"),
              "<html><head><title>About the game</title></head><body>Hello</body></html>");
    TfInfo form;
    const QSize screen = form.screen()->size();
    EXPECT_EQ(form.size(), QSize(screen.width() * 95 / 100, screen.height() * 75 / 100));
    form.ShowEx(*game);
    ASSERT_TRUE(form.Browser());
    std::optional<bool> loaded;
    QObject::connect(form.Browser(), &QWebEngineView::loadFinished, [&](bool ok) { loaded = ok; });
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Информация об игре «Name of infogame»"));
    EXPECT_EQ(form.Browser()->url(), QUrl::fromLocalFile(game->Path + QStringLiteral("infogame.html")));
    ASSERT_TRUE(WaitFor([&] { return loaded.has_value(); }, 60000));
    EXPECT_TRUE(*loaded);
    EXPECT_EQ(form.Browser()->title(), QStringLiteral("About the game"));

    // Right clicks and context menus aimed at the page are swallowed; so is Esc, which closes.
    QWidget* page = form.Browser()->focusProxy();
    ASSERT_TRUE(page);
    TEventLog reached;
    page->installEventFilter(&reached);
    QContextMenuEvent menu(QContextMenuEvent::Mouse, QPoint(5, 5), page->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(page, &menu);
    QMouseEvent right(QEvent::MouseButtonPress, QPointF(5, 5), page->mapToGlobal(QPointF(5, 5)), Qt::RightButton,
                      Qt::RightButton, Qt::NoModifier);
    QApplication::sendEvent(page, &right);
    QMouseEvent left(QEvent::MouseButtonPress, QPointF(5, 5), page->mapToGlobal(QPointF(5, 5)), Qt::LeftButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(page, &left);
    EXPECT_EQ(reached.Types, QList<QEvent::Type>{QEvent::MouseButtonPress}); // the left press only
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(page, &esc);
    EXPECT_FALSE(form.isVisible());
}

TEST(InfoWindow, ShowsASavedWebArchive) {
    auto game = InstalledGame(QStringLiteral("mhtgame"), "[Launcher]\r\nKey=dosbox\r\n");
    WriteFile(game->Path + QStringLiteral("mhtgame.mht"),
              "From: <Saved by Blink>\r\nSubject: Archive\r\nMIME-Version: 1.0\r\n"
              "Content-Type: multipart/related; type=\"text/html\"; boundary=\"B\"\r\n\r\n"
              "--B\r\nContent-Type: text/html\r\nContent-Location: http://127.0.0.1/page.html\r\n\r\n"
              "<html><head><title>Archived page</title></head><body>Saved</body></html>\r\n--B--\r\n");
    TfInfo form;
    form.ShowEx(*game);
    ASSERT_TRUE(form.Browser());
    EXPECT_EQ(form.Browser()->url(), QUrl::fromLocalFile(game->Path + QStringLiteral("mhtgame.mht")));
    ASSERT_TRUE(WaitFor([&] { return form.Browser()->title() == QStringLiteral("Archived page"); }, 60000))
        << form.Browser()->title().toStdString();
}

TEST(InfoWindow, ReusableWindowsBelongToTheMainWindow) {
    auto mainWindow = std::make_unique<QWidget>();
    CreateReusableWindows(mainWindow.get());
    QPointer<TfInfo> info = InfoWindow();
    QPointer<TfCatalogPage> catalog = CatalogPageWindow();
    EXPECT_EQ(info->parentWidget(), mainWindow.get());
    EXPECT_EQ(catalog->parentWidget(), mainWindow.get());
    EXPECT_FALSE(info->isVisible());
    EXPECT_EQ(info->Browser(), nullptr);
    mainWindow.reset();
    EXPECT_TRUE(info.isNull());
    EXPECT_TRUE(catalog.isNull());
}
