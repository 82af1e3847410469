#pragma once

#include <QFrame>
#include <QString>

#include <functional>

class QAction;
class QImage;
class QLabel;
class QMenu;
class QPushButton;
class QScrollArea;
class QThreadPool;
class QTimer;
class TAppLibraryItem;

// The windows a tile opens live elsewhere (scoreboards, game information, catalog page, login); the main
// window fills these in at start-up. A hook that is not set does nothing.
struct TFrameAppHooks {
    // Shows the scoreboard window for App modally, owned by Owner, and frees it.
    std::function<void(QWidget* Owner, TAppLibraryItem* App)> ShowScoreboards;
    // Shows the shared game information window for App (ShowEx).
    std::function<void(TAppLibraryItem* App)> ShowInfo;
    // Shows the shared catalog page window for App with the tile's cover (null when it has none).
    std::function<void(TAppLibraryItem* App, const QImage* Cover)> ShowCatalogPage;
    // Shows the login window modally; the catalog list asks for it once after a 401.
    std::function<void()> ShowLogin;
};
TFrameAppHooks& FrameAppHooks();

// The cover of a tile, drawn with an opacity of 0-255 over black, so lowering it dims the cover. A
// picture of about the tile's shape fills it, cut evenly; one of another shape (a wide banner) is shown
// whole, over a blurred and darkened copy of itself that fills the rest. Never stretched.
class TCoverImage : public QWidget {
public:
    explicit TCoverImage(QWidget* parent);
    // Picture is the provider's picture; Prepared is what PrepareCover made of it for this widget.
    void SetPicture(const QImage* Picture, const QImage& Prepared);
    const QImage* Picture() const { return FPicture; }
    // A picture that is there and not empty; without one a neutral placeholder is drawn.
    bool HasPicture() const;
    int Opacity() const { return FOpacity; }
    void SetOpacity(int Value);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const QImage* FPicture = nullptr; // owned by the image provider, lives for the run
    QImage FPrepared;                 // the cover at the widget's size in device pixels
    int FOpacity = 255;
};

// The cover as it is drawn on a tile of Size logical pixels at DevicePixelRatio. Scaling happens here, on
// the loading thread, so painting on the main thread is a plain copy.
QImage PrepareCover(const QImage& Picture, const QSize& Size, qreal DevicePixelRatio);

// The pool of the tiles' and lists' background work (covers, catalog pages, the catalog). It is not
// Qt's shared pool: that one also scales pictures for the main thread, which must never wait for a
// thread that waits for the main thread.
QThreadPool& TileWorkPool();

// One game in the library or catalog list: its cover, and on hover the buttons that fit its state.
class TFrameApp : public QFrame {
    Q_OBJECT
public:
    // LibItem must exist and stays owned by its list; PublicKey is its key.
    TFrameApp(QWidget* AOwner, TAppLibraryItem* LibItem, const QString& PublicKey);
    ~TFrameApp() override;

    // The key of the game shown, empty without an item.
    QString GetAppPublicKey() const;
    TAppLibraryItem* AppLibItem() const { return FAppLibItem; }
    bool MouseHover() const { return FMouseHover; }

    // Shows "Страница в Каталоге" on hover; the catalog list sets it.
    bool AllowCatalogPage = false;

    QWidget* panelBase = nullptr;
    TCoverImage* imgCover = nullptr;
    QLabel* txtTitle = nullptr;
    QLabel* txtReleaseNote = nullptr;
    QPushButton* bCatalog = nullptr;
    QPushButton* bScoreboards = nullptr;
    QPushButton* bInstall = nullptr;
    QPushButton* bLaunch = nullptr;
    QPushButton* bInfo = nullptr;
    QMenu* PopupMenu = nullptr;
    QAction* mnuRemoveLocal = nullptr;
    QAction* mnuSeparatorLocalVerify = nullptr;
    QAction* mnuVerifyLocal = nullptr;
    QTimer* timerFadeOut = nullptr;
    QTimer* timerOnLeave = nullptr; // exists from a mouse-leave until the next mouse-enter

    // The button actions. Other code (a web link) may call bLaunchClick and bInstallClick directly;
    // their errors reach the caller.
    void bLaunchClick();
    void bInstallClick();
    void bScoreboardsClick();
    void bInfoClick();
    void bCatalogClick();
    // Sets the menu items' enabled state just before the menu opens.
    void PopupMenuPopup();
    void mnuRemoveLocalClick();
    void mnuVerifyLocalClick();

    void FrameMouseEnter();
    void FrameMouseLeave();
    void SetMouseHover(bool Value);
    void UpdateButtons();
    void UpdateReleaseNote();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void SetAppLibItem(TAppLibraryItem* Item);
    void AppStateChange(void* Sender);
    void RequestCatalogPage(const QString& PublicKey);
    void LoadCover();
    void StartLeaveTimer();
    void StopLeaveTimer();
    void timerOnLeaveTimer();
    void timerFadeInTimer();
    void timerFadeOutTimer();

    TAppLibraryItem* FAppLibItem = nullptr;
    bool FMouseHover = false;
    bool FFadingIn = false; // which of the two steps timerFadeOut runs
};

// Makes Frame a list of tiles: no frame, vertical scrolling only, an empty content widget.
void SetUpTileList(QScrollArea* Frame, const QString& Name);

// The tile grid of a list: cells of the first tile's size plus 6 pixels, as many columns as fit the
// visible width (at least one), tiles in child order from left to right, then top to bottom.
void ArrangeTiles(QScrollArea* Frame);
// One scroll-bar step up for a positive delta, down otherwise, when the list can scroll; Handled is set
// only then.
void ScrollByWheel(QScrollArea* Frame, int WheelDelta, bool& Handled);
// The tiles of a list in child order.
QList<TFrameApp*> ListTiles(QScrollArea* Frame);
// The first tile of the list whose key equals PublicKey exactly, or null.
TFrameApp* FindTile(QScrollArea* Frame, const QString& PublicKey);
// Prefix + the key with "-" made "_", made unique among the list's tiles with a number when needed.
QString TileName(QScrollArea* Frame, const QString& Prefix, const QString& PublicKey);
