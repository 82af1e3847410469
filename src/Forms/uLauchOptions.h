#pragma once

#include <QDialog>
#include <QStringList>

class QButtonGroup;
class QGroupBox;
class QPushButton;
class QVBoxLayout;
class QWidget;

// "Варианты запуска": lets the user pick one of a game's run options.
class TfLaunchOptions : public QDialog {
    Q_OBJECT
public:
    explicit TfLaunchOptions(QWidget* parent = nullptr);

    // Fills Commands and one radio item per option, selects the first; returns the number of commands.
    int CreateCommandsFromOptions(const QStringList& Options);
    // The command of the selected radio item, empty when none is selected.
    QString GetSelectedCommand() const;

    QStringList Commands;

    QGroupBox* grpCommands;
    QWidget* panelFooter;
    QPushButton* bLauch;
    QPushButton* bCancel;

private:
    QButtonGroup* FItems;
    QVBoxLayout* FItemsLayout;
};

// Makes the launcher ask through TfLaunchOptions. Called once at start-up.
void RegisterLaunchOptionsDialog();
