#include "Service/Updater.h"

#include "App/Paths.h"
#include "Service/FileDownloader.h"
#include "Service/Updates/Checker.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool Rename(const QString& From, const QString& To) {
    return TUpdateService::RenameFile ? TUpdateService::RenameFile(From, To) : false;
}

// A program file of this platform: an ELF image or a script with "#!".
bool LooksLikeProgram(const QString& FileName) {
    QFile file(FileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(4);
    return head == QByteArray("\x7F" "ELF", 4) || head.startsWith("#!");
}

} // namespace

TUpdateService::TRenameFunction TUpdateService::RenameFile = [](const QString& From, const QString& To) {
    return std::rename(QFile::encodeName(From).constData(), QFile::encodeName(To).constData()) == 0;
};

bool TUpdateService::Update(const QString& CurrentFileName) {
    TFileDownloader downloader;
    KivJson = ParseJson(downloader.Get(LauncherVersionUrl()));
    const TJSONVariantData doc = SafeJsonData(KivJson, jvObject);
    if (doc.NameIndex(QStringLiteral("version")) < 0)
        return false;
    const QString candidate = doc.MemberCopy(QStringLiteral("version")).AsString();
    TFileVersionInfo info;
    GetFileVersionInfo(CurrentFileName, info);
    if (!IsNewerVersion(candidate, info.FileVersion))
        return false;
    UpdateCore(CurrentFileName);
    return true;
}

void TUpdateService::UpdateCore(const QString& CurrentFileName) {
    const QString newName = CurrentFileName + QStringLiteral(".new");
    const QString oldName = CurrentFileName + QStringLiteral(".delete");
    TFileDownloader downloader;
    downloader.DownloadFile(LauncherExecutableUrl(), newName);

    // An error page or a truncated answer must never take the place of the program.
    if (!LooksLikeProgram(newName)) {
        QFile::remove(newName);
        throw Exception(QStringLiteral("The downloaded launcher is not a program: ") + LauncherExecutableUrl());
    }
    // The new file gets the old one's permissions, so it can be started as the old one could.
    struct stat st {};
    if (::stat(QFile::encodeName(CurrentFileName).constData(), &st) == 0)
        ::chmod(QFile::encodeName(newName).constData(), st.st_mode & 07777);
    else
        ::chmod(QFile::encodeName(newName).constData(), 0755);

    if (!Rename(CurrentFileName, oldName))
        return; // the new file stays beside the old one; a later check downloads it again
    if (!Rename(newName, CurrentFileName))
        Rename(oldName, CurrentFileName); // the program file must always be there
}

void TUpdateService::PurgeTmpFiles(const QString& CurrentFileName) {
    const QString oldName = CurrentFileName + QStringLiteral(".delete");
    if (QFileInfo::exists(oldName))
        QFile::remove(oldName);
}

QString TUpdateService::RunningExecutable() {
    // The real file, not a link to it: the swap renames files beside the program itself.
    const QString canonical = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    if (!canonical.isEmpty())
        return canonical;
    return QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
}
