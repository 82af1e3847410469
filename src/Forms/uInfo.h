#pragma once

#include <QDialog>

class QWebEngineView;
class QVBoxLayout;
class TAppLibraryItem;

// A game's information page (a local ".html" or ".mht" page or a web address from its configuration) in
// an embedded browser. One window for the whole run, reused for every game; not modal. The browser is
// made when the window is first shown: it starts a whole browser engine.
class TfInfo : public QDialog {
    Q_OBJECT
public:
    explicit TfInfo(QWidget* Owner = nullptr);
    ~TfInfo() override;

    // Nothing happens when the game has no information address.
    void ShowEx(TAppLibraryItem& App);

    // Null until the window is first shown for a game.
    QWebEngineView* Browser() const { return FBrowser; }

protected:
    void keyPressEvent(QKeyEvent* Event) override;
    // Keeps the browser's own context menu away and lets Esc close the window even while the page has
    // the focus (the page would otherwise swallow the key).
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    void showEvent(QShowEvent* Event) override;
    void hideEvent(QHideEvent* Event) override;

private:
    bool IsInBrowser(QObject* Object) const;
    QWebEngineView* FBrowser = nullptr;
    QVBoxLayout* FLayout;
};

// The shared window (made at start-up, or on first use) shown for App.
void ShowAppInfo(TAppLibraryItem& App);
TfInfo* InfoWindow();

// Creates the windows made once after the main window and reused: the game information and the catalog
// page windows, both owned by the main window and hidden until shown.
void CreateReusableWindows(QWidget* MainWindow);
