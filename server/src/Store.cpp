#include "Store.h"

#include "Util.h"

#include <sodium.h>

#include <ctime>

namespace tvx {

namespace {

// A prepared statement that finalizes itself.
class Stmt {
public:
    Stmt(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &FStmt, nullptr); }
    ~Stmt() { sqlite3_finalize(FStmt); }
    Stmt& Bind(int i, const std::string& v) {
        sqlite3_bind_text(FStmt, i, v.data(), int(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Stmt& Bind(int i, int64_t v) {
        sqlite3_bind_int64(FStmt, i, v);
        return *this;
    }
    Stmt& Bind(int i, std::optional<int64_t> v) {
        if (v)
            sqlite3_bind_int64(FStmt, i, *v);
        else
            sqlite3_bind_null(FStmt, i);
        return *this;
    }
    bool Step() { return FStmt && sqlite3_step(FStmt) == SQLITE_ROW; }
    int Run() { return FStmt ? sqlite3_step(FStmt) : SQLITE_ERROR; }
    int64_t Int(int col) { return sqlite3_column_int64(FStmt, col); }
    bool IsNull(int col) { return sqlite3_column_type(FStmt, col) == SQLITE_NULL; }
    std::string Text(int col) {
        auto p = reinterpret_cast<const char*>(sqlite3_column_text(FStmt, col));
        return p ? std::string(p, size_t(sqlite3_column_bytes(FStmt, col))) : std::string();
    }

private:
    sqlite3_stmt* FStmt = nullptr;
};

int64_t Now() { return int64_t(time(nullptr)); }

} // namespace

Store::~Store() {
    if (FDb)
        sqlite3_close(FDb);
}

bool Store::Exec(const char* sql) { return sqlite3_exec(FDb, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

bool Store::Open(const std::string& fileName, std::string& error) {
    if (sodium_init() < 0) {
        error = "libsodium cannot start";
        return false;
    }
    if (sqlite3_open(fileName.c_str(), &FDb) != SQLITE_OK) {
        error = FDb ? sqlite3_errmsg(FDb) : "cannot open the database";
        return false;
    }
    sqlite3_busy_timeout(FDb, 5000);
    const char* schema = R"(
        PRAGMA journal_mode=WAL;
        -- A commit in WAL mode need not wait for the disk: the database stays consistent, and a first file
        -- list of a large game stores thousands of hashes one by one.
        PRAGMA synchronous=NORMAL;
        CREATE TABLE IF NOT EXISTS users(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE COLLATE NOCASE,
            email TEXT NOT NULL UNIQUE COLLATE NOCASE, pass TEXT NOT NULL, coins INTEGER NOT NULL DEFAULT 0,
            created INTEGER NOT NULL);
        CREATE TABLE IF NOT EXISTS tokens(hash TEXT PRIMARY KEY, user_id INTEGER NOT NULL, created INTEGER NOT NULL);
        CREATE TABLE IF NOT EXISTS installs(id INTEGER PRIMARY KEY, key TEXT NOT NULL UNIQUE);
        CREATE TABLE IF NOT EXISTS events(id INTEGER PRIMARY KEY, at INTEGER NOT NULL, install_id INTEGER NOT NULL,
            user_id INTEGER, app TEXT NOT NULL, name TEXT NOT NULL, value INTEGER);
        CREATE TABLE IF NOT EXISTS scores(app TEXT NOT NULL, board INTEGER NOT NULL, owner TEXT NOT NULL,
            user_id INTEGER, install_id INTEGER NOT NULL, value INTEGER NOT NULL, at INTEGER NOT NULL,
            PRIMARY KEY(app, board, owner));
        CREATE TABLE IF NOT EXISTS achievements(user_id INTEGER NOT NULL, app TEXT NOT NULL, event TEXT NOT NULL,
            at INTEGER NOT NULL, PRIMARY KEY(user_id, app, event));
        CREATE TABLE IF NOT EXISTS file_hashes(path TEXT PRIMARY KEY, size INTEGER NOT NULL, mtime INTEGER NOT NULL,
            hash TEXT NOT NULL);
    )";
    if (!Exec(schema)) {
        error = sqlite3_errmsg(FDb);
        return false;
    }
    return true;
}

std::string Store::HashPassword(const std::string& password) {
    std::unique_lock lock(FHashLock);
    FHashFree.wait(lock, [this] { return FHashing < 2; });
    ++FHashing;
    lock.unlock();
    char out[crypto_pwhash_STRBYTES] = {};
    int rc = crypto_pwhash_str(out, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                               crypto_pwhash_MEMLIMIT_INTERACTIVE);
    lock.lock();
    --FHashing;
    FHashFree.notify_one();
    return rc == 0 ? std::string(out) : std::string();
}

bool Store::VerifyPassword(const std::string& hash, const std::string& password) {
    std::unique_lock lock(FHashLock);
    FHashFree.wait(lock, [this] { return FHashing < 2; });
    ++FHashing;
    lock.unlock();
    bool ok = crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
    lock.lock();
    --FHashing;
    FHashFree.notify_one();
    return ok;
}

Store::TRegisterResult Store::Register(const std::string& name, const std::string& email,
                                       const std::string& password) {
    {
        std::lock_guard lock(FLock);
        Stmt byName(FDb, "SELECT 1 FROM users WHERE name=?");
        if (byName.Bind(1, name).Step())
            return TRegisterResult::NameTaken;
        Stmt byEmail(FDb, "SELECT 1 FROM users WHERE email=?");
        if (byEmail.Bind(1, email).Step())
            return TRegisterResult::EmailTaken;
    }
    std::string hash = HashPassword(password);
    if (hash.empty())
        return TRegisterResult::Failed;
    std::lock_guard lock(FLock);
    // Checked again: another registration may have taken the name while the hash was computed.
    Stmt byName(FDb, "SELECT 1 FROM users WHERE name=?");
    if (byName.Bind(1, name).Step())
        return TRegisterResult::NameTaken;
    Stmt byEmail(FDb, "SELECT 1 FROM users WHERE email=?");
    if (byEmail.Bind(1, email).Step())
        return TRegisterResult::EmailTaken;
    Stmt insert(FDb, "INSERT INTO users(name, email, pass, created) VALUES(?,?,?,?)");
    return insert.Bind(1, name).Bind(2, email).Bind(3, hash).Bind(4, Now()).Run() == SQLITE_DONE
               ? TRegisterResult::Ok
               : TRegisterResult::Failed;
}

std::optional<std::string> Store::Login(const std::string& nameOrEmail, const std::string& password) {
    int64_t userId = 0;
    std::string hash;
    {
        std::lock_guard lock(FLock);
        Stmt find(FDb, "SELECT id, pass FROM users WHERE name=?1 OR email=?1");
        if (!find.Bind(1, nameOrEmail).Step())
            return std::nullopt;
        userId = find.Int(0);
        hash = find.Text(1);
    }
    if (!VerifyPassword(hash, password))
        return std::nullopt;
    unsigned char raw[32];
    randombytes_buf(raw, sizeof raw);
    char token[sizeof raw * 2 + 1];
    sodium_bin2hex(token, sizeof token, raw, sizeof raw);
    std::lock_guard lock(FLock);
    // Only a digest of the token is kept, so the database alone does not log anybody in.
    Stmt insert(FDb, "INSERT INTO tokens(hash, user_id, created) VALUES(?,?,?)");
    if (insert.Bind(1, Sha256Hex(token)).Bind(2, userId).Bind(3, Now()).Run() != SQLITE_DONE)
        return std::nullopt;
    return std::string(token);
}

std::optional<int64_t> Store::UserByToken(const std::string& token) {
    if (token.size() != 64)
        return std::nullopt;
    std::lock_guard lock(FLock);
    Stmt find(FDb, "SELECT user_id FROM tokens WHERE hash=?");
    if (!find.Bind(1, Sha256Hex(token)).Step())
        return std::nullopt;
    return find.Int(0);
}

std::optional<Store::TProfile> Store::Profile(int64_t userId) {
    std::lock_guard lock(FLock);
    Stmt find(FDb, "SELECT name, coins FROM users WHERE id=?");
    if (!find.Bind(1, userId).Step())
        return std::nullopt;
    return TProfile{find.Text(0), find.Int(1)};
}

int64_t Store::InstallId(const std::string& installKey) {
    Stmt insert(FDb, "INSERT OR IGNORE INTO installs(key) VALUES(?)");
    insert.Bind(1, installKey).Run();
    Stmt find(FDb, "SELECT id FROM installs WHERE key=?");
    return find.Bind(1, installKey).Step() ? find.Int(0) : 0;
}

void Store::AddEvent(const std::string& installKey, std::optional<int64_t> userId, const std::string& app,
                     const std::string& name, std::optional<int64_t> value) {
    std::lock_guard lock(FLock);
    int64_t install = InstallId(installKey);
    Stmt insert(FDb, "INSERT INTO events(at, install_id, user_id, app, name, value) VALUES(?,?,?,?,?,?)");
    insert.Bind(1, Now()).Bind(2, install).Bind(3, userId).Bind(4, app).Bind(5, name).Bind(6, value).Run();
}

void Store::AddScore(const std::string& app, int64_t board, const std::string& installKey,
                     std::optional<int64_t> userId, int64_t value) {
    std::lock_guard lock(FLock);
    int64_t install = InstallId(installKey);
    std::string owner = userId ? "u" + std::to_string(*userId) : "k" + std::to_string(install);
    Stmt upsert(FDb, "INSERT INTO scores(app, board, owner, user_id, install_id, value, at) VALUES(?,?,?,?,?,?,?) "
                     "ON CONFLICT(app, board, owner) DO UPDATE SET value=excluded.value, at=excluded.at "
                     "WHERE excluded.value > scores.value");
    upsert.Bind(1, app).Bind(2, board).Bind(3, owner).Bind(4, userId).Bind(5, install).Bind(6, value)
        .Bind(7, Now())
        .Run();
}

std::vector<Store::TScoreRow> Store::Scoreboard(const std::string& app, int64_t board, const std::string& installKey,
                                                std::optional<int64_t> userId, int limit) {
    std::lock_guard lock(FLock);
    std::string self;
    if (userId) {
        self = "u" + std::to_string(*userId);
    } else if (!installKey.empty()) {
        Stmt find(FDb, "SELECT id FROM installs WHERE key=?");
        if (find.Bind(1, installKey).Step())
            self = "k" + std::to_string(find.Int(0));
    }
    Stmt rows(FDb, "SELECT s.owner, s.value, u.name, s.install_id FROM scores s LEFT JOIN users u ON u.id=s.user_id "
                   "WHERE s.app=? AND s.board=? ORDER BY s.value DESC, s.at ASC, s.owner ASC LIMIT ?");
    rows.Bind(1, app).Bind(2, board).Bind(3, int64_t(limit));
    std::vector<TScoreRow> result;
    while (rows.Step()) {
        std::string owner = rows.Text(0);
        std::string name = rows.IsNull(2) ? "Гость #" + std::to_string(rows.Int(3)) : rows.Text(2);
        result.push_back({name, rows.Int(1), !self.empty() && owner == self});
    }
    return result;
}

bool Store::Earn(int64_t userId, const std::string& app, const std::string& event, int64_t coins) {
    std::lock_guard lock(FLock);
    Exec("BEGIN IMMEDIATE");
    Stmt insert(FDb, "INSERT OR IGNORE INTO achievements(user_id, app, event, at) VALUES(?,?,?,?)");
    insert.Bind(1, userId).Bind(2, app).Bind(3, event).Bind(4, Now()).Run();
    bool earned = sqlite3_changes(FDb) > 0;
    if (earned) {
        Stmt add(FDb, "UPDATE users SET coins=coins+? WHERE id=?");
        add.Bind(1, coins).Bind(2, userId).Run();
    }
    Exec("COMMIT");
    return earned;
}

std::optional<std::string> Store::CachedHash(const std::string& path, int64_t size, int64_t mtimeNs) {
    std::lock_guard lock(FLock);
    Stmt find(FDb, "SELECT hash FROM file_hashes WHERE path=? AND size=? AND mtime=?");
    if (!find.Bind(1, path).Bind(2, size).Bind(3, mtimeNs).Step())
        return std::nullopt;
    return find.Text(0);
}

void Store::StoreHash(const std::string& path, int64_t size, int64_t mtimeNs, const std::string& hash) {
    std::lock_guard lock(FLock);
    Stmt upsert(FDb, "INSERT OR REPLACE INTO file_hashes(path, size, mtime, hash) VALUES(?,?,?,?)");
    upsert.Bind(1, path).Bind(2, size).Bind(3, mtimeNs).Bind(4, hash).Run();
}

} // namespace tvx
