#include "Forms/uFrameCatalog.h"

#include "App/HttpExceptions.h"
#include "App/MainThread.h"
#include "App/Paths.h"
#include "App/User.h"
#include "Forms/uFrameApp.h"
#include "Lib/Json.h"
#include "Service/AppsLibrary.h"
#include "Service/FileDownloader.h"

#include <QPointer>
#include <QScrollBar>
#include <QThreadPool>
#include <QWheelEvent>

namespace {

void DownloadCatalogFile(const QString& FileName) {
    TFileDownloader downloader;
    downloader.EnableJsonApiGet();
    downloader.DownloadFile(CatalogUrl(), FileName);
}

} // namespace

std::unique_ptr<TAppsLibrary> DownloadCatalog() {
    const QString fileName = MetaPath() + QStringLiteral("catalog.json");
    try {
        DownloadCatalogFile(fileName);
    } catch (const EDownloadException& e) {
        if (e.StatusCode != 401)
            throw;
        RunOnMainThread([] {
            CurrentUser().ResetToken();
            if (FrameAppHooks().ShowLogin)
                FrameAppHooks().ShowLogin();
        });
        DownloadCatalogFile(fileName);
    }
    const TJsonValue doc = ParseJson(ReadUtf8TextFile(fileName));
    return TJsonLibraryItemsListConverter::CreateListFromJson(SafeJsonData(doc, jvObject).MemberCopy(QStringLiteral("data")));
}

TFrameCatalog::TFrameCatalog(QWidget* AOwner) : QScrollArea(AOwner) {
    SetUpTileList(this, QStringLiteral("FrameCatalog"));
    LoadLibrary();
}

TFrameCatalog::~TFrameCatalog() {
    // Tiles refer to the catalog's items: they go first.
    qDeleteAll(ListTiles(this));
    Apps.reset();
}

void TFrameCatalog::LoadLibrary() {
    QPointer<TFrameCatalog> self(this);
    TileWorkPool().start([self] {
        std::unique_ptr<TAppsLibrary> apps;
        try {
            apps = DownloadCatalog();
        } catch (...) {
            // The page stays empty until the next start.
        }
        int count = 0;
        RunOnMainThread([&] {
            if (!self)
                return;
            self->Apps = std::move(apps);
            count = self->Apps ? self->Apps->Count() : 0;
        });
        // One hand-over per tile, so the page fills while the rest is made.
        for (int i = 0; i < count; ++i)
            RunOnMainThread([&] {
                if (self)
                    self->AddTile(i);
            });
        RunOnMainThread([&] {
            if (!self)
                return;
            self->FLoaded = true;
            self->FrameResize();
        });
    });
}

void TFrameCatalog::AddTile(int Index) {
    if (!Apps || Index >= Apps->Count())
        return;
    TAppLibraryItem* item = Apps->Items(Index);
    TAppLibraryItem* shown = item;
    try {
        if (TAppLibraryItem* local = AppsLibrary().FindItemByKey(item->PublicKey)) {
            local->UpdateFrom(*item);
            shown = local;
        }
    } catch (const Exception&) {
        // No local library: the catalog's own item is shown.
    }
    auto* tile = new TFrameApp(widget(), shown, item->PublicKey);
    tile->setObjectName(TileName(this, QStringLiteral("FrameAppCatalog"), item->PublicKey));
    tile->AllowCatalogPage = true;
    tile->show();
    // Each new tile takes its cell at once instead of piling up in the corner until the end.
    ArrangeTiles(this);
}

TFrameApp* TFrameCatalog::FindAppFrame(const QString& PublicKey) const {
    return FindTile(const_cast<TFrameCatalog*>(this), PublicKey);
}

void TFrameCatalog::OnMouseScroll(int WheelDelta, bool& Handled) { ScrollByWheel(this, WheelDelta, Handled); }

void TFrameCatalog::FrameResize() { ArrangeTiles(this); }

void TFrameCatalog::resizeEvent(QResizeEvent* event) {
    QScrollArea::resizeEvent(event);
    FrameResize();
}

void TFrameCatalog::wheelEvent(QWheelEvent* event) {
    bool handled = false;
    OnMouseScroll(event->angleDelta().y(), handled);
    event->setAccepted(handled);
}
