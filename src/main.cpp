// Start-up order, entry sequence and shut-down of the launcher.
#include "App/CLIParameters.h"
#include "App/Exceptions.h"
#include "App/Paths.h"
#include "App/Settings.h"
#include "App/User.h"
#include "Forms/Debug.h"
#include "Forms/uConfirmBrowserIntegrationForm.h"
#include "Forms/uInfo.h"
#include "Forms/uLauchOptions.h"
#include "Forms/uMain.h"
#include "Service/AppLauncher.h"
#include "Service/AppsLibrary.h"
#include "Service/DirWatcher.h"
#include "Service/ImageProviders.h"
#include "Service/Install/Tasks.h"
#include "Service/IPC/Pipe.h"
#include "Service/UriProtocol.h"

#include <QApplication>
#include <QFile>

#include <cstdio>
#include <curl/curl.h>

// Resources live in a static library, whose registration code the linker would otherwise drop. Outside any
// namespace, as the registration function is a global one.
static void InitResources() {
    Q_INIT_RESOURCE(tarvenox);
}

namespace {

// The "Carbon" look; when the style sheet cannot be read the default look stays.
void ApplyCarbonStyle(QApplication& app) {
    QFile style(QStringLiteral(":/styles/Carbon.qss"));
    if (style.open(QIODevice::ReadOnly | QIODevice::Text))
        app.setStyleSheet(QString::fromUtf8(style.readAll()));
}

void StartModules(int argc, char** argv) {
    InitPaths();
    Core::LoadSettings();
    Lib::LoadSettings();
    // JSON values need no registration here: the number format is fixed in their own code.
    curl_global_init(CURL_GLOBAL_DEFAULT);
    InitUser();
    InitLibraries();
    InstallExceptionHandler();
    InitImageProvider();
    InitWatchers();
    InitLaunchers();
    InitCLIParameters(argc, argv);
}

// Reverse order of StartModules. Nothing is written: every change was saved when it was made.
void StopModules() {
    DonePipe();
    DoneCLIParameters();
    DoneLaunchers();
    DoneWatchers();
    DoneImageProvider();
    DoneInstallTasks();
    DoneLibraries();
    DoneUser();
    curl_global_cleanup();
}

int RunPrimary(int argc, char** argv) {
    // The information window's browser engine shares GL contexts; this must precede the application.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    TApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarvenox"));
    QApplication::setOrganizationName(QStringLiteral("Mirelocke"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tarveno!"));
    StartPipeServer();
    InitResources();
    ApplyCarbonStyle(app);
    // The core asks the user through these dialogs.
    RegisterBrowserIntegrationDialog();
    RegisterLaunchOptionsDialog();
    TfMain mainWindow;
    mainWindow.showMaximized();
    CreateReusableWindows(&mainWindow);
    const int rc = app.exec();
    // No forwarded link may reach a window that is going away, nor run without the event loop.
    StopPipeServer();
    return rc;
}

int RunEntrySequence(int argc, char** argv) {
    const TCLIParameters& params = CLIParameters();
    if (!params.isEmpty()) {
        // Served before the single-instance test: an elevated copy started by a running instance does
        // its job instead of forwarding the word.
        const bool doRegister = HasCLIWord(QStringLiteral("register-url-protocol"));
        if (doRegister || HasCLIWord(QStringLiteral("unregister-url-protocol"))) {
            QCoreApplication app(argc, argv);
            try {
                doRegister ? RegisterUrlProtocol() : UnregisterUrlProtocol();
            } catch (...) {
                // The protocol words never show a message.
            }
            return 0;
        }
    }
    bool first = true;
    try {
        first = IsFirstInstance();
    } catch (...) {
        // Whatever went wrong, this process serves the user itself.
    }
    if (first)
        return RunPrimary(argc, argv);
    if (!params.isEmpty()) {
        try {
            SendToFirstInstance(params.first());
        } catch (...) {
            // A failed hand-over ends this process anyway.
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    int rc = 0;
    try {
        StartModules(argc, argv);
        rc = RunEntrySequence(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarvenox: %s\n", e.what());
        rc = 1;
    }
    StopModules();
    return rc;
}
