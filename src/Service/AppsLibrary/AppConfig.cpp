#include "Service/AppsLibrary/AppConfig.h"

#include "App/Exceptions.h"
#include "App/Paths.h"
#include "Platform/IniFile.h"
#include "Platform/SafeFile.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace {

const QString DefaultComponentConfigFileName = QStringLiteral("dosbox.conf");

} // namespace

QString TrimConfigText(const QString& text) {
    qsizetype b = 0, e = text.size();
    while (b < e && text[b] <= u' ')
        ++b;
    while (e > b && text[e - 1] <= u' ')
        --e;
    return text.mid(b, e - b);
}

// Configuration files named here are handed to the component, which writes them.
bool ConfigNameStaysInFolder(const QString& name) {
    if (QDir::isAbsolutePath(name) || name.startsWith(u'\\'))
        return false;
    const QStringList parts = QString(name).replace(u'\\', u'/').split(u'/');
    return !parts.contains(QStringLiteral(".."));
}

TAppConfig::TAppConfig(const QString& PublicKey, const QString& InstallPath) : FPublicKey(PublicKey) {
    FConfigPath = RoamingUserDataPath() + QStringLiteral("Apps/") + FPublicKey + QStringLiteral("/");
    FLastRunFileName = FConfigPath + QStringLiteral("lastrun");
    Path = InstallPath;
    try {
        ReadConfig(Path + FPublicKey + QStringLiteral(".ini"));
    } catch (...) {
        // A broken configuration leaves the fields not yet read at their defaults.
    }
}

void TAppConfig::ReadConfig(const QString& fileName) {
    const TIniFile ini(fileName);
    const QString general = QStringLiteral("General");
    const QString launcher = QStringLiteral("Launcher");

    for (const QString& piece : TrimConfigText(ini.ReadString(general, QStringLiteral("Filters"), QString())).split(u','))
        if (!piece.isEmpty())
            Filters.append(piece);

    QString cover = ini.ReadString(general, QStringLiteral("Cover"), QString());
    if (!cover.isEmpty()) {
        if (cover.startsWith(u'.'))
            cover.prepend(FPublicKey);
        cover.prepend(Path);
        CoverFileName = QFileInfo(cover).isFile() ? cover : QString();
    }

    Locked = ini.ReadBool(general, QStringLiteral("Locked"), false);
    FDisableConfig = ini.ReadBool(general, QStringLiteral("NoConfig"), false);
    FRecommendInfoOnFirstRun = ini.ReadBool(general, QStringLiteral("RecommendInfo"), false);
    GameUrl = ini.ReadString(QStringLiteral("Internet"), QStringLiteral("GameUrl"), QString());
    ComponentKey = TrimConfigText(ini.ReadString(launcher, QStringLiteral("Key"), QString()));
    OnRunScript = TrimConfigText(ini.ReadString(launcher, QStringLiteral("OnRun"), QString()));
    LogBasedAchievements = ini.ReadBool(launcher, QStringLiteral("ZEB"), false);
    RunCmd = TrimConfigText(ini.ReadString(launcher, QStringLiteral("Cmd"), QString()));

    // Like the private-profile section read: a repeated name gives its first value on every line.
    for (const QString& key : ini.ReadSection(launcher))
        FLauncherIniSection.append(key + u'=' + ini.ReadString(launcher, key, QString()));

    // A game without a component runs its own script, hidden, unless it names a command.
    RunHidden = false;
    if (ComponentKey.isEmpty()) {
        FDisableConfig = true;
        if (RunCmd.isEmpty()) {
            RunCmd = QStringLiteral("run.cmd");
            RunHidden = true;
        }
    }

    RunParams = TrimConfigText(ini.ReadString(launcher, QStringLiteral("Params"), QString()));

    QString configFileName = TrimConfigText(ini.ReadString(general, QStringLiteral("ConfigFileName"), QString()));
    if (configFileName.isEmpty() || !ConfigNameStaysInFolder(configFileName))
        configFileName = DefaultComponentConfigFileName;
    else if (configFileName.startsWith(u'.'))
        configFileName.prepend(FPublicKey);
    FConfigFileName = configFileName;

    const QString boards = QStringLiteral("Boards");
    for (const QString& key : ini.ReadSection(boards)) {
        int id = 0;
        if (TryStrToInt(key, id))
            Scoreboards.append({ini.ReadString(boards, key, QString()), id});
    }
}

bool TAppConfig::isFirstRun() const { return !QFileInfo::exists(FLastRunFileName); }

void TAppConfig::SaveLastPlayedTime() {
    if (!QDir().mkpath(FConfigPath))
        throw EInOutError(QStringLiteral("Unable to create folder %1").arg(FConfigPath));
    // A new file each time, so its time stamp is the moment of this launch.
    WriteFileReplacing(FLastRunFileName, QByteArray());
}

QString TAppConfig::GetInfoUrl() {
    if (!FInfoUrl.isEmpty())
        return FInfoUrl;
    const QString base = Path + FPublicKey;
    for (const QString& extension : {QStringLiteral(".html"), QStringLiteral(".mht")}) {
        if (QFileInfo::exists(base + extension)) {
            FInfoUrl = QString::fromLatin1(QUrl::fromLocalFile(base + extension).toEncoded());
            return FInfoUrl;
        }
    }
    FInfoUrl = GameUrl.size() < 5 ? QStringLiteral("none") : GameUrl;
    return FInfoUrl;
}

void TAppConfig::PreLaunchComponent() {
    // Folder creation failures are left to show up when the component runs.
    if (ComponentKey == QLatin1String("dosbox")) {
        QDir().mkpath(FConfigPath + QStringLiteral("dosbox-saves/"));
        if (LogBasedAchievements) {
            const QString metaPath = Path + QStringLiteral(".meta/");
            QDir().mkpath(metaPath);
            // The DOSBox build logs the files the game opens there; the game watcher reads that log.
            TIniFile conf(Path + QStringLiteral("dosbox.conf"));
            conf.WriteString(QStringLiteral("log"), QStringLiteral("logfile"), metaPath + QStringLiteral("zeb.log"));
            conf.WriteString(QStringLiteral("log"), QStringLiteral("files"), QStringLiteral("true"));
        }
    } else if (ComponentKey == QLatin1String("easyrpg")) {
        QDir().mkpath(Path + QStringLiteral("Image/.meta/"));
    }
}
