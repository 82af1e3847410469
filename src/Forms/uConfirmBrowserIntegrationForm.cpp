#include "Forms/uConfirmBrowserIntegrationForm.h"

#include "App/Exceptions.h"
#include "App/Settings.h"
#include "Service/UriProtocol.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QThreadPool>
#include <QVBoxLayout>

TConfirmBrowserIntegrationForm::TConfirmBrowserIntegrationForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("ConfirmBrowserIntegrationForm"));
    setWindowTitle(QStringLiteral("Интеграция с браузером"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    txtLongRead = new QLabel(QStringLiteral("Похоже, что интеграция с браузером отключена."), this);
    txtLongRead->setObjectName(QStringLiteral("txtLongRead"));
    txtLongRead->setWordWrap(true);
    txtLongRead->setAlignment(Qt::AlignCenter);
    txtLongRead->setMinimumSize(320, 60);

    // No shield on the button: registering the scheme needs no administrator rights here.
    bYes = new QPushButton(QStringLiteral("Включить"), this);
    bYes->setObjectName(QStringLiteral("bYes"));
    bYes->setDefault(true);
    bNo = new QPushButton(QStringLiteral("Нет"), this);
    bNo->setObjectName(QStringLiteral("bNo"));
    bNo->setAutoDefault(false);
    checkDoNotAsk = new QCheckBox(QStringLiteral("Больше не спрашивать"), this);
    checkDoNotAsk->setObjectName(QStringLiteral("checkDoNotAsk"));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bYes);
    buttons->addWidget(bNo);
    buttons->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(txtLongRead, 1);
    layout->addLayout(buttons);
    layout->addWidget(checkDoNotAsk);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(bYes, &QPushButton::clicked, this, &TConfirmBrowserIntegrationForm::bYesClick);
    connect(bNo, &QPushButton::clicked, this, &TConfirmBrowserIntegrationForm::bNoClick);
}

void TConfirmBrowserIntegrationForm::StoreDoNotAsk() {
    if (checkDoNotAsk->isChecked() != Core::CheckBrowserIntegration)
        return;
    Core::CheckBrowserIntegration = !checkDoNotAsk->isChecked();
    try {
        Core::SaveSettings();
    } catch (const Exception&) {
        // The choice still holds for this run.
    }
}

void TConfirmBrowserIntegrationForm::bYesClick() {
    StoreDoNotAsk();
    QThreadPool::globalInstance()->start([] {
        try {
            RunUrlProtocolCommand(QLatin1String(RegisterUrlProtocolWord));
        } catch (...) {
            // Background work is silent; the settings window shows whether it worked.
        }
    });
    accept();
}

void TConfirmBrowserIntegrationForm::bNoClick() {
    StoreDoNotAsk();
    reject();
}

void TConfirmBrowserIntegrationForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        bNo->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

namespace {

class TBrowserIntegrationDialogPrompt : public IBrowserIntegrationPrompt {
public:
    void ShowModal(QObject* Owner) override {
        TConfirmBrowserIntegrationForm dialog(qobject_cast<QWidget*>(Owner));
        dialog.exec();
    }
};

} // namespace

void RegisterBrowserIntegrationDialog() {
    RegisterBrowserIntegrationPrompt(std::make_unique<TBrowserIntegrationDialogPrompt>());
}
