#include "Service/UriProtocol.h"

#include "App/Exceptions.h"
#include "App/Paths.h"
#include "App/Settings.h"
#include "Platform/SafeFile.h"
#include "Platform/Shell.h"
#include "Platform/StandardFolders.h"
#include "Service/AppLauncher.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTimer>
#include <optional>

namespace {

const QString DesktopEntryGroup = QStringLiteral("Desktop Entry");
const QString DefaultApplicationsGroup = QStringLiteral("Default Applications");
const QString ProtocolDescription = QStringLiteral("URL:Tarvenox Protocol");

std::unique_ptr<IBrowserIntegrationPrompt> GPrompt;

// A freedesktop key file (desktop entry, mimeapps.list) edited line by line: only the keys we touch
// change, every other line (comments, other groups, other handlers' keys) stays as it was. Group and key
// names compare exactly, as the format says; the first occurrence counts.
class TKeyFile {
public:
    // A missing file reads as empty; false when the file exists but cannot be read.
    bool Load(const QString& FileName) {
        FLines.clear();
        QFile file(FileName);
        if (!file.exists())
            return true;
        if (!file.open(QIODevice::ReadOnly))
            return false;
        QString text = QString::fromUtf8(file.readAll());
        if (text.endsWith(QLatin1Char('\n')))
            text.chop(1);
        if (!text.isEmpty())
            FLines = text.split(QLatin1Char('\n'));
        return true;
    }

    QByteArray Bytes() const { return FLines.isEmpty() ? QByteArray() : (FLines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8(); }

    std::optional<QString> Value(const QString& Group, const QString& Key) const {
        const int line = FindKey(Group, Key);
        if (line < 0)
            return std::nullopt;
        return ValuePart(FLines.at(line));
    }

    void SetValue(const QString& Group, const QString& Key, const QString& Value) {
        const QString text = Key + QLatin1Char('=') + Value;
        const int line = FindKey(Group, Key);
        if (line >= 0) {
            FLines[line] = text;
            return;
        }
        const int group = FindGroup(Group);
        if (group < 0) {
            if (!FLines.isEmpty() && !FLines.last().trimmed().isEmpty())
                FLines.append(QString());
            FLines.append(QLatin1Char('[') + Group + QLatin1Char(']'));
            FLines.append(text);
            return;
        }
        // After the group's last non-blank line, so the blank line before the next group stays there.
        int at = group + 1;
        for (int i = group + 1; i < GroupEnd(group); ++i)
            if (!FLines.at(i).trimmed().isEmpty())
                at = i + 1;
        FLines.insert(at, text);
    }

    void RemoveKey(const QString& Group, const QString& Key) {
        const int line = FindKey(Group, Key);
        if (line >= 0)
            FLines.removeAt(line);
    }

private:
    static bool IsGroupLine(const QString& Line) {
        const QString t = Line.trimmed();
        return t.startsWith(QLatin1Char('[')) && t.endsWith(QLatin1Char(']'));
    }

    static QString ValuePart(const QString& Line) {
        QString value = Line.mid(Line.indexOf(QLatin1Char('=')) + 1);
        while (!value.isEmpty() && value.front().isSpace())
            value.remove(0, 1);
        if (value.endsWith(QLatin1Char('\r')))
            value.chop(1);
        return value;
    }

    int FindGroup(const QString& Group) const {
        const QString header = QLatin1Char('[') + Group + QLatin1Char(']');
        for (int i = 0; i < FLines.size(); ++i)
            if (FLines.at(i).trimmed() == header)
                return i;
        return -1;
    }

    int GroupEnd(int Group) const {
        for (int i = Group + 1; i < FLines.size(); ++i)
            if (IsGroupLine(FLines.at(i)))
                return i;
        return int(FLines.size());
    }

    int FindKey(const QString& Group, const QString& Key) const {
        const int group = FindGroup(Group);
        if (group < 0)
            return -1;
        for (int i = group + 1; i < GroupEnd(group); ++i) {
            const QString& line = FLines.at(i);
            if (line.trimmed().startsWith(QLatin1Char('#')))
                continue;
            const qsizetype eq = line.indexOf(QLatin1Char('='));
            if (eq > 0 && line.left(eq).trimmed() == Key)
                return i;
        }
        return -1;
    }

    QStringList FLines;
};

QStringList ListValue(const std::optional<QString>& Value) {
    return Value ? Value->split(QLatin1Char(';'), Qt::SkipEmptyParts) : QStringList();
}

QString ApplicationsFolder() {
    const QString data = PlatformLocalAppDataFolder();
    return data.isEmpty() ? QString() : data + QStringLiteral("/applications");
}

} // namespace

// Inside the quotes the Exec rules escape " ` $ \ with a backslash and % as %%; then the key file
// doubles every backslash. A line break cannot be written into a key file line.
QString UrlProtocolCommandText(const QString& Executable) {
    if (Executable.isEmpty())
        return QString();
    QString quoted;
    for (const QChar c : Executable) {
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            return QString();
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        else if (c == QLatin1Char('%'))
            quoted += QLatin1Char('%');
        quoted += c;
    }
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return QLatin1Char('"') + quoted + QStringLiteral("\" %u");
}

namespace {

QString OwnExecutable() {
    // Without an application object Qt cannot tell the path; the registration then does nothing.
    return QCoreApplication::instance() ? QCoreApplication::applicationFilePath() : QString();
}

bool SaveIfChanged(const QString& FileName, const TKeyFile& Before, const TKeyFile& After) {
    if (Before.Bytes() == After.Bytes())
        return true;
    try {
        WriteFileReplacing(FileName, After.Bytes());
        return true;
    } catch (const Exception&) {
        return false;
    }
}

// Desktops read the scheme handlers from this cache; where the tool is missing they scan the folder.
void RefreshDesktopDatabase() {
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("update-desktop-database"));
    const QString folder = ApplicationsFolder();
    if (tool.isEmpty() || !QFileInfo(folder).isDir())
        return;
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(tool, {folder});
    if (process.waitForStarted() && !process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
    }
}

bool WriteRegistration() {
    const QString command = UrlProtocolCommandText(OwnExecutable());
    const QString folder = ApplicationsFolder();
    if (command.isEmpty() || folder.isEmpty() || !QDir().mkpath(folder))
        return false;

    const QString entryFile = UrlHandlerDesktopFileName();
    TKeyFile before;
    if (!before.Load(entryFile))
        return false;
    TKeyFile entry = before;
    const QString g = DesktopEntryGroup;
    if (!entry.Value(g, QStringLiteral("Type")))
        entry.SetValue(g, QStringLiteral("Type"), QStringLiteral("Application"));
    if (!entry.Value(g, QStringLiteral("Name")))
        entry.SetValue(g, QStringLiteral("Name"), ProtocolDescription);
    // A handler, not a program for the menus.
    if (!entry.Value(g, QStringLiteral("NoDisplay")))
        entry.SetValue(g, QStringLiteral("NoDisplay"), QStringLiteral("true"));
    if (!entry.Value(g, QStringLiteral("Icon")))
        entry.SetValue(g, QStringLiteral("Icon"), QFileInfo(OwnExecutable()).fileName());
    // Other types the entry may list stay; without the scheme it would not be a handler at all.
    const std::optional<QString> types = entry.Value(g, QStringLiteral("MimeType"));
    if (!ListValue(types).contains(QLatin1String(UrlSchemeMimeType))) {
        QString value = types.value_or(QString());
        if (!value.isEmpty() && !value.endsWith(QLatin1Char(';')))
            value += QLatin1Char(';');
        entry.SetValue(g, QStringLiteral("MimeType"), value + QLatin1String(UrlSchemeMimeType) + QLatin1Char(';'));
    }
    // The program may have moved since the last registration.
    if (entry.Value(g, QStringLiteral("Exec")) != command)
        entry.SetValue(g, QStringLiteral("Exec"), command);
    if (!SaveIfChanged(entryFile, before, entry))
        return false;

    const QString listFile = MimeAppsListFileName();
    if (listFile.isEmpty() || !QDir().mkpath(QFileInfo(listFile).path()))
        return false;
    TKeyFile listBefore;
    if (!listBefore.Load(listFile))
        return false;
    TKeyFile list = listBefore;
    const QStringList handlers = ListValue(list.Value(DefaultApplicationsGroup, QLatin1String(UrlSchemeMimeType)));
    if (handlers.value(0) != QLatin1String(UrlHandlerDesktopId))
        list.SetValue(DefaultApplicationsGroup, QLatin1String(UrlSchemeMimeType), QLatin1String(UrlHandlerDesktopId));
    return SaveIfChanged(listFile, listBefore, list);
}

void RemoveRegistration() {
    QFile::remove(UrlHandlerDesktopFileName());
    const QString listFile = MimeAppsListFileName();
    TKeyFile before;
    if (listFile.isEmpty() || !before.Load(listFile))
        return;
    TKeyFile list = before;
    // Only our own entry leaves the list; a default set for another program is not ours to remove.
    QStringList handlers = ListValue(list.Value(DefaultApplicationsGroup, QLatin1String(UrlSchemeMimeType)));
    if (handlers.removeAll(QLatin1String(UrlHandlerDesktopId)) == 0)
        return;
    if (handlers.isEmpty())
        list.RemoveKey(DefaultApplicationsGroup, QLatin1String(UrlSchemeMimeType));
    else
        list.SetValue(DefaultApplicationsGroup, QLatin1String(UrlSchemeMimeType), handlers.join(QLatin1Char(';')) + QLatin1Char(';'));
    SaveIfChanged(listFile, before, list);
}

} // namespace

QString UrlHandlerDesktopFileName() {
    const QString folder = ApplicationsFolder();
    return folder.isEmpty() ? QString() : folder + QLatin1Char('/') + QLatin1String(UrlHandlerDesktopId);
}

QString MimeAppsListFileName() {
    const QString config = PlatformRoamingAppDataFolder();
    return config.isEmpty() ? QString() : config + QStringLiteral("/mimeapps.list");
}

void RegisterUrlProtocol() {
    if (!WriteRegistration())
        return;
    RefreshDesktopDatabase();
    OpenWithShell(IntegrationOnPageUrl());
}

void UnregisterUrlProtocol() {
    RemoveRegistration();
    RefreshDesktopDatabase();
    // The off page tells the user the integration is gone; say so only when it is.
    if (!IsUrlProtocolRegistered())
        OpenWithShell(IntegrationOffPageUrl());
}

bool IsUrlProtocolRegistered() {
    const QString entryFile = UrlHandlerDesktopFileName();
    TKeyFile entry;
    if (entryFile.isEmpty() || !QFileInfo(entryFile).isFile() || !entry.Load(entryFile))
        return false;
    if (!ListValue(entry.Value(DesktopEntryGroup, QStringLiteral("MimeType"))).contains(QLatin1String(UrlSchemeMimeType)))
        return false;
    if (entry.Value(DesktopEntryGroup, QStringLiteral("Exec")).value_or(QString()).trimmed().isEmpty())
        return false;
    TKeyFile list;
    if (!list.Load(MimeAppsListFileName()))
        return false;
    return ListValue(list.Value(DefaultApplicationsGroup, QLatin1String(UrlSchemeMimeType))).value(0) ==
           QLatin1String(UrlHandlerDesktopId);
}

void RunElevatedAndWait(const QString& FileName, const QString& Parameters) {
    PlatformRunElevatedAndWait(FileName, Parameters);
}

void RunUrlProtocolCommand(const QString& Cmd) {
    if (Cmd.compare(QLatin1String(RegisterUrlProtocolWord), Qt::CaseInsensitive) == 0)
        RegisterUrlProtocol();
    else if (Cmd.compare(QLatin1String(UnregisterUrlProtocolWord), Qt::CaseInsensitive) == 0)
        UnregisterUrlProtocol();
}

void RegisterBrowserIntegrationPrompt(std::unique_ptr<IBrowserIntegrationPrompt> Prompt) {
    GPrompt = std::move(Prompt);
}

IBrowserIntegrationPrompt* BrowserIntegrationPrompt() {
    return GPrompt.get();
}

void CheckBrowserIntegrationOnStart(QTimer* Timer) {
    QObject* owner = nullptr;
    if (Timer) {
        owner = Timer->parent();
        Timer->stop();
        // We are usually inside the timer's own signal.
        Timer->deleteLater();
    }
    if (!Core::CheckBrowserIntegration || IsUrlProtocolRegistered())
        return;
    if (IBrowserIntegrationPrompt* prompt = BrowserIntegrationPrompt())
        prompt->ShowModal(owner);
}
