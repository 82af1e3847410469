#include "Platform/SafeFile.h"
#include "App/Exceptions.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

TEST(SafeFile, ReplacesWholeAndLeavesNoTemporaryFiles) {
    const QString dir = MakeTempDir();
    const QString name = dir + QStringLiteral("a.dat");
    WriteFile(name, "old content that is longer");
    QFile::setPermissions(name, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    WriteFileReplacing(name, "new");
    EXPECT_EQ(ReadFile(name), QByteArray("new"));
    EXPECT_TRUE(QFile::permissions(name).testFlag(QFileDevice::ReadOther)); // an existing mode is kept
    WriteFileReplacing(name, "secret", true);
    EXPECT_EQ(QFile::permissions(name) & (QFileDevice::ReadGroup | QFileDevice::ReadOther), 0);
    EXPECT_EQ(QDir(dir).entryList(QDir::Files), QStringList({"a.dat"}));
}

TEST(SafeFile, MissingFolderRaisesAndKeepsNothing) {
    const QString dir = MakeTempDir();
    EXPECT_THROW(WriteFileReplacing(dir + QStringLiteral("no/x"), "x"), EInOutError);
    EXPECT_TRUE(QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
}
