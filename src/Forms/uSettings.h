#pragma once

#include <QDialog>

class QPushButton;
class TFrameAppSettings;

// "Настройки": the settings frame and a close button. One per run, hidden when closed.
class TSettingsForm : public QDialog {
    Q_OBJECT
public:
    explicit TSettingsForm(QWidget* AOwner);

    void bCloseClick();

    TFrameAppSettings* FrameAppSettings1 = nullptr;
    QWidget* panelFooter = nullptr;
    QPushButton* bClose = nullptr;
};

// Makes the settings window at the first call (owned by MainWindow) and shows it without blocking.
void ShowSettingsWindow(QWidget* MainWindow);
// The window made by ShowSettingsWindow, or null.
TSettingsForm* SettingsWindow();
