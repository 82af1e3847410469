#include "Forms/uFrameLibrary.h"

#include "Forms/uFrameApp.h"
#include "Service/AppsLibrary.h"

#include <QLabel>
#include <QResizeEvent>
#include <QScrollBar>
#include <QWheelEvent>

TFrameLibrary::TFrameLibrary(QWidget* AOwner) : QScrollArea(AOwner) {
    SetUpTileList(this, QStringLiteral("FrameLibrary"));
    LoadTiles();
}

void TFrameLibrary::LoadTiles() {
    const QList<TAppLibraryItem*> items = AppsLibrary().FindAll();
    for (TAppLibraryItem* item : items) {
        if (item->State() != lisInstalled)
            continue;
        auto* tile = new TFrameApp(widget(), item, item->PublicKey);
        tile->setObjectName(TileName(this, tile->objectName() + QStringLiteral("Library"), item->PublicKey));
        tile->show();
    }
    if (widget()->children().isEmpty()) {
        // The carriage returns of the text are line breaks; a label breaks lines at "\n".
        txtNoGames = new QLabel(QStringLiteral("У вас пока нет игр \r\rПерейдите в КАТАЛОГ, чтобы установить игры")
                                    .replace(u'\r', u'\n'),
                                widget());
        txtNoGames->setObjectName(QStringLiteral("txtNoGames"));
        txtNoGames->setAlignment(Qt::AlignCenter);
        txtNoGames->setWordWrap(true);
    }
    FrameResize();
}

TFrameApp* TFrameLibrary::AddAppFrame(TAppLibraryItem* Item) {
    if (TFrameApp* existing = FindAppFrame(Item->PublicKey))
        return existing;
    if (txtNoGames) {
        delete txtNoGames;
        txtNoGames = nullptr;
    }
    auto* tile = new TFrameApp(widget(), Item, Item->PublicKey);
    tile->setObjectName(TileName(this, tile->objectName() + QStringLiteral("Library"), Item->PublicKey));
    tile->show();
    FrameResize();
    return tile;
}

TFrameApp* TFrameLibrary::FindAppFrame(const QString& PublicKey) const {
    return FindTile(const_cast<TFrameLibrary*>(this), PublicKey);
}

void TFrameLibrary::OnMouseScroll(int WheelDelta, bool& Handled) { ScrollByWheel(this, WheelDelta, Handled); }

void TFrameLibrary::FrameResize() {
    if (txtNoGames) {
        widget()->resize(viewport()->size());
        txtNoGames->setGeometry(widget()->rect());
        return;
    }
    ArrangeTiles(this);
}

void TFrameLibrary::resizeEvent(QResizeEvent* event) {
    QScrollArea::resizeEvent(event);
    FrameResize();
}

void TFrameLibrary::wheelEvent(QWheelEvent* event) {
    bool handled = false;
    OnMouseScroll(event->angleDelta().y(), handled);
    event->setAccepted(handled);
}
