#include "App/HttpExceptions.h"
#include "Forms/MsgBoxes.h"
#include "Forms/uFrameApp.h"
#include "Platform/Shell.h"
#include "Service/AppsLibrary/AppConfig.h"
#include "TileFixtures.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QEnterEvent>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

using namespace tiles;

namespace {

void SendEnter(QWidget* w) {
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(w, &enter);
}

void SendLeave(QWidget* w) {
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(w, &leave);
}

// Which controls the hover face shows.
QString Face(TFrameApp& tile) {
    QStringList shown;
    const QList<QPair<const char*, QWidget*>> controls = {
        {"install", tile.bInstall}, {"launch", tile.bLaunch},       {"scores", tile.bScoreboards},
        {"info", tile.bInfo},       {"catalog", tile.bCatalog},     {"note", tile.txtReleaseNote}};
    for (const auto& [name, w] : controls)
        if (w->isVisibleTo(&tile))
            shown << QLatin1String(name);
    return shown.join(u' ');
}

// The opacities the fade passes through until its timer stops.
QList<int> FadeSteps(TFrameApp& tile) {
    QList<int> steps;
    QObject recorder;
    QObject::connect(tile.timerFadeOut, &QTimer::timeout, &recorder, [&] { steps << tile.imgCover->Opacity(); });
    EXPECT_TRUE(WaitFor([&] { return !tile.timerFadeOut->isActive(); }, 3000));
    return steps;
}

class FrameApp : public ::testing::Test {
protected:
    void SetUp() override { ResetLibrary(); }
    void TearDown() override {
        WaitForTileWork();
        FrameAppHooks() = {};
    }
};

const QByteArray FullGame = "[General]\nRecommendInfo=0\n[Internet]\nGameUrl=http://127.0.0.1/game\n"
                            "[Launcher]\nCmd=run.sh\n[Boards]\n1=Best\n";

} // namespace

TEST_F(FrameApp, ButtonsFollowTheGamesState) {
    struct TCase {
        const char* Name;
        TLibraryItemState State;
        QByteArray Ini;
        bool Locked;
        bool AllowCatalogPage;
        const char* Face;
        bool InstallEnabled;
    } cases[] = {
        {"installed with boards and info", lisInstalled, FullGame, false, false, "launch scores info", true},
        {"installed, nothing more", lisInstalled, "[Launcher]\nCmd=run.sh\n", false, false, "launch", true},
        {"installed, catalog list", lisInstalled, FullGame, false, true, "launch scores info catalog", true},
        {"locked in the catalog", lisNone, "", true, true, "catalog note", true},
        {"locked in the library", lisNone, "", true, false, "note", true},
        {"queued", lisQueued, "", false, false, "install", false},
        {"not installed", lisNone, "", false, true, "install catalog", true},
    };
    int n = 0;
    for (const TCase& c : cases) {
        TAppLibraryItem* item = AddGame(QStringLiteral("game-%1").arg(n++), c.State, c.Ini);
        item->Locked = c.Locked;
        TFrameApp tile(nullptr, item, item->PublicKey);
        tile.AllowCatalogPage = c.AllowCatalogPage;
        EXPECT_EQ(Face(tile), QString()) << c.Name << ": the plain face shows no buttons";
        tile.FrameMouseEnter();
        EXPECT_TRUE(tile.MouseHover());
        EXPECT_EQ(Face(tile), QLatin1String(c.Face)) << c.Name;
        EXPECT_EQ(tile.bInstall->isEnabled(), c.InstallEnabled) << c.Name;
        EXPECT_TRUE(tile.txtTitle->isVisibleTo(&tile)) << c.Name;
    }
}

TEST_F(FrameApp, StateChangesShowAtTheNextHover) {
    TAppLibraryItem* item = AddGame(QStringLiteral("later"), lisNone);
    TFrameApp tile(nullptr, item, item->PublicKey);
    tile.FrameMouseEnter();
    EXPECT_EQ(Face(tile), QStringLiteral("install"));
    item->Path = WriteGame(item->PublicKey, "[Launcher]\nCmd=run.sh\n");
    item->SetState(lisInstalled);
    EXPECT_EQ(Face(tile), QStringLiteral("install")) << "not repainted on a state change";
    tile.SetMouseHover(false);
    tile.FrameMouseEnter();
    EXPECT_EQ(Face(tile), QStringLiteral("launch"));
}

TEST_F(FrameApp, HoverDimsTheCoverAndLeavingUndimsItAfterTheLeaveTimer) {
    TAppLibraryItem* item = AddGame(QStringLiteral("fade"), lisInstalled);
    item->CoverUrl = WriteCover(QStringLiteral("fade"));
    TFrameApp tile(nullptr, item, item->PublicKey);
    ASSERT_TRUE(WaitFor([&] { return tile.imgCover->HasPicture(); }));
    EXPECT_FALSE(tile.txtTitle->isVisibleTo(&tile)) << "a tile with a cover hides its title";

    SendEnter(tile.imgCover);
    EXPECT_TRUE(tile.MouseHover());
    EXPECT_EQ(tile.timerFadeOut->interval(), 10);
    EXPECT_EQ(FadeSteps(tile), (QList<int>{205, 155, 105, 55, 50}));

    // From the cover onto a button: the leave timer starts and the enter frees it again.
    SendLeave(tile.imgCover);
    ASSERT_NE(tile.timerOnLeave, nullptr);
    EXPECT_EQ(tile.timerOnLeave->interval(), 150);
    SendEnter(tile.bLaunch);
    EXPECT_EQ(tile.timerOnLeave, nullptr);
    EXPECT_FALSE(WaitFor([&] { return !tile.MouseHover() || tile.timerFadeOut->isActive(); }, 300))
        << "re-entering within 150 ms keeps the hover face without a fade";
    EXPECT_EQ(tile.imgCover->Opacity(), 50);

    SendLeave(tile.bLaunch);
    EXPECT_TRUE(tile.MouseHover()) << "the face stays until the leave timer fires";
    ASSERT_TRUE(WaitFor([&] { return !tile.MouseHover(); }, 2000));
    EXPECT_EQ(tile.timerFadeOut->interval(), 20);
    EXPECT_EQ(Face(tile), QString());
    EXPECT_FALSE(tile.txtTitle->isVisibleTo(&tile));
    EXPECT_EQ(FadeSteps(tile), (QList<int>{100, 150, 200, 250, 255}));
    EXPECT_NE(tile.timerOnLeave, nullptr) << "the leave timer lives until the next enter";
}

TEST_F(FrameApp, AGameWithoutCoverShowsItsTitleOnThePlainFace) {
    TAppLibraryItem* item = AddGame(QStringLiteral("bare"), lisInstalled);
    TFrameApp tile(nullptr, item, item->PublicKey);
    EXPECT_EQ(tile.txtTitle->text(), QStringLiteral("Игра bare"));
    ASSERT_TRUE(WaitFor([&] { return tile.txtTitle->isVisibleTo(&tile); }));
    tile.FrameMouseEnter();
    tile.SetMouseHover(false);
    EXPECT_TRUE(tile.txtTitle->isVisibleTo(&tile));
}

TEST_F(FrameApp, CoversKeepTheirProportions) {
    struct TCase {
        QSize Picture;
        int BrightRows; // rows of the full picture colour in one column of the tile
    } cases[] = {
        {{800, 200}, 80},  // a banner is shown whole, 320 x 80, over a darkened blur
        {{300, 400}, 430}, // about the tile's shape: fills it
        {{640, 860}, 430},
    };
    for (const TCase& c : cases) {
        // Left half red, right half blue.
        QImage picture(c.Picture, QImage::Format_RGB32);
        picture.fill(Qt::red);
        for (int x = c.Picture.width() / 2; x < c.Picture.width(); ++x)
            for (int y = 0; y < c.Picture.height(); ++y)
                picture.setPixelColor(x, y, Qt::blue);
        const QString file = MakeTempDir(QStringLiteral("covers")) + QStringLiteral("c.png");
        picture.save(file);
        TAppLibraryItem* item = AddGame(QStringLiteral("cover-%1").arg(c.Picture.width()), lisInstalled);
        item->CoverUrl = file;
        TFrameApp tile(nullptr, item, item->PublicKey);
        ASSERT_TRUE(WaitFor([&] { return tile.imgCover->HasPicture(); }));
        const QImage shot = tile.grab().toImage();
        int bright = 0;
        for (int y = 0; y < shot.height(); ++y)
            bright += shot.pixelColor(20, y).red() > 200;
        EXPECT_NEAR(bright, c.BrightRows, 2) << c.Picture.width();
        EXPECT_GT(shot.pixelColor(20, 215).red(), 200) << c.Picture.width();
        EXPECT_GT(shot.pixelColor(300, 215).blue(), 200) << c.Picture.width();
    }
}

TEST_F(FrameApp, FirstRunAsksToReadTheInformationFirst) {
    for (const bool yes : {true, false}) {
        SetUp();
        TAppLibraryItem* item =
            AddGame(QStringLiteral("first"), lisInstalled, "[General]\nRecommendInfo=1\n[Launcher]\nCmd=run.sh\n");
        WriteFile(item->Path + QStringLiteral("first.html"), "<p>read me</p>");
        QFile::remove(item->AppConfig()->GetUserPath() + QStringLiteral("lastrun"));
        QList<TAppLibraryItem*> infoShown;
        FrameAppHooks().ShowInfo = [&](TAppLibraryItem* app) { infoShown << app; };
        std::vector<TMessageRecord> asked;
        TScopedMessageBoxHook answer([&](const TMessageRecord& r) {
            asked.push_back(r);
            return yes;
        });
        QStringList started;
        TScopedShellHook shell([&](const TShellCall& call) {
            if (call.Kind == TShellCall::TKind::Start)
                started << call.WorkingFolder + call.File;
            return true;
        });
        TFrameApp tile(nullptr, item, item->PublicKey);

        tile.bLaunchClick();
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_TRUE(asked[0].Question);
        EXPECT_EQ(asked[0].Title, QStringLiteral("Подтверждение"));
        EXPECT_EQ(asked[0].Text, QStringLiteral("Это первый запуск.\rРекомендуется ознакомиться с информацией.\r\r"
                                                "Открыть важную информацию об игре?"));
        EXPECT_TRUE(tile.bLaunch->isEnabled());
        if (yes) {
            EXPECT_EQ(infoShown, QList<TAppLibraryItem*>{item});
            EXPECT_TRUE(started.isEmpty()) << "the game is not started";
            tile.bLaunchClick();
            EXPECT_EQ(asked.size(), 1u) << "asked once only";
        } else {
            EXPECT_TRUE(infoShown.isEmpty());
        }
        ASSERT_EQ(started.size(), 1);
        EXPECT_EQ(started[0], item->Path + QStringLiteral("run.sh"));
    }
}

TEST_F(FrameApp, AFailedLaunchReEnablesTheButtonAndReachesTheCaller) {
    TAppLibraryItem* item = AddGame(QStringLiteral("broken"), lisInstalled, "[Launcher]\nKey=missing\nCmd=run.sh\n");
    TFrameApp tile(nullptr, item, item->PublicKey);
    EXPECT_THROW(tile.bLaunchClick(), ENoComponentFoundException);
    EXPECT_TRUE(tile.bLaunch->isEnabled());
}

TEST_F(FrameApp, InstallQueuesTheGameInTheLibrary) {
    // A catalog game that the library does not have: the library item is made from its metadata.
    TAppLibraryItem catalogItem;
    catalogItem.PublicKey = QStringLiteral("new-game");
    catalogItem.Name = QStringLiteral("From the catalog");
    WriteFile(MetaPath() + QStringLiteral("apps/new-game.json"), R"({"name":"Новая игра"})");
    TFrameApp tile(nullptr, &catalogItem, catalogItem.PublicKey);
    tile.bInstallClick();
    EXPECT_FALSE(tile.bInstall->isEnabled());
    TAppLibraryItem* queued = AppsLibrary().FindItemByKey(QStringLiteral("new-game"));
    ASSERT_NE(queued, nullptr);
    EXPECT_EQ(tile.AppLibItem(), queued);
    EXPECT_EQ(queued->Name, QStringLiteral("Новая игра"));
    EXPECT_EQ(queued->State(), lisQueued);
    EXPECT_EQ(queued->Path, Lib::GetPath() + QStringLiteral("new-game/"));
    EXPECT_EQ(catalogItem.State(), lisNone);
    const QString saved = QString::fromUtf8(ReadFile(Lib::GetPath() + QStringLiteral("apps.json")));
    EXPECT_TRUE(saved.contains(QStringLiteral(R"("_key":"new-game")"))) << saved.toStdString();
    EXPECT_TRUE(saved.contains(QStringLiteral(R"("_state":"queued")")));

    // A game the library has keeps its path; an installed one keeps its state.
    TAppLibraryItem* elsewhere = AddGame(QStringLiteral("kept"), lisNone);
    elsewhere->Path = QStringLiteral("/elsewhere/kept/");
    TAppLibraryItem* installed = AddGame(QStringLiteral("done"), lisInstalled);
    for (TAppLibraryItem* item : {elsewhere, installed}) {
        TFrameApp other(nullptr, item, item->PublicKey);
        other.bInstallClick();
    }
    EXPECT_EQ(elsewhere->State(), lisQueued);
    EXPECT_EQ(elsewhere->Path, QStringLiteral("/elsewhere/kept/"));
    EXPECT_EQ(installed->State(), lisInstalled);
}

TEST_F(FrameApp, LocalFilesMenu) {
    TAppLibraryItem* item = AddGame(QStringLiteral("menu"), lisInstalled);
    WriteFile(item->Path + QStringLiteral("data/level1.dat"), "level");
    TAppLibraryItem* queued = AddGame(QStringLiteral("waiting"), lisQueued);
    {
        TFrameApp tile(nullptr, queued, queued->PublicKey);
        tile.PopupMenuPopup();
        EXPECT_FALSE(tile.mnuRemoveLocal->isEnabled());
        EXPECT_FALSE(tile.mnuVerifyLocal->isEnabled());
    }
    TFrameApp tile(nullptr, item, item->PublicKey);
    EXPECT_EQ(tile.mnuRemoveLocal->text(), QStringLiteral("Удалить локальные файлы..."));
    EXPECT_EQ(tile.mnuVerifyLocal->text(), QStringLiteral("Проверить локальные файлы"));
    EXPECT_TRUE(tile.mnuSeparatorLocalVerify->isSeparator());
    tile.PopupMenuPopup();
    EXPECT_TRUE(tile.mnuRemoveLocal->isEnabled());
    EXPECT_TRUE(tile.mnuVerifyLocal->isEnabled());

    tile.mnuVerifyLocalClick();
    EXPECT_EQ(item->State(), lisQueued);
    EXPECT_TRUE(QString::fromUtf8(ReadFile(Lib::GetPath() + QStringLiteral("apps.json"))).contains(QStringLiteral("queued")));
    tile.mnuRemoveLocalClick();
    EXPECT_TRUE(QFile::exists(item->Path)) << "only an installed game loses its files";

    item->SetState(lisInstalled);
    tile.mnuRemoveLocalClick();
    EXPECT_EQ(item->State(), lisNone);
    EXPECT_FALSE(QFile::exists(item->Path));
    EXPECT_TRUE(QFile::exists(Lib::GetPath())) << "the games folder itself stays";
}

TEST_F(FrameApp, RemovingLocalFilesNeverReachesBeyondTheGame) {
    const QString outside = MakeTempDir(QStringLiteral("outside"));
    WriteFile(outside + QStringLiteral("precious.txt"), "keep");
    struct TCase {
        const char* Name;
        QString Path;
    } cases[] = {
        {"the games folder", Lib::GetPath()},
        {"a folder holding the launcher's folders", LocalUserDataPath() + QStringLiteral("../")},
        {"the launcher's data folder", LocalUserDataPath()},
        {"the home folder", QDir::homePath() + u'/'},
        {"the root", QStringLiteral("/")},
    };
    for (const TCase& c : cases) {
        TAppLibraryItem* item = AddGame(QStringLiteral("odd-%1").arg(c.Name).replace(u' ', u'-'), lisInstalled);
        item->Path = c.Path;
        TFrameApp tile(nullptr, item, item->PublicKey);
        EXPECT_THROW(tile.mnuRemoveLocalClick(), EInOutError) << c.Name;
        EXPECT_TRUE(QFile::exists(outside + QStringLiteral("precious.txt"))) << c.Name;
        EXPECT_TRUE(QFile::exists(Lib::GetPath() + QStringLiteral("apps.json"))) << c.Name;
    }
    // A game folder that is a link loses the link, not what it points to.
    TAppLibraryItem* linked = AddGame(QStringLiteral("linked"), lisInstalled);
    QDir(linked->Path).removeRecursively();
    ASSERT_TRUE(QFile::link(outside, QDir::cleanPath(linked->Path)));
    TFrameApp tile(nullptr, linked, linked->PublicKey);
    tile.mnuRemoveLocalClick();
    EXPECT_FALSE(QFileInfo(QDir::cleanPath(linked->Path)).isSymLink());
    EXPECT_TRUE(QFile::exists(outside + QStringLiteral("precious.txt")));
}

TEST_F(FrameApp, LockedGamesShowTheirReleaseDate) {
    TAppLibraryItem* item = AddGame(QStringLiteral("soon"), lisNone);
    item->Locked = true;
    auto page = std::make_unique<TAppCatalogPage>();
    page->PublishedAt = QDateTime(QDate(2027, 3, 14), QTime(0, 0), Qt::UTC);
    item->SetCatalogPage(std::move(page));
    TFrameApp tile(nullptr, item, item->PublicKey);
    EXPECT_EQ(tile.txtReleaseNote->text(),
              QStringLiteral("Игра будет доступна ") + QLocale().toString(QDate(2027, 3, 14), QLocale::ShortFormat));
    EXPECT_EQ(tile.txtReleaseNote->font().pointSize(), 10);

    // Without a page and without a service the note stays as it was.
    TAppLibraryItem* other = AddGame(QStringLiteral("unknown"), lisNone);
    other->Locked = true;
    TFrameApp waiting(nullptr, other, other->PublicKey);
    WaitForTileWork();
    EXPECT_EQ(waiting.txtReleaseNote->text(), QStringLiteral("..."));
}

TEST_F(FrameApp, ButtonsOpenTheWindowsThroughTheHooks) {
    TAppLibraryItem* item = AddGame(QStringLiteral("hooks"), lisInstalled, FullGame);
    item->CoverUrl = WriteCover(QStringLiteral("hooks"));
    TFrameApp tile(nullptr, item, item->PublicKey);
    ASSERT_TRUE(WaitFor([&] { return tile.imgCover->HasPicture(); }));
    QStringList calls;
    FrameAppHooks().ShowScoreboards = [&](QWidget* owner, TAppLibraryItem* app) {
        calls << QStringLiteral("scores %1 %2").arg(owner == &tile).arg(app->PublicKey);
    };
    FrameAppHooks().ShowInfo = [&](TAppLibraryItem* app) { calls << QStringLiteral("info ") + app->PublicKey; };
    FrameAppHooks().ShowCatalogPage = [&](TAppLibraryItem* app, const QImage* cover) {
        calls << QStringLiteral("catalog %1 %2").arg(app->PublicKey).arg(cover == tile.imgCover->Picture());
    };
    tile.FrameMouseEnter();
    tile.bScoreboards->click();
    tile.bInfo->click();
    tile.bCatalogClick();
    EXPECT_EQ(calls, (QStringList{QStringLiteral("scores 1 hooks"), QStringLiteral("info hooks"),
                                  QStringLiteral("catalog hooks 1")}));
    EXPECT_EQ(tile.GetAppPublicKey(), QStringLiteral("hooks"));
}
