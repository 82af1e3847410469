#include "Forms/uAchievementNotification.h"

#include "Service/EventReporter/Notifications.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int NotificationWidth = 443;
const QString CaptionText = QStringLiteral("Достижение засчитано");

TBalloonHook gBalloonHook;

class TWindowAnnouncer : public IAchievementAnnouncer {
public:
    explicit TWindowAnnouncer(QSystemTrayIcon* TrayIcon) : FTrayIcon(TrayIcon) {}

    void Beep() override { QApplication::beep(); }

    void ShowAchievementNotification(const TAchievementEntry& Achievement) override {
        auto* form = new TfAchievementNotification;
        form->Show(&Achievement);
        // Qt's balloons break lines with line feeds.
        const QString text = Achievement.Name + QStringLiteral("\n\n") + Achievement.AppTitle;
        if (gBalloonHook) {
            gBalloonHook(CaptionText, text);
            return;
        }
        if (!FTrayIcon)
            return;
        FTrayIcon->setVisible(true);
        FTrayIcon->showMessage(CaptionText, text, QSystemTrayIcon::Information);
    }

private:
    QPointer<QSystemTrayIcon> FTrayIcon;
};

} // namespace

TfAchievementNotification::TfAchievementNotification() : QWidget(nullptr) {
    setObjectName(QStringLiteral("fAchievementNotification"));
    setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(CaptionText);
    setFixedWidth(NotificationWidth);

    txtCaption = new QLabel(CaptionText, this);
    txtCaption->setObjectName(QStringLiteral("txtCaption"));
    txtCaption->setAlignment(Qt::AlignCenter);
    txtAchievement = new QLabel(this);
    txtAchievement->setObjectName(QStringLiteral("txtAchievement"));
    txtAchievement->setAlignment(Qt::AlignCenter);
    txtAchievement->setWordWrap(true);
    QFont bold = txtAchievement->font();
    bold.setBold(true);
    txtAchievement->setFont(bold);
    txtAppName = new QLabel(this);
    txtAppName->setObjectName(QStringLiteral("txtAppName"));
    txtAppName->setAlignment(Qt::AlignCenter);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(3, 3, 3, 3);
    layout->setSpacing(4);
    layout->addWidget(txtCaption);
    layout->addWidget(txtAchievement);
    layout->addWidget(txtAppName);

    timerAnimate = new QTimer(this);
    timerAnimate->setObjectName(QStringLiteral("timerAnimate"));
    timerAnimate->setInterval(7000);
    timerAnimate->setSingleShot(true);
    connect(timerAnimate, &QTimer::timeout, this, [this] {
        timerAnimate->stop();
        close();
    });
}

void TfAchievementNotification::Show(const TAchievementEntry* Achievement) {
    if (Achievement) {
        txtAchievement->setText(Achievement->Name);
        txtAppName->setText(Achievement->AppTitle);
    }
    // The height follows the wrapped name within the fixed width.
    setFixedHeight(layout()->heightForWidth(NotificationWidth));
    Place();
    timerAnimate->start();
    show();
}

void TfAchievementNotification::Place() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    move(area.left() + (area.width() - width()) / 2, area.top() + 10);
}

void SetNotificationTrayIcon(QSystemTrayIcon* TrayIcon) {
    SetAchievementAnnouncer(std::make_shared<TWindowAnnouncer>(TrayIcon));
}

void SetBalloonHook(TBalloonHook Hook) {
    gBalloonHook = std::move(Hook);
}
