#pragma once
#include <QMainWindow>
class TfMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TfMain(QWidget* parent = nullptr);
};
