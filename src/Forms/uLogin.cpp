#include "Forms/uLogin.h"

#include "App/MainThread.h"
#include "App/User.h"
#include "Forms/Debug.h"
#include "Forms/MsgBoxes.h"
#include "Forms/uRegister.h"
#include "Service/Account.h"

#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// Identifies the dialog's handler in the user's subscriber list.
const char OnUserChangeTag = 0;

// Re-enables a button whatever the request did.
struct TEnableAfter {
    explicit TEnableAfter(QWidget* w) : W(w) { W->setEnabled(false); }
    ~TEnableAfter() { W->setEnabled(true); }
    QWidget* W;
};

} // namespace

TfLogin::TfLogin(QWidget* Owner) : QDialog(Owner) {
    setObjectName(QStringLiteral("fLogin"));
    setWindowTitle(QStringLiteral("Авторизация"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setFixedSize(513, 310);

    panelHeader = new QFrame(this);
    panelHeader->setObjectName(QStringLiteral("panelHeader"));
    panelHeader->setFixedHeight(41);

    txtUserName = new QLabel(QStringLiteral("Пользователь"), this);
    txtUserName->setObjectName(QStringLiteral("txtUserName"));
    txtUserName->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    eName = new QLineEdit(this);
    eName->setObjectName(QStringLiteral("eName"));
    eName->setPlaceholderText(QStringLiteral("Пользователь или электронная почта"));
    txtUserName->setBuddy(eName);

    txtPass = new QLabel(QStringLiteral("Пароль"), this);
    txtPass->setObjectName(QStringLiteral("txtPass"));
    txtPass->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    ePass = new QLineEdit(this);
    ePass->setObjectName(QStringLiteral("ePass"));
    ePass->setEchoMode(QLineEdit::Password);
    txtPass->setBuddy(ePass);

    // The token is always kept; the tick only says so.
    checkRemember = new QCheckBox(QStringLiteral("Запомнить"), this);
    checkRemember->setObjectName(QStringLiteral("checkRemember"));
    checkRemember->setChecked(true);
    checkRemember->setEnabled(false);

    bOK = new QPushButton(QStringLiteral("Подключиться"), this);
    bOK->setObjectName(QStringLiteral("bOK"));
    bOK->setDefault(true);
    bOK->setEnabled(false);
    bCancel = new QPushButton(QStringLiteral("Отмена"), this);
    bCancel->setObjectName(QStringLiteral("bCancel"));
    bCancel->setAutoDefault(false);

    panelFooter = new QFrame(this);
    panelFooter->setObjectName(QStringLiteral("panelFooter"));
    panelFooter->setFrameShape(QFrame::NoFrame);
    txtRegister = new QLabel(QStringLiteral("Нет аккаунта?"), panelFooter);
    txtRegister->setObjectName(QStringLiteral("txtRegister"));
    bRegister = new QPushButton(QStringLiteral("Зарегистрироваться..."), panelFooter);
    bRegister->setObjectName(QStringLiteral("bRegister"));
    bRegister->setAutoDefault(false);

    auto* edits = new QGridLayout;
    edits->setHorizontalSpacing(10);
    edits->setVerticalSpacing(10);
    edits->addWidget(txtUserName, 0, 0);
    edits->addWidget(eName, 0, 1);
    edits->addWidget(txtPass, 1, 0);
    edits->addWidget(ePass, 1, 1);
    edits->addWidget(checkRemember, 2, 1);
    edits->setColumnStretch(1, 1);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8); // the outer layout has none, and a nested one would take that
    buttons->addStretch();
    buttons->addWidget(bOK);
    buttons->addWidget(bCancel);

    auto* body = new QVBoxLayout;
    body->setContentsMargins(40, 24, 40, 16);
    body->addLayout(edits);
    body->addStretch();
    body->addLayout(buttons);

    // The edge line between the form and the footer.
    auto* line = new QFrame(this);
    line->setObjectName(QStringLiteral("lineFooter"));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);

    auto* footer = new QHBoxLayout(panelFooter);
    footer->setContentsMargins(40, 10, 40, 12);
    footer->addStretch();
    footer->addWidget(txtRegister);
    footer->addWidget(bRegister);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(panelHeader);
    layout->addLayout(body, 1);
    layout->addWidget(line);
    layout->addWidget(panelFooter);

    setTabOrder(eName, ePass);
    setTabOrder(ePass, checkRemember);
    setTabOrder(checkRemember, bOK);
    setTabOrder(bOK, bCancel);
    setTabOrder(bCancel, bRegister);
    eName->setFocus();

    connect(eName, &QLineEdit::textChanged, this, &TfLogin::eCredentialsChange);
    connect(ePass, &QLineEdit::textChanged, this, &TfLogin::eCredentialsChange);
    connect(bOK, &QPushButton::clicked, this, UserAction(bOK, [this] { bOKClick(); }));
    connect(bCancel, &QPushButton::clicked, this, UserAction(bCancel, [this] { bCancelClick(); }));
    connect(bRegister, &QPushButton::clicked, this, UserAction(bRegister, [this] { bRegisterClick(); }));

    timerOnCreate = new QTimer(this);
    timerOnCreate->setObjectName(QStringLiteral("timerOnCreate"));
    timerOnCreate->setInterval(10);
    connect(timerOnCreate, &QTimer::timeout, this, UserAction(this, [this] { FormCreate(); }));
    timerOnCreate->start();
}

TfLogin::~TfLogin() {
    if (FSubscribed)
        UnsubscribeOnUserChange(TNotifyEvent{this, &OnUserChangeTag, {}});
}

void TfLogin::FormCreate() {
    timerOnCreate->stop();
    const QString name = CurrentUser().Name();
    if (!name.isEmpty()) {
        eName->setText(name);
        ePass->setFocus();
    }
}

void TfLogin::eCredentialsChange() {
    bOK->setEnabled(!ePass->text().isEmpty() && !eName->text().isEmpty());
}

void TfLogin::bOKClick() {
    TEnableAfter enable(bOK);
    Login();
}

void TfLogin::Login() {
    TAccountAnswer answer;
    const QString name = eName->text(), password = ePass->text();
    // A slow service must not freeze the window.
    RunWhileResponsive(this, [&] { answer = ::Login(name, password); });
    if (answer.Accepted) {
        accept();
        return;
    }
    if (answer.Resource != 0)
        ShowWarning(answer.Text);
}

void TfLogin::bCancelClick() {
    reject();
}

void TfLogin::bRegisterClick() {
    const TNotifyEvent handler{this, &OnUserChangeTag, [this](void*) { OnUserChange(); }};
    SubscribeOnUserChange(handler);
    FSubscribed = true;
    struct TUnsubscribe {
        TfLogin* Form;
        TNotifyEvent Handler;
        ~TUnsubscribe() {
            UnsubscribeOnUserChange(Handler);
            Form->FSubscribed = false;
        }
    } unsubscribe{this, handler};
    TfRegister dialog(this);
    dialog.exec();
}

void TfLogin::OnUserChange() {
    RunOnMainThread([this] {
        if (CurrentUser().LastChangeEvent() == TUserChangeEvent::ceName)
            eName->setText(CurrentUser().Name());
    });
}

bool ShowLoginDialog(QWidget* Owner) {
    TfLogin dialog(Owner);
    dialog.exec();
    return CurrentUser().hasToken();
}
