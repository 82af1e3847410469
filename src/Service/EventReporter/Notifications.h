#pragma once

#include "App/DataContracts.h"

#include <memory>

// How the core tells the user about earned achievements. The core has no widgets: the windows register
// their announcer at start-up (pop-up and tray balloon, the desktop's beep). Both calls arrive on the
// main thread.
class IAchievementAnnouncer {
public:
    virtual ~IAchievementAnnouncer() = default;
    // The default notification sound, once per answer that lists achievements.
    virtual void Beep() = 0;
    virtual void ShowAchievementNotification(const TAchievementEntry& Achievement) = 0;
};

// Replaces the announcer; nullptr brings back the default one, which shows and plays nothing.
// Safe to call from any thread; announcements already under way finish with the announcer they had.
void SetAchievementAnnouncer(std::shared_ptr<IAchievementAnnouncer> Announcer);

// Plays the default sound on the main thread; the caller waits.
void PlayNotificationSound();

// Announces one achievement on the main thread and returns when that is done; callable from any thread.
void ShowAchievementNotification(const TAchievementEntry& Achievement);
