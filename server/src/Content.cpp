#include "Content.h"

#include "Util.h"

#include <QFile>
#include <QJsonDocument>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <iostream>

namespace fs = std::filesystem;

namespace tvx {

namespace {

std::optional<QJsonObject> ReadJsonObject(const std::string& fileName) {
    QFile f(QString::fromStdString(fileName));
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    QJsonParseError error;
    QJsonDocument doc = QJsonDocument::fromJson(f.read(1 << 20), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        std::cerr << "content: " << fileName << ": " << error.errorString().toStdString() << std::endl;
        return std::nullopt;
    }
    return doc.object();
}

QStringList TextList(const QJsonValue& v) {
    QStringList result;
    if (v.isString() && !v.toString().isEmpty())
        result << v.toString();
    for (const auto& item : v.toArray())
        if (item.isString())
            result << item.toString();
    return result;
}

} // namespace

Content::Content(std::string root, Store& store) : FStore(store) {
    std::error_code ec;
    fs::path canonical = fs::canonical(root, ec);
    FRoot = (ec ? fs::absolute(root) : canonical).string();
    if (FRoot.empty() || FRoot.back() != '/')
        FRoot += '/';
}

std::optional<TApp> Content::ReadApp(const std::string& key) const {
    if (!IsValidKey(key))
        return std::nullopt;
    TApp app;
    app.Key = key;
    app.Dir = FRoot + "apps/" + key + "/";
    auto d = ReadJsonObject(app.Dir + "app.json");
    if (!d)
        return std::nullopt;
    app.Name = d->value("name").toString(QString::fromStdString(key));
    app.Description = d->value("description").toString();
    app.DescriptionLong = d->value("description_long").toString(app.Description);
    app.Version = d->value("version").toString("1.0");
    app.Media = d->value("media").toString();
    app.Components = TextList(d->value("component"));
    app.Locked = d->value("locked").toBool(false);
    QString date = d->value("publish_date").toString();
    app.PublishDate = date.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(date);
    QString cover = d->value("cover").toString();
    if (!cover.isEmpty()) {
        auto parts = SplitSafeRelativePath(cover.toStdString());
        if (parts && parts->size() == 1)
            if (auto file = FileIn(app.Dir, *parts))
                app.CoverFile = *file;
    }
    for (const auto& b : d->value("scoreboards").toArray()) {
        QJsonObject o = b.toObject();
        TBoard board{o.value("id").toInteger(), o.value("name").toString().toLower().toStdString(),
                     o.value("title").toString()};
        if (board.Id > 0 && !board.Name.empty())
            app.Boards.push_back(board);
    }
    for (const auto& a : d->value("achievements").toArray()) {
        QJsonObject o = a.toObject();
        TAchievement ach{o.value("event").toString().toLower().toStdString(), o.value("name").toString(),
                         o.value("description").toString(), o.value("coins").toInteger()};
        if (!ach.Event.empty())
            app.Achievements.push_back(ach);
    }
    return app;
}

std::vector<TApp> Content::Apps() const {
    std::vector<TApp> result;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(FRoot + "apps", ec))
        if (entry.is_directory(ec) && !entry.is_symlink(ec))
            if (auto app = ReadApp(entry.path().filename().string()))
                result.push_back(*app);
    std::sort(result.begin(), result.end(), [](const TApp& a, const TApp& b) { return a.Key < b.Key; });
    return result;
}

std::optional<TApp> Content::App(const std::string& key) const { return ReadApp(key); }

std::optional<TComponent> Content::Component(const std::string& key) const {
    if (!IsValidKey(key))
        return std::nullopt;
    TComponent c;
    c.Key = key;
    c.Dir = FRoot + "components/" + key + "/";
    auto d = ReadJsonObject(c.Dir + "component.json");
    if (!d)
        return std::nullopt;
    c.Name = d->value("name").toString(QString::fromStdString(key));
    c.Description = d->value("description").toString();
    c.Version = d->value("version").toString("1.0");
    c.Dependencies = TextList(d->value("dependencies"));
    return c;
}

std::optional<QJsonObject> Content::Dependency(const std::string& key) const {
    if (!IsValidKey(key))
        return std::nullopt;
    return ReadJsonObject(FRoot + "dependencies/" + key + "/dependency.json");
}

std::optional<std::string> Content::Hash(const std::string& fullName, int64_t size, int64_t mtimeNs) const {
    std::string relative = fullName.substr(FRoot.size());
    if (auto cached = FStore.CachedHash(relative, size, mtimeNs))
        return cached;
    auto hash = HashFile(fullName);
    if (hash)
        FStore.StoreHash(relative, size, mtimeNs, *hash);
    return hash;
}

QJsonArray Content::FileList(const std::string& folder) const {
    struct Item {
        std::string Name;
        std::string Full;
    };
    std::vector<Item> items;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::none, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        // Links are left out: they could point outside the content.
        if (it->is_symlink(ec) || !it->is_regular_file(ec))
            continue;
        std::string name = fs::relative(it->path(), folder, ec).string();
        std::replace(name.begin(), name.end(), '/', '\\');
        items.push_back({name, it->path().string()});
    }
    std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.Name < b.Name; });
    QJsonArray files;
    for (const auto& item : items) {
        struct stat st {};
        if (stat(item.Full.c_str(), &st) != 0)
            continue;
        int64_t mtimeNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        auto hash = Hash(item.Full, st.st_size, mtimeNs);
        if (!hash)
            continue;
        files.append(QJsonObject{{"file", QString::fromStdString(item.Name)},
                                 {"size", qint64(st.st_size)},
                                 {"updated", QString::fromStdString(FormatUtc(st.st_mtim.tv_sec))},
                                 {"hash", QString::fromStdString(*hash)}});
    }
    return files;
}

std::optional<std::string> Content::FileIn(const std::string& folder, const std::vector<std::string>& parts) const {
    std::string name = folder;
    for (size_t i = 0; i < parts.size(); ++i)
        name += (i ? "/" : "") + parts[i];
    std::error_code ec;
    fs::path canonical = fs::canonical(name, ec);
    if (ec)
        return std::nullopt;
    std::string full = canonical.string();
    std::string base = fs::canonical(folder, ec).string() + "/";
    // A link may still lead out of the folder; only what stays inside it is served.
    if (ec || full.compare(0, base.size(), base) != 0 || full.compare(0, FRoot.size(), FRoot) != 0 ||
        !fs::is_regular_file(canonical, ec))
        return std::nullopt;
    return full;
}

} // namespace tvx
