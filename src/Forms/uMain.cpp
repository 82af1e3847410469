#include "Forms/uMain.h"

#include "Service/EventReporter.h"

#include <QTabBar>
#include <QTabWidget>

TfMain::TfMain(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("fMain"));
    setWindowTitle(QStringLiteral("Tarveno!"));
    resize(1024, 700); // the size to return to from the maximised start

    PageControl = new QTabWidget(this);
    PageControl->setObjectName(QStringLiteral("PageControl"));
    PageControl->setDocumentMode(true);
    PageControl->tabBar()->setExpanding(false);
    QFont tabFont = PageControl->tabBar()->font();
    tabFont.setBold(true);
    PageControl->tabBar()->setFont(tabFont);

    tabLibrary = new QWidget(PageControl);
    tabLibrary->setObjectName(QStringLiteral("tabLibrary"));
    tabCatalog = new QWidget(PageControl);
    tabCatalog->setObjectName(QStringLiteral("tabCatalog"));
    PageControl->addTab(tabLibrary, QStringLiteral("МОИ ИГРЫ"));
    PageControl->addTab(tabCatalog, QStringLiteral("КАТАЛОГ"));
    PageControl->setCurrentWidget(tabLibrary);
    setCentralWidget(PageControl);

    // Every start of the launcher is counted by the service.
    ReportLaunch(QString());
}
