#include "Forms/uAchievementNotification.h"
#include "Service/EventReporter/Notifications.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QTimer>

#include <thread>

namespace {

QList<TfAchievementNotification*> OpenNotifications() {
    QList<TfAchievementNotification*> result;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* n = qobject_cast<TfAchievementNotification*>(w); n && n->isVisible())
            result << n;
    return result;
}

void CloseAll() {
    for (TfAchievementNotification* n : OpenNotifications())
        n->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

class AchievementNotification : public ::testing::Test {
protected:
    void SetUp() override {
        SetNotificationTrayIcon(nullptr);
        SetBalloonHook([this](const QString& title, const QString& text) { FBalloons << title + "|" + text; });
    }
    void TearDown() override {
        CloseAll();
        SetBalloonHook({});
        SetAchievementAnnouncer(nullptr);
    }
    QStringList FBalloons;
};

} // namespace

TEST_F(AchievementNotification, EachAchievementGetsAWindowAtTheTopCentreAndABalloon) {
    const TAchievementEntry first{QStringLiteral("Снайпер"), QStringLiteral("d"), QStringLiteral("g"),
                                  QStringLiteral("Игра")};
    const TAchievementEntry second{QStringLiteral("Второе"), QString(), QStringLiteral("g"), QStringLiteral("Игра")};
    // The event reporter announces from a worker; the call returns once the window is up.
    std::thread worker([&] {
        ShowAchievementNotification(first);
        ShowAchievementNotification(second);
    });
    ASSERT_TRUE(WaitFor([&] { return OpenNotifications().size() == 2; }));
    worker.join();

    EXPECT_EQ(FBalloons, (QStringList{QStringLiteral("Достижение засчитано|Снайпер\n\nИгра"),
                                      QStringLiteral("Достижение засчитано|Второе\n\nИгра")}));
    const QList<TfAchievementNotification*> open = OpenNotifications();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    for (TfAchievementNotification* n : open) {
        EXPECT_EQ(n->txtCaption->text(), QStringLiteral("Достижение засчитано"));
        EXPECT_TRUE(n->txtAchievement->font().bold());
        EXPECT_EQ(n->txtAppName->text(), QStringLiteral("Игра"));
        EXPECT_EQ(n->width(), 443);
        EXPECT_EQ(n->pos(), QPoint(screen.left() + (screen.width() - 443) / 2, screen.top() + 10));
        EXPECT_TRUE(n->windowFlags() & Qt::WindowStaysOnTopHint);
        EXPECT_TRUE(n->timerAnimate->isActive());
        EXPECT_EQ(n->timerAnimate->interval(), 7000);
    }
    QStringList names;
    for (TfAchievementNotification* n : open)
        names << n->txtAchievement->text();
    names.sort();
    EXPECT_EQ(names, (QStringList{QStringLiteral("Второе"), QStringLiteral("Снайпер")}));
}

TEST_F(AchievementNotification, LongNamesWrapAndTheWindowGrows) {
    auto* shortOne = new TfAchievementNotification;
    const TAchievementEntry s{QStringLiteral("Коротко"), QString(), QString(), QStringLiteral("Игра")};
    shortOne->Show(&s);
    auto* longOne = new TfAchievementNotification;
    const TAchievementEntry l{QStringLiteral("Очень длинное название достижения ").repeated(6), QString(), QString(),
                              QStringLiteral("Игра")};
    longOne->Show(&l);
    EXPECT_EQ(longOne->width(), 443);
    EXPECT_GT(longOne->height(), shortOne->height() + longOne->txtAchievement->fontMetrics().height());
    EXPECT_LE(longOne->txtAchievement->width(), 443);
}

TEST_F(AchievementNotification, ClosesItselfOnTheTimerOrByHandAndIsFreed) {
    const TAchievementEntry a{QStringLiteral("A"), QString(), QString(), QStringLiteral("G")};
    QPointer<TfAchievementNotification> byHand = new TfAchievementNotification;
    byHand->Show(&a);
    QPointer<QTimer> timer = byHand->timerAnimate;
    byHand->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(byHand.isNull());
    EXPECT_TRUE(timer.isNull()); // freed with its window: it cannot fire afterwards

    QPointer<TfAchievementNotification> timed = new TfAchievementNotification;
    timed->Show(&a);
    timed->timerAnimate->start(1); // the same timer, without waiting seven seconds
    ASSERT_TRUE(WaitFor([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return timed.isNull();
    }));
}
