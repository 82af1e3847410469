#pragma once

#include "App/DataContracts.h"

#include <QWidget>
#include <functional>

class QLabel;
class QSystemTrayIcon;
class QTimer;

// "Достижение засчитано": a small always-on-top window at the top centre of the screen that closes
// itself after seven seconds and frees itself on closing.
class TfAchievementNotification : public QWidget {
    Q_OBJECT
public:
    TfAchievementNotification();

    // Fills the labels (when an achievement is given), starts the timer and shows the window without
    // taking the focus.
    void Show(const TAchievementEntry* Achievement);

    QLabel* txtCaption;
    QLabel* txtAchievement;
    QLabel* txtAppName;
    QTimer* timerAnimate;

private:
    void Place();
};

// Makes the pop-up and the tray balloon announce earned achievements; TrayIcon (the main window's, may
// be null: then no balloon) must outlive the run or be destroyed before the next announcement. Called
// once when the main window is created.
void SetNotificationTrayIcon(QSystemTrayIcon* TrayIcon);

// Tests see the balloons here instead of the tray; an empty hook brings the tray back.
using TBalloonHook = std::function<void(const QString& Title, const QString& Text)>;
void SetBalloonHook(TBalloonHook Hook);
