#pragma once

#include <QScrollArea>

class QLabel;
class TAppLibraryItem;
class TFrameApp;

// The "МОИ ИГРЫ" page: one tile per installed game of the library, built once at creation.
class TFrameLibrary : public QScrollArea {
    Q_OBJECT
public:
    explicit TFrameLibrary(QWidget* AOwner);

    // The first tile whose key equals PublicKey exactly, or null.
    TFrameApp* FindAppFrame(const QString& PublicKey) const;
    // Adds a tile for a game installed while the launcher runs, unless it has one.
    TFrameApp* AddAppFrame(TAppLibraryItem* Item);
    // A wheel step from the main window; Handled becomes true when the list scrolled.
    void OnMouseScroll(int WheelDelta, bool& Handled);
    void FrameResize();

    // Made only when the library has no installed game.
    QLabel* txtNoGames = nullptr;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void LoadTiles();
};
