// Runs the built tarvenox-server on a free port with its own database and talks to it over HTTP.
#include "BuildConfig.h"
#include "ServiceProcess.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace {

const QString kBinDir = QStringLiteral(TARVENOX_TEST_BIN_DIR);
const QString kServer = kBinDir + QStringLiteral("/server/tarvenox-server");
const QString kSample = kBinDir + QStringLiteral("/sample-content");

QJsonObject Json(const std::string& body) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(body)).object();
}

// The launcher's event body: Base64 in lines of 76 characters, each followed by CR LF.
std::string EventBody(const QByteArray& json) {
    QByteArray b64 = json.toBase64(), out;
    for (int i = 0; i < b64.size(); i += 76)
        out += b64.mid(i, 76) + "\r\n";
    return out.toStdString();
}

long RssKiB(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}


class ServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QFileInfo::exists(kServer)) << kServer.toStdString();
        FServer = std::make_unique<ServerProcess>(kSample, QStringList{"--seed-demo-user"});
        ASSERT_GT(FServer->Port(), 0) << FServer->Log().toStdString();
        FClient = FServer->Client();
    }

    int Register(const std::string& user, const std::string& email, const std::string& password,
                 std::string* field = nullptr) {
        QJsonObject body{{"user", QString::fromStdString(user)},
                         {"email", QString::fromStdString(email)},
                         {"password", QString::fromStdString(password)}};
        auto res = FClient->Post("/api/kiv/public/register",
                                 QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString() + "\r\n",
                                 "application/json");
        if (!res)
            return -1;
        if (field)
            *field = Json(res->body).value("field").toString().toStdString();
        return res->status;
    }

    std::string Login(const std::string& user, const std::string& password) {
        auto res = FClient->Post("/api/kiv/login", "{\"user\":\"" + user + "\",\"password\":\"" + password + "\"}\r\n",
                                 "application/json");
        EXPECT_TRUE(res && res->status == 200) << (res ? res->body : "no answer");
        return res ? Json(res->body).value("token").toString().toStdString() : std::string();
    }

    httplib::Headers Headers(const std::string& token, const std::string& install = "install-1") {
        httplib::Headers h{{"User-Agent", "Tarveno! v2.0.24.3/2.0.24.3"}, {"Kiv-Signature", install}};
        if (!token.empty())
            h.emplace("User-Token", token);
        return h;
    }

    httplib::Result GameEvent(const std::string& token, const QByteArray& json, const std::string& install = "install-1") {
        return FClient->Post("/api/kiv/public/event/app", Headers(token, install), EventBody(json), "application/json");
    }

    QJsonArray Board(const std::string& path, const std::string& token, const std::string& install = "install-1") {
        auto res = FClient->Get(path.c_str(), Headers(token, install));
        EXPECT_TRUE(res && res->status == 200);
        return res ? Json(res->body).value("data").toArray() : QJsonArray();
    }

    std::unique_ptr<ServerProcess> FServer;
    std::unique_ptr<httplib::Client> FClient;
};

TEST_F(ServerTest, CatalogPagesAndPicturesHaveTheLauncherShapes) {
    auto res = FClient->Get("/api/kiv/public/catalog", {{"Accept", "application/vnd.api+json"}});
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200);
    EXPECT_EQ(res->get_header_value("Content-Type"), "application/vnd.api+json");
    QJsonArray data = Json(res->body).value("data").toArray();
    QStringList keys;
    for (const auto& v : data) {
        QJsonObject r = v.toObject();
        EXPECT_EQ(r.value("type").toString(), "app");
        QJsonObject a = r.value("attributes").toObject();
        keys << a.value("key").toString();
        EXPECT_FALSE(a.value("title").toString().isEmpty());
        EXPECT_EQ(a.value("locked").toBool(), a.value("key").toString() == "demo-locked");
        // Every cover downloads as a PNG from the address the catalog gives.
        std::string cover = a.value("cover_url").toString().toStdString();
        ASSERT_EQ(cover.rfind(FServer->Origin(), 0), 0u) << cover;
        auto pic = FClient->Get(cover.substr(FServer->Origin().size()).c_str());
        ASSERT_TRUE(pic && pic->status == 200) << cover;
        EXPECT_EQ(pic->body.substr(0, 4), "\x89PNG");

        auto page = FClient->Get(("/api/kiv/public/catalog/" + a.value("key").toString().toStdString()).c_str());
        ASSERT_TRUE(page && page->status == 200);
        QJsonObject p = Json(page->body).value("data").toObject();
        EXPECT_EQ(p.value("type").toString(), "app-page");
        QJsonObject pa = p.value("attributes").toObject();
        for (const char* member : {"achievement_count", "scoreboard_count", "description", "description_long",
                                   "title", "cover_url", "media", "publish_date"})
            EXPECT_TRUE(pa.contains(member)) << member;
    }
    EXPECT_EQ(keys, (QStringList{"demo-arcade", "demo-dos", "demo-locked"}));
    // A Host header that is no host name does not make its way into the addresses.
    auto odd = FClient->Get("/api/kiv/public/catalog", {{"Host", "evil\"><script>"}});
    ASSERT_TRUE(odd && odd->status == 200);
    QString cover = Json(odd->body).value("data").toArray().first().toObject().value("attributes").toObject()
                        .value("cover_url").toString();
    EXPECT_TRUE(cover.startsWith(QString::fromStdString(FServer->Origin()) + "/cdn/covers/")) << cover.toStdString();

    auto arcade = Json(FClient->Get("/api/kiv/public/catalog/demo-arcade")->body).value("data").toObject();
    EXPECT_EQ(arcade.value("attributes").toObject().value("achievement_count").toInt(), 1);
    EXPECT_EQ(arcade.value("attributes").toObject().value("scoreboard_count").toInt(), 1);
    auto locked = Json(FClient->Get("/api/kiv/public/catalog/demo-locked")->body).value("data").toObject();
    QDateTime release = QDateTime::fromString(locked.value("attributes").toObject().value("publish_date").toString(),
                                              Qt::ISODate);
    EXPECT_GT(release, QDateTime::currentDateTimeUtc());
    EXPECT_EQ(FClient->Get("/api/kiv/public/catalog/no-such-game")->status, 404);

    auto web = FClient->Get("/!/tarvenox/");
    ASSERT_TRUE(web && web->status == 200);
    for (const char* key : {"demo-arcade", "demo-dos", "demo-locked"})
        EXPECT_NE(web->body.find(std::string("tarvenox://run/") + key), std::string::npos) << key;
    EXPECT_EQ(FClient->Get("/tarvenox/integration/on")->status, 200);
    EXPECT_EQ(FClient->Get("/tarvenox/integration/off")->status, 200);
}

TEST_F(ServerTest, MetadataListsEveryFileWithSizeTimeAndHash) {
    auto res = FClient->Get("/cdn/meta/apps/demo-dos.json");
    ASSERT_TRUE(res && res->status == 200);
    QJsonObject meta = Json(res->body);
    EXPECT_EQ(meta.value("name").toString(), "Demo DOS");
    EXPECT_FALSE(meta.value("version").toString().isEmpty());
    EXPECT_EQ(meta.value("component").toArray(), (QJsonArray{"dosbox"}));
    const QString dir = kSample + "/apps/demo-dos/files/";
    bool sawNested = false;
    for (const auto& v : meta.value("files").toArray()) {
        QJsonObject f = v.toObject();
        QString name = f.value("file").toString();
        QString local = dir + QString(name).replace('\\', '/');
        QFileInfo info(local);
        ASSERT_TRUE(info.isFile()) << name.toStdString();
        EXPECT_EQ(f.value("size").toInteger(), info.size());
        EXPECT_EQ(f.value("updated").toString(), info.lastModified().toUTC().toString("yyyy-MM-ddTHH:mm:ss"));
        QByteArray bytes = ReadFile(local);
        EXPECT_EQ(f.value("hash").toString(), QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
        // Served where the launcher asks: "\" as "/", "#" as "%23".
        std::string url = "/cdn/apps/demo-dos/" + QString(name).replace('\\', '/').replace("#", "%23").toStdString();
        auto file = FClient->Get(url.c_str());
        ASSERT_TRUE(file && file->status == 200) << url;
        EXPECT_EQ(QByteArray::fromStdString(file->body), bytes);
        sawNested |= name == "DATA\\MAPS\\LEVEL#1.DAT";
    }
    EXPECT_TRUE(sawNested);

    QJsonObject component = Json(FClient->Get("/cdn/meta/components/dosbox.json")->body);
    EXPECT_EQ(component.value("dependencies").toArray(), (QJsonArray{"demo-runtime"}));
    EXPECT_FALSE(component.value("files").toArray().isEmpty());
    auto ini = FClient->Get("/cdn/components/dosbox/meta.ini");
    ASSERT_TRUE(ini && ini->status == 200);
    EXPECT_NE(ini->body.find("[Launcher]"), std::string::npos);

    QJsonObject dep = Json(FClient->Get("/cdn/meta/dependencies/demo-runtime.json")->body);
    EXPECT_FALSE(dep.value("install").toObject().value("file").toString().isEmpty());
    std::string source = dep.value("sources").toArray().first().toString().toStdString();
    ASSERT_EQ(source.rfind(FServer->Origin(), 0), 0u) << source;
    auto installer = FClient->Get(source.substr(FServer->Origin().size()).c_str());
    ASSERT_TRUE(installer && installer->status == 200);
    EXPECT_EQ(installer->body.substr(0, 2), "#!");

    QJsonObject version = Json(FClient->Get("/cdn/tarvenox.json")->body);
    EXPECT_EQ(version.value("version").toString(), TARVENOX_VERSION_TEXT);

    // A game that is not out yet offers neither metadata nor files.
    EXPECT_EQ(FClient->Get("/cdn/meta/apps/demo-locked.json")->status, 403);
    EXPECT_EQ(FClient->Get("/cdn/apps/demo-locked/README.TXT")->status, 403);
    for (const char* missing : {"/cdn/meta/apps/nope.json", "/cdn/meta/app/demo-dos.json",
                                "/cdn/meta/components/nope.json", "/cdn/apps/demo-dos/NOPE.BAT", "/cdn/tarvenox"})
        EXPECT_EQ(FClient->Get(missing)->status, 404) << missing;
}

TEST_F(ServerTest, RegistrationFollowsTheDialogRules) {
    struct Case {
        const char *user, *email, *password;
        int status;
        const char* field;
    } cases[] = {
        {"player_1", "p1@example.com", "abc", 200, ""},
        {"  spaced  ", "sp@example.com", " ab ", 400, "password"},
        {"  spaced  ", "sp@example.com", "  abc  ", 200, ""},
        {"", "e@example.com", "abc", 400, "user"},
        {"player.one", "e@example.com", "abc", 400, "user"},
        {"игрок", "e@example.com", "abc", 400, "user"},
        {"newone", "a@bc", "abc", 400, "email"},
        {"newone", "@abcd", "abc", 400, "email"},
        {"newone", "abcdef", "abc", 400, "email"},
        {"PLAYER_1", "other@example.com", "abc", 409, "user"},
        {"player_2", "P1@example.com", "abc", 409, "email"},
    };
    for (const auto& c : cases) {
        std::string field;
        EXPECT_EQ(Register(c.user, c.email, c.password, &field), c.status) << c.user << " " << c.email;
        EXPECT_EQ(field, c.field) << c.user << " " << c.email;
    }
    auto res = FClient->Post("/api/kiv/public/register", R"({"user":"x1","email":"x1@example.com","password":"abc"})",
                             "application/json");
    EXPECT_EQ(Json(res->body).value("user").toString(), "x1");
    // Malformed requests are refused, never taken.
    for (const char* body : {"not json", "[1,2]", R"({"user":"x2","email":"x2@example.com"})",
                             R"({"user":5,"email":"x2@example.com","password":"abc"})"})
        EXPECT_EQ(FClient->Post("/api/kiv/public/register", body, "application/json")->status, 400) << body;
}

TEST_F(ServerTest, LoginTokenAndProfile) {
    std::string token = Login("demo", "demo123");
    ASSERT_EQ(token.size(), 64u);
    EXPECT_NE(Login("demo@example.com", "demo123"), token); // by e-mail too; every login gets its own token

    for (const char* body : {R"({"user":"demo","password":"wrong"})", R"({"user":"nobody","password":"demo123"})"}) {
        auto res = FClient->Post("/api/kiv/login", body, "application/json");
        EXPECT_EQ(res->status, 403) << body;
        EXPECT_FALSE(Json(res->body).contains("token"));
    }
    EXPECT_EQ(FClient->Post("/api/kiv/login", "{oops", "application/json")->status, 400);

    auto profile = FClient->Get("/api/kiv/profile", Headers(token));
    ASSERT_EQ(profile->status, 200);
    QJsonObject data = Json(profile->body).value("data").toObject();
    EXPECT_EQ(data.value("type").toString(), "kiv-user-info");
    EXPECT_EQ(data.value("attributes").toObject().value("name").toString(), "demo");
    EXPECT_EQ(data.value("attributes").toObject().value("coins").toInt(), 0);

    // A token the service does not know is refused where the launcher relies on it.
    const std::string bad(64, 'a');
    EXPECT_EQ(FClient->Get("/api/kiv/profile", Headers(bad))->status, 401);
    EXPECT_EQ(FClient->Get("/api/kiv/profile", Headers(""))->status, 401);
    EXPECT_EQ(FClient->Get("/api/kiv/public/catalog", Headers(bad))->status, 401);
    EXPECT_EQ(FClient->Get("/api/kiv/public/catalog", Headers(token))->status, 200);
    EXPECT_EQ(FClient->Post("/api/kiv/public/event", Headers(bad), EventBody(R"({"a":"kiv","e":"launch"})"),
                            "application/json")->status,
              401);

    // Neither the password nor the token reaches the log.
    QByteArray log = FServer->Log();
    EXPECT_TRUE(log.contains("/api/kiv/login"));
    EXPECT_FALSE(log.contains("demo123"));
    EXPECT_FALSE(log.contains(QByteArray::fromStdString(token)));
}

TEST_F(ServerTest, LauncherEventsAcceptTheLauncherFormAndRefuseBadBodies) {
    std::string token = Login("demo", "demo123");
    auto post = [&](const std::string& body, const httplib::Headers& h) {
        return FClient->Post("/api/kiv/public/event", h, body, "application/json")->status;
    };
    EXPECT_EQ(post(EventBody(R"({"a":"kiv","e":"launch"})"), Headers("")), 200);
    EXPECT_EQ(post(EventBody(R"({"a":"demo-arcade","e":"install-request"})"), Headers(token)), 200);
    // A body long enough to be sent in several CR LF separated lines.
    QByteArray longer = R"({"a":"demo-dos","e":"install","padding":")" + QByteArray(200, 'x') + "\"}";
    ASSERT_GT(EventBody(longer).find("\r\n"), 70u);
    EXPECT_EQ(post(EventBody(longer), Headers(token)), 200);

    struct Case {
        std::string body;
        int status;
    } bad[] = {
        {"not base64 at all!", 400},
        {"eyJhIjoia2l2IiwiZSI6ImxhdW5jaCJ9=", 400}, // broken padding
        {EventBody("not json"), 400},
        {EventBody(R"({"a":"kiv"})"), 400},
        {EventBody(R"({"a":"kiv","e":7})"), 400},
        {EventBody(R"({"a":"kiv","e":"explode"})"), 400},
        {EventBody(R"({"a":"no-such-game","e":"launch"})"), 404},
        {"", 400},
    };
    for (const auto& c : bad)
        EXPECT_EQ(post(c.body, Headers(token)), c.status) << c.body;
    EXPECT_EQ(post(EventBody(R"({"a":"kiv","e":"launch"})"), {{"User-Agent", "x"}}), 400); // no install key
}

TEST_F(ServerTest, AchievementsAreEarnedOnceAndPayCoins) {
    std::string token = Login("demo", "demo123");
    auto first = GameEvent(token, R"({"a":"demo-arcade","e":"first-blood"})");
    ASSERT_EQ(first->status, 200);
    QJsonArray earned = Json(first->body).value("data").toArray();
    ASSERT_EQ(earned.size(), 1);
    QJsonObject a = earned.first().toObject();
    EXPECT_EQ(a.value("type").toString(), "achievement");
    QJsonObject attrs = a.value("attributes").toObject();
    EXPECT_EQ(attrs.value("app_key").toString(), "demo-arcade");
    EXPECT_EQ(attrs.value("app_name").toString(), "Demo Arcade");
    EXPECT_FALSE(attrs.value("name").toString().isEmpty());
    EXPECT_TRUE(attrs.contains("description"));

    // The second time, and from another login of the same user, it earns nothing more.
    EXPECT_TRUE(Json(GameEvent(token, R"({"a":"demo-arcade","e":"first-blood"})")->body).value("data").toArray().isEmpty());
    std::string second = Login("demo", "demo123");
    EXPECT_TRUE(Json(GameEvent(second, R"({"a":"demo-arcade","e":"FIRST-BLOOD"})")->body).value("data").toArray().isEmpty());
    auto coins = [&](const std::string& t) {
        return Json(FClient->Get("/api/kiv/profile", Headers(t))->body)
            .value("data").toObject().value("attributes").toObject().value("coins").toInt();
    };
    EXPECT_EQ(coins(token), 50);

    // Another user earns it for themselves; without a login nobody earns anything.
    ASSERT_EQ(Register("other", "other@example.com", "secret"), 200);
    std::string other = Login("other", "secret");
    EXPECT_EQ(Json(GameEvent(other, R"({"a":"demo-arcade","e":"first-blood"})")->body).value("data").toArray().size(), 1);
    EXPECT_EQ(coins(other), 50);
    for (const std::string& t : {std::string(), std::string(64, 'b')}) {
        auto anonymous = GameEvent(t, R"({"a":"demo-arcade","e":"first-blood"})", "install-9");
        ASSERT_EQ(anonymous->status, 200);
        EXPECT_TRUE(Json(anonymous->body).value("data").toArray().isEmpty());
    }

    // An event without achievement is taken and earns nothing; an unknown game is refused.
    EXPECT_TRUE(Json(GameEvent(token, R"({"a":"demo-arcade","e":"boss"})")->body).value("data").toArray().isEmpty());
    EXPECT_EQ(GameEvent(token, R"({"a":"nope","e":"boss"})")->status, 404);
}

TEST_F(ServerTest, ScoreboardsKeepTheBestScorePerPlayerBestFirst) {
    ASSERT_EQ(Register("alice", "alice@example.com", "secret"), 200);
    ASSERT_EQ(Register("bob", "bob@example.com", "secret"), 200);
    std::string alice = Login("alice", "secret"), bob = Login("bob", "secret");
    auto score = [&](const std::string& t, int value, const std::string& install = "install-1") {
        QByteArray json = QByteArray(R"({"a":"demo-arcade","e":"hiscore", "p":)") + QByteArray::number(value) + "}";
        return GameEvent(t, json, install)->status;
    };
    EXPECT_EQ(score(alice, 500), 200);
    EXPECT_EQ(score(bob, 800), 200);
    EXPECT_EQ(score(alice, 300), 200); // lower than her best: kept at 500
    EXPECT_EQ(score("", 650, "guest-key"), 200);
    EXPECT_EQ(score(alice, -5), 200);

    QJsonArray board = Board("/api/kiv/score/demo-arcade/1", alice);
    ASSERT_EQ(board.size(), 3);
    EXPECT_EQ(board[0].toObject().value("user").toString(), "bob");
    EXPECT_EQ(board[0].toObject().value("value").toInt(), 800);
    EXPECT_FALSE(board[0].toObject().value("self").toBool());
    EXPECT_EQ(board[1].toObject().value("value").toInt(), 650);
    EXPECT_EQ(board[2].toObject().value("user").toString(), "alice");
    EXPECT_EQ(board[2].toObject().value("value").toInt(), 500);
    EXPECT_TRUE(board[2].toObject().value("self").toBool());

    // Without a login the install key's own entry is the caller's.
    QJsonArray guest = Board("/api/kiv/score/demo-arcade/1", "", "guest-key");
    EXPECT_TRUE(guest[1].toObject().value("self").toBool());
    EXPECT_FALSE(guest[0].toObject().value("self").toBool());
    EXPECT_FALSE(guest[2].toObject().value("self").toBool());

    EXPECT_TRUE(Board("/api/kiv/score/demo-dos/2", alice).isEmpty());
    EXPECT_EQ(FClient->Get("/api/kiv/score/demo-arcade/2")->status, 404);
    EXPECT_EQ(FClient->Get("/api/kiv/score/demo-arcade/x")->status, 400);
    EXPECT_EQ(FClient->Get("/api/kiv/score/nope/1")->status, 404);
    EXPECT_EQ(GameEvent(alice, R"({"a":"demo-arcade","e":"nosuchboard", "p":5})")->status, 404);
    EXPECT_EQ(GameEvent(alice, R"({"a":"demo-arcade","e":"hiscore", "p":"5"})")->status, 400);
    EXPECT_EQ(GameEvent(alice, R"({"a":"demo-arcade","e":"hiscore", "p":5000000000})")->status, 400);
}

TEST_F(ServerTest, PathsThatLeaveTheContentAreRefused) {
    // A secret beside the content folder, reachable only by leaving it.
    const QString root = MakeTempDir(QStringLiteral("escape"));
    WriteFile(root + "secret.txt", "top secret");
    WriteFile(root + "content/apps/game/app.json", R"({"name":"Game"})");
    WriteFile(root + "content/apps/game/files/data.txt", "data");
    QDir().mkpath(root + "content/apps/game/files/sub");
    ASSERT_EQ(symlink((root + "secret.txt").toUtf8().constData(),
                      (root + "content/apps/game/files/link.txt").toUtf8().constData()), 0);
    ServerProcess server(root + "content");
    auto client = server.Client();
    ASSERT_EQ(client->Get("/cdn/apps/game/data.txt")->body, "data");

    const char* paths[] = {
        "/cdn/apps/game/../../../secret.txt",   "/cdn/apps/game/%2e%2e/%2e%2e/%2e%2e/secret.txt",
        "/cdn/apps/game/sub/%2E%2E/data.txt",   "/cdn/apps/game//etc/passwd",
        "/cdn//etc/passwd",                     "/cdn/apps/..%2f..%2f..%2fsecret.txt",
        "/cdn/apps/game/..%5c..%5csecret.txt",  "/cdn/apps/game/link.txt",
        "/cdn/meta/apps/..%2f..%2fsecret.json", "/cdn/apps/game/data.txt%00.png",
        "/cdn/apps/%2e%2e/apps/game/data.txt",  "/cdn/covers/game/..%2f..%2f..%2fsecret.txt",
    };
    for (const char* path : paths) {
        auto res = client->Get(path);
        ASSERT_TRUE(res) << path;
        EXPECT_GE(res->status, 400) << path;
        EXPECT_LT(res->status, 500) << path;
        EXPECT_EQ(res->body.find("top secret"), std::string::npos) << path;
    }
    // The link is not even listed.
    QJsonArray files = Json(client->Get("/cdn/meta/apps/game.json")->body).value("files").toArray();
    ASSERT_EQ(files.size(), 1);
    EXPECT_EQ(files[0].toObject().value("file").toString(), "data.txt");
}

TEST_F(ServerTest, OversizedBodiesAndManyClientsAtOnce) {
    auto big = FClient->Post("/api/kiv/public/event", Headers(""), std::string(1 << 20, 'A'), "application/json");
    ASSERT_TRUE(big);
    EXPECT_EQ(big->status, 413);

    std::atomic<int> ok{0}, failed{0}, lastFailure{0};
    std::vector<std::thread> clients;
    for (int t = 0; t < 16; ++t)
        clients.emplace_back([&, t] {
            auto c = FServer->Client();
            for (int i = 0; i < 10; ++i) {
                const auto send = [&] {
                    return (i % 2) ? c->Get("/api/kiv/public/catalog")
                                   : c->Post("/api/kiv/public/event/app", Headers("", "k" + std::to_string(t)),
                                             EventBody(R"({"a":"demo-arcade","e":"hiscore", "p":)" +
                                                       QByteArray::number(t * 100 + i) + "}"),
                                             "application/json");
                };
                // A machine under load now and then drops a fresh connection before its answer; a
                // client tries such a request again, and what counts is every answer it gets.
                auto res = send();
                if (!res)
                    res = send();
                if (res && res->status == 200) {
                    ++ok;
                } else {
                    ++failed;
                    // A status, or the client's error as a negative number.
                    lastFailure = (res ? res->status : -int(res.error())) * 1000 + i;
                }
            }
        });
    for (auto& c : clients)
        c.join();
    EXPECT_EQ(ok, 160);
    EXPECT_EQ(failed, 0) << "last failure (code * 1000 + request) " << lastFailure << "; server log:\n" << FServer->Log().right(2000).toStdString();
    EXPECT_EQ(Board("/api/kiv/score/demo-arcade/1", "").size(), 16);
}

TEST(ServerFiles, HugeDownloadStreamsAndHashesAreCached) {
    const QString root = MakeTempDir(QStringLiteral("big"));
    WriteFile(root + "apps/big/app.json", R"({"name":"Big","version":"1.0"})");
    WriteFile(root + "apps/big/files/small.txt", "first");
    WriteFile(root + "tarvenox", "\x7f" "ELF launcher");
    const QByteArray bigName = (root + "apps/big/files/big.bin").toUtf8();
    const qint64 size = 100LL * 1024 * 1024;
    {
        int fd = open(bigName.constData(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, size), 0); // sparse: no 100 MB on disk
        close(fd);
    }
    ServerProcess server(root);
    ASSERT_GT(server.Port(), 0);
    auto client = server.Client();
    auto exe = client->Get("/cdn/tarvenox");
    ASSERT_TRUE(exe && exe->status == 200);
    EXPECT_EQ(exe->body, "\x7f" "ELF launcher");
    EXPECT_EQ(client->Get("/cdn/tarvenox.json")->status, 404);
    auto meta = [&] {
        QJsonObject hashes;
        for (const auto& v : Json(client->Get("/cdn/meta/apps/big.json")->body).value("files").toArray())
            hashes.insert(v.toObject().value("file").toString(), v.toObject().value("hash"));
        return hashes;
    };
    QJsonObject first = meta();
    EXPECT_EQ(first.value("big.bin").toString(),
              QCryptographicHash::hash(QByteArray(size, '\0'), QCryptographicHash::Sha256).toHex());

    // Same size and time: the cached hash stands, even though the bytes changed behind the service's back.
    const QByteArray smallName = (root + "apps/big/files/small.txt").toUtf8();
    struct stat st {};
    ASSERT_EQ(stat(smallName.constData(), &st), 0);
    WriteFile(root + "apps/big/files/small.txt", "FIRST");
    timespec times[2] = {st.st_atim, st.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, smallName.constData(), times, 0), 0);
    EXPECT_EQ(meta().value("small.txt"), first.value("small.txt"));
    // A new time stamp makes it hash again.
    times[1].tv_sec += 10;
    ASSERT_EQ(utimensat(AT_FDCWD, smallName.constData(), times, 0), 0);
    EXPECT_EQ(meta().value("small.txt").toString(),
              QCryptographicHash::hash("FIRST", QCryptographicHash::Sha256).toHex());

    long before = RssKiB(server.Pid());
    ASSERT_GT(before, 0);
    qint64 received = 0;
    bool allZero = true;
    auto res = client->Get("/cdn/apps/big/big.bin", [&](const char* data, size_t n) {
        received += qint64(n);
        for (size_t i = 0; i < n && allZero; ++i)
            allZero = data[i] == 0;
        return true;
    });
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(received, size);
    EXPECT_TRUE(allZero);
    long after = RssKiB(server.Pid());
    EXPECT_LT(after - before, 20 * 1024) << "resident memory grew from " << before << " to " << after << " KiB";
}

TEST(ServerProcessTest, StopsCleanlyOnSigintAndSigterm) {
    for (int sig : {SIGINT, SIGTERM}) {
        ServerProcess server(kSample);
        ASSERT_GT(server.Port(), 0);
        ASSERT_EQ(::kill(pid_t(server.Pid()), sig), 0);
        ASSERT_TRUE(server.Process().waitForFinished(10000));
        EXPECT_EQ(server.Process().exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(server.Process().exitCode(), 0);
    }
    // A busy port or a missing content folder ends the program with an error instead.
    QProcess bad;
    bad.start(kServer, {"--content", "/no/such/folder", "--db", MakeTempDir() + "x.db", "--listen", "127.0.0.1:0"});
    ASSERT_TRUE(bad.waitForFinished(10000));
    EXPECT_NE(bad.exitCode(), 0);
}

TEST(DemoArcade, AutoplayWritesScoreAndEventFiles) {
    const QString game = kBinDir + QStringLiteral("/tools/demo-arcade/demo-arcade");
    ASSERT_TRUE(QFileInfo::exists(game));
    const QString dir = MakeTempDir(QStringLiteral("arcade"));
    ASSERT_TRUE(QFile::copy(game, dir + "demo-arcade"));
    QFile::setPermissions(dir + "demo-arcade", QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::WriteOwner);
    QProcess play;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DEMO_AUTOPLAY", "1");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    play.setProcessEnvironment(env);
    play.start(dir + "demo-arcade", {});
    ASSERT_TRUE(play.waitForFinished(30000));
    EXPECT_EQ(play.exitCode(), 0);
    QByteArray score = ReadFile(dir + ".meta/hiscore.se");
    ASSERT_EQ(score.size(), 4);
    qint32 value = qint32(quint8(score[0]) | quint8(score[1]) << 8 | quint8(score[2]) << 16 | quint32(quint8(score[3])) << 24);
    EXPECT_GT(value, 0);
    EXPECT_TRUE(QFileInfo::exists(dir + ".meta/first-blood.ae"));
    // The sample game's configuration names the board the score file reports to.
    QByteArray ini = ReadFile(kSample + "/apps/demo-arcade/files/demo-arcade.ini");
    EXPECT_TRUE(ini.contains("[Boards]"));
    EXPECT_TRUE(ini.contains("1=Рекорды"));
    EXPECT_TRUE(QFileInfo::exists(kSample + "/apps/demo-arcade/files/demo-arcade"));
}

} // namespace
