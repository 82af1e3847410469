#include "App/User.h"
#include "Forms/uFrameApp.h"
#include "Forms/uFrameCatalog.h"
#include "Forms/uFrameLibrary.h"
#include "TileFixtures.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QWheelEvent>

#include <atomic>
#include <mutex>

using namespace tiles;

namespace {

QStringList TileKeys(QScrollArea* frame) {
    QStringList keys;
    for (TFrameApp* tile : ListTiles(frame))
        keys << tile->GetAppPublicKey();
    return keys;
}

// Makes the visible width of the list exactly Width.
void SetClientWidth(QScrollArea* frame, int Width, int Height = 600) {
    // The scroll bar comes and goes with the layout, which changes the visible width again.
    for (int i = 0; i < 3 && frame->viewport()->width() != Width; ++i) {
        frame->resize(Width + frame->width() - frame->viewport()->width(), Height);
        QCoreApplication::processEvents();
    }
}

bool SendWheel(QWidget* w, int delta) {
    QWheelEvent wheel(QPointF(10, 10), w->mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &wheel);
    return wheel.isAccepted();
}

class FrameLists : public ::testing::Test {
protected:
    void SetUp() override { ResetLibrary(); }
    void TearDown() override { WaitForTileWork(); }
};

} // namespace

TEST_F(FrameLists, TheLibraryShowsItsInstalledGamesInLibraryOrder) {
    for (const char* key : {"zeta", "thunder-q", "queued-one", "alpha"})
        AddGame(QLatin1String(key), QByteArray(key) == "queued-one" ? lisQueued : lisInstalled);
    TFrameLibrary frame(nullptr);
    EXPECT_EQ(TileKeys(&frame), (QStringList{"zeta", "thunder-q", "alpha"}));
    EXPECT_EQ(frame.txtNoGames, nullptr);
    EXPECT_EQ(ListTiles(&frame)[1]->objectName(), QStringLiteral("FrameAppLibrarythunder_q"));
    ASSERT_NE(frame.FindAppFrame(QStringLiteral("alpha")), nullptr);
    EXPECT_EQ(frame.FindAppFrame(QStringLiteral("alpha"))->GetAppPublicKey(), QStringLiteral("alpha"));
    EXPECT_EQ(frame.FindAppFrame(QStringLiteral("Alpha")), nullptr) << "letter case counts";
    EXPECT_EQ(frame.FindAppFrame(QStringLiteral("queued-one")), nullptr);
    for (TFrameApp* tile : ListTiles(&frame))
        EXPECT_FALSE(tile->AllowCatalogPage);
}

TEST_F(FrameLists, AnEmptyLibraryShowsOnlyTheHint) {
    AddGame(QStringLiteral("waiting"), lisQueued);
    TFrameLibrary frame(nullptr);
    frame.show();
    SetClientWidth(&frame, 700, 500);
    ASSERT_NE(frame.txtNoGames, nullptr);
    EXPECT_EQ(frame.txtNoGames->text(), QStringLiteral("У вас пока нет игр \n\nПерейдите в КАТАЛОГ, чтобы установить игры"));
    EXPECT_EQ(frame.txtNoGames->alignment(), Qt::AlignCenter);
    EXPECT_EQ(frame.txtNoGames->geometry(), frame.viewport()->rect());
    EXPECT_TRUE(ListTiles(&frame).isEmpty());
}

TEST_F(FrameLists, TilesAreLaidOutInAGridOfTheVisibleWidth) {
    for (int i = 0; i < 5; ++i)
        AddGame(QStringLiteral("g%1").arg(i), lisInstalled);
    TFrameLibrary frame(nullptr);
    frame.show();
    struct TCase {
        int Width;
        QList<QPoint> Places;
    } cases[] = {
        {1000, {{0, 0}, {326, 0}, {652, 0}, {0, 436}, {326, 436}}},
        {300, {{0, 0}, {0, 436}, {0, 872}, {0, 1308}, {0, 1744}}},
        {652, {{0, 0}, {326, 0}, {0, 436}, {326, 436}, {0, 872}}},
    };
    for (const TCase& c : cases) {
        SetClientWidth(&frame, c.Width);
        ASSERT_EQ(frame.viewport()->width(), c.Width);
        QList<QPoint> places;
        for (TFrameApp* tile : ListTiles(&frame))
            places << tile->pos();
        EXPECT_EQ(places, c.Places) << c.Width;
    }
    QScrollArea empty;
    ArrangeTiles(&empty); // nothing to lay out, nothing breaks
}

TEST_F(FrameLists, OneWheelEventScrollsOneStep) {
    for (int i = 0; i < 6; ++i)
        AddGame(QStringLiteral("w%1").arg(i), lisInstalled);
    TFrameLibrary frame(nullptr);
    frame.show();
    SetClientWidth(&frame, 400, 500);
    QScrollBar* bar = frame.verticalScrollBar();
    ASSERT_GT(bar->maximum(), 3 * bar->singleStep());
    bar->setValue(2 * bar->singleStep());
    struct TCase {
        int Delta;
        int Change;
    } cases[] = {{240, -1}, {120, -1}, {-120, 1}, {-960, 1}, {0, 1}};
    for (const TCase& c : cases) {
        const int before = bar->value();
        bool handled = false;
        frame.OnMouseScroll(c.Delta, handled);
        EXPECT_TRUE(handled) << c.Delta;
        EXPECT_EQ(bar->value() - before, c.Change * bar->singleStep()) << c.Delta;
    }
    const int before = bar->value();
    EXPECT_TRUE(SendWheel(frame.viewport(), 240));
    EXPECT_EQ(bar->value(), before - bar->singleStep()) << "the wheel over the list itself";
}

TEST_F(FrameLists, AListThatFitsLeavesTheWheelToOthers) {
    AddGame(QStringLiteral("only"), lisInstalled);
    TFrameLibrary small(nullptr);
    small.show();
    SetClientWidth(&small, 800, 700);
    bool handled = false;
    small.OnMouseScroll(-120, handled);
    EXPECT_FALSE(handled);
    EXPECT_FALSE(SendWheel(small.viewport(), -120));
}

TEST_F(FrameLists, TileNamesStayUniqueWhenKeysDifferOnlyByDashes) {
    AddGame(QStringLiteral("a-b"), lisInstalled);
    AddGame(QStringLiteral("a_b"), lisInstalled);
    TFrameLibrary frame(nullptr);
    const QList<TFrameApp*> tiles = ListTiles(&frame);
    ASSERT_EQ(tiles.size(), 2);
    EXPECT_EQ(tiles[0]->objectName(), QStringLiteral("FrameAppLibrarya_b"));
    EXPECT_NE(tiles[1]->objectName(), tiles[0]->objectName());
    EXPECT_EQ(frame.FindAppFrame(QStringLiteral("a_b")), tiles[1]);
}

// ---- catalog ------------------------------------------------------------------------------------------

namespace {

const char* CatalogJson = R"({"data":[
  {"type":"app","id":"1","attributes":{"key":"alpha-one","title":"Alpha","cover_url":"","description":"A","locked":false}},
  {"type":"app","id":"2","attributes":{"key":"beta","title":"Beta from the catalog","cover_url":"","description":"B","locked":false}},
  {"type":"app","id":"3","attributes":{"key":"gamma","title":"Gamma","cover_url":"","description":"C","locked":true}}
]})";

class Catalog : public FrameLists {
protected:
    void SetUp() override {
        FrameLists::SetUp();
        FServer.Server().Get("/api/kiv/public/catalog", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(FLock);
            FTokens.push_back(req.get_header_value("User-Token"));
            if (FUnauthorized > 0) {
                --FUnauthorized;
                res.status = 401;
                return;
            }
            res.set_content(CatalogJson, "application/vnd.api+json");
        });
        FServer.Start();
        qputenv("TARVENOX_SERVICE_URL", FServer.Origin().toUtf8());
        InitPaths();
        CurrentUser().SetToken(QStringLiteral("old-token"));
    }
    void TearDown() override {
        FrameLists::TearDown();
        FrameAppHooks() = {};
        CurrentUser().ResetToken();
        qputenv("TARVENOX_SERVICE_URL", "http://127.0.0.1:9");
        InitPaths();
    }
    std::vector<std::string> Tokens() {
        std::lock_guard lock(FLock);
        return FTokens;
    }

    TestHttpServer FServer;
    std::mutex FLock;
    int FUnauthorized = 0;
    std::vector<std::string> FTokens;
};

} // namespace

TEST_F(Catalog, ShowsEveryOfferedGameAndLocalGamesWithTheirLocalState) {
    TAppLibraryItem* local = AddGame(QStringLiteral("beta"), lisInstalled);
    TFrameCatalog frame(nullptr);
    frame.show();
    ASSERT_TRUE(WaitFor([&] { return frame.Loaded(); }));
    EXPECT_TRUE(QFile::exists(MetaPath() + QStringLiteral("catalog.json")));
    EXPECT_EQ(TileKeys(&frame), (QStringList{"alpha-one", "beta", "gamma"}));
    ASSERT_NE(frame.Apps, nullptr);
    EXPECT_EQ(frame.Apps->Count(), 3);

    TFrameApp* alpha = frame.FindAppFrame(QStringLiteral("alpha-one"));
    ASSERT_NE(alpha, nullptr);
    EXPECT_EQ(alpha->objectName(), QStringLiteral("FrameAppCatalogalpha_one"));
    EXPECT_EQ(alpha->AppLibItem(), frame.Apps->Items(0));
    EXPECT_TRUE(alpha->AllowCatalogPage);

    TFrameApp* beta = frame.FindAppFrame(QStringLiteral("beta"));
    ASSERT_NE(beta, nullptr);
    EXPECT_EQ(beta->AppLibItem(), local) << "the local item stands in for the catalog's";
    EXPECT_EQ(local->Name, QStringLiteral("Beta from the catalog"));
    beta->FrameMouseEnter();
    EXPECT_TRUE(beta->bLaunch->isVisibleTo(beta));
    EXPECT_FALSE(beta->bInstall->isVisibleTo(beta));

    TFrameApp* gamma = frame.FindAppFrame(QStringLiteral("gamma"));
    gamma->FrameMouseEnter();
    EXPECT_FALSE(gamma->bInstall->isVisibleTo(gamma)) << "locked";
    EXPECT_TRUE(gamma->bCatalog->isVisibleTo(gamma));

    SetClientWidth(&frame, 700);
    EXPECT_EQ(beta->pos(), QPoint(326, 0));
    EXPECT_EQ(gamma->pos(), QPoint(0, 436));
    EXPECT_EQ(frame.FindAppFrame(QStringLiteral("BETA")), nullptr);
}

TEST_F(Catalog, A401AsksTheUserToLogInAndTriesOnceMore) {
    for (const int refusals : {1, 2}) {
        {
            std::lock_guard lock(FLock);
            FTokens.clear();
            FUnauthorized = refusals;
        }
        CurrentUser().SetToken(QStringLiteral("old-token"));
        int logins = 0;
        QString tokenAtLogin = QStringLiteral("unset");
        FrameAppHooks().ShowLogin = [&] {
            ++logins;
            tokenAtLogin = CurrentUser().Token();
            CurrentUser().SetToken(QStringLiteral("new-token"));
        };
        TFrameCatalog frame(nullptr);
        ASSERT_TRUE(WaitFor([&] { return frame.Loaded(); }));
        EXPECT_EQ(logins, 1) << refusals;
        EXPECT_EQ(tokenAtLogin, QString()) << "the token is reset before the login";
        EXPECT_EQ(Tokens(), (std::vector<std::string>{"old-token", "new-token"})) << refusals;
        EXPECT_EQ(ListTiles(&frame).size(), refusals == 1 ? 3 : 0) << refusals;
    }
}
