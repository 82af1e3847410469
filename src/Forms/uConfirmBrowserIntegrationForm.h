#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;

// "Интеграция с браузером": offered at start when the tarvenox links do not reach the launcher.
class TConfirmBrowserIntegrationForm : public QDialog {
    Q_OBJECT
public:
    explicit TConfirmBrowserIntegrationForm(QWidget* parent = nullptr);

    // Switches the start check off (or on again) when the tick says otherwise and saves the settings.
    void StoreDoNotAsk();
    // Registers the scheme in the background and closes at once.
    void bYesClick();
    void bNoClick();

    QLabel* txtLongRead;
    QPushButton* bYes;
    QPushButton* bNo;
    QCheckBox* checkDoNotAsk;

protected:
    // Escape answers "Нет"; closing the window otherwise keeps the stored choice.
    void keyPressEvent(QKeyEvent* event) override;
};

// Makes the start check ask through TConfirmBrowserIntegrationForm. Called once at start-up.
void RegisterBrowserIntegrationDialog();
