#pragma once

#include <QFrame>

class QLabel;
class QPushButton;
class QTimer;
class TFrameBoolOption;

// The launcher's switches and the browser-integration row; every change is saved at once.
class TFrameAppSettings : public QFrame {
    Q_OBJECT
public:
    explicit TFrameAppSettings(QWidget* AOwner);

    // Shows "Включить" while the link handler is not registered, "Выключить" once it is. A given timer
    // is stopped first.
    void UpdateBrowserIntegrationControls(QTimer* Timer = nullptr);
    void bEnableUriClick();
    void bDisableUriClick();
    // Runs a protocol word in the background and refreshes the row afterwards, also when it failed.
    void ExecuteCmd(const QString& Cmd);

    TFrameBoolOption* checkUpdateCore = nullptr;
    TFrameBoolOption* checkCheckForGameUpdate = nullptr;
    TFrameBoolOption* checkCheckForComponentUpdate = nullptr;
    QFrame* panelBrowserIntegration = nullptr;
    QLabel* txtBrowserIntegration = nullptr;
    QFrame* panelBrowserIntegrationEnable = nullptr;
    QPushButton* bEnableUri = nullptr;
    QFrame* panelBrowserIntegrationDisable = nullptr;
    QPushButton* bDisableUri = nullptr;
    TFrameBoolOption* checkCheckBrowserIntegrationStatus = nullptr;
};
