#pragma once

#include <QDialog>
#include <QPixmap>

class QLabel;
class QWidget;
class TAppLibraryItem;
struct TAppCatalogPage;

// A game's catalog entry: title, long description, cover, publication date, achievements and whether it
// has a scoreboard. One window for the whole run, reused for every game; not modal.
class TfCatalogPage : public QDialog {
    Q_OBJECT
public:
    explicit TfCatalogPage(QWidget* Owner = nullptr);

    // Shows the item's name, description and Cover (a null picture clears it) at once, then its catalog
    // page, fetched from the service and attached to the item the first time. Errors of the fetch reach
    // the caller with the window already visible.
    void Show(TAppLibraryItem& AppItem, const QPixmap& Cover);
    void FillFromPage(const TAppCatalogPage& Page);

    QWidget* panelBase;
    QLabel* txtTitle;
    QLabel* txtDesc;
    QWidget* panelRight;
    QLabel* imgCover;
    QLabel* txtReleaseDate;
    QLabel* txtAchievements;
    QLabel* txtScoreboards;

protected:
    void keyPressEvent(QKeyEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;

private:
    void LoadCatalogPage(TAppLibraryItem& AppItem);
    void ScaleCover();
    QPixmap FCover;
};

// Makes the shared window, owned by the main window; see CreateReusableWindows.
void CreateCatalogPageWindow(QWidget* MainWindow);
// The shared window (made at start-up, or on first use) shown for App.
void ShowCatalogPage(TAppLibraryItem& App, const QPixmap& Cover);
TfCatalogPage* CatalogPageWindow();
