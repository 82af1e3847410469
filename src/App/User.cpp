#include "App/User.h"

#include "App/Paths.h"
#include "Platform/SafeFile.h"
#include "Platform/Uuid.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringConverter>

#include <memory>
#include <mutex>

namespace {

std::unique_ptr<TUser> gUser;

std::mutex gInstallKeyMutex;
QString gInstallKey;

const QByteArray Bom = "\xEF\xBB\xBF";
const QByteArray LineEnd = "\r\n";
constexpr qint64 MaxTextFileSize = 1 << 20;

QString UserFileName() {
    return LocalUserDataPath() + QStringLiteral("user.dat");
}
QString KeyFileName() {
    return LocalUserDataPath() + QStringLiteral("key.dat");
}

// Reads a text file of our own as UTF-8, skipping the byte order mark; false when it cannot be read.
bool ReadTextFile(const QString& fileName, QString& text) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // Both files are a few lines; a damaged giant one must not take the memory with it.
    QByteArray bytes = file.read(MaxTextFileSize);
    if (bytes.startsWith(Bom))
        bytes.remove(0, Bom.size());
    text = QString::fromUtf8(bytes);
    return true;
}

QStringList SplitLines(const QString& text) {
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\n|\r"));
    QStringList lines = text.split(lineBreak);
    // A final line break ends the last line rather than starting an empty one.
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// Our credential files hold a token and an installation's identity: owner-only, replaced whole.
void WritePrivateLines(const QString& fileName, const QStringList& lines) {
    QDir().mkpath(LocalUserDataPath());
    QByteArray bytes = Bom;
    for (const QString& line : lines)
        bytes += line.toUtf8() + LineEnd;
    WriteFileReplacing(fileName, bytes, true);
}

} // namespace

TUser::TUser() : FOnChangeSubscribers(nullptr) {
}

void TUser::SetName(const QString& value) {
    if (value == FName)
        return;
    FName = value;
    if (value.isEmpty())
        SetToken(QString());
    FLastChangeEvent = TUserChangeEvent::ceName;
    FOnChangeSubscribers.NotifySubscribers();
}

void TUser::SetToken(const QString& value) {
    if (value == FToken)
        return;
    FToken = value;
    {
        std::lock_guard lock(FSharedTokenLock);
        FSharedToken = value;
    }
    FLastChangeEvent = TUserChangeEvent::ceToken;
    FOnChangeSubscribers.NotifySubscribers();
}

void TUser::Load() {
    QString text;
    if (!ReadTextFile(UserFileName(), text))
        return;
    const QStringList lines = SplitLines(text);
    if (lines.size() < 2)
        return;
    SetName(lines[0]);
    SetToken(lines[1]);
}

void TUser::Save() {
    WritePrivateLines(UserFileName(), {FName, FToken});
}

void TUser::ResetToken() {
    SetToken(QString());
    Save();
}

TUser& CurrentUser() {
    // Units and tests that run without the start-up still get a (logged-out) user.
    if (!gUser)
        gUser = std::make_unique<TUser>();
    return *gUser;
}

void InitUser() {
    gUser = std::make_unique<TUser>();
    gUser->Load();
}

void DoneUser() {
    gUser.reset();
    std::lock_guard lock(gInstallKeyMutex);
    gInstallKey.clear();
}

void SubscribeOnUserChange(const TNotifyEvent& handler) {
    CurrentUser().OnChangeSubscribers().Subscribe(handler);
}

void UnsubscribeOnUserChange(const TNotifyEvent& handler) {
    CurrentUser().OnChangeSubscribers().Unsubscribe(handler);
}

QString GetInstallKey() {
    // Requests are built on several threads at once; the key must still be made only once.
    std::lock_guard lock(gInstallKeyMutex);
    if (!gInstallKey.isEmpty())
        return gInstallKey;
    QString text;
    if (ReadTextFile(KeyFileName(), text))
        gInstallKey = SplitLines(text).value(0);
    // A short file cannot hold a key; nor can one whose first line is blank, which would send no key at all.
    if (text.size() <= 30 || gInstallKey.trimmed().isEmpty()) {
        gInstallKey = NewGuidText();
        try {
            WritePrivateLines(KeyFileName(), {gInstallKey});
        } catch (...) {
            // The key serves this run; the next start makes a new one.
        }
    }
    return gInstallKey;
}

QString TUser::SharedToken() const {
    std::lock_guard lock(FSharedTokenLock);
    return FSharedToken;
}
