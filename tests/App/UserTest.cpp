#include "App/User.h"
#include "App/Paths.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <set>
#include <thread>
#include <vector>

namespace {

QString UserFile() {
    return LocalUserDataPath() + QStringLiteral("user.dat");
}
QString KeyFile() {
    return LocalUserDataPath() + QStringLiteral("key.dat");
}

// Records every change notification of a user as the event and the values seen at that moment.
struct TRecorder {
    TUser& User;
    QStringList Seen;
    TNotifyEvent Handler() {
        return {this, "Record", [this](void* sender) {
                    EXPECT_EQ(sender, nullptr);
                    const char* what = User.LastChangeEvent() == TUserChangeEvent::ceName ? "name" : "token";
                    Seen << QStringLiteral("%1:%2/%3").arg(what, User.Name(), User.Token());
                }};
    }
};

bool IsKeyText(const QString& key) {
    static const QRegularExpression form(
        QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
    return form.match(key).hasMatch();
}

class UserTest : public ::testing::Test {
protected:
    void SetUp() override {
        DoneUser();
        QFile::remove(UserFile());
        QFile::remove(KeyFile());
    }
    void TearDown() override { SetUp(); }
};

} // namespace

TEST_F(UserTest, LoadNotifiesNameThenToken) {
    WriteFile(UserFile(), "\xEF\xBB\xBFИгрок\r\ntok-1\r\n");
    TUser user;
    TRecorder rec{user};
    user.OnChangeSubscribers().Subscribe(rec.Handler());
    user.Load();
    EXPECT_EQ(rec.Seen, QStringList({QStringLiteral("name:Игрок/"), QStringLiteral("token:Игрок/tok-1")}));
}

TEST_F(UserTest, UserFileContents) {
    struct Case {
        QByteArray bytes;
        QString name, token;
    };
    const Case cases[] = {
        {"only-name\r\n", "", ""},
        {"only-name", "", ""},
        {"", "", ""},
        {"name\r\n\r\n", "name", ""},
        {"name\ntoken", "name", "token"},
        {"name\rtoken\rextra\r", "name", "token"},
        {"\xEF\xBB\xBF\r\ntoken\r\n", "", "token"},
        {QByteArray("\xff\xfe\x00n\r\nt\r\n", 9), QString::fromUtf8(QByteArray("\xff\xfe\x00n", 4)), "t"},
    };
    for (const Case& c : cases) {
        WriteFile(UserFile(), c.bytes);
        TUser user;
        user.Load();
        EXPECT_EQ(user.Name(), c.name) << c.bytes.toStdString();
        EXPECT_EQ(user.Token(), c.token) << c.bytes.toStdString();
    }
}

TEST_F(UserTest, SaveWritesBomAndCrLfPrivately) {
    QDir(LocalUserDataPath()).removeRecursively();
    TUser user;
    user.SetName(QStringLiteral("Игрок"));
    user.SetToken(QStringLiteral("abc"));
    user.Save();
    EXPECT_EQ(ReadFile(UserFile()), QByteArray("\xEF\xBB\xBFИгрок\r\nabc\r\n"));
    EXPECT_EQ(QFile::permissions(UserFile()) & ~(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                 QFileDevice::ReadUser | QFileDevice::WriteUser),
              0);
    user.ResetToken();
    EXPECT_EQ(ReadFile(UserFile()), QByteArray("\xEF\xBB\xBFИгрок\r\n\r\n"));
    TUser again;
    again.Load();
    EXPECT_EQ(again.Name(), QStringLiteral("Игрок"));
    EXPECT_FALSE(again.hasToken());
}

TEST_F(UserTest, ChangeNotifications) {
    TUser user;
    TRecorder rec{user};
    user.OnChangeSubscribers().Subscribe(rec.Handler());
    user.SetToken("t");
    user.SetToken("t"); // unchanged: silent
    user.SetName("n");
    user.SetName("n");
    user.SetName(""); // clears the token first
    EXPECT_EQ(rec.Seen, QStringList({"token:/t", "name:n/t", "token:/", "name:/"}));
    EXPECT_FALSE(user.hasName() || user.hasToken());
    EXPECT_FALSE(QFile::exists(UserFile())); // setting values never writes
}

TEST_F(UserTest, SubscribersInOrderAndTwice) {
    TUser user;
    QStringList calls;
    int tagA = 0, tagB = 0;
    const TNotifyEvent a{&tagA, "A", [&](void*) { calls << "a"; }};
    const TNotifyEvent b{&tagB, "A", [&](void*) { calls << "b"; }};
    user.OnChangeSubscribers().Subscribe(a);
    user.OnChangeSubscribers().Subscribe(b);
    user.OnChangeSubscribers().Subscribe(a);
    user.SetToken("1");
    EXPECT_EQ(calls, QStringList({"a", "b", "a"}));
    user.OnChangeSubscribers().Unsubscribe(a);
    calls.clear();
    user.SetToken("2");
    EXPECT_EQ(calls, QStringList({"b", "a"}));
}

TEST_F(UserTest, CurrentUserAndSubscription) {
    WriteFile(UserFile(), "\xEF\xBB\xBFn\r\nt\r\n");
    InitUser();
    EXPECT_EQ(CurrentUser().Name(), QStringLiteral("n"));
    int calls = 0;
    const TNotifyEvent h{&calls, "h", [&](void*) { ++calls; }};
    SubscribeOnUserChange(h);
    CurrentUser().ResetToken();
    UnsubscribeOnUserChange(h);
    CurrentUser().SetName("m");
    EXPECT_EQ(calls, 1);
}

TEST_F(UserTest, InstallKeyIsMadeOnceAndKept) {
    // The first requests of a run may be built on several threads at the same moment.
    std::vector<QString> keys(8);
    std::vector<std::thread> threads;
    for (auto& key : keys)
        threads.emplace_back([&key] { key = GetInstallKey(); });
    for (auto& t : threads)
        t.join();
    EXPECT_TRUE(IsKeyText(keys[0])) << keys[0].toStdString();
    EXPECT_EQ(std::set<QString>(keys.begin(), keys.end()).size(), 1u);
    EXPECT_EQ(ReadFile(KeyFile()), "\xEF\xBB\xBF" + keys[0].toUtf8() + "\r\n");
    EXPECT_EQ(QFile::permissions(KeyFile()) & (QFileDevice::ReadOther | QFileDevice::ReadGroup), 0);

    DoneUser(); // a new run reads the same key
    EXPECT_EQ(GetInstallKey(), keys[0]);
}

TEST_F(UserTest, KeyFileContents) {
    const QString stored = QStringLiteral("0A1B2C3D-0000-4000-8000-001122334455");
    struct Case {
        QByteArray bytes;
        bool kept;
    };
    const Case cases[] = {
        {"\xEF\xBB\xBF" + stored.toUtf8() + "\r\n", true},
        {stored.toUtf8(), true}, // 36 characters without a line break still count
        {"abc", false},
        {"", false},
        {"\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n", false}, // long but no key
        {"0123456789012345678901234567\r\n", false}, // 30 characters with the line break
    };
    for (const Case& c : cases) {
        DoneUser();
        WriteFile(KeyFile(), c.bytes);
        const QString key = GetInstallKey();
        if (c.kept) {
            EXPECT_EQ(key, stored);
        } else {
            EXPECT_TRUE(IsKeyText(key)) << c.bytes.toStdString();
            EXPECT_EQ(ReadFile(KeyFile()), "\xEF\xBB\xBF" + key.toUtf8() + "\r\n");
        }
    }
}

TEST_F(UserTest, UnwritableKeyStillServesTheRun) {
    // A folder in place of key.dat: the key cannot be stored, but the run keeps one key.
    QDir().mkpath(KeyFile());
    const QString key = GetInstallKey();
    EXPECT_TRUE(IsKeyText(key));
    EXPECT_EQ(GetInstallKey(), key);
    QDir(KeyFile()).removeRecursively();
}

// Request headers are built on workers while the main thread may be waiting for them.
TEST(User, WorkerReadsTokenWhileMainThreadWaits) {
    TUser user;
    user.SetToken(QStringLiteral("t-1"));
    QString seen;
    std::thread worker([&] { seen = user.SharedToken(); });
    worker.join();
    EXPECT_EQ(seen, QStringLiteral("t-1"));
    user.ResetToken();
    std::thread again([&] { seen = user.SharedToken(); });
    again.join();
    EXPECT_TRUE(seen.isEmpty());
}
