#pragma once

#include "Store.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <optional>
#include <string>
#include <vector>

namespace tvx {

struct TBoard {
    int64_t Id = 0;
    std::string Name; // the name games report scores under
    QString Title;
};

struct TAchievement {
    std::string Event;
    QString Name;
    QString Description;
    int64_t Coins = 0;
};

struct TApp {
    std::string Key;
    std::string Dir; // the game's folder in the content, ending with "/"
    QString Name, Description, DescriptionLong, Version, Media;
    QJsonValue PublishDate; // text, or null when there is none
    QStringList Components;
    bool Locked = false;
    std::string CoverFile; // full name of the cover picture, or empty
    std::vector<TBoard> Boards;
    std::vector<TAchievement> Achievements;
};

struct TComponent {
    std::string Key;
    std::string Dir;
    QString Name, Description, Version;
    QStringList Dependencies;
};

// The publisher's content folder (layout in server/README.md), read anew on every request so that a
// publisher can change it while the service runs.
class Content {
public:
    Content(std::string root, Store& store);

    std::vector<TApp> Apps() const;
    std::optional<TApp> App(const std::string& key) const;
    std::optional<TComponent> Component(const std::string& key) const;
    // The dependency document as the publisher wrote it.
    std::optional<QJsonObject> Dependency(const std::string& key) const;

    // Every regular file under folder (recursively) with its size, UTC time and SHA-256, names with "\".
    QJsonArray FileList(const std::string& folder) const;

    // The full name of a regular file given by its parts below folder, when it stays inside the content.
    std::optional<std::string> FileIn(const std::string& folder, const std::vector<std::string>& parts) const;

    const std::string& Root() const { return FRoot; }

private:
    std::optional<TApp> ReadApp(const std::string& key) const;
    std::optional<std::string> Hash(const std::string& fullName, int64_t size, int64_t mtimeNs) const;

    std::string FRoot; // canonical, ending with "/"
    Store& FStore;
};

} // namespace tvx
