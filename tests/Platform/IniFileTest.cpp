#include "Platform/IniFile.h"
#include "App/Exceptions.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>

#include <thread>
#include <vector>

namespace {

QString IniWith(const QByteArray& bytes) {
    const QString name = MakeTempDir(QStringLiteral("ini")) + QStringLiteral("t.ini");
    WriteFile(name, bytes);
    return name;
}

} // namespace

TEST(IniFile, ReadsWithPrivateProfileRules) {
    const QByteArray text = "\xEF\xBB\xBF"
                            "top=outside\r\n"
                            "[Game]\r\n"
                            "  Name  =  \"  quoted \"  \r\n"
                            "single='x'\r\n"
                            "half=\"open\r\n"
                            "; note=comment\r\n"
                            "empty=\r\n"
                            "Name=second wins never\r\n"
                            "[ game ]\r\n"
                            "other=later section\r\n"
                            "[Пути]\r\n"
                            "Папка=Игры/тест\r\n";
    const TIniFile ini(IniWith(text));
    struct Case {
        const char* section;
        const char* key;
        QString expected;
    };
    const Case cases[] = {
        {"game", "NAME", QStringLiteral("  quoted ")}, // names ignore case; blanks then one quote pair go
        {"Game", "single", QStringLiteral("x")},
        {"Game", "half", QStringLiteral("\"open")}, // unmatched quote stays
        {"Game", "empty", QString()},
        {"Game", "note", QStringLiteral("default")},  // comment lines are no keys
        {"Game", "top", QStringLiteral("default")},   // lines before any section belong to none
        {"Game", "other", QStringLiteral("default")}, // only the first matching section counts
        {"Missing", "Name", QStringLiteral("default")},
        {"пути", "папка", QStringLiteral("Игры/тест")}, // UTF-8, case-insensitive beyond ASCII
    };
    for (const Case& c : cases)
        EXPECT_EQ(
            ini.ReadString(QString::fromUtf8(c.section), QString::fromUtf8(c.key), QStringLiteral("default")),
            c.expected)
            << c.section << "/" << c.key;

    EXPECT_EQ(ini.ReadSection(QStringLiteral("GAME")),
              QStringList({"Name", "single", "half", "empty", "Name"}));
    EXPECT_EQ(ini.ReadSections(), QStringList({"Game", QStringLiteral("Пути")}));
    EXPECT_TRUE(ini.ValueExists(QStringLiteral("game"), QStringLiteral("empty")));
    EXPECT_FALSE(ini.SectionExists(QStringLiteral("Nope")));
}

TEST(IniFile, MissingFileGivesDefaults) {
    const TIniFile ini(MakeTempDir() + QStringLiteral("none.ini"));
    EXPECT_EQ(ini.ReadString("a", "b", "d"), QStringLiteral("d"));
    EXPECT_EQ(ini.ReadInteger("a", "b", 7), 7);
    EXPECT_TRUE(ini.ReadSection("a").isEmpty());
    EXPECT_TRUE(ini.ReadSections().isEmpty());
}

TEST(IniFile, ReadsAreCutAt2047Characters) {
    const QByteArray longValue(5000, 'v');
    const TIniFile ini(IniWith("[s]\nk=" + longValue + "\n"));
    EXPECT_EQ(ini.ReadString("s", "k", QString()).size(), 2047);
}

TEST(IniFile, IntegersAndBooleans) {
    struct Case {
        const char* text;
        int expected; // with default 42
    };
    const Case cases[] = {
        {"0", 0},
        {"2", 2},
        {"-15", -15},
        {"+3", 3},
        {"0x1F", 31},
        {"0X0", 0},
        {"$ff", 255},
        {"$FFFFFFFF", -1},
        {"yes", 42},
        {"", 42},
        {"12abc", 42},
        {"0x", 42},
        {"1.5", 42},
        {" 9 ", 9},
        {"2147483647", 2147483647},
        {"2147483648", 42},
        {"-2147483648", -2147483647 - 1},
        {"0x100000000", 42},
    };
    for (const Case& c : cases) {
        const TIniFile ini(IniWith(QByteArray("[s]\nk=") + c.text + "\n"));
        EXPECT_EQ(ini.ReadInteger("s", "k", 42), c.expected) << c.text;
        EXPECT_EQ(ini.ReadBool("s", "k", true), c.expected != 0) << c.text;
    }
}

TEST(IniFile, WriteReplacesOnlyItsOwnLine) {
    const QByteArray before = "\xEF\xBB\xBF; keep me\r\n"
                              "[Updates]\r\n"
                              "Core = 1\r\n"
                              "  apps=1\r\n"
                              "\r\n"
                              "[Other]\r\n"
                              "x=\"y\"\r\n";
    const QString name = IniWith(before);
    TIniFile ini(name);
    ini.WriteString("updates", "APPS", "0");
    QByteArray expected = before;
    expected.replace("  apps=1", "  apps=0");
    EXPECT_EQ(ReadFile(name), expected);

    // A new key goes after the last key of its section; the blank line before the next section stays.
    ini.WriteString("Updates", "Components", "1");
    expected.replace("  apps=0\r\n", "  apps=0\r\nComponents=1\r\n");
    EXPECT_EQ(ReadFile(name), expected);

    ini.WriteString("New", "k", "значение");
    expected += "[New]\r\nk=значение\r\n";
    EXPECT_EQ(ReadFile(name), expected);

    ini.DeleteKey("UPDATES", "core");
    expected.replace("Core = 1\r\n", "");
    EXPECT_EQ(ReadFile(name), expected);
    ini.DeleteKey("Updates", "missing");
    ini.DeleteKey("Missing", "core");
    EXPECT_EQ(ReadFile(name), expected);
    EXPECT_EQ(ini.ReadString("New", "K", ""), QStringLiteral("значение"));
}

TEST(IniFile, WritesIntoNewAndUnterminatedFiles) {
    const QString fresh = MakeTempDir() + QStringLiteral("fresh.ini");
    TIniFile ini(fresh);
    ini.WriteBool("S", "on", true);
    ini.WriteBool("S", "off", false);
    ini.WriteInteger("S", "n", -3);
    EXPECT_EQ(ReadFile(fresh), QByteArray("[S]\non=1\noff=0\nn=-3\n"));

    const QString open = IniWith("[S]\na=1");
    TIniFile(open).WriteString("S", "b", "2");
    EXPECT_EQ(ReadFile(open), QByteArray("[S]\na=1\nb=2\n"));
    const QString header = IniWith("[S]");
    TIniFile(header).WriteString("S", "b", "2");
    EXPECT_EQ(ReadFile(header), QByteArray("[S]\nb=2\n"));
}

TEST(IniFile, WriteFailuresNameTheFile) {
    const QString name = MakeTempDir() + QStringLiteral("no/such/folder/x.ini");
    TIniFile ini(name);
    try {
        ini.WriteString("s", "k", "v");
        FAIL() << "no error";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Unable to write to ") + name);
    }
    EXPECT_FALSE(QFile::exists(name));
    ini.DeleteKey("s", "k"); // never raises

    // Texts that would break the file's lines are refused instead of corrupting it.
    const QString good = IniWith("[s]\nk=1\n");
    TIniFile target(good);
    EXPECT_THROW(target.WriteString("s", "k", "a\nb"), EIniFileException);
    EXPECT_THROW(target.WriteString("s", "k=j", "1"), EIniFileException);
    EXPECT_THROW(target.WriteString("s]x", "k", "1"), EIniFileException);
    EXPECT_EQ(ReadFile(good), QByteArray("[s]\nk=1\n"));
}

TEST(IniFile, OddBytesDoNotCrash) {
    static const char odd[] = "\x00\xff[\r\n=\r\n[]\r\n==\r\n[s\r\nk\r\nv=1\r\n\xc3";
    const TIniFile ini(IniWith(QByteArray(odd, sizeof(odd) - 1)));
    EXPECT_EQ(ini.ReadString("s", "v", "d"), QStringLiteral("1")); // an unclosed header still opens "s"
    EXPECT_EQ(ini.ReadSection("s"), QStringList({"v"}));
}

TEST(IniFile, ConcurrentWritesKeepEveryKey) {
    const QString name = MakeTempDir() + QStringLiteral("shared.ini");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&name, t] {
            TIniFile ini(name);
            for (int i = 0; i < 25; ++i)
                ini.WriteInteger(QStringLiteral("T%1").arg(t), QStringLiteral("k%1").arg(i), i);
        });
    for (auto& thread : threads)
        thread.join();
    const TIniFile ini(name);
    for (int t = 0; t < 4; ++t)
        EXPECT_EQ(ini.ReadSection(QStringLiteral("T%1").arg(t)).size(), 25) << t;
}
