#include "Forms/uMain.h"

#include "App/CLIParameters.h"
#include "App/MainThread.h"
#include "App/Paths.h"
#include "App/Settings.h"
#include "App/User.h"
#include "Platform/Shell.h"
#include "Forms/uAbout.h"
#include "Forms/uAchievementNotification.h"
#include "Forms/Debug.h"
#include "Forms/uAppInstall.h"
#include "Forms/uCatalogPage.h"
#include "Forms/uFrameApp.h"
#include "Forms/uFrameCatalog.h"
#include "Forms/uFrameLibrary.h"
#include "Forms/uInfo.h"
#include "Forms/uLibManagerForm.h"
#include "Forms/uScoreboard.h"
#include "Forms/uSettings.h"
#include "Forms/uLogin.h"
#include "Service/AppLauncher.h"
#include "Service/AppsLibrary.h"
#include "Service/Install/AppManager.h"
#include "Service/Install/Tasks.h"
#include "Service/Updater.h"
#include "Service/Updates/Checker.h"
#include "Service/UriProtocol.h"
#include "Service/EventReporter.h"
#include "Service/IPC/Pipe.h"
#include "Service/Meta/Providers.h"
#include "Service/Users/OwnProfileProvider.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QCoreApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QtConcurrent>

namespace {

TfMain* gMainWindow = nullptr;
// The caption bUser shows while nobody is logged in.
QString DefaultUserButtonCaption;

// One-shot timer owned by the window; freed after its tick.
void StartOneShot(QObject* Owner, int Msec, std::function<void()> Tick) {
    auto* timer = new QTimer(Owner);
    timer->setSingleShot(true);
    timer->setInterval(Msec);
    QObject::connect(timer, &QTimer::timeout, Owner, [timer, Tick = std::move(Tick)] {
        timer->deleteLater();
        Tick();
    });
    timer->start();
}

// Milliseconds since the system started, like the tick count a hidden tile's name carries.
qint64 TickCount() {
    QElapsedTimer timer;
    timer.start();
    return timer.msecsSinceReference();
}

} // namespace

TfMain* MainWindow() {
    return gMainWindow;
}

TfMain::TfMain(QWidget* parent) : QMainWindow(parent) {
    gMainWindow = this;
    setObjectName(QStringLiteral("fMain"));
    setWindowTitle(QStringLiteral("Tarveno!"));
    setWindowIcon(QIcon(QStringLiteral(":/images/tarvenox.png")));
    QFont windowFont(QStringLiteral("Tahoma"));
    windowFont.setPointSize(8);
    setFont(windowFont);
    resize(1024, 700); // the size to return to from the maximised start

    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("panelMain"));
    auto* centralLayout = new QVBoxLayout(central);
    centralLayout->setContentsMargins(0, 0, 0, 0);
    centralLayout->setSpacing(0);

    PageControl = new QTabWidget(central);
    PageControl->setObjectName(QStringLiteral("PageControl"));
    PageControl->setDocumentMode(true);
    PageControl->tabBar()->setExpanding(false);
    tabLibrary = new QWidget(PageControl);
    tabLibrary->setObjectName(QStringLiteral("tabLibrary"));
    tabCatalog = new QWidget(PageControl);
    tabCatalog->setObjectName(QStringLiteral("tabCatalog"));
    for (QWidget* page : {tabLibrary, tabCatalog}) {
        auto* pageLayout = new QVBoxLayout(page);
        pageLayout->setContentsMargins(0, 0, 0, 0);
    }
    PageControl->addTab(tabLibrary, QStringLiteral("МОИ ИГРЫ"));
    PageControl->addTab(tabCatalog, QStringLiteral("КАТАЛОГ"));
    PageControl->setCurrentWidget(tabLibrary);
    centralLayout->addWidget(PageControl, 1);
    FrameLibrary = new TFrameLibrary(tabLibrary);
    tabLibrary->layout()->addWidget(FrameLibrary);

    // The user button, the menu button and the coins sit at the right of the tab row.
    auto* corner = new QWidget(PageControl);
    corner->setObjectName(QStringLiteral("panelTopRight"));
    auto* cornerLayout = new QHBoxLayout(corner);
    cornerLayout->setContentsMargins(0, 2, 6, 2);
    cornerLayout->setSpacing(6);

    panelCoins = new QFrame(corner);
    panelCoins->setObjectName(QStringLiteral("panelCoins"));
    panelCoins->setCursor(Qt::PointingHandCursor);
    panelCoins->setToolTip(QStringLiteral("Бесплатные ключи"));
    auto* coinsLayout = new QHBoxLayout(panelCoins);
    coinsLayout->setContentsMargins(6, 0, 6, 0);
    coinsLayout->setSpacing(4);
    txtCoins = new QLabel(QStringLiteral("0"), panelCoins);
    txtCoins->setObjectName(QStringLiteral("txtCoins"));
    imageCoins = new QLabel(panelCoins);
    imageCoins->setObjectName(QStringLiteral("imageCoins"));
    // Scaled for the screen's pixel ratio, so the coin stays sharp at 200 %.
    const qreal ratio = devicePixelRatioF();
    QPixmap coin = QPixmap(QStringLiteral(":/images/coin.png"))
                       .scaled(QSize(16, 16) * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    coin.setDevicePixelRatio(ratio);
    imageCoins->setPixmap(coin);
    coinsLayout->addWidget(txtCoins);
    coinsLayout->addWidget(imageCoins);
    for (QWidget* w : {static_cast<QWidget*>(panelCoins), static_cast<QWidget*>(txtCoins),
                       static_cast<QWidget*>(imageCoins)})
        w->installEventFilter(this);
    panelCoins->hide();

    popupHelp = new QMenu(this);
    popupHelp->setObjectName(QStringLiteral("popupHelp"));
    mnuSettings = popupHelp->addAction(QStringLiteral("Настройки..."));
    mnuSettings->setObjectName(QStringLiteral("mnuSettings"));
    mnuFolderSettings = popupHelp->addAction(QStringLiteral("Управление папками..."));
    mnuFolderSettings->setObjectName(QStringLiteral("mnuFolderSettings"));
    N1 = popupHelp->addSeparator();
    N1->setObjectName(QStringLiteral("N1"));
    mnuAbout = popupHelp->addAction(QStringLiteral("О «%s»..."));
    mnuAbout->setObjectName(QStringLiteral("mnuAbout"));

    bHelp = new QToolButton(corner);
    bHelp->setObjectName(QStringLiteral("bHelp"));
    bHelp->setText(QStringLiteral("☰"));
    bHelp->setMenu(popupHelp);
    bHelp->setPopupMode(QToolButton::MenuButtonPopup);

    popupUser = new QMenu(this);
    popupUser->setObjectName(QStringLiteral("popupUser"));
    mnuProfile = popupUser->addAction(QStringLiteral("Profile..."));
    mnuProfile->setObjectName(QStringLiteral("mnuProfile"));
    mnuProfile->setEnabled(false);
    mnuAfterProfileSeparator = popupUser->addSeparator();
    mnuAfterProfileSeparator->setObjectName(QStringLiteral("mnuAfterProfileSeparator"));
    // "&&" is how the menu shows one "&".
    mnuLogout = popupUser->addAction(QStringLiteral("Logout && Quit"));
    mnuLogout->setObjectName(QStringLiteral("mnuLogout"));

    bUser = new QToolButton(corner);
    bUser->setObjectName(QStringLiteral("bUser"));
    bUser->setText(QStringLiteral("Подключиться"));
    bUser->setToolButtonStyle(Qt::ToolButtonTextOnly);

    cornerLayout->addWidget(panelCoins);
    cornerLayout->addWidget(bHelp);
    cornerLayout->addWidget(bUser);
    PageControl->setCornerWidget(corner, Qt::TopRightCorner);

    panelUpdates = new QFrame(central);
    panelUpdates->setObjectName(QStringLiteral("panelUpdates"));
    auto* updatesLayout = new QHBoxLayout(panelUpdates);
    updatesLayout->setContentsMargins(12, 6, 12, 6);
    txtUpdates = new QLabel(QStringLiteral("Доступны обновления: %d"), panelUpdates);
    txtUpdates->setObjectName(QStringLiteral("txtUpdates"));
    bShowUpdates = new QPushButton(QStringLiteral("Показать обновления..."), panelUpdates);
    bShowUpdates->setObjectName(QStringLiteral("bShowUpdates"));
    bCancelUpdates = new QPushButton(QStringLiteral("Не сейчас"), panelUpdates);
    bCancelUpdates->setObjectName(QStringLiteral("bCancelUpdates"));
    updatesLayout->addWidget(txtUpdates);
    updatesLayout->addStretch(1);
    updatesLayout->addWidget(bShowUpdates);
    updatesLayout->addWidget(bCancelUpdates);
    panelUpdates->hide();
    centralLayout->addWidget(panelUpdates);
    setCentralWidget(central);

    timerQueue = new QTimer(this);
    timerQueue->setObjectName(QStringLiteral("timerQueue"));
    timerQueue->setInterval(5000);
    timerRefresh = new QTimer(this);
    timerRefresh->setObjectName(QStringLiteral("timerRefresh"));
    timerRefresh->setInterval(1800000);

    TrayIcon = new QSystemTrayIcon(windowIcon(), this);
    TrayIcon->setObjectName(QStringLiteral("TrayIcon"));
    TrayIcon->setToolTip(windowTitle());

    connect(bHelp, &QToolButton::clicked, this, [this] { PopupButtonDropDownMenu(bHelp); });
    connect(bUser, &QToolButton::clicked, this, [this] {
        if (FLoggedIn)
            PopupButtonDropDownMenu(bUser);
        else
            ShowLoginForm();
    });
    connect(mnuSettings, &QAction::triggered, this, UserAction(this, [this] { mnuSettingsClick(); }));
    connect(mnuFolderSettings, &QAction::triggered, this, UserAction(this, [this] { mnuFolderSettingsClick(); }));
    connect(mnuAbout, &QAction::triggered, this, UserAction(this, [this] { mnuAboutClick(); }));
    connect(mnuLogout, &QAction::triggered, this, UserAction(this, [this] { mnuLogoutClick(); }));
    connect(bShowUpdates, &QPushButton::clicked, this, UserAction(this, [this] { bShowUpdatesClick(); }));
    connect(bCancelUpdates, &QPushButton::clicked, this, UserAction(this, [this] { bCancelUpdatesClick(); }));
    connect(PageControl, &QTabWidget::currentChanged, this, [this] { PageControlChanging(); });
    connect(timerQueue, &QTimer::timeout, this, [this] { ProcessInstallQueue(); });
    connect(timerRefresh, &QTimer::timeout, this, [this] { timerRefreshTimer(); });
    qApp->installEventFilter(this);

    // The windows a tile opens.
    TFrameAppHooks& hooks = FrameAppHooks();
    hooks.ShowScoreboards = [](QWidget* Owner, TAppLibraryItem* App) { ShowScoreboards(Owner, *App); };
    hooks.ShowInfo = [](TAppLibraryItem* App) { ShowAppInfo(*App); };
    hooks.ShowCatalogPage = [](TAppLibraryItem* App, const QImage* Cover) {
        ShowCatalogPage(*App, Cover != nullptr ? QPixmap::fromImage(*Cover) : QPixmap());
    };
    hooks.ShowLogin = [this] { ShowLoginForm(); };

    // FormCreate
    SetNotificationTrayIcon(TrayIcon);
    DefaultUserButtonCaption = bUser->text();
    QFont tabFont = PageControl->tabBar()->font();
    tabFont.setBold(true);
    PageControl->tabBar()->setFont(tabFont);
    mnuAbout->setText(mnuAbout->text().replace(QStringLiteral("%s"), windowTitle()));
    QFont coinsFont = panelCoins->font();
    coinsFont.setBold(true);
    panelCoins->setFont(coinsFont);

    SubscribeOnUserChange({this, "OnUserChange", [this](void*) { OnUserChange(); }});
    if (CurrentUser().hasToken()) {
        SetLoggedIn(true);
    } else {
        SetLoggedIn(false);
        StartOneShot(this, 100, [this] { ShowLoginForm(); });
    }
    ReportLaunch(QString());

    // A link's launch or install may fail like a click on the tile does, and is reported the same way.
    SetUriCommandHandler([this](const QString& RawParams) {
        RunUserAction(this, [this, RawParams] { ExecuteUriCommand(RawParams); });
    });
    UriCommand = GetCLIUriCommand();
    if (!UriCommand.isEmpty())
        RunUserAction(this, [this] { ExecuteUriCommand(UriCommand); });
    CheckForCoreUpdate();
    StartUpdateCheckTimer();
    if (Core::CheckBrowserIntegration) {
        // The check frees its timer and asks with the window as owner.
        auto* timer = new QTimer(this);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, this, [timer] { CheckBrowserIntegrationOnStart(timer); });
        timer->start(1000);
    }
    timerQueue->start();
}

TfMain::~TfMain() {
    qApp->removeEventFilter(this);
    SetUriCommandHandler(nullptr);
    SetNotificationTrayIcon(nullptr);
    FrameAppHooks() = TFrameAppHooks();
    UnsubscribeOnUserChange({this, "OnUserChange", nullptr});
    if (gMainWindow == this)
        gMainWindow = nullptr;
}

bool TfMain::eventFilter(QObject* Watched, QEvent* Event) {
    if (Event->type() == QEvent::MouseButtonRelease &&
        (Watched == panelCoins || Watched == txtCoins || Watched == imageCoins)) {
        if (static_cast<QMouseEvent*>(Event)->button() == Qt::LeftButton) {
            panelCoinsClick();
            return true;
        }
    }
    if (Event->type() == QEvent::Wheel) {
        auto* widget = qobject_cast<QWidget*>(Watched);
        if (widget != nullptr && widget->window() == this && isActiveWindow()) {
            const auto* wheel = static_cast<QWheelEvent*>(Event);
            if (FormMouseWheel(wheel->angleDelta().y()))
                return true;
        }
    }
    return QMainWindow::eventFilter(Watched, Event);
}

void TfMain::ExecuteUriCommand(const QString& RawParams) {
    const QString name = GetUriCommandName(RawParams);
    const QString key = GetUriCommandKey(RawParams);
    if ((name.isEmpty() && key.isEmpty()) || name != QStringLiteral("run"))
        return;
    // A link from a web page whose key could not name a game (run/../../etc) is ignored like any
    // other link the launcher does not understand.
    if (!IsUsableItemKey(key))
        return;
    if (AppsLibrary().isItemInstalled(key)) {
        if (TFrameApp* tile = FrameLibrary->FindAppFrame(key))
            tile->bLaunchClick();
        return;
    }
    if (FrameCatalog != nullptr) {
        if (TFrameApp* tile = FrameCatalog->FindAppFrame(key)) {
            tile->bInstallClick();
            return;
        }
    }
    // A game nobody shows yet: a hidden tile of its own asks for the install.
    TAppLibraryItem* item = AppsLibrary().FindItemByKey(key);
    if (item == nullptr) {
        std::unique_ptr<TAppLibraryItem> created;
        RunWhileResponsive(nullptr, [&] { created = TAppLibraryItem::CreateByPublicKey(key); });
        FLinkItems.push_back(std::move(created));
        item = FLinkItems.back().get();
    }
    auto* tile = new TFrameApp(this, item, key);
    tile->hide();
    const QString baseName = tile->objectName();
    QString uniqueName = baseName + QString::number(TickCount());
    for (int n = 2; findChild<QObject*>(uniqueName, Qt::FindDirectChildrenOnly) != nullptr; ++n)
        uniqueName = baseName + QString::number(TickCount()) + QLatin1Char('_') +
                     QString::number(n);
    tile->setObjectName(uniqueName);
    tile->bInstallClick();
}

void TfMain::SetLoggedIn(bool Value) {
    FLoggedIn = Value;
    if (Value) {
        bUser->setPopupMode(QToolButton::MenuButtonPopup);
        bUser->setMenu(popupUser);
        bUser->setText(CurrentUser().Name());
        // The refresh runs once in the background right away, then every 30 minutes on the timer.
        const QString substitute = bUser->text();
        QPointer<TfMain> self = this;
        QThreadPool::globalInstance()->start([self, substitute] {
            // Never raises: a failed request gives an empty profile named by the substitute.
            const auto profile = GetOwnProfile(substitute);
            QueueOnMainThread([self, name = profile->Name, coins = profile->Coins] {
                if (!self)
                    return;
                self->ApplyProfile(name, coins);
                self->RestartRefreshTimer();
            });
        });
    } else {
        bUser->setMenu(nullptr);
        bUser->setPopupMode(QToolButton::DelayedPopup);
        bUser->setText(DefaultUserButtonCaption);
    }
}

void TfMain::OnUserChange() {
    if (CurrentUser().LastChangeEvent() == TUserChangeEvent::ceToken)
        SetLoggedIn(CurrentUser().hasToken());
}

void TfMain::ShowLoginForm() {
    // A successful login changes the token, which reaches OnUserChange.
    ShowLoginDialog(this);
}

void TfMain::timerRefreshTimer() {
    timerRefresh->stop();
    const auto profile = GetOwnProfile(bUser->text());
    ApplyProfile(profile->Name, profile->Coins);
    RestartRefreshTimer();
}

void TfMain::ApplyProfile(const QString& Name, qint64 Coins) {
    bUser->setText(Name.isEmpty() ? bUser->text() : Name);
    txtCoins->setText(QString::number(Coins));
    panelCoins->setVisible(Coins > 0);
}

void TfMain::RestartRefreshTimer() {
    if (FLoggedIn)
        timerRefresh->start();
    else
        timerRefresh->stop();
}

void TfMain::RestartSelf() {
    StopPipeServer();
    PlatformShellStart(QCoreApplication::applicationFilePath(), QStringLiteral("self-restart"), QString());
    close();
}

void TfMain::PageControlChanging() {
    if (FrameCatalog != nullptr)
        return;
    // The catalog starts loading at the first page change.
    FrameCatalog = new TFrameCatalog(tabCatalog);
    tabCatalog->layout()->addWidget(FrameCatalog);
}

bool TfMain::FormMouseWheel(int WheelDelta) {
    bool handled = false;
    if (PageControl->currentWidget() == tabLibrary) {
        FrameLibrary->OnMouseScroll(WheelDelta, handled);
        if (handled)
            return true;
    }
    if (PageControl->currentWidget() == tabCatalog && FrameCatalog != nullptr)
        FrameCatalog->OnMouseScroll(WheelDelta, handled);
    return handled;
}

void TfMain::PopupButtonDropDownMenu(QToolButton* Sender) {
    if (Sender == nullptr || Sender->menu() == nullptr)
        return;
    Sender->menu()->popup(Sender->mapToGlobal(QPoint(0, Sender->height())));
}

void TfMain::mnuSettingsClick() {
    ShowSettingsWindow(this);
}

void TfMain::mnuFolderSettingsClick() {
    // A failed restart reaches the error report, like every error of a menu command.
    ShowLibManagerWindow(this, [this] { RunUserAction(this, [this] { RestartSelf(); }); });
}

void TfMain::mnuAboutClick() {
    FAbout = ShowAbout(this);
}

void TfMain::mnuLogoutClick() {
    close();
    CurrentUser().ResetToken();
}

void TfMain::panelCoinsClick() {
    OpenWithShell(FreeKeysPageUrl());
}

void TfMain::ProcessInstallQueue() {
    if (InstallTaskCount() > 0 || FPreparingInstall)
        return;
    const QList<TAppLibraryItem*> queued = AppsLibrary().FindItemsByState({lisQueued});
    if (!queued.isEmpty())
        StartInstallTask(queued.first()->PublicKey);
}

void TfMain::StartInstallTask(const QString& PublicKey) {
    FPreparingInstall = true;
    QPointer<TfMain> self = this;
    QThreadPool::globalInstance()->start([self, PublicKey] {
        std::shared_ptr<TAppManager> manager;
        try {
            manager = std::make_shared<TAppManager>(PublicKey);
            RetainManager(manager);
            manager->InstallWhenNotAvailable();
        } catch (...) {
            // The game stays queued; a later tick tries again.
            manager.reset();
        }
        QueueOnMainThread([self, manager] {
            if (!self)
                return;
            self->FPreparingInstall = false;
            if (manager)
                self->ShowInstallDialog(manager);
        });
    });
}

void TfMain::ShowInstallDialog(const std::shared_ptr<TAppManager>& Manager) {
    TAppLibraryItem* app = AppsLibrary().FindItemByKey(Manager->PublicKey());
    if (app == nullptr) {
        auto created = TAppLibraryItem::CreateByPublicKey(Manager->PublicKey());
        app = created.get();
        AppsLibrary().Add(std::move(created));
    }
    TComponentLibraryItem* component = nullptr;
    if (!Manager->Components().isEmpty()) {
        const QString key = Manager->Components().first();
        component = ComponentsLibrary().FindItemByKey(key);
        if (component == nullptr) {
            auto created = TComponentLibraryItem::CreateByPublicKey(key);
            component = created.get();
            ComponentsLibrary().Add(std::move(created));
        }
    }
    fAppInstall = new TfAppInstall(this, app, component);
    // "МОИ ИГРЫ" shows a game as soon as it is installed, so its links work at once.
    connect(fAppInstall, &TfAppInstall::Installed, this,
            [this](TAppLibraryItem* App) { FrameLibrary->AddAppFrame(App); });
    fAppInstall->show();
}

void TfMain::StartUpdateCheckTimer() {
    if (Core::UpdatesApps || Core::UpdatesComponents)
        StartOneShot(this, 1000, [this] { CheckForUpdates(); });
}

void TfMain::CheckForUpdates() {
    QPointer<TfMain> self = this;
    QThreadPool::globalInstance()->start([self] {
        // The checkers take the items from the main thread and ask the service from here.
        try {
            if (Core::UpdatesComponents)
                TComponentsUpdatesChecker().CheckUpdates(ComponentsLibrary());
            if (Core::UpdatesApps)
                TAppsUpdatesChecker().CheckUpdates(AppsLibrary());
        } catch (...) {
        }
        QueueOnMainThread([self] {
            if (self)
                self->ShowUpdatesPanel();
        });
    });
}

void TfMain::ShowUpdatesPanel() {
    const int count = UpdateTaskCount();
    if (count == 0)
        return;
    if (FUpdatesCaption.isEmpty())
        FUpdatesCaption = txtUpdates->text();
    txtUpdates->setText(QString(FUpdatesCaption).replace(QStringLiteral("%d"), QString::number(count)));
    for (QWidget* w : {static_cast<QWidget*>(txtUpdates), static_cast<QWidget*>(bShowUpdates)}) {
        QFont font = w->font();
        font.setBold(true);
        w->setFont(font);
    }
    panelUpdates->show();
}

void TfMain::bShowUpdatesClick() {
    panelUpdates->hide();
    (new TfUpdates(this))->show();
}

void TfMain::bCancelUpdatesClick() {
    panelUpdates->hide();
    ClearUpdateTasks();
}

void TfMain::CheckForCoreUpdate() {
    if (!Core::UpdatesCore)
        return;
    const QString path = TUpdateService::RunningExecutable();
    QPointer<TfMain> self = this;
    QThreadPool::globalInstance()->start([self, path] {
        bool updated = false;
        try {
            TUpdateService::PurgeTmpFiles(path);
            updated = TUpdateService().Update(path);
        } catch (...) {
            return; // the running version stays
        }
        if (!updated)
            return;
        QueueOnMainThread([self] {
            // Started by a link: the new version runs from the next start.
            if (self && self->UriCommand.isEmpty())
                self->RestartSelf();
        });
    });
}
