#include "Service/EventReporter.h"

#include "App/HttpExceptions.h"
#include "App/MainThread.h"
#include "App/Paths.h"
#include "App/User.h"
#include "Lib/Json.h"
#include "Service/Converters/Json.h"
#include "Service/EventReporter/Notifications.h"
#include "Service/RestClient.h"

#include <QThreadPool>

namespace {

// The texts are glued together as the service has always received them: nothing is escaped.
QString EventText(const QString& AppKey, const QString& EventName) {
    return QStringLiteral("{\"a\":\"") + AppKey + QStringLiteral("\",\"e\":\"") + EventName +
           QStringLiteral("\"}");
}

// Reports are background work: whatever goes wrong stays inside the task.
void StartReport(std::function<void()> Work) {
    QThreadPool::globalInstance()->start([Work = std::move(Work)] {
        try {
            Work();
        } catch (...) {
        }
    });
}

} // namespace

void ReportLaunch(const QString& AppKey) {
    Post(AppKey, QStringLiteral("launch"));
}

void ReportInstallRequest(const QString& AppKey) {
    Post(AppKey, QStringLiteral("install-request"));
}

void ReportInstall(const QString& AppKey) {
    Post(AppKey, QStringLiteral("install"));
}

void Post(const QString& AppKey, const QString& EventName) {
    const QString Payload =
        EncodePayload(EventText(AppKey.isEmpty() ? QStringLiteral("kiv") : AppKey, EventName));
    StartReport([Payload] {
        TRestClient Net;
        try {
            Net.Post(LauncherEventsUrl(), Payload);
        } catch (const ERestClientException&) {
            // The service refuses events of a stale login: drop the token and report anonymously.
            try {
                RunOnMainThread([] { CurrentUser().ResetToken(); });
            } catch (...) {
            }
            Net.Post(LauncherEventsUrl(), Payload);
        }
    });
}

void ReportScore(const QString& AppKey, const QString& BoardName, int Score) {
    const QString Payload = QStringLiteral("{\"a\":\"") + AppKey + QStringLiteral("\",\"e\":\"") + BoardName +
                            QStringLiteral("\", \"p\":") + QString::number(Score) + QStringLiteral("}");
    StartReport([Payload] { TRestClient().Post(GameEventsUrl(), EncodePayload(Payload)); });
}

void ReportInGameEvent(const QString& AppKey, const QString& EventName) {
    const QString Payload = EventText(AppKey, EventName);
    StartReport([Payload] {
        const QString Response = TRestClient().Post(GameEventsUrl(), EncodePayload(Payload));
        if (!Response.isEmpty())
            ShowEarnedAchievements(Response);
    });
}

QString EncodePayload(const QString& Input) {
    const QByteArray encoded = Input.toUtf8().toBase64();
    QString result;
    result.reserve(encoded.size() + encoded.size() / 76 * 2);
    for (qsizetype i = 0; i < encoded.size(); i += 76) {
        if (i > 0)
            result += QStringLiteral("\r\n");
        result += QString::fromLatin1(encoded.mid(i, 76));
    }
    return result;
}

void ShowEarnedAchievements(const QString& ResponseText) {
    if (ResponseText.isEmpty())
        return;
    try {
        const TJsonValue document = ParseJson(ResponseText);
        const auto list = TJsonApiAchievementListConverter::CreateListFromJson(
            SafeJsonData(document, jvObject).MemberRef(QStringLiteral("data")));
        PlayNotificationSound();
        for (const auto& achievement : list)
            ShowAchievementNotification(*achievement);
    } catch (...) {
        // An answer we cannot read is not worth troubling the player with.
    }
}
