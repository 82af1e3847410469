#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

// Records made from the service's documents and the remote file lists. An invalid QDateTime stands for
// "no date".

// One file of a remote file list.
struct TJsonFileDescriptor {
    QString FileName; // relative to the game or component folder, with "\" as the list gives it
    qint64 FileSize = 0;
    QDateTime Modified;
    QString Hash;
    QStringList Sources; // alternative full download addresses
};

// One line of a scoreboard.
struct TScoreboardEntry {
    QString UserName;
    bool isOwner = false;
    int Score = 0;
};

// The catalog page of one game.
struct TAppCatalogPage {
    QDateTime PublishedAt;
    quint8 AchievementCount = 0;
    quint8 ScoreboardCount = 0;
    QString Description;
    QString DescriptionLong;
    QString CoverUrl;
    QString Title;
    QString Media; // JSON text when the service sends an array or object
};

// An achievement the user has just earned.
struct TAchievementEntry {
    QString Name;
    QString Description;
    QString AppPublicKey;
    QString AppTitle;
};

// The logged-in user's profile.
struct TOwnProfile {
    QString Name;
    int Coins = 0;
};
