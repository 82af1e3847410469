#include "App/Paths.h"
#include "App/User.h"
#include "Forms/uLogin.h"
#include "Forms/uRegister.h"
#include "FormTestSupport.h"
#include "AccountService.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <mutex>

namespace {

class AccountDialogs : public TAccountServiceTest {
protected:
    TInstalledHandler FHandler;
};

// The widgets Tab visits from first, in order.
QList<QWidget*> TabChain(QWidget* first) {
    QList<QWidget*> chain;
    QWidget* w = first;
    do {
        if (w->focusPolicy() & Qt::TabFocus)
            chain << w;
        w = w->nextInFocusChain();
    } while (w != first);
    return chain;
}

void Fill(TfRegister& form, const QString& name, const QString& email, const QString& pass,
          const QString& confirm) {
    form.eName->setText(name);
    form.eEmail->setText(email);
    form.ePass->setText(pass);
    form.ePassConfirm->setText(confirm);
}

} // namespace

TEST_F(AccountDialogs, LoginDialogControlsAndKeyboard) {
    TfLogin form;
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Авторизация"));
    EXPECT_EQ(form.size(), QSize(513, 310));
    EXPECT_EQ(form.panelHeader->height(), 41);
    EXPECT_EQ(form.txtUserName->text(), QStringLiteral("Пользователь"));
    EXPECT_EQ(form.eName->placeholderText(), QStringLiteral("Пользователь или электронная почта"));
    EXPECT_EQ(form.txtPass->text(), QStringLiteral("Пароль"));
    EXPECT_EQ(form.ePass->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(form.checkRemember->isChecked());
    EXPECT_FALSE(form.checkRemember->isEnabled());
    EXPECT_EQ(form.bOK->text(), QStringLiteral("Подключиться"));
    EXPECT_TRUE(form.bOK->isDefault());
    EXPECT_EQ(form.bCancel->text(), QStringLiteral("Отмена"));
    EXPECT_EQ(form.txtRegister->text(), QStringLiteral("Нет аккаунта?"));
    EXPECT_EQ(form.bRegister->text(), QStringLiteral("Зарегистрироваться..."));
    EXPECT_EQ(TabChain(form.eName), (QList<QWidget*>{form.eName, form.ePass, form.checkRemember, form.bOK,
                                                     form.bCancel, form.bRegister}));

    // OK needs both fields, as typed: a blank-only name still counts.
    EXPECT_FALSE(form.bOK->isEnabled());
    form.eName->setText(QStringLiteral(" "));
    EXPECT_FALSE(form.bOK->isEnabled());
    form.ePass->setText(QStringLiteral("p"));
    EXPECT_TRUE(form.bOK->isEnabled());
    form.eName->clear();
    EXPECT_FALSE(form.bOK->isEnabled());

    form.show();
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&form, &esc);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.result(), QDialog::Rejected);
}

TEST_F(AccountDialogs, StoredNameIsFilledInAndFocusGoesToThePassword) {
    CurrentUser().SetName(QStringLiteral("bob"));
    TfLogin form;
    form.show();
    ASSERT_TRUE(WaitFor([&] { return !form.timerOnCreate->isActive(); }));
    EXPECT_EQ(form.eName->text(), QStringLiteral("bob"));
    EXPECT_EQ(form.focusWidget(), form.ePass);
    EXPECT_FALSE(form.bOK->isEnabled());
    form.ePass->setText(QStringLiteral("x"));
    EXPECT_TRUE(form.bOK->isEnabled());
}

TEST_F(AccountDialogs, LoginSendsTrimmedNameAndKeepsTheToken) {
    Answer(200, R"({"token":"tok-1"})");
    TMessageLog log;
    TfLogin form;
    form.show();
    form.eName->setText(QStringLiteral("  bob "));
    form.ePass->setText(QStringLiteral(" pw "));
    // Enter in the password field presses the default button.
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(form.ePass, &enter);
    EXPECT_TRUE(log.Records.empty());
    ASSERT_EQ(Bodies().size(), 1u);
    EXPECT_EQ(Bodies()[0], "{\"user\":\"bob\",\"password\":\" pw \"}\r\n");
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_FALSE(form.isVisible());
    TUser saved;
    saved.Load();
    EXPECT_EQ(saved.Name(), QStringLiteral("bob"));
    EXPECT_EQ(saved.Token(), QStringLiteral("tok-1"));
}

TEST_F(AccountDialogs, RefusedLoginWarnsAndOtherErrorsReachTheReport) {
    TMessageLog log;
    TfLogin form;
    form.show();
    form.eName->setText(QStringLiteral("bob"));
    form.ePass->setText(QStringLiteral("bad"));

    Answer(403, R"({"error":"no"})");
    form.bOK->click();
    ASSERT_EQ(log.Records.size(), 1u);
    EXPECT_EQ(log.Records[0].Title, QStringLiteral("Внимание"));
    EXPECT_EQ(log.Records[0].Text, QStringLiteral("Неправильный пароль или имя пользователя"));
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.eName->text(), QStringLiteral("bob"));
    EXPECT_EQ(form.ePass->text(), QStringLiteral("bad"));
    EXPECT_TRUE(form.bOK->isEnabled());

    for (int status : {401, 500}) {
        Answer(status, "{}");
        form.bOK->click();
        ASSERT_EQ(log.Records.size(), 2u) << status;
        const TMessageRecord report = log.Records.back();
        log.Records.pop_back();
        EXPECT_EQ(report.Title, QStringLiteral("Ошибка"));
        EXPECT_TRUE(report.Details.contains(QStringLiteral("Category: ERestClientException")));
        EXPECT_TRUE(report.Details.contains(QStringLiteral("HTTP Status Code: %1").arg(status)));
        EXPECT_TRUE(form.isVisible());
        EXPECT_TRUE(form.bOK->isEnabled());
    }
    EXPECT_FALSE(CurrentUser().hasToken());
}

TEST_F(AccountDialogs, RegistrationControlsAndKeyboard) {
    TfRegister form;
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Регистрация нового пользователя"));
    EXPECT_EQ(form.size(), QSize(480, 243));
    EXPECT_EQ(form.txtUserName->text(), QStringLiteral("Имя пользователя"));
    EXPECT_EQ(form.txtEmail->text(), QStringLiteral("Электронная почта"));
    EXPECT_EQ(form.txtPass->text(), QStringLiteral("Пароль"));
    EXPECT_EQ(form.txtPassConfirm->text(), QStringLiteral("Подтвердить пароль"));
    EXPECT_EQ(form.ePass->echoMode(), QLineEdit::Password);
    EXPECT_EQ(form.ePassConfirm->echoMode(), QLineEdit::Password);
    EXPECT_EQ(form.bOK->text(), QStringLiteral("Зарегистрировать"));
    EXPECT_EQ(form.bCancel->text(), QStringLiteral("Отмена"));
    EXPECT_EQ(TabChain(form.eName), (QList<QWidget*>{form.eName, form.eEmail, form.ePass, form.ePassConfirm,
                                                     form.bOK, form.bCancel}));
}

TEST_F(AccountDialogs, RegistrationChecksInputInOrderAndFocusesTheEdit) {
    struct Case {
        QString name, email, pass, confirm, message;
        const char* focus;
    };
    const QString noName = QStringLiteral("Введите имя пользователя");
    const QString badName =
        QStringLiteral("Некорректное имя пользователя. Используйте только буквы, цифры и знак подчёркивания");
    const QString badEmail = QStringLiteral("Некорректный адрес электронной почты");
    const QString differ = QStringLiteral("Пароли должны совпадать");
    const QString shortPass = QStringLiteral("Ох, коротковат пароль");
    const std::vector<Case> cases = {
        {"  \t", "x", "a", "b", noName, "eName"},
        {"player.one", "x", "a", "b", badName, "eName"},
        {QStringLiteral("игрок"), "x", "a", "b", badName, "eName"},
        {"player_1", "a@bc", "a", "b", badEmail, "eEmail"},
        {"player_1", "@abcd", "a", "b", badEmail, "eEmail"},
        {"player_1", "abcde", "a", "b", badEmail, "eEmail"},
        {"player_1", " a@b.c ", "abc", "abc ", differ, "ePass"},
        {"player_1", "a@b.c", " ab ", " ab ", shortPass, "ePass"},
    };
    TMessageLog log;
    TfRegister form;
    form.show();
    QWidget* focusAtMessage = nullptr;
    log.OnMessage = [&](const TMessageRecord&) { focusAtMessage = form.focusWidget(); };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.toStdString() + " " + c.email.toStdString());
        log.Records.clear();
        form.eEmail->setFocus(); // somewhere else than most targets
        Fill(form, c.name, c.email, c.pass, c.confirm);
        form.bOK->click();
        ASSERT_EQ(log.Records.size(), 1u);
        EXPECT_EQ(log.Records[0].Title, QStringLiteral("Внимание"));
        EXPECT_EQ(log.Records[0].Text, c.message);
        ASSERT_TRUE(focusAtMessage);
        EXPECT_EQ(focusAtMessage->objectName(), QLatin1String(c.focus));
        EXPECT_TRUE(form.isVisible());
    }
    EXPECT_TRUE(Bodies().empty());

    // A three-letter password with spaces around it passes and is sent as typed.
    Answer(200, R"({"user":"player_1"})");
    log.Records.clear();
    Fill(form, QStringLiteral(" player_1 "), QStringLiteral(" a@b.c "), QStringLiteral(" abc "),
         QStringLiteral(" abc "));
    form.bOK->click();
    ASSERT_EQ(Bodies().size(), 1u);
    EXPECT_EQ(Bodies()[0], "{\"user\":\"player_1\",\"email\":\"a@b.c\",\"password\":\" abc \"}\r\n");
    ASSERT_EQ(log.Records.size(), 1u);
    EXPECT_EQ(log.Records[0].Title, QStringLiteral("Информация"));
    EXPECT_EQ(log.Records[0].Text, QStringLiteral("Новый пользователь зарегистрирован"));
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_FALSE(CurrentUser().hasToken());
}

TEST_F(AccountDialogs, RegistrationRefusalsTheServiceExplains) {
    struct Case {
        int status;
        std::string field;
        QString message; // empty: the error report
        const char* focus;
    };
    const std::vector<Case> cases = {
        {409, "email", QStringLiteral("Адрес электронной почты уже зарегистрирован"), "eEmail"},
        {409, "user", QStringLiteral("К сожалению, выбранное имя пользователя уже занято"), "eName"},
        {400, "email", QStringLiteral("Некорректный адрес электронной почты"), "eEmail"},
        {409, "password", QString(), nullptr},
        {500, "user", QString(), nullptr},
    };
    TMessageLog log;
    TfRegister form;
    form.show();
    QWidget* focusAtMessage = nullptr;
    log.OnMessage = [&](const TMessageRecord&) { focusAtMessage = form.focusWidget(); };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.status) + " " + c.field);
        log.Records.clear();
        form.ePassConfirm->setFocus();
        Answer(c.status, "{\"field\":\"" + c.field + "\"}");
        Fill(form, QStringLiteral("bob"), QStringLiteral("b@x.io"), QStringLiteral("pw1"), QStringLiteral("pw1"));
        form.bOK->click();
        ASSERT_EQ(log.Records.size(), 1u);
        if (c.focus) {
            EXPECT_EQ(log.Records[0].Title, QStringLiteral("Внимание"));
            EXPECT_EQ(log.Records[0].Text, c.message);
            EXPECT_EQ(focusAtMessage->objectName(), QLatin1String(c.focus));
        } else {
            EXPECT_EQ(log.Records[0].Title, QStringLiteral("Ошибка"));
            EXPECT_TRUE(log.Records[0].Details.contains(QStringLiteral("Category: ERestClientException")));
        }
        EXPECT_TRUE(form.isVisible());
        EXPECT_TRUE(form.bOK->isEnabled());
        EXPECT_TRUE(form.bCancel->isEnabled());
    }
}

TEST_F(AccountDialogs, RegisteredNameAppearsInTheLoginDialog) {
    Answer(200, R"({"user":"newbob"})");
    TMessageLog log;
    TfLogin login;
    login.show();
    bool registerSeen = false;
    OnModal<TfRegister>([&](TfRegister& form) {
        registerSeen = true;
        Fill(form, QStringLiteral("newbob"), QStringLiteral("n@b.io"), QStringLiteral("pw1"), QStringLiteral("pw1"));
        form.bOK->click();
        if (form.isVisible())
            form.reject();
    });
    login.bRegister->click();
    EXPECT_TRUE(registerSeen);
    EXPECT_EQ(login.eName->text(), QStringLiteral("newbob"));
    EXPECT_TRUE(login.isVisible());
    // Subscribed only while the registration dialog was open.
    CurrentUser().SetName(QStringLiteral("later"));
    EXPECT_EQ(login.eName->text(), QStringLiteral("newbob"));
}
