#include "Forms/uFrameApp.h"

#include "App/Exceptions.h"
#include "App/MainThread.h"
#include "App/Paths.h"
#include "App/Settings.h"
#include "Forms/Debug.h"
#include "Forms/MsgBoxes.h"
#include "Platform/DirMove.h"
#include "Service/AppLauncher.h"
#include "Service/AppsLibrary.h"
#include "Service/AppsLibrary/AppConfig.h"
#include "Service/CatalogPageProvider.h"
#include "Service/EventReporter.h"
#include "Service/ImageProviders.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QThreadPool>
#include <QTimer>

namespace {

constexpr int TileWidth = 320;
constexpr int TileHeight = 430;
constexpr int DimmedOpacity = 50;
constexpr int FullOpacity = 255;
constexpr int FadeStep = 50;

const char* const StateChangeTag = "TFrameApp::AppStateChange";

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text, const QRect& place) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(place);
    b->setVisible(false);
    b->setCursor(Qt::PointingHandCursor);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

void SetFont(QWidget* w, int pointSize, bool bold) {
    QFont f = w->font();
    f.setPointSize(pointSize);
    f.setBold(bold);
    w->setFont(f);
}

// Deleting a game's files must never reach beyond the game: an empty name, the file-system root, the home
// folder and every folder that holds one of the launcher's own folders are refused, and a game folder
// that is a symbolic link loses only the link.
void RemoveGameFolder(const QString& Path) {
    const QString clean = QDir::cleanPath(QFileInfo(Path).absoluteFilePath());
    bool refused = Path.trimmed().isEmpty() || clean == QStringLiteral("/") ||
                   clean == QDir::cleanPath(QDir::homePath());
    for (const QString& own : {Lib::GetPath(), Lib::DefaultLibraryPath, LocalUserDataPath(), RoamingUserDataPath(),
                               ComponentsPath(), MetaPath()})
        refused = refused || (!own.isEmpty() && IsSameOrInsideFolder(own, clean));
    if (refused)
        throw EInOutError(QStringLiteral("Refused to delete the folder \"%1\"").arg(Path));
    const QFileInfo info(clean);
    if (info.isSymLink()) {
        if (!QFile::remove(clean))
            throw EInOutError(QStringLiteral("Can't delete \"%1\"").arg(clean));
        return;
    }
    if (!info.exists())
        return;
    if (!QDir(clean).removeRecursively())
        throw EInOutError(QStringLiteral("Can't delete the folder \"%1\"").arg(clean));
}

} // namespace

TFrameAppHooks& FrameAppHooks() {
    static TFrameAppHooks hooks;
    return hooks;
}

// ---- TCoverImage --------------------------------------------------------------------------------------

QThreadPool& TileWorkPool() {
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setObjectName(QStringLiteral("TileWorkPool"));
        p->setMaxThreadCount(4);
        return p;
    }();
    return *pool;
}

namespace {

// Shapes closer than this to the tile's are cut to fill it; others are shown whole.
constexpr qreal FillShapeTolerance = 0.15;

// The part of Source that covers Target's shape, centred.
QRectF CoverCut(const QSizeF& Source, const QSizeF& Target) {
    const qreal scale = qMax(Target.width() / Source.width(), Target.height() / Source.height());
    const QSizeF shown(Target.width() / scale, Target.height() / scale);
    return {(Source.width() - shown.width()) / 2, (Source.height() - shown.height()) / 2, shown.width(),
            shown.height()};
}

} // namespace

QImage PrepareCover(const QImage& Picture, const QSize& Size, qreal DevicePixelRatio) {
    const QSize device = (QSizeF(Size) * DevicePixelRatio).toSize();
    if (Picture.isNull() || device.isEmpty())
        return {};
    QImage result(device, QImage::Format_ARGB32_Premultiplied);
    result.fill(Qt::black);
    QPainter p(&result);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QSizeF source = Picture.size();
    const qreal pictureShape = source.width() / source.height();
    const qreal tileShape = qreal(device.width()) / device.height();
    if (qAbs(pictureShape / tileShape - 1) <= FillShapeTolerance) {
        p.drawImage(QRectF(result.rect()), Picture, CoverCut(source, device));
    } else {
        // Shrunk to a few pixels and drawn large again, the picture turns into a soft blur of its colours.
        const QImage blur = Picture.copy(CoverCut(source, device).toRect())
                                .scaled(16, qMax(1, 16 * device.height() / device.width()), Qt::IgnoreAspectRatio,
                                        Qt::SmoothTransformation);
        p.drawImage(QRectF(result.rect()), blur);
        p.fillRect(result.rect(), QColor(0, 0, 0, 110));
        const qreal scale = qMin(device.width() / source.width(), device.height() / source.height());
        const QSizeF shown = source * scale;
        p.drawImage(QRectF(QPointF((device.width() - shown.width()) / 2, (device.height() - shown.height()) / 2), shown),
                    Picture);
    }
    p.end();
    result.setDevicePixelRatio(DevicePixelRatio);
    return result;
}

TCoverImage::TCoverImage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("imgCover"));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TCoverImage::SetPicture(const QImage* Picture, const QImage& Prepared) {
    FPicture = Picture;
    FPrepared = Prepared;
    update();
}

bool TCoverImage::HasPicture() const { return FPicture != nullptr && FPicture->height() > 0; }

void TCoverImage::SetOpacity(int Value) {
    Value = qBound(0, Value, 255);
    if (Value == FOpacity)
        return;
    FOpacity = Value;
    update();
}

void TCoverImage::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    p.setOpacity(FOpacity / 255.0);
    const qreal ratio = devicePixelRatioF();
    if (HasPicture()) {
        // Made for another size or screen (a tile moved to another monitor): made again, once.
        if (FPrepared.size() != (QSizeF(size()) * ratio).toSize() || FPrepared.devicePixelRatio() != ratio)
            FPrepared = PrepareCover(*FPicture, size(), ratio);
        p.drawImage(QPointF(0, 0), FPrepared);
        return;
    }
    static QImage placeholder;
    if (placeholder.size() != (QSizeF(size()) * ratio).toSize() || placeholder.devicePixelRatio() != ratio)
        placeholder = PrepareCover(QImage(QStringLiteral(":/images/cover-placeholder.png")), size(), ratio);
    if (!placeholder.isNull())
        p.drawImage(QPointF(0, 0), placeholder);
}

// ---- TFrameApp ----------------------------------------------------------------------------------------

TFrameApp::TFrameApp(QWidget* AOwner, TAppLibraryItem* LibItem, const QString& PublicKey) : QFrame(AOwner) {
    Assert(LibItem != nullptr, QStringLiteral("A tile needs a game"), QStringLiteral("uFrameApp"));
    setObjectName(QStringLiteral("FrameApp"));
    resize(TileWidth, TileHeight);

    panelBase = new QWidget(this);
    panelBase->setObjectName(QStringLiteral("panelBase"));
    panelBase->setGeometry(0, 0, TileWidth, TileHeight);

    imgCover = new TCoverImage(panelBase);
    imgCover->setGeometry(0, 0, TileWidth, TileHeight);

    txtTitle = new QLabel(panelBase);
    txtTitle->setObjectName(QStringLiteral("txtTitle"));
    txtTitle->setGeometry(3, 3, 315, 85);
    txtTitle->setAlignment(Qt::AlignCenter);
    txtTitle->setWordWrap(true);
    txtTitle->setVisible(false);

    txtReleaseNote = new QLabel(QStringLiteral("..."), panelBase);
    txtReleaseNote->setObjectName(QStringLiteral("txtReleaseNote"));
    txtReleaseNote->setGeometry(0, 232, 320, 25);
    txtReleaseNote->setAlignment(Qt::AlignCenter);
    txtReleaseNote->setVisible(false);

    bCatalog = MakeButton(panelBase, "bCatalog", QStringLiteral("Страница в Каталоге"), {85, 104, 150, 50});
    bCatalog->setToolTip(QStringLiteral("Открыть страницу в Каталоге Игр"));
    bScoreboards = MakeButton(panelBase, "bScoreboards", QStringLiteral("Таблица очков"), {85, 160, 150, 50});
    bInstall = MakeButton(panelBase, "bInstall", QStringLiteral("Установить"), {85, 278, 150, 50});
    bInstall->setToolTip(QStringLiteral("Установить игру на компьютер"));
    bLaunch = MakeButton(panelBase, "bLaunch", QStringLiteral("Запустить"), {85, 278, 150, 50});
    bInfo = MakeButton(panelBase, "bInfo", QStringLiteral("Информация"), {85, 334, 150, 50});
    bInfo->setToolTip(QStringLiteral("Открыть дополнительную информацию"));

    connect(bCatalog, &QPushButton::clicked, this, UserAction(bCatalog, [this] { bCatalogClick(); }));
    connect(bScoreboards, &QPushButton::clicked, this, UserAction(bScoreboards, [this] { bScoreboardsClick(); }));
    connect(bInstall, &QPushButton::clicked, this, UserAction(bInstall, [this] { bInstallClick(); }));
    connect(bLaunch, &QPushButton::clicked, this, UserAction(bLaunch, [this] { bLaunchClick(); }));
    connect(bInfo, &QPushButton::clicked, this, UserAction(bInfo, [this] { bInfoClick(); }));

    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName(QStringLiteral("PopupMenu"));
    mnuRemoveLocal = PopupMenu->addAction(QStringLiteral("Удалить локальные файлы..."));
    mnuRemoveLocal->setObjectName(QStringLiteral("mnuRemoveLocal"));
    mnuSeparatorLocalVerify = PopupMenu->addSeparator();
    mnuSeparatorLocalVerify->setObjectName(QStringLiteral("mnuSeparatorLocalVerify"));
    mnuVerifyLocal = PopupMenu->addAction(QStringLiteral("Проверить локальные файлы"));
    mnuVerifyLocal->setObjectName(QStringLiteral("mnuVerifyLocal"));
    connect(mnuRemoveLocal, &QAction::triggered, this, UserAction(this, [this] { mnuRemoveLocalClick(); }));
    connect(mnuVerifyLocal, &QAction::triggered, this, UserAction(this, [this] { mnuVerifyLocalClick(); }));

    // Construction, in the launcher's order.
    timerFadeOut = new QTimer(this);
    timerFadeOut->setObjectName(QStringLiteral("timerFadeOut"));
    connect(timerFadeOut, &QTimer::timeout, this, [this] { FFadingIn ? timerFadeInTimer() : timerFadeOutTimer(); });
    setMinimumSize(size());
    SetAppLibItem(LibItem);
    txtTitle->setText(LibItem->Name);
    if (LibItem->Locked) {
        if (LibItem->CatalogPage())
            UpdateReleaseNote();
        else
            RequestCatalogPage(PublicKey);
    }
    SetFont(txtTitle, 14, true);
    if (LibItem->Locked)
        SetFont(txtReleaseNote, 10, false);
    SetFont(bLaunch, 12, true);
    SetFont(bInstall, 12, true);
    SetFont(bInfo, 12, false);
    for (QObject* child : panelBase->children())
        if (child->isWidgetType())
            child->installEventFilter(this);
    LoadCover();
}

TFrameApp::~TFrameApp() { SetAppLibItem(nullptr); }

QString TFrameApp::GetAppPublicKey() const { return FAppLibItem ? FAppLibItem->PublicKey : QString(); }

void TFrameApp::SetAppLibItem(TAppLibraryItem* Item) {
    const TNotifyEvent handler{this, StateChangeTag, [this](void* Sender) { AppStateChange(Sender); }};
    if (FAppLibItem)
        FAppLibItem->UnsubscribeOnStateChange(handler);
    FAppLibItem = Item;
    if (FAppLibItem)
        FAppLibItem->SubscribeOnStateChange(handler);
}

void TFrameApp::AppStateChange(void* Sender) {
    // The buttons follow the state at the next hover; nothing is repainted now.
    if (Sender != FAppLibItem)
        return;
}

void TFrameApp::RequestCatalogPage(const QString& PublicKey) {
    QPointer<TFrameApp> self(this);
    TileWorkPool().start([self, PublicKey] {
        std::unique_ptr<TAppCatalogPage> page;
        try {
            page = TCatalogPageProvider().GetCatalogPage(PublicKey);
        } catch (...) {
            return; // the note stays "..."
        }
        if (!page)
            return;
        QueueOnMainThread([self, PublicKey, page = std::shared_ptr<TAppCatalogPage>(std::move(page))]() mutable {
            TAppLibraryItem* target = nullptr;
            try {
                target = AppsLibrary().FindItemByKey(PublicKey);
            } catch (const Exception&) {
                // No library loaded: the tile's own item takes the page.
            }
            if (!target && self)
                target = self->FAppLibItem;
            if (target && !target->isCatalogPageLoaded())
                target->SetCatalogPage(std::make_unique<TAppCatalogPage>(*page));
            if (self)
                self->UpdateReleaseNote();
        });
    });
}

void TFrameApp::LoadCover() {
    const QString resource = FAppLibItem ? FAppLibItem->GetCoverResource() : QString();
    const QSize size = imgCover->size();
    const qreal ratio = qApp->devicePixelRatio();
    QPointer<TFrameApp> self(this);
    TileWorkPool().start([self, resource, size, ratio] {
        const QImage* picture = nullptr;
        QImage prepared;
        try {
            picture = GetPicture(resource);
            if (picture && !picture->isNull())
                prepared = PrepareCover(*picture, size, ratio);
        } catch (...) {
            // No cover: the title stands in for it.
        }
        QueueOnMainThread([self, picture, prepared] {
            if (!self)
                return;
            if (picture && !picture->isNull())
                self->imgCover->SetPicture(picture, prepared);
            else
                self->txtTitle->setVisible(true);
        });
    });
}

void TFrameApp::UpdateReleaseNote() {
    if (!FAppLibItem || !FAppLibItem->CatalogPage())
        return;
    const QDateTime published = FAppLibItem->CatalogPage()->PublishedAt;
    txtReleaseNote->setText(QStringLiteral("Игра будет доступна ") +
                            QLocale().toString(published.date(), QLocale::ShortFormat));
}

// ---- hover --------------------------------------------------------------------------------------------

bool TFrameApp::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Enter)
        FrameMouseEnter();
    else if (event->type() == QEvent::Leave)
        FrameMouseLeave();
    return QFrame::eventFilter(watched, event);
}

void TFrameApp::FrameMouseEnter() {
    StopLeaveTimer();
    SetMouseHover(true);
}

void TFrameApp::FrameMouseLeave() { StartLeaveTimer(); }

void TFrameApp::StartLeaveTimer() {
    if (timerOnLeave)
        return;
    timerOnLeave = new QTimer(this);
    timerOnLeave->setObjectName(QStringLiteral("timerOnLeave"));
    timerOnLeave->setInterval(150);
    connect(timerOnLeave, &QTimer::timeout, this, &TFrameApp::timerOnLeaveTimer);
    timerOnLeave->start();
}

void TFrameApp::StopLeaveTimer() {
    if (!timerOnLeave)
        return;
    timerOnLeave->stop();
    delete timerOnLeave;
    timerOnLeave = nullptr;
}

// Keeps ticking until the next mouse-enter frees it; later ticks change nothing.
void TFrameApp::timerOnLeaveTimer() { SetMouseHover(false); }

void TFrameApp::SetMouseHover(bool Value) {
    if (Value == FMouseHover)
        return;
    FMouseHover = Value;
    if (Value) {
        txtTitle->setVisible(true);
        UpdateButtons();
        timerFadeOut->setInterval(10);
        FFadingIn = true;
    } else {
        txtTitle->setVisible(!imgCover->HasPicture());
        for (QWidget* w : {static_cast<QWidget*>(bLaunch), static_cast<QWidget*>(bInstall),
                           static_cast<QWidget*>(bCatalog), static_cast<QWidget*>(bInfo),
                           static_cast<QWidget*>(bScoreboards), static_cast<QWidget*>(txtReleaseNote)})
            w->setVisible(false);
        timerFadeOut->setInterval(20);
        FFadingIn = false;
    }
    timerFadeOut->start();
}

void TFrameApp::timerFadeInTimer() {
    const int opacity = imgCover->Opacity() - FadeStep;
    if (opacity < DimmedOpacity) {
        timerFadeOut->stop();
        imgCover->SetOpacity(DimmedOpacity);
        return;
    }
    imgCover->SetOpacity(opacity);
}

void TFrameApp::timerFadeOutTimer() {
    const int opacity = imgCover->Opacity() + FadeStep;
    if (opacity > FullOpacity) {
        timerFadeOut->stop();
        imgCover->SetOpacity(FullOpacity);
        return;
    }
    imgCover->SetOpacity(opacity);
}

void TFrameApp::UpdateButtons() {
    TAppLibraryItem* item = FAppLibItem;
    if (!item)
        return;
    TAppConfig* config = item->AppConfig();
    bInstall->setEnabled(!item->isQueued());
    bLaunch->setVisible(item->isIntalled());
    bInstall->setVisible(!bLaunch->isVisibleTo(panelBase) && !item->Locked);
    bCatalog->setVisible(AllowCatalogPage);
    txtReleaseNote->setVisible(item->Locked);
    bScoreboards->setVisible(config && config->hasScoreboards() && !item->Locked);
    bInfo->setVisible(item->isIntalled() && config && config->isInfoUrlAvailable());
}

// ---- buttons ------------------------------------------------------------------------------------------

void TFrameApp::bLaunchClick() {
    bLaunch->setEnabled(false);
    struct TEnableAgain {
        QPointer<QPushButton> Button;
        ~TEnableAgain() {
            if (Button)
                Button->setEnabled(true);
        }
    } enableAgain{bLaunch};

    TAppLibraryItem* item = FAppLibItem;
    if (!item)
        return;
    if (item->isRecommedInfoNeeded() &&
        AskConfirmation(QStringLiteral("Это первый запуск.\rРекомендуется ознакомиться с информацией.\r\r"
                                       "Открыть важную информацию об игре?"))) {
        bInfoClick();
        if (TAppConfig* config = item->AppConfig())
            config->SaveLastPlayedTime();
        return;
    }
    ReportLaunch(item->PublicKey);
    LaunchApp(item);
}

void TFrameApp::bInstallClick() {
    bInstall->setEnabled(false);
    const QString key = GetAppPublicKey();
    ReportInstallRequest(key);
    TAppsLibrary& library = AppsLibrary();
    TAppLibraryItem* item = library.FindItemByKey(key);
    if (!item) {
        // The game's details come from the service; a slow one must not freeze the window.
        std::unique_ptr<TAppLibraryItem> created;
        try {
            RunWhileResponsive(nullptr, [&] { created = TAppLibraryItem::CreateByPublicKey(key); });
        } catch (...) {
            bInstall->setEnabled(true);
            throw;
        }
        // A link may have brought the same game in while we waited.
        item = library.FindItemByKey(key);
        if (!item)
            item = library.Items(library.Add(std::move(created)));
    }
    if (item->State() != lisInstalled)
        item->SetState(lisQueued);
    if (item->Path.isEmpty())
        item->Path = Lib::GetAppDir(key);
    SetAppLibItem(item);
    library.SaveToFile();
}

void TFrameApp::bScoreboardsClick() {
    if (FAppLibItem && FrameAppHooks().ShowScoreboards)
        FrameAppHooks().ShowScoreboards(this, FAppLibItem);
}

void TFrameApp::bInfoClick() {
    if (FAppLibItem && FrameAppHooks().ShowInfo)
        FrameAppHooks().ShowInfo(FAppLibItem);
}

void TFrameApp::bCatalogClick() {
    if (FAppLibItem && FrameAppHooks().ShowCatalogPage)
        FrameAppHooks().ShowCatalogPage(FAppLibItem, imgCover->HasPicture() ? imgCover->Picture() : nullptr);
}

// ---- pop-up menu --------------------------------------------------------------------------------------

void TFrameApp::contextMenuEvent(QContextMenuEvent* event) {
    PopupMenuPopup();
    PopupMenu->popup(event->globalPos());
    event->accept();
}

void TFrameApp::PopupMenuPopup() {
    const bool installed = FAppLibItem && FAppLibItem->isIntalled();
    mnuRemoveLocal->setEnabled(installed);
    mnuVerifyLocal->setEnabled(installed);
}

void TFrameApp::mnuRemoveLocalClick() {
    TAppLibraryItem* item = FAppLibItem;
    if (!item || !item->isIntalled())
        return;
    item->SetState(lisNone);
    AppsLibrary().SaveToFile();
    RemoveGameFolder(item->Path);
}

void TFrameApp::mnuVerifyLocalClick() {
    TAppLibraryItem* item = FAppLibItem;
    if (!item || !item->isIntalled())
        return;
    item->SetState(lisQueued);
    AppsLibrary().SaveToFile();
}

// ---- lists --------------------------------------------------------------------------------------------

QList<TFrameApp*> ListTiles(QScrollArea* Frame) {
    QList<TFrameApp*> tiles;
    if (!Frame || !Frame->widget())
        return tiles;
    for (QObject* child : Frame->widget()->children())
        if (auto* tile = qobject_cast<TFrameApp*>(child))
            tiles.append(tile);
    return tiles;
}

TFrameApp* FindTile(QScrollArea* Frame, const QString& PublicKey) {
    for (TFrameApp* tile : ListTiles(Frame))
        if (tile->GetAppPublicKey() == PublicKey)
            return tile;
    return nullptr;
}

QString TileName(QScrollArea* Frame, const QString& Prefix, const QString& PublicKey) {
    QString key = PublicKey;
    const QString base = Prefix + key.replace(u'-', u'_');
    QSet<QString> taken;
    for (TFrameApp* tile : ListTiles(Frame))
        taken.insert(tile->objectName());
    QString name = base;
    // Keys that differ only by "-" against "_" would share a name.
    for (int n = 2; taken.contains(name); ++n)
        name = base + QStringLiteral("_%1").arg(n);
    return name;
}

void SetUpTileList(QScrollArea* Frame, const QString& Name) {
    Frame->setObjectName(Name);
    Frame->setFrameShape(QFrame::NoFrame);
    Frame->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Frame->setWidgetResizable(false);
    Frame->verticalScrollBar()->setSingleStep(60);
    Frame->resize(451, 304);
    auto* content = new QWidget;
    content->setObjectName(Name + QStringLiteral("Content"));
    Frame->setWidget(content);
}

void ArrangeTiles(QScrollArea* Frame) {
    const QList<TFrameApp*> tiles = ListTiles(Frame);
    if (tiles.isEmpty())
        return;
    const int cellWidth = tiles.first()->width() + 6;
    const int cellHeight = tiles.first()->height() + 6;
    const int clientWidth = Frame->viewport()->width();
    const int columns = qMax(1, clientWidth / cellWidth);
    for (int i = 0; i < tiles.size(); ++i)
        tiles[i]->move((i % columns) * cellWidth, (i / columns) * cellHeight);
    const int rows = (int(tiles.size()) + columns - 1) / columns;
    Frame->widget()->resize(qMax(clientWidth, columns * cellWidth), rows * cellHeight);
}

void ScrollByWheel(QScrollArea* Frame, int WheelDelta, bool& Handled) {
    QScrollBar* bar = Frame->verticalScrollBar();
    if (Frame->verticalScrollBarPolicy() == Qt::ScrollBarAlwaysOff || bar->maximum() <= bar->minimum())
        return;
    bar->setValue(bar->value() + (WheelDelta > 0 ? -bar->singleStep() : bar->singleStep()));
    Handled = true;
}
