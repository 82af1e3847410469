#pragma once

#include <QString>

// Reports of what the user does, posted to the service from the shared worker pool. Every report returns
// at once, may be called from any thread and never raises; a failed report is lost (a rejected launcher
// event is first sent once more without the token).

// Launcher events; an empty key reports the launcher itself ("kiv").
void ReportLaunch(const QString& AppKey);
void ReportInstallRequest(const QString& AppKey);
void ReportInstall(const QString& AppKey);
void Post(const QString& AppKey, const QString& EventName);

// Game events found by the watchers. The answer to an in-game event may list earned achievements.
void ReportScore(const QString& AppKey, const QString& BoardName, int Score);
void ReportInGameEvent(const QString& AppKey, const QString& EventName);

// Base64 of the UTF-8 bytes, in lines of 76 characters separated by CR LF.
QString EncodePayload(const QString& Input);

// Announces the achievements of an in-game event's answer after one beep. An answer that is not a
// document announces nothing but still beeps; one with an unreadable item does neither. Never raises.
void ShowEarnedAchievements(const QString& ResponseText);
