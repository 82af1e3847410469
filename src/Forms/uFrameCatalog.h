#pragma once

#include <QScrollArea>

#include <memory>

class TAppsLibrary;
class TFrameApp;

// The "КАТАЛОГ" page: the games the service offers, downloaded in the background when the page is
// made. A game that is in the local library is shown by its library item, so its buttons follow the
// local state.
class TFrameCatalog : public QScrollArea {
    Q_OBJECT
public:
    explicit TFrameCatalog(QWidget* AOwner);
    ~TFrameCatalog() override;

    TFrameApp* FindAppFrame(const QString& PublicKey) const;
    void OnMouseScroll(int WheelDelta, bool& Handled);
    void FrameResize();
    // True once the background load has ended, with or without a catalog.
    bool Loaded() const { return FLoaded; }

    // The catalog's games, owned by the frame; null until the download has been read.
    std::unique_ptr<TAppsLibrary> Apps;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void LoadLibrary();
    void AddTile(int Index);

    bool FLoaded = false;
};

// Downloads the catalog into "catalog.json" in the metadata folder and reads its games. A 401 resets
// the token, shows the login window on the main thread and tries once more. Any other failure raises.
std::unique_ptr<TAppsLibrary> DownloadCatalog();
