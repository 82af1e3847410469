#pragma once

#include <QMainWindow>

class QTabWidget;
class QWidget;

// The launcher's main window: the library and catalog pages. Closing it ends the run.
class TfMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TfMain(QWidget* parent = nullptr);

    QTabWidget* PageControl = nullptr;
    QWidget* tabLibrary = nullptr;
    QWidget* tabCatalog = nullptr;
};
