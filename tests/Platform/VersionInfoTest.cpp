#include "Platform/VersionInfo.h"
#include "App/Paths.h"
#include "BuildConfig.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

namespace {

QString FakeExecutable(const TVersionNumbers& v) {
    static int n = 0;
    const QString name = MakeTempDir(QStringLiteral("exe")) + QStringLiteral("fake%1").arg(n++);
    WriteFile(name, QByteArray(1000, '\x90') + MakeVersionRecord(v) + QByteArray(100, '\0'));
    return name;
}

} // namespace

TEST(VersionInfo, OwnExecutableCarriesTheBuildVersion) {
    TVersionNumbers v;
    ASSERT_TRUE(ReadExecutableVersion(QCoreApplication::applicationFilePath(), v));
    EXPECT_EQ(v, OwnVersionNumbers());
    TFileVersionInfo info;
    GetFileVersionInfo(QCoreApplication::applicationFilePath(), info);
    EXPECT_EQ(info.ProductVersion, QStringLiteral("2.0.24.3"));
    EXPECT_EQ(info.FileVersion, QStringLiteral("2.0.24.3"));
}

TEST(VersionInfo, VersionTexts) {
    struct Case {
        TVersionNumbers numbers;
        const char* product;
        const char* file;
    };
    const Case cases[] = {
        {{{2, 0, 0, 0}, {2, 0, 0, 0}}, "2.0", "2.0"},
        {{{2, 1, 5, 0}, {2, 1, 5, 0}}, "2.1.5", "2.1.5"},
        {{{2, 0, 0, 7}, {2, 0, 0, 7}}, "2.0.0.7", "2.0.0.7"},
        {{{2, 1, 0, 0}, {2, 1, 0, 1}}, "2.1", "2.1.0.1"},
        {{{65535, 1, 2, 3}, {0, 0, 0, 0}}, "65535.1.2.3", "0.0.0.0"},
    };
    for (const Case& c : cases) {
        TFileVersionInfo info;
        GetFileVersionInfo(FakeExecutable(c.numbers), info);
        EXPECT_EQ(info.ProductVersion, QString::fromLatin1(c.product));
        EXPECT_EQ(info.FileVersion, QString::fromLatin1(c.file));
    }
}

TEST(VersionInfo, FilesWithoutRecordLeaveInfoUnchanged) {
    const QString dir = MakeTempDir();
    WriteFile(dir + QStringLiteral("plain"), QByteArray(4096, 'x'));
    WriteFile(dir + QStringLiteral("cut"), MakeVersionRecord(OwnVersionNumbers()).left(20));
    for (const QString& name :
         {dir + QStringLiteral("plain"), dir + QStringLiteral("cut"), dir + QStringLiteral("none"), dir}) {
        TFileVersionInfo info{QStringLiteral("f"), QStringLiteral("p")};
        GetFileVersionInfo(name, info);
        EXPECT_EQ(info.FileVersion, QStringLiteral("f")) << name.toStdString();
        EXPECT_EQ(info.ProductVersion, QStringLiteral("p"));
    }
}
