#include "App/Paths.h"
#include "Forms/uFrameScoreboard.h"
#include "Forms/uFrameScoreboardItem.h"
#include "Forms/uScoreboard.h"
#include "Service/AppsLibrary.h"
#include "Service/AppsLibrary/AppConfig.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <QApplication>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScrollArea>
#include <QTabBar>
#include <QTabWidget>
#include <QThreadPool>

#include <condition_variable>
#include <map>
#include <mutex>

namespace {

// Score documents per board, served at score/<key>/<board>; a closed gate holds every answer back.
class Scoreboards : public ::testing::Test {
protected:
    void SetUp() override {
        FServer.Server().Get(R"(/api/kiv/score/([^/]+)/(\d+))", [this](const httplib::Request& req,
                                                                        httplib::Response& res) {
            std::unique_lock lock(FMutex);
            FRequested.push_back(req.matches[1].str() + "/" + req.matches[2].str());
            FGateCv.wait(lock, [this] { return FGateOpen; });
            const int board = std::stoi(req.matches[2].str());
            if (!FDocs.count(board)) {
                res.status = 404;
                return;
            }
            res.set_content(FDocs[board], "application/json");
        });
        FServer.Start();
        qputenv("TARVENOX_SERVICE_URL", FServer.Origin().toUtf8());
        InitPaths();
    }
    void TearDown() override {
        OpenGate();
        QThreadPool::globalInstance()->waitForDone();
        qputenv("TARVENOX_SERVICE_URL", "http://127.0.0.1:9");
        InitPaths();
    }
    void Serve(int board, const std::string& doc) {
        std::lock_guard lock(FMutex);
        FDocs[board] = doc;
    }
    std::vector<std::string> Requested() {
        std::lock_guard lock(FMutex);
        return FRequested;
    }
    void CloseGate() {
        std::lock_guard lock(FMutex);
        FGateOpen = false;
    }
    void OpenGate() {
        {
            std::lock_guard lock(FMutex);
            FGateOpen = true;
        }
        FGateCv.notify_all();
    }
    // An installed game with the given [Boards] lines.
    std::unique_ptr<TAppLibraryItem> Game(const QByteArray& boards) {
        const QString dir = MakeTempDir(QStringLiteral("board-game")) + QLatin1Char('/');
        WriteFile(dir + QStringLiteral("arc.ini"), "[Launcher]\r\nKey=dosbox\r\n[Boards]\r\n" + boards);
        auto item = std::make_unique<TAppLibraryItem>();
        item->PublicKey = QStringLiteral("arc");
        item->Name = QStringLiteral("Аркада");
        item->Path = dir;
        item->SetState(lisInstalled);
        return item;
    }
    static TFrameScoreboard* Frame(TfScoreboard& form, int board) {
        return form.findChild<TFrameScoreboard*>(QStringLiteral("FrameScoreBoard%1").arg(board));
    }
    static bool Loaded(TfScoreboard& form, int board) {
        return WaitFor([&] { return Frame(form, board) && Frame(form, board)->Loaded(); });
    }

    TestHttpServer FServer;
    std::mutex FMutex;
    std::condition_variable FGateCv;
    bool FGateOpen = true;
    std::map<int, std::string> FDocs;
    std::vector<std::string> FRequested;
};

} // namespace

TEST_F(Scoreboards, OneBoardShowsItsListWithoutTabs) {
    Serve(7, R"({"data":[{"user":"alice","value":1234567,"self":false},{"user":"me","value":5,"self":true}]})");
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    auto game = Game("7=Лучшие\r\n");
    TfScoreboard form;
    form.AssignApp(*game);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Аркада - таблица очков"));
    EXPECT_EQ(form.bClose->text(), QStringLiteral("Закрыть"));
    EXPECT_TRUE(form.bClose->isDefault());
    EXPECT_EQ(form.minimumWidth(), 635);
    EXPECT_EQ(form.maximumWidth(), 635);
    EXPECT_EQ(form.minimumHeight(), 578 / 2);
    EXPECT_EQ(form.panelFooter->height(), 41);
    EXPECT_EQ(form.PageControl->count(), 1);
    EXPECT_FALSE(form.PageControl->tabBar()->isVisibleTo(&form));
    EXPECT_TRUE(form.PageControl->tabText(0).isEmpty());
    ASSERT_TRUE(Loaded(form, 7));

    const auto* first = form.findChild<TFrameScoreboardItem*>(QStringLiteral("FrameScoreboardItem0"));
    const auto* second = form.findChild<TFrameScoreboardItem*>(QStringLiteral("FrameScoreboardItem1"));
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->txtUser->text(), QStringLiteral("alice"));
    EXPECT_EQ(first->txtScore->text(), QStringLiteral("1\u00a0234\u00a0567"));
    EXPECT_FALSE(first->txtUser->font().bold());
    EXPECT_EQ(second->txtUser->text(), QStringLiteral("me"));
    EXPECT_TRUE(second->txtUser->font().bold());
    EXPECT_TRUE(second->txtScore->font().bold());
    EXPECT_EQ(first->height(), 47);
    // Stacked from the top in the order of the document.
    form.show();
    EXPECT_LT(first->mapTo(&form, QPoint()).y(), second->mapTo(&form, QPoint()).y());
    EXPECT_EQ(Frame(form, 7)->txtError, nullptr);
    QLocale::setDefault(QLocale::c());
}

TEST_F(Scoreboards, EachBoardIsFetchedWhenItsTabIsFirstShown) {
    Serve(1, R"({"data":[{"user":"a","value":1,"self":false}]})");
    Serve(2, R"({"data":[]})");
    Serve(3, R"({"data":null})");
    auto game = Game("1=Лучшие\r\n2=Неделя\r\n3=День\r\n");
    TfScoreboard form;
    form.AssignApp(*game);
    EXPECT_TRUE(form.PageControl->tabBar()->isVisibleTo(&form));
    EXPECT_EQ(form.PageControl->tabText(2), QStringLiteral("День"));
    ASSERT_TRUE(Loaded(form, 1));
    EXPECT_EQ(Requested(), std::vector<std::string>{"arc/1"});
    EXPECT_EQ(Frame(form, 2), nullptr);

    form.PageControl->setCurrentIndex(1);
    ASSERT_TRUE(Loaded(form, 2));
    EXPECT_EQ(Frame(form, 2)->txtError, nullptr); // an empty board is no error
    EXPECT_TRUE(Frame(form, 2)->findChildren<TFrameScoreboardItem*>().isEmpty());

    form.PageControl->setCurrentIndex(2);
    ASSERT_TRUE(Loaded(form, 3));
    ASSERT_TRUE(Frame(form, 3)->txtError);
    EXPECT_EQ(Frame(form, 3)->txtError->text(), QStringLiteral("Format error"));

    form.PageControl->setCurrentIndex(0);
    QThreadPool::globalInstance()->waitForDone();
    EXPECT_EQ(Requested(), (std::vector<std::string>{"arc/1", "arc/2", "arc/3"}));
    EXPECT_EQ(Frame(form, 1)->findChildren<TFrameScoreboardItem*>().size(), 1);
}

TEST_F(Scoreboards, HttpErrorsShowOnTheirPage) {
    auto game = Game("9=Нет такой\r\n");
    TfScoreboard form;
    form.AssignApp(*game);
    ASSERT_TRUE(Loaded(form, 9));
    ASSERT_TRUE(Frame(form, 9)->txtError);
    EXPECT_TRUE(Frame(form, 9)->txtError->text().contains(QStringLiteral("HTTP Status Code: 404")));
}

TEST_F(Scoreboards, ResultsArrivingAfterTheWindowClosedAreDropped) {
    Serve(4, R"({"data":[{"user":"late","value":1,"self":false}]})");
    auto game = Game("4=Лучшие\r\n");
    CloseGate();
    {
        TfScoreboard form;
        form.AssignApp(*game);
        ASSERT_TRUE(WaitFor([&] { return !Requested().empty(); }));
    }
    OpenGate();
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    for (QWidget* w : QApplication::allWidgets())
        EXPECT_EQ(qobject_cast<TFrameScoreboardItem*>(w), nullptr);
}
