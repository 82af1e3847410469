#include "App/Paths.h"
#include "App/Settings.h"
#include "Platform/Shell.h"
#include "Service/UriProtocol.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

namespace {

QString Entry() { return UrlHandlerDesktopFileName(); }
QString MimeApps() { return MimeAppsListFileName(); }

QByteArray OwnCommand() { return UrlProtocolCommandText(QCoreApplication::applicationFilePath()).toUtf8(); }

class UriProtocol : public ::testing::Test {
protected:
    void SetUp() override {
        QFile::remove(Entry());
        QFile::remove(MimeApps());
    }
    void TearDown() override {
        QFile::remove(Entry());
        QFile::remove(MimeApps());
    }

    QStringList Opened() const { return FOpened; }

    QStringList FOpened;
    TScopedShellHook FHook{[this](const TShellCall& call) {
        if (call.Kind == TShellCall::TKind::Open)
            FOpened << call.File;
        return true;
    }};
};

class FakePrompt : public IBrowserIntegrationPrompt {
public:
    explicit FakePrompt(QList<QObject*>& shown) : FShown(shown) {}
    void ShowModal(QObject* Owner) override { FShown << Owner; }

private:
    QList<QObject*>& FShown;
};

} // namespace

TEST_F(UriProtocol, RegistersOnACleanSystemAndOpensTheOnPage) {
    ASSERT_FALSE(IsUrlProtocolRegistered());
    RegisterUrlProtocol();

    const QByteArray entry = ReadFile(Entry());
    EXPECT_EQ(entry, "[Desktop Entry]\nType=Application\nName=URL:Tarvenox Protocol\nNoDisplay=true\nIcon=" +
                         QFileInfo(QCoreApplication::applicationFilePath()).fileName().toUtf8() +
                         "\nMimeType=x-scheme-handler/tarvenox;\nExec=" + OwnCommand() + "\n");
    EXPECT_EQ(ReadFile(MimeApps()), "[Default Applications]\nx-scheme-handler/tarvenox=tarvenox-url-handler.desktop\n");
    EXPECT_TRUE(IsUrlProtocolRegistered());
    EXPECT_EQ(Opened(), QStringList{IntegrationOnPageUrl()});

    // A second run finds everything in place and changes nothing.
    RegisterUrlProtocol();
    EXPECT_EQ(ReadFile(Entry()), entry);
    EXPECT_EQ(Opened().size(), 2);
}

TEST_F(UriProtocol, KeepsExistingValuesAndReplacesAForeignCommand) {
    WriteFile(Entry(), "# made by hand\n[Desktop Entry]\nName=Tarvenox links\nIcon=/opt/other/icon.png\n"
                       "Exec=\"/opt/other/tarvenox\" %u\nMimeType=text/x-other\n\n[Desktop Action extra]\nExec=x\n");
    RegisterUrlProtocol();

    EXPECT_EQ(ReadFile(Entry()), "# made by hand\n[Desktop Entry]\nName=Tarvenox links\nIcon=/opt/other/icon.png\n"
                                 "Exec=" + OwnCommand() +
                                 "\nMimeType=text/x-other;x-scheme-handler/tarvenox;\nType=Application\nNoDisplay=true\n"
                                 "\n[Desktop Action extra]\nExec=x\n");
    EXPECT_TRUE(IsUrlProtocolRegistered());
}

TEST_F(UriProtocol, EditsOnlyItsOwnKeyOfMimeAppsList) {
    const QByteArray head = "# user's choices\n[Default Applications]\ntext/html=firefox.desktop\n";
    const QByteArray tail = "\n[Added Associations]\nx-scheme-handler/tarvenox=other.desktop;\n";
    WriteFile(MimeApps(), head + "x-scheme-handler/tarvenox=other-launcher.desktop\n" + tail);

    RegisterUrlProtocol();
    EXPECT_EQ(ReadFile(MimeApps()), head + "x-scheme-handler/tarvenox=tarvenox-url-handler.desktop\n" + tail);
    EXPECT_TRUE(IsUrlProtocolRegistered());

    UnregisterUrlProtocol();
    EXPECT_EQ(ReadFile(MimeApps()), head + tail);
    EXPECT_FALSE(QFileInfo::exists(Entry()));
    EXPECT_FALSE(IsUrlProtocolRegistered());
    EXPECT_EQ(Opened(), (QStringList{IntegrationOnPageUrl(), IntegrationOffPageUrl()}));
}

TEST_F(UriProtocol, AddsTheDefaultWhereTheGroupIsMissing) {
    WriteFile(MimeApps(), "[Added Associations]\ntext/plain=gedit.desktop;");
    RegisterUrlProtocol();
    EXPECT_EQ(ReadFile(MimeApps()), "[Added Associations]\ntext/plain=gedit.desktop;\n\n[Default Applications]\n"
                                    "x-scheme-handler/tarvenox=tarvenox-url-handler.desktop\n");
}

TEST_F(UriProtocol, UnregisterLeavesAnotherProgramsDefaultAndStillOpensTheOffPage) {
    const QByteArray list = "[Default Applications]\nx-scheme-handler/tarvenox=other-launcher.desktop\n";
    WriteFile(MimeApps(), list);
    UnregisterUrlProtocol();
    EXPECT_EQ(ReadFile(MimeApps()), list);
    EXPECT_EQ(Opened(), QStringList{IntegrationOffPageUrl()});
}

TEST_F(UriProtocol, TellsWhetherTheRegistrationIsComplete) {
    const QByteArray mime = "MimeType=x-scheme-handler/tarvenox;\n";
    const QByteArray exec = "Exec=\"/elsewhere/tarvenox\" %u\n";
    const QByteArray ours = "[Default Applications]\nx-scheme-handler/tarvenox=tarvenox-url-handler.desktop\n";
    struct TCase {
        const char* Name;
        QByteArray Entry; // empty: no entry file
        QByteArray List;
        bool Registered;
    } cases[] = {
        {"another copy of the program", "[Desktop Entry]\n" + mime + exec, ours, true},
        {"handler listed first among several", "[Desktop Entry]\n" + mime + exec,
         "[Default Applications]\nx-scheme-handler/tarvenox=tarvenox-url-handler.desktop;b.desktop;\n", true},
        {"no entry", "", ours, false},
        {"entry does not handle the scheme", "[Desktop Entry]\nMimeType=text/plain;\n" + exec, ours, false},
        {"scheme only in another group", "[Desktop Entry]\n" + exec + "[Other]\n" + mime, ours, false},
        {"no command", "[Desktop Entry]\n" + mime, ours, false},
        {"not the default handler", "[Desktop Entry]\n" + mime + exec,
         "[Default Applications]\nx-scheme-handler/tarvenox=other.desktop\n", false},
        {"no mimeapps.list", "[Desktop Entry]\n" + mime + exec, "", false},
    };
    for (const TCase& c : cases) {
        QFile::remove(Entry());
        QFile::remove(MimeApps());
        if (!c.Entry.isEmpty())
            WriteFile(Entry(), c.Entry);
        if (!c.List.isEmpty())
            WriteFile(MimeApps(), c.List);
        EXPECT_EQ(IsUrlProtocolRegistered(), c.Registered) << c.Name;
    }
}

TEST_F(UriProtocol, CommandQuotesThePathForTheDesktopEntry) {
    struct TCase {
        const char* Path;
        const char* Command;
    } cases[] = {
        {"/opt/tarvenox/tarvenox", R"("/opt/tarvenox/tarvenox" %u)"},
        {"/home/me/My Games/tarvenox", R"("/home/me/My Games/tarvenox" %u)"},
        {"/opt/$HOME/`x`/\"q\"/100%/tarvenox", R"("/opt/\\$HOME/\\`x\\`/\\"q\\"/100%%/tarvenox" %u)"},
        {"/opt/back\\slash/tarvenox", R"("/opt/back\\\\slash/tarvenox" %u)"},
        {"/opt/line\nbreak/tarvenox", ""},
        {"", ""},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(UrlProtocolCommandText(QString::fromUtf8(c.Path)), QString::fromUtf8(c.Command)) << c.Path;
}

TEST_F(UriProtocol, FailedRegistrationOpensNoPage) {
    // The applications folder cannot be made where a file stands in the way.
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    const QString blocked = MakeTempDir(QStringLiteral("blocked")) + QStringLiteral("data");
    WriteFile(blocked, "a file, not a folder");
    qputenv("XDG_DATA_HOME", blocked.toUtf8());
    RegisterUrlProtocol();
    const bool registered = IsUrlProtocolRegistered();
    qputenv("XDG_DATA_HOME", saved);

    EXPECT_FALSE(registered);
    EXPECT_TRUE(Opened().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(MimeApps()));
}

TEST_F(UriProtocol, CommandWordsIgnoreLetterCase) {
    RunUrlProtocolCommand(QStringLiteral("Register-URL-Protocol"));
    EXPECT_TRUE(IsUrlProtocolRegistered());
    RunUrlProtocolCommand(QStringLiteral("self-restart"));
    EXPECT_TRUE(IsUrlProtocolRegistered());
    RunUrlProtocolCommand(QStringLiteral("UNREGISTER-URL-PROTOCOL"));
    EXPECT_FALSE(IsUrlProtocolRegistered());
}

TEST_F(UriProtocol, DesktopToolsFindTheHandler) {
    if (QStandardPaths::findExecutable(QStringLiteral("xdg-mime")).isEmpty())
        GTEST_SKIP() << "xdg-mime is not installed";
    RegisterUrlProtocol();
    QProcess query;
    query.start(QStringLiteral("xdg-mime"), {QStringLiteral("query"), QStringLiteral("default"),
                                             QStringLiteral("x-scheme-handler/tarvenox")});
    ASSERT_TRUE(query.waitForFinished());
    EXPECT_EQ(query.readAllStandardOutput().trimmed(), QByteArray(UrlHandlerDesktopId));
}

TEST_F(UriProtocol, StartCheckOffersTheRegistrationOnlyWhenNeeded) {
    QList<QObject*> shown;
    RegisterBrowserIntegrationPrompt(std::make_unique<FakePrompt>(shown));
    const bool savedCheck = Core::CheckBrowserIntegration;
    QObject owner;
    auto check = [&] {
        QPointer<QTimer> timer = new QTimer(&owner);
        CheckBrowserIntegrationOnStart(timer);
        // Outside a running event loop deferred deletes are only delivered on request.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(timer.isNull()) << "the timer is freed";
    };

    Core::CheckBrowserIntegration = true;
    check();
    EXPECT_EQ(shown, QList<QObject*>{&owner});

    Core::CheckBrowserIntegration = false;
    check();
    EXPECT_EQ(shown.size(), 1);

    Core::CheckBrowserIntegration = true;
    RegisterUrlProtocol();
    check();
    EXPECT_EQ(shown.size(), 1);

    Core::CheckBrowserIntegration = savedCheck;
    RegisterBrowserIntegrationPrompt(nullptr);
}
