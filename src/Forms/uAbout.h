#pragma once

#include <QDialog>

class QLabel;

// The application's title in large type, its version beside it and credits for the open-source
// libraries the launcher is built with.
class TAboutForm : public QDialog {
    Q_OBJECT
public:
    explicit TAboutForm(QWidget* Owner = nullptr);

    QLabel* txtName;
    QLabel* txtVersion;
    QLabel* txtOSS;
    QLabel* txtBottom;

    int NameWidth = 0;
    int NameHeight = 0;

protected:
    void resizeEvent(QResizeEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;

private:
    void FormCreate();
    void FormResize();
};

// Creates the window with Owner the first time and keeps it; every call shows it, not modally.
TAboutForm* ShowAbout(QWidget* Owner);
