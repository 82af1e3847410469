#include "App/CLIParameters.h"

#include <gtest/gtest.h>

TEST(CLIParameters, SkipsProgramPath) {
    char a0[] = "/usr/bin/tarvenox", a1[] = "tarvenox://run/k/", a2[] = "Ключ";
    char* argv[] = {a0, a1, a2};
    const TCLIParameters params(3, argv);
    EXPECT_EQ(params, QStringList({"tarvenox://run/k/", QStringLiteral("Ключ")}));
}

TEST(CLIParameters, HasCLIWord) {
    struct Case {
        QStringList arguments;
        bool expected;
    };
    const Case cases[] = {
        {{"register-url-protocol"}, true},     {{"x", "REGISTER-URL-PROTOCOL"}, true},
        {{"Register-URL-Protocol=yes"}, true}, {{"register-url-protocol=1=2"}, true},
        {{"register-url-protocolx"}, false},   {{"x=register-url-protocol"}, false},
        {{"-register-url-protocol"}, false},   {{}, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(HasCLIWord(c.arguments, QStringLiteral("register-url-protocol")), c.expected)
            << c.arguments.join(' ').toStdString();
}

TEST(CLIParameters, UriCommands) {
    const QString longKey(300, u'k');
    struct Case {
        QString argument, text, name, key;
    };
    const Case cases[] = {
        {"tarvenox://run/e41b07c39a5f4d6e8c2a1f90b3d7c655/", "run/e41b07c39a5f4d6e8c2a1f90b3d7c655", "run",
         "e41b07c39a5f4d6e8c2a1f90b3d7c655"},
        {"tarvenox://run/abc", "run/abc", "run", "abc"},
        {"tarvenox:run/abc", "n/abc", "n", "abc"},
        {"TARVENOX://run/abc", "", "", ""},
        {" tarvenox://run/abc", "", "", ""},
        {"tarvenox://", "", "", ""},
        {"tarvenox://run", "run", "", "run"},
        {"tarvenox://run/abc/def/", "run/abc/def", "run", "abc/def"},
        {"tarvenox://run/abc//", "run/abc/", "run", "abc/"},
        // Cut to 255 characters before the trailing "/" is looked at.
        {"tarvenox://run/" + longKey, "run/" + longKey.left(251), "run", longKey.left(251)},
        {"tarvenox://run/" + QString(250, u'k') + "/x", "run/" + QString(250, u'k'), "run",
         QString(250, u'k')},
        {"tarvenox://run/" + QString(251, u'k') + "/", "run/" + QString(251, u'k'), "run",
         QString(251, u'k')},
    };
    for (const Case& c : cases) {
        const QString text = ParseUriCommand(c.argument);
        EXPECT_EQ(text, c.text) << c.argument.toStdString();
        EXPECT_EQ(GetUriCommandName(text), c.name) << c.argument.toStdString();
        EXPECT_EQ(GetUriCommandKey(text), c.key) << c.argument.toStdString();
    }
    EXPECT_EQ(GetUriCommandKey(QString(300, u'z')), QString(255, u'z'));
    EXPECT_EQ(GetUriCommandKey("run/" + QString(300, u'z')), QString(255, u'z'));
}

TEST(CLIParameters, FirstLinkArgumentCounts) {
    EXPECT_EQ(GetCLIUriCommand({"x", "tarvenox://run/a", "tarvenox://run/b"}), QStringLiteral("run/a"));
    EXPECT_EQ(GetCLIUriCommand({"self-restart", "TARVENOX://run/a"}), QString());
    EXPECT_EQ(GetCLIUriCommand({}), QString());
}
