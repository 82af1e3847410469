#include "Forms/uFrameAppSettings.h"

#include "App/MainThread.h"
#include "App/Settings.h"
#include "Forms/Debug.h"
#include "Forms/uFrameBoolOption.h"
#include "Service/UriProtocol.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QThreadPool>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const QString ApplicationTitle = QStringLiteral("Tarveno!");

TFrameBoolOption* MakeOption(QWidget* parent, const char* name, const QString& caption) {
    auto* option = new TFrameBoolOption(parent);
    option->setObjectName(QLatin1String(name));
    option->SetCaption(caption);
    return option;
}

QFrame* MakeButtonPanel(QWidget* parent, const char* name, QPushButton*& button, const char* buttonName,
                        const QString& text) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(QLatin1String(name));
    button = new QPushButton(text, panel);
    button->setObjectName(QLatin1String(buttonName));
    button->setAutoDefault(false);
    button->setMinimumWidth(110);
    auto* layout = new QHBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(button);
    return panel;
}

} // namespace

TFrameAppSettings::TFrameAppSettings(QWidget* AOwner) : QFrame(AOwner) {
    setObjectName(QStringLiteral("FrameAppSettings"));
    checkUpdateCore = MakeOption(this, "checkUpdateCore", QStringLiteral("Автоматически обновлять «%s»"));
    checkCheckForGameUpdate =
        MakeOption(this, "checkCheckForGameUpdate", QStringLiteral("Проверять наличие обновлений для игр"));
    checkCheckForComponentUpdate = MakeOption(this, "checkCheckForComponentUpdate",
                                              QStringLiteral("Проверять наличие обновлений для компонентов"));

    panelBrowserIntegration = new QFrame(this);
    panelBrowserIntegration->setObjectName(QStringLiteral("panelBrowserIntegration"));
    panelBrowserIntegration->setFixedHeight(39);
    txtBrowserIntegration = new QLabel(QStringLiteral("Интеграция с браузером"), panelBrowserIntegration);
    txtBrowserIntegration->setObjectName(QStringLiteral("txtBrowserIntegration"));
    // No administrator shield: the link handler is registered per user here.
    panelBrowserIntegrationEnable = MakeButtonPanel(panelBrowserIntegration, "panelBrowserIntegrationEnable",
                                                    bEnableUri, "bEnableUri", QStringLiteral("Включить"));
    panelBrowserIntegrationDisable = MakeButtonPanel(panelBrowserIntegration, "panelBrowserIntegrationDisable",
                                                     bDisableUri, "bDisableUri", QStringLiteral("Выключить"));
    auto* row = new QHBoxLayout(panelBrowserIntegration);
    row->setContentsMargins(8, 0, 8, 0);
    row->addWidget(txtBrowserIntegration, 1);
    row->addWidget(panelBrowserIntegrationEnable);
    row->addWidget(panelBrowserIntegrationDisable);
    connect(bEnableUri, &QPushButton::clicked, this, UserAction(bEnableUri, [this] { bEnableUriClick(); }));
    connect(bDisableUri, &QPushButton::clicked, this, UserAction(bDisableUri, [this] { bDisableUriClick(); }));

    checkCheckBrowserIntegrationStatus =
        MakeOption(this, "checkCheckBrowserIntegrationStatus",
                   QStringLiteral("Проверять состояние интеграции с браузером при запуске"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(2);
    for (QWidget* w : {static_cast<QWidget*>(checkUpdateCore), static_cast<QWidget*>(checkCheckForGameUpdate),
                       static_cast<QWidget*>(checkCheckForComponentUpdate),
                       static_cast<QWidget*>(panelBrowserIntegration),
                       static_cast<QWidget*>(checkCheckBrowserIntegrationStatus)})
        layout->addWidget(w);
    layout->addStretch();

    // Every switch writes all core settings; they take effect at the next start.
    const auto save = [](TFrameBoolOption*) { Core::SaveSettings(); };
    checkUpdateCore->SetCaption(checkUpdateCore->Caption().replace(QStringLiteral("%s"), ApplicationTitle));
    checkUpdateCore->BindVariable(&Core::UpdatesCore);
    checkUpdateCore->OnCheckedChanged = save;
    checkCheckForGameUpdate->BindVariable(&Core::UpdatesApps);
    checkCheckForGameUpdate->OnCheckedChanged = save;
    checkCheckForComponentUpdate->BindVariable(&Core::UpdatesComponents);
    checkCheckForComponentUpdate->OnCheckedChanged = save;
    UpdateBrowserIntegrationControls();
    checkCheckBrowserIntegrationStatus->BindVariable(&Core::CheckBrowserIntegration);
    checkCheckBrowserIntegrationStatus->OnCheckedChanged = save;
}

void TFrameAppSettings::UpdateBrowserIntegrationControls(QTimer* Timer) {
    if (Timer)
        Timer->stop();
    const bool registered = IsUrlProtocolRegistered();
    panelBrowserIntegrationEnable->setVisible(!registered);
    panelBrowserIntegrationDisable->setVisible(registered);
    bEnableUri->setEnabled(!registered);
    bDisableUri->setEnabled(registered);
}

void TFrameAppSettings::bEnableUriClick() { ExecuteCmd(QLatin1String(RegisterUrlProtocolWord)); }

void TFrameAppSettings::bDisableUriClick() { ExecuteCmd(QLatin1String(UnregisterUrlProtocolWord)); }

void TFrameAppSettings::ExecuteCmd(const QString& Cmd) {
    bEnableUri->setEnabled(false);
    bDisableUri->setEnabled(false);
    QPointer<TFrameAppSettings> self(this);
    QThreadPool::globalInstance()->start([self, Cmd] {
        try {
            RunUrlProtocolCommand(Cmd);
        } catch (...) {
            // Silent, like every protocol command; the row shows the state that resulted.
        }
        QueueOnMainThread([self] {
            if (self)
                self->UpdateBrowserIntegrationControls();
        });
    });
}
