#include "Service/EventReporter/Notifications.h"

#include "App/MainThread.h"

#include <mutex>

namespace {

// Until the windows exist there is nobody to show anything to; a terminal bell from a GUI program would
// go nowhere useful, so the default stays silent as well.
class TSilentAnnouncer : public IAchievementAnnouncer {
public:
    void Beep() override {}
    void ShowAchievementNotification(const TAchievementEntry&) override {}
};

std::mutex gAnnouncerMutex;
std::shared_ptr<IAchievementAnnouncer> gAnnouncer;

std::shared_ptr<IAchievementAnnouncer> CurrentAnnouncer() {
    std::lock_guard lock(gAnnouncerMutex);
    if (!gAnnouncer)
        gAnnouncer = std::make_shared<TSilentAnnouncer>();
    return gAnnouncer;
}

} // namespace

void SetAchievementAnnouncer(std::shared_ptr<IAchievementAnnouncer> Announcer) {
    std::lock_guard lock(gAnnouncerMutex);
    gAnnouncer = std::move(Announcer);
}

void PlayNotificationSound() {
    const auto announcer = CurrentAnnouncer();
    RunOnMainThread([&] { announcer->Beep(); });
}

void ShowAchievementNotification(const TAchievementEntry& Achievement) {
    const auto announcer = CurrentAnnouncer();
    RunOnMainThread([&] { announcer->ShowAchievementNotification(Achievement); });
}
