#include "Service/Install/DepManager.h"

#include "App/HttpExceptions.h"
#include "App/Paths.h"
#include "Platform/Shell.h"
#include "Service/FileDownloader.h"
#include "Service/Install/Tasks.h"
#include "Service/Meta/Providers.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

void MakeRunnable(const QString& FileName) {
    struct stat st {};
    const QByteArray name = QFile::encodeName(FileName);
    if (::stat(name.constData(), &st) == 0)
        ::chmod(name.constData(), st.st_mode | S_IXUSR);
}

} // namespace

TDepManager::TDepManager(const QString& APublicKey) : FPublicKey(APublicKey) {
    TDependencyMetaProvider provider;
    Meta = std::make_unique<TMetaTranslator>(provider.GetMeta(APublicKey));
}

TDepManager::~TDepManager() = default;

bool TDepManager::isPresent() const {
    try {
        const TJSONVariantData install = SafeJsonData(Meta->Raw["install"], jvObject);
        if (install.NameIndex(QStringLiteral("file")) < 0)
            return false;
        QString file = install.MemberCopy(QStringLiteral("file")).AsString();
        if (file.contains(QLatin1String("{sys}")))
            file.replace(QLatin1String("{sys}"), GetSpecialFolder(TSpecialFolder::System));
        file.replace(QLatin1Char('\\'), QLatin1Char('/'));
        return !file.isEmpty() && QFileInfo::exists(file);
    } catch (const Exception&) {
        return false;
    }
}

void TDepManager::InstallWhenNotAvailable() {
    if (isPresent())
        return;
    std::shared_ptr<TDepManager> self = shared_from_this();
    AddToInstallTasks(TInstallTask::Create(FPublicKey, Meta->GetName(), Meta->GetDescription(), ttDep,
                                           [self] { self->Install(); }));
}

void TDepManager::Install() {
    // The key names a file in the download folder; it must stay a plain name there.
    if (FPublicKey.isEmpty() || FPublicKey.contains(QLatin1Char('/')) || FPublicKey.contains(QLatin1Char('\\')) ||
        FPublicKey == QLatin1String("..") || FPublicKey == QLatin1String("."))
        throw EInOutError(QStringLiteral("Invalid dependency key \"%1\"").arg(FPublicKey));
    // The installers of this platform are programs or scripts without an extension.
    PackageFileName = DependenciesPath() + FPublicKey;

    const TJSONVariantData sources = SafeJsonData(Meta->Raw["sources"], jvArray);
    if (sources.VKind() != jvArray || sources.VCount() == 0)
        throw EInvalidJsonFormatException(QStringLiteral("No download sources available"));

    bool downloaded = false;
    for (const TJsonValue& source : sources.Values()) {
        TFileDownloader downloader;
        try {
            downloader.DownloadFile(source.AsString(), PackageFileName);
            downloaded = true;
            break;
        } catch (const EDownloadException&) {
            // This address does not have it; the next one may.
        }
    }
    if (!downloaded)
        throw Exception(QStringLiteral("Unable to download dependency"));
    MakeRunnable(PackageFileName);

    const TJSONVariantData doc = SafeJsonData(Meta->Raw, jvObject);
    const QString params = doc.GetValueCopyDefault(QStringLiteral("params"), QString()).AsString();
    // The installer's exit code says nothing we could act on: it has ended, so the task is done.
    PlatformRunElevatedAndWait(PackageFileName, params);
}
