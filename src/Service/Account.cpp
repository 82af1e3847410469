#include "Service/Account.h"

#include "App/HttpExceptions.h"
#include "App/MainThread.h"
#include "App/Paths.h"
#include "App/User.h"
#include "Lib/Json.h"
#include "Service/RestClient.h"

#include <QRegularExpression>

namespace {

TAccountAnswer Accepted(int Resource = 0, const QString& Text = QString()) {
    return TAccountAnswer{true, Resource, Text, TAccountField::None};
}

TAccountAnswer Refused(int Resource, const QString& Text, TAccountField Focus) {
    return TAccountAnswer{false, Resource, Text, Focus};
}

TAccountAnswer BadName() {
    return Refused(65041,
                   QStringLiteral("Некорректное имя пользователя. Используйте только буквы, цифры и знак "
                                  "подчёркивания"),
                   TAccountField::Name);
}

TAccountAnswer BadEmail() {
    return Refused(65040, QStringLiteral("Некорректный адрес электронной почты"), TAccountField::Email);
}

} // namespace

QString TrimInput(const QString& Text) {
    qsizetype first = 0, last = Text.size();
    while (first < last && Text.at(first).unicode() <= 0x20)
        ++first;
    while (last > first && Text.at(last - 1).unicode() <= 0x20)
        --last;
    return Text.mid(first, last - first);
}

QString BuildLoginPayload(const QString& Name, const QString& Password) {
    TJSONVariantData doc;
    doc.AddNameValue(QStringLiteral("user"), TrimInput(Name));
    doc.AddNameValue(QStringLiteral("password"), Password);
    return doc.ToJSON();
}

QString BuildRegisterPayload(const QString& Name, const QString& Email, const QString& Password) {
    TJSONVariantData doc;
    doc.AddNameValue(QStringLiteral("user"), TrimInput(Name));
    doc.AddNameValue(QStringLiteral("email"), TrimInput(Email));
    doc.AddNameValue(QStringLiteral("password"), Password);
    return doc.ToJSON();
}

TAccountAnswer ValidateRegistration(const QString& Name, const QString& Email, const QString& Password,
                                    const QString& PasswordConfirm) {
    static const QRegularExpression nameRule(QStringLiteral("^[a-zA-Z0-9_]*$"));
    const QString name = TrimInput(Name);
    if (name.isEmpty())
        return Refused(65045, QStringLiteral("Введите имя пользователя"), TAccountField::Name);
    if (!nameRule.match(name).hasMatch())
        return BadName();
    const QString email = TrimInput(Email);
    if (email.size() < 5 || email.indexOf(u'@', 1) < 1)
        return BadEmail();
    if (Password != PasswordConfirm)
        return Refused(65044, QStringLiteral("Пароли должны совпадать"), TAccountField::Password);
    if (TrimInput(Password).size() < 3)
        return Refused(65043, QStringLiteral("Ох, коротковат пароль"), TAccountField::Password);
    return Accepted();
}

TAccountAnswer Login(const QString& Name, const QString& Password) {
    QString answer;
    try {
        answer = TRestClient().Post(LoginUrl(), BuildLoginPayload(Name, Password));
    } catch (const ERestClientException& e) {
        if (e.StatusCode != 403)
            throw;
        return Refused(65046, QStringLiteral("Неправильный пароль или имя пользователя"), TAccountField::None);
    }
    // The user belongs to the main thread; the request itself may run on a worker.
    RunOnMainThread([&] {
        const TJSONVariantData document(answer);
        TUser& user = CurrentUser();
        user.SetName(TrimInput(Name));
        user.SetToken(document.MemberCopy(QStringLiteral("token")).AsString());
        user.Save();
    });
    return Accepted();
}

TAccountAnswer Register(const QString& Name, const QString& Email, const QString& Password,
                        const QString& PasswordConfirm) {
    const TAccountAnswer invalid = ValidateRegistration(Name, Email, Password, PasswordConfirm);
    if (!invalid.Accepted)
        return invalid;
    QString answer;
    try {
        answer = TRestClient().Post(RegisterUrl(), BuildRegisterPayload(Name, Email, Password));
    } catch (const ERestClientException& e) {
        // An unreadable or null "field" is one we cannot explain: the original error goes on.
        QString field;
        try {
            field = TJSONVariantData(e.Response).MemberCopy(QStringLiteral("field")).AsString();
        } catch (const Exception&) {
        }
        const bool isUser = field == QStringLiteral("user"), isEmail = field == QStringLiteral("email");
        if (e.StatusCode == 400 && isUser)
            return BadName();
        if (e.StatusCode == 400 && isEmail)
            return BadEmail();
        if (e.StatusCode == 409 && isUser)
            return Refused(65070, QStringLiteral("К сожалению, выбранное имя пользователя уже занято"),
                           TAccountField::Name);
        if (e.StatusCode == 409 && isEmail)
            return Refused(65071, QStringLiteral("Адрес электронной почты уже зарегистрирован"),
                           TAccountField::Email);
        throw;
    }
    const QString registered = TJSONVariantData(answer).MemberCopy(QStringLiteral("user")).AsString();
    RunOnMainThread([&] {
        TUser& user = CurrentUser();
        if (!user.hasName()) {
            user.SetName(registered);
            user.Save();
        }
    });
    return Accepted(65042, QStringLiteral("Новый пользователь зарегистрирован"));
}
