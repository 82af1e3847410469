#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Blanks and control characters removed at both ends, as configuration values are taken.
QString TrimConfigText(const QString& text);
// False for a configured file name that is absolute or climbs out of the folder it is put under with "..".
bool ConfigNameStaysInFolder(const QString& name);

// One scoreboard of a game: its title and the service's board number.
struct TScoreboardLine {
    QString Title;
    int Id = 0;
};

// A game's own configuration file (<key>.ini in its install folder) and its per-user folder. Read once
// at construction; reading never fails, a missing or broken file gives the defaults.
class TAppConfig {
public:
    TAppConfig(const QString& PublicKey, const QString& InstallPath);

    bool DisableConfig() const { return FDisableConfig; }
    bool RecommendInfoOnFirstRun() const { return FRecommendInfoOnFirstRun; }
    // Every [Launcher] line as name=value, in file order.
    const QStringList& LauncherIniSection() const { return FLauncherIniSection; }
    const QString& PublicKey() const { return FPublicKey; }

    // True until the game has been launched once (the last-run marker does not exist).
    bool isFirstRun() const;
    // Records a launch: the last-run marker is created anew, its time stamp is the record. Raises
    // EInOutError when the folder or the file cannot be created.
    void SaveLastPlayedTime();
    QString GetUserPath() const { return FConfigPath; }
    // The game's shipped configuration for its component, and the user's copy of it.
    QString GetComponentDefaultConfigFileName() const { return Path + FConfigFileName; }
    QString GetComponentUserConfigFileName() const { return FConfigPath + FConfigFileName; }
    // The local page (<key>.html, then <key>.mht) as a file:// address, else GameUrl, else "none".
    QString GetInfoUrl();
    bool isInfoUrlAvailable() { return GetInfoUrl().size() > 4; }
    bool hasScoreboards() const { return !Scoreboards.isEmpty(); }
    // Prepares the folders and settings the game's component needs just before a launch.
    void PreLaunchComponent();

    QString Path;          // install folder, ends with "/"
    QString CoverFileName; // full name of an existing cover picture, or empty
    QString ComponentKey;
    QString OnRunScript;
    QString RunCmd;
    QString RunParams;
    bool RunHidden = false;
    QStringList Filters;
    QList<TScoreboardLine> Scoreboards;
    QString GameUrl;
    bool Locked = false;
    bool LogBasedAchievements = false;

private:
    void ReadConfig(const QString& fileName);

    bool FDisableConfig = false;
    QString FInfoUrl;
    bool FRecommendInfoOnFirstRun = false;
    QString FLastRunFileName;
    QString FConfigPath;
    QString FPublicKey;
    QString FConfigFileName;
    QStringList FLauncherIniSection;
};
