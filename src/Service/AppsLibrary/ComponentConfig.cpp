#include "Service/AppsLibrary/ComponentConfig.h"

#include "Platform/IniFile.h"
#include "Service/AppsLibrary/AppConfig.h"

#include <QFileInfo>

TComponentConfig::TComponentConfig(const QString& PublicKey, const QString& Path)
    : Exe(PublicKey + QStringLiteral(".exe")), Params(QStringLiteral("{App.Dir}{App.Exe}")), FPublicKey(PublicKey),
      FPath(Path) {
    const QString metaFileName = FPath + QStringLiteral("meta.ini");
    if (!QFileInfo::exists(metaFileName))
        return;
    const TIniFile ini(metaFileName);
    const QString launcher = QStringLiteral("Launcher");
    Exe = ini.ReadString(launcher, QStringLiteral("Cmd"), Exe);
    Params = ini.ReadString(launcher, QStringLiteral("Params"), Params);
    RunHidden = ini.ReadBool(launcher, QStringLiteral("Hide"), false);
    QString configFileName = TrimConfigText(ini.ReadString(launcher, QStringLiteral("ConfigFileName"), QString()));
    if (configFileName.isEmpty() || !ConfigNameStaysInFolder(configFileName))
        configFileName = FPublicKey + QStringLiteral(".config");
    else if (configFileName.startsWith(u'.'))
        configFileName.prepend(FPublicKey);
    ConfigFileName = FPath + configFileName;
}
