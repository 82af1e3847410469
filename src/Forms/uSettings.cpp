#include "Forms/uSettings.h"

#include "Forms/uFrameAppSettings.h"

#include <QHBoxLayout>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
QPointer<TSettingsForm> gSettingsForm;
}

TSettingsForm::TSettingsForm(QWidget* AOwner) : QDialog(AOwner) {
    setObjectName(QStringLiteral("SettingsForm"));
    setWindowTitle(QStringLiteral("Настройки"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    FrameAppSettings1 = new TFrameAppSettings(this);
    FrameAppSettings1->setObjectName(QStringLiteral("FrameAppSettings1"));
    panelFooter = new QWidget(this);
    panelFooter->setObjectName(QStringLiteral("panelFooter"));
    bClose = new QPushButton(QStringLiteral("Закрыть"), panelFooter);
    bClose->setObjectName(QStringLiteral("bClose"));
    bClose->setDefault(true);
    bClose->setMinimumWidth(100);
    auto* footer = new QHBoxLayout(panelFooter);
    footer->setContentsMargins(8, 6, 8, 8);
    footer->addStretch();
    footer->addWidget(bClose);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(FrameAppSettings1);
    layout->addWidget(panelFooter);
    FrameAppSettings1->setMinimumWidth(520);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(bClose, &QPushButton::clicked, this, &TSettingsForm::bCloseClick);
}

void TSettingsForm::bCloseClick() { hide(); }

void ShowSettingsWindow(QWidget* MainWindow) {
    if (!gSettingsForm)
        gSettingsForm = new TSettingsForm(MainWindow);
    gSettingsForm->show();
    gSettingsForm->raise();
    gSettingsForm->activateWindow();
}

TSettingsForm* SettingsWindow() { return gSettingsForm; }
