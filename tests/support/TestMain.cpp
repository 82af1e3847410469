// Every test process runs with its own HOME and XDG folders so that nothing touches the real home.
#include <gtest/gtest.h>

#include "App/Paths.h"
#include "App/Settings.h"
#include "App/User.h"

#include "Forms/Debug.h"

#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>

QString gTestHome;

int main(int argc, char** argv) {
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/tarvenox-test-XXXXXX"));
    gTestHome = home.path();
    const QByteArray h = gTestHome.toUtf8();
    setenv("HOME", h.constData(), 1);
    setenv("XDG_DATA_HOME", (h + "/.local/share").constData(), 1);
    setenv("XDG_CONFIG_HOME", (h + "/.config").constData(), 1);
    setenv("XDG_CACHE_HOME", (h + "/.cache").constData(), 1);
    QDir().mkpath(gTestHome + QStringLiteral("/run"));
    QFile::setPermissions(gTestHome + QStringLiteral("/run"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    setenv("XDG_RUNTIME_DIR", (h + "/run").constData(), 1);
    // Tests never reach the service by accident: an address nobody listens on unless a test sets its own.
    if (!getenv("TARVENOX_SERVICE_URL"))
        setenv("TARVENOX_SERVICE_URL", "http://127.0.0.1:9", 1);
    if (!getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The browser engine of the information window refuses to start as root with its sandbox on.
    if (!getenv("QTWEBENGINE_CHROMIUM_FLAGS"))
        setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--no-sandbox", 1);

    // The launcher's own start-up steps that every unit relies on, run against the temporary home.
    InitPaths();
    Core::LoadSettings();
    Lib::LoadSettings();
    InitUser();

    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // As in the program: an error escaping an event handler reaches the error report.
    TApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
