#include "Service/Account.h"
#include "App/HttpExceptions.h"
#include "App/Paths.h"
#include "App/User.h"
#include "AccountService.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <memory>
#include <mutex>

namespace {

class AccountTest : public TAccountServiceTest {
protected:
    static std::unique_ptr<TUser> Saved() {
        auto user = std::make_unique<TUser>();
        user->Load();
        return user;
    }
};

} // namespace

TEST_F(AccountTest, RequestTextsTrimNamesButNotPasswords) {
    EXPECT_EQ(BuildLoginPayload(QStringLiteral(" \tbob \r\n"), QStringLiteral(" pw ")),
              QStringLiteral(R"({"user":"bob","password":" pw "})"));
    EXPECT_EQ(BuildRegisterPayload(QStringLiteral("  bob"), QStringLiteral(" b@x.io "), QStringLiteral("a\"b")),
              QStringLiteral(R"({"user":"bob","email":"b@x.io","password":"a\"b"})"));
}

TEST_F(AccountTest, RegistrationInputRules) {
    const QString ok = QStringLiteral("abc");
    const struct {
        QString name, email, pass, confirm;
        int resource;
        TAccountField focus;
    } cases[] = {
        {QStringLiteral("player_1"), QStringLiteral("a@b.c"), ok, ok, 0, TAccountField::None},
        {QStringLiteral("  "), QStringLiteral("a@b.c"), ok, ok, 65045, TAccountField::Name},
        {QStringLiteral("player.one"), QStringLiteral("a@b.c"), ok, ok, 65041, TAccountField::Name},
        {QString::fromUtf8("игрок"), QStringLiteral("a@b.c"), ok, ok, 65041, TAccountField::Name},
        {QStringLiteral("p"), QStringLiteral("a@bc"), ok, ok, 65040, TAccountField::Email},
        {QStringLiteral("p"), QStringLiteral("@abcd"), ok, ok, 65040, TAccountField::Email},
        {QStringLiteral("p"), QStringLiteral("abcde"), ok, ok, 65040, TAccountField::Email},
        // Only length and the place of "@" are checked.
        {QStringLiteral("p"), QStringLiteral("abcd@"), ok, ok, 0, TAccountField::None},
        {QStringLiteral("p"), QStringLiteral("  a@b  "), ok, ok, 65040, TAccountField::Email},
        {QStringLiteral("p"), QStringLiteral("a@b.c"), ok, QStringLiteral("abd"), 65044, TAccountField::Password},
        {QStringLiteral("p"), QStringLiteral("a@b.c"), ok, QStringLiteral("abc "), 65044, TAccountField::Password},
        {QStringLiteral("p"), QStringLiteral("a@b.c"), QStringLiteral(" ab "), QStringLiteral(" ab "), 65043,
         TAccountField::Password},
        {QStringLiteral("p"), QStringLiteral("a@b.c"), QStringLiteral(" abc "), QStringLiteral(" abc "), 0,
         TAccountField::None},
        // The first broken rule wins.
        {QStringLiteral("p!"), QStringLiteral("bad"), QStringLiteral("x"), QStringLiteral("y"), 65041,
         TAccountField::Name},
    };
    for (const auto& c : cases) {
        const TAccountAnswer a = ValidateRegistration(c.name, c.email, c.pass, c.confirm);
        const std::string what = (c.name + QStringLiteral("/") + c.email + QStringLiteral("/") + c.pass).toStdString();
        EXPECT_EQ(a.Accepted, c.resource == 0) << what;
        EXPECT_EQ(a.Resource, c.resource) << what;
        EXPECT_EQ(a.Focus, c.focus) << what;
    }
    EXPECT_EQ(ValidateRegistration(QStringLiteral("p"), QStringLiteral("a@b.c"), ok, QStringLiteral("x")).Text,
              QStringLiteral("Пароли должны совпадать"));
}

TEST_F(AccountTest, LoginStoresTheTrimmedNameAndTheToken) {
    Answer(200, R"({"token":"t-123"})");
    const TAccountAnswer a = Login(QStringLiteral("  bob "), QStringLiteral(" secret "));
    EXPECT_TRUE(a.Accepted);
    EXPECT_EQ(a.Resource, 0);
    ASSERT_EQ(Requests().size(), 1u);
    EXPECT_EQ(Requests()[0].Path, "/api/kiv/login");
    EXPECT_EQ(Requests()[0].Body, "{\"user\":\"bob\",\"password\":\" secret \"}\r\n");
    EXPECT_EQ(CurrentUser().Name(), QStringLiteral("bob"));
    EXPECT_EQ(CurrentUser().Token(), QStringLiteral("t-123"));
    EXPECT_EQ(Saved()->Token(), QStringLiteral("t-123"));
    EXPECT_EQ(Saved()->Name(), QStringLiteral("bob"));

    // An answer without a token logs nobody in but still closes the dialog.
    Answer(200, R"({"other":1})");
    EXPECT_TRUE(Login(QStringLiteral("bob"), QStringLiteral("pw")).Accepted);
    EXPECT_EQ(CurrentUser().Token(), QString());
}

TEST_F(AccountTest, LoginRefusals) {
    Answer(403, R"({"error":"denied"})");
    const TAccountAnswer a = Login(QStringLiteral("bob"), QStringLiteral("pw"));
    EXPECT_FALSE(a.Accepted);
    EXPECT_EQ(a.Resource, 65046);
    EXPECT_EQ(a.Text, QStringLiteral("Неправильный пароль или имя пользователя"));
    EXPECT_EQ(CurrentUser().Name(), QString());

    Answer(500, "oops");
    EXPECT_THROW(Login(QStringLiteral("bob"), QStringLiteral("pw")), ERestClientException);
    // A null token fails after the name is taken and before anything is saved.
    Answer(200, R"({"token":null})");
    EXPECT_ANY_THROW(Login(QStringLiteral("bob"), QStringLiteral("pw")));
    EXPECT_EQ(CurrentUser().Name(), QStringLiteral("bob"));
    EXPECT_EQ(Saved()->Name(), QString());
}

TEST_F(AccountTest, RegistrationNamesTheUserOnlyWhenUnnamedAndNeverLogsIn) {
    Answer(200, R"({"user":"NewBob"})");
    TAccountAnswer a = Register(QStringLiteral(" newbob "), QStringLiteral("n@b.io"), QStringLiteral("pw1"),
                                QStringLiteral("pw1"));
    EXPECT_TRUE(a.Accepted);
    EXPECT_EQ(a.Resource, 65042);
    EXPECT_EQ(a.Text, QStringLiteral("Новый пользователь зарегистрирован"));
    ASSERT_FALSE(Requests().empty());
    EXPECT_EQ(Requests().back().Path, "/api/kiv/public/register");
    EXPECT_EQ(Requests().back().Body, "{\"user\":\"newbob\",\"email\":\"n@b.io\",\"password\":\"pw1\"}\r\n");
    EXPECT_EQ(CurrentUser().Name(), QStringLiteral("NewBob"));
    EXPECT_EQ(Saved()->Name(), QStringLiteral("NewBob"));
    EXPECT_EQ(CurrentUser().Token(), QString());

    CurrentUser().SetToken(QStringLiteral("mine"));
    Answer(200, R"({"user":"Other"})");
    EXPECT_TRUE(Register(QStringLiteral("other"), QStringLiteral("o@b.io"), QStringLiteral("pw1"),
                         QStringLiteral("pw1"))
                    .Accepted);
    EXPECT_EQ(CurrentUser().Name(), QStringLiteral("NewBob"));
    EXPECT_EQ(CurrentUser().Token(), QStringLiteral("mine"));
}

TEST_F(AccountTest, RegistrationRefusals) {
    const struct {
        int status;
        std::string body;
        int resource; // 0: the service's error reaches the caller
        TAccountField focus;
    } cases[] = {
        {400, R"({"field":"user"})", 65041, TAccountField::Name},
        {400, R"({"field":"email"})", 65040, TAccountField::Email},
        {409, R"({"field":"user"})", 65070, TAccountField::Name},
        {409, R"({"field":"email"})", 65071, TAccountField::Email},
        {409, R"({"field":"password"})", 0, TAccountField::None},
        {409, R"({"field":null})", 0, TAccountField::None},
        {409, "not json", 0, TAccountField::None},
        {403, R"({"field":"user"})", 0, TAccountField::None},
        {500, "", 0, TAccountField::None},
    };
    for (const auto& c : cases) {
        Answer(c.status, c.body);
        const auto call = [] {
            return Register(QStringLiteral("bob"), QStringLiteral("b@x.io"), QStringLiteral("pw1"),
                            QStringLiteral("pw1"));
        };
        if (c.resource == 0) {
            try {
                call();
                ADD_FAILURE() << "no error for " << c.status << " " << c.body;
            } catch (const ERestClientException& e) {
                EXPECT_EQ(e.StatusCode, c.status);
            }
            continue;
        }
        const TAccountAnswer a = call();
        EXPECT_FALSE(a.Accepted) << c.body;
        EXPECT_EQ(a.Resource, c.resource) << c.status << " " << c.body;
        EXPECT_EQ(a.Focus, c.focus) << c.status << " " << c.body;
    }
    EXPECT_EQ(CurrentUser().Name(), QString());

    // Input the rules refuse is never sent.
    const size_t before = Requests().size();
    EXPECT_EQ(Register(QStringLiteral("bad name"), QStringLiteral("b@x.io"), QStringLiteral("pw1"),
                       QStringLiteral("pw1"))
                  .Resource,
              65041);
    EXPECT_EQ(Requests().size(), before);
}
