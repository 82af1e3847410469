#include "Forms/uInfo.h"

#include "Forms/uCatalogPage.h"
#include "Service/AppsLibrary.h"
#include "Service/AppsLibrary/AppConfig.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebEngineView>

#include <unistd.h>

namespace {

QPointer<TfInfo> gInfo;

// The browser engine will not start as root with its sandbox on; the flag is read when the first browser
// is made.
void AllowEngineAsRoot() {
    if (geteuid() != 0)
        return;
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (flags.contains("--no-sandbox"))
        return;
    flags += flags.isEmpty() ? "--no-sandbox" : " --no-sandbox";
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
}

} // namespace

TfInfo::TfInfo(QWidget* Owner) : QDialog(Owner) {
    setObjectName(QStringLiteral("fInfo"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    resize(635, 474);
    if (const QScreen* screen = Owner ? Owner->screen() : QGuiApplication::primaryScreen()) {
        const QSize area = screen->size();
        resize(area.width() * 95 / 100, area.height() * 75 / 100);
    }
    FLayout = new QVBoxLayout(this);
    FLayout->setContentsMargins(0, 0, 0, 0);
}

TfInfo::~TfInfo() {
    qApp->removeEventFilter(this);
}

void TfInfo::ShowEx(TAppLibraryItem& App) {
    TAppConfig* config = App.AppConfig();
    if (!config || !config->isInfoUrlAvailable())
        return;
    setWindowTitle(QStringLiteral("Информация об игре «%1»").arg(App.Name));
    if (!FBrowser) {
        AllowEngineAsRoot();
        FBrowser = new QWebEngineView(this);
        FBrowser->setObjectName(QStringLiteral("Browser"));
        FBrowser->setContextMenuPolicy(Qt::NoContextMenu);
        FLayout->addWidget(FBrowser);
    }
    FBrowser->setUrl(QUrl::fromUserInput(config->GetInfoUrl()));
    show();
    raise();
    activateWindow();
}

bool TfInfo::IsInBrowser(QObject* Object) const {
    for (QObject* o = Object; o; o = o->parent())
        if (o == FBrowser)
            return true;
    return false;
}

bool TfInfo::eventFilter(QObject* Watched, QEvent* Event) {
    if (!FBrowser || !IsInBrowser(Watched))
        return QDialog::eventFilter(Watched, Event);
    switch (Event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
        if (static_cast<QMouseEvent*>(Event)->button() == Qt::RightButton)
            return true;
        break;
    case QEvent::ContextMenu:
        return true;
    case QEvent::ShortcutOverride:
    case QEvent::KeyPress:
        if (static_cast<QKeyEvent*>(Event)->key() == Qt::Key_Escape) {
            if (Event->type() == QEvent::KeyPress)
                close();
            Event->accept();
            return true;
        }
        break;
    default:
        break;
    }
    return QDialog::eventFilter(Watched, Event);
}

void TfInfo::showEvent(QShowEvent* Event) {
    // Only while visible: the filter sees every event of the application.
    qApp->installEventFilter(this);
    QDialog::showEvent(Event);
}

void TfInfo::hideEvent(QHideEvent* Event) {
    qApp->removeEventFilter(this);
    QDialog::hideEvent(Event);
}

void TfInfo::keyPressEvent(QKeyEvent* Event) {
    if (Event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QDialog::keyPressEvent(Event);
}

TfInfo* InfoWindow() {
    if (!gInfo)
        gInfo = new TfInfo;
    return gInfo;
}

void ShowAppInfo(TAppLibraryItem& App) {
    InfoWindow()->ShowEx(App);
}

void CreateReusableWindows(QWidget* MainWindow) {
    if (!gInfo)
        gInfo = new TfInfo(MainWindow);
    CreateCatalogPageWindow(MainWindow);
}
