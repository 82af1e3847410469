#pragma once

#include <sqlite3.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tvx {

// Accounts, tokens, events, scores, earned achievements and the file hash cache, in one SQLite file.
// One connection guarded by a mutex; the slow password hashing runs outside it.
class Store {
public:
    ~Store();
    bool Open(const std::string& fileName, std::string& error);

    enum class TRegisterResult { Ok, NameTaken, EmailTaken, Failed };
    TRegisterResult Register(const std::string& name, const std::string& email, const std::string& password);
    // A new login token, or nothing when the name (or e-mail) and password do not match.
    std::optional<std::string> Login(const std::string& nameOrEmail, const std::string& password);
    std::optional<int64_t> UserByToken(const std::string& token);

    struct TProfile {
        std::string Name;
        int64_t Coins = 0;
    };
    std::optional<TProfile> Profile(int64_t userId);

    void AddEvent(const std::string& installKey, std::optional<int64_t> userId, const std::string& app,
                  const std::string& name, std::optional<int64_t> value);
    // Keeps the best score of a player (a user, or an install key without a user) on a board.
    void AddScore(const std::string& app, int64_t board, const std::string& installKey,
                  std::optional<int64_t> userId, int64_t value);

    struct TScoreRow {
        std::string User;
        int64_t Value = 0;
        bool Self = false;
    };
    std::vector<TScoreRow> Scoreboard(const std::string& app, int64_t board, const std::string& installKey,
                                      std::optional<int64_t> userId, int limit);

    // True when the user earns the achievement now (its coins are added); false when it was earned before.
    bool Earn(int64_t userId, const std::string& app, const std::string& event, int64_t coins);

    std::optional<std::string> CachedHash(const std::string& path, int64_t size, int64_t mtimeNs);
    void StoreHash(const std::string& path, int64_t size, int64_t mtimeNs, const std::string& hash);

private:
    bool Exec(const char* sql);
    std::string HashPassword(const std::string& password);
    bool VerifyPassword(const std::string& hash, const std::string& password);
    int64_t InstallId(const std::string& installKey);

    sqlite3* FDb = nullptr;
    std::mutex FLock;
    // The password hash takes tens of megabytes for a moment: only a few run at once.
    std::mutex FHashLock;
    std::condition_variable FHashFree;
    int FHashing = 0;
};

} // namespace tvx
