#pragma once

#include "Service/AppsLibrary/AppConfig.h"

#include <QDialog>
#include <QList>

class QFrame;
class QPushButton;
class QTabWidget;
class TAppLibraryItem;

// "<game> - таблица очков": one page per scoreboard of a game, each fetched when first shown.
class TfScoreboard : public QDialog {
    Q_OBJECT
public:
    explicit TfScoreboard(QWidget* Owner = nullptr);

    // Takes the game's key, name and boards (it needs at least one) and builds the pages.
    void AssignApp(const TAppLibraryItem& App);
    // Loads the active page when it is still empty.
    void PageControlChange();

    QTabWidget* PageControl;
    QFrame* panelFooter;
    QPushButton* bClose;

private:
    void BuildTabs();

    QString FKey;
    QList<TScoreboardLine> FBoards;
};

// Shows the scoreboards of App modally with Owner (the tile) as owner. App must have a configuration
// with at least one board; otherwise nothing is shown.
void ShowScoreboards(QWidget* Owner, const TAppLibraryItem& App);
