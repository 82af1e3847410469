#pragma once

#include <QMainWindow>
#include <QPointer>

#include <memory>
#include <vector>

class QLabel;
class QMenu;
class QAction;
class QPushButton;
class QSystemTrayIcon;
class QTabWidget;
class QTimer;
class QToolButton;
class QWidget;
class QFrame;
class TAppManager;
class TFrameCatalog;
class TFrameLibrary;
class TfAppInstall;
class TAboutForm;
class TAppLibraryItem;

// The launcher's main window: the library and catalog pages, the user and help menus, the coins and
// the updates bar, and the background work behind them. Closing it ends the run.
class TfMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TfMain(QWidget* parent = nullptr);
    ~TfMain() override;

    // Runs a link command ("run/<key>"); anything else is ignored.
    void ExecuteUriCommand(const QString& RawParams);
    void SetLoggedIn(bool Value);
    void ShowLoginForm();
    // Refreshes the user's name and coins. On the main thread the request runs right here; from a
    // worker only the window steps go to the main thread.
    void timerRefreshTimer();
    // Ends this instance and starts a new one.
    void RestartSelf();

    void ProcessInstallQueue();
    void StartInstallTask(const QString& PublicKey);
    void ShowInstallDialog(const std::shared_ptr<TAppManager>& Manager);
    void StartUpdateCheckTimer();
    void CheckForUpdates();
    void ShowUpdatesPanel();
    void CheckForCoreUpdate();

    bool LoggedIn() const { return FLoggedIn; }

    QTabWidget* PageControl = nullptr;
    QWidget* tabLibrary = nullptr;
    QWidget* tabCatalog = nullptr;
    QToolButton* bUser = nullptr;
    QMenu* popupUser = nullptr;
    QAction* mnuProfile = nullptr;
    QAction* mnuAfterProfileSeparator = nullptr;
    QAction* mnuLogout = nullptr;
    QToolButton* bHelp = nullptr;
    QMenu* popupHelp = nullptr;
    QAction* mnuSettings = nullptr;
    QAction* mnuFolderSettings = nullptr;
    QAction* N1 = nullptr;
    QAction* mnuAbout = nullptr;
    QFrame* panelCoins = nullptr;
    QLabel* txtCoins = nullptr;
    QLabel* imageCoins = nullptr;
    QFrame* panelUpdates = nullptr;
    QLabel* txtUpdates = nullptr;
    QPushButton* bShowUpdates = nullptr;
    QPushButton* bCancelUpdates = nullptr;
    QTimer* timerQueue = nullptr;
    QTimer* timerRefresh = nullptr;
    QSystemTrayIcon* TrayIcon = nullptr;

    TFrameLibrary* FrameLibrary = nullptr;
    QPointer<TfAppInstall> fAppInstall;
    TFrameCatalog* FrameCatalog = nullptr;
    QString UriCommand;

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    void OnUserChange();
    void PageControlChanging();
    bool FormMouseWheel(int WheelDelta);
    void PopupButtonDropDownMenu(QToolButton* Sender);
    void mnuSettingsClick();
    void mnuFolderSettingsClick();
    void mnuAboutClick();
    void mnuLogoutClick();
    void panelCoinsClick();
    void bShowUpdatesClick();
    void bCancelUpdatesClick();
    void ApplyProfile(const QString& Name, qint64 Coins);
    void RestartRefreshTimer();

    // Items of games a link asked for that are in no list yet; their hidden tiles show them.
    std::vector<std::unique_ptr<TAppLibraryItem>> FLinkItems;
    bool FLoggedIn = false;
    QString FUpdatesCaption;
    QPointer<TAboutForm> FAbout;
    // A game being prepared in the background is not prepared again by the next queue tick.
    bool FPreparingInstall = false;
};

// The main window of the run, null before it is made and after it is gone.
TfMain* MainWindow();
