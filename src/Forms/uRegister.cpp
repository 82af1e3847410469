#include "Forms/uRegister.h"

#include "Forms/Debug.h"
#include "Forms/MsgBoxes.h"
#include "Service/Account.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TfRegister::TfRegister(QWidget* Owner) : QDialog(Owner) {
    setObjectName(QStringLiteral("fRegister"));
    setWindowTitle(QStringLiteral("Регистрация нового пользователя"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setFixedSize(480, 243);

    auto* edits = new QGridLayout;
    edits->setHorizontalSpacing(10);
    edits->setVerticalSpacing(10);
    const auto addRow = [this, edits](QLabel*& label, QLineEdit*& edit, const char* labelName,
                                      const char* editName, const QString& text, bool secret) {
        label = new QLabel(text, this);
        label->setObjectName(QLatin1String(labelName));
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        edit = new QLineEdit(this);
        edit->setObjectName(QLatin1String(editName));
        if (secret)
            edit->setEchoMode(QLineEdit::Password);
        label->setBuddy(edit);
        const int row = edits->rowCount();
        edits->addWidget(label, row, 0);
        edits->addWidget(edit, row, 1);
    };
    addRow(txtUserName, eName, "txtUserName", "eName", QStringLiteral("Имя пользователя"), false);
    addRow(txtEmail, eEmail, "txtEmail", "eEmail", QStringLiteral("Электронная почта"), false);
    addRow(txtPass, ePass, "txtPass", "ePass", QStringLiteral("Пароль"), true);
    addRow(txtPassConfirm, ePassConfirm, "txtPassConfirm", "ePassConfirm", QStringLiteral("Подтвердить пароль"),
           true);
    edits->setColumnStretch(1, 1);

    bOK = new QPushButton(QStringLiteral("Зарегистрировать"), this);
    bOK->setObjectName(QStringLiteral("bOK"));
    bOK->setDefault(true);
    bCancel = new QPushButton(QStringLiteral("Отмена"), this);
    bCancel->setObjectName(QStringLiteral("bCancel"));
    bCancel->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bOK);
    buttons->addWidget(bCancel);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(30, 24, 30, 16);
    layout->addLayout(edits);
    layout->addStretch();
    layout->addLayout(buttons);

    setTabOrder(eName, eEmail);
    setTabOrder(eEmail, ePass);
    setTabOrder(ePass, ePassConfirm);
    setTabOrder(ePassConfirm, bOK);
    setTabOrder(bOK, bCancel);
    eName->setFocus();

    connect(bOK, &QPushButton::clicked, this, UserAction(bOK, [this] { bOKClick(); }));
    connect(bCancel, &QPushButton::clicked, this, UserAction(bCancel, [this] { bCancelClick(); }));
}

void TfRegister::bOKClick() {
    bOK->setEnabled(false);
    bCancel->setEnabled(false);
    struct TEnableAfter {
        TfRegister* F;
        ~TEnableAfter() {
            F->bOK->setEnabled(true);
            F->bCancel->setEnabled(true);
        }
    } enable{this};
    Register();
}

void TfRegister::bCancelClick() {
    reject();
}

void TfRegister::ShowFieldError(const QString& Text, QLineEdit* Edit) {
    if (Edit)
        Edit->setFocus();
    ShowWarning(Text);
}

namespace {

QLineEdit* EditOf(TfRegister& form, TAccountField field) {
    switch (field) {
    case TAccountField::Name: return form.eName;
    case TAccountField::Email: return form.eEmail;
    case TAccountField::Password: return form.ePass;
    case TAccountField::None: break;
    }
    return nullptr;
}

} // namespace

bool TfRegister::ValidateInput() {
    const TAccountAnswer answer =
        ValidateRegistration(eName->text(), eEmail->text(), ePass->text(), ePassConfirm->text());
    if (!answer.Accepted)
        ShowFieldError(answer.Text, EditOf(*this, answer.Focus));
    return answer.Accepted;
}

void TfRegister::Register() {
    if (!ValidateInput())
        return;
    TAccountAnswer answer;
    const QString name = eName->text(), email = eEmail->text(), password = ePass->text(),
                  confirm = ePassConfirm->text();
    RunWhileResponsive(this, [&] { answer = ::Register(name, email, password, confirm); });
    if (!answer.Accepted) {
        ShowFieldError(answer.Text, EditOf(*this, answer.Focus));
        return;
    }
    ShowInfo(answer.Text);
    accept();
}
