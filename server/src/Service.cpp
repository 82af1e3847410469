#include "Service.h"

#include "Util.h"

#include <httplib.h>

#include <QJsonDocument>
#include <QRegularExpression>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <regex>

namespace tvx {

namespace {

const char* kJsonApi = "application/vnd.api+json";
const char* kJson = "application/json";

void SendJson(httplib::Response& res, int status, const QJsonObject& body, const char* type = kJson) {
    res.status = status;
    res.set_content(ToJson(body), type);
}

void SendError(httplib::Response& res, int status, const std::string& message, const char* field = nullptr) {
    QJsonObject body{{"error", QString::fromStdString(message)}};
    if (field)
        body.insert("field", field);
    SendJson(res, status, body);
}

std::string MimeType(const std::string& name) {
    static const std::pair<const char*, const char*> types[] = {
        {".json", "application/json"}, {".png", "image/png"},       {".jpg", "image/jpeg"},
        {".jpeg", "image/jpeg"},       {".html", "text/html; charset=utf-8"},
        {".txt", "text/plain; charset=utf-8"}, {".ini", "text/plain; charset=utf-8"},
        {".conf", "text/plain; charset=utf-8"}, {".sh", "text/x-shellscript"}};
    for (const auto& [ext, type] : types) {
        size_t n = strlen(ext);
        if (name.size() >= n && strcasecmp(name.c_str() + name.size() - n, ext) == 0)
            return type;
    }
    return "application/octet-stream";
}

// Streams a file from disk in chunks, so that big downloads do not grow the service's memory.
bool SendFile(httplib::Response& res, const std::string& fileName) {
    int fd = open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return false;
    }
    auto file = std::shared_ptr<int>(new int(fd), [](int* p) {
        close(*p);
        delete p;
    });
    res.status = 200;
    res.set_content_provider(
        size_t(st.st_size), MimeType(fileName),
        [file](size_t offset, size_t length, httplib::DataSink& sink) {
            std::vector<char> buffer(std::min<size_t>(length, 256 * 1024));
            ssize_t n = pread(*file, buffer.data(), buffer.size(), off_t(offset));
            if (n <= 0)
                return false;
            return sink.write(buffer.data(), size_t(n));
        },
        [file](bool) {});
    return true;
}

enum class TAuth { None, Valid, Invalid };

struct TCaller {
    TAuth Auth = TAuth::None;
    std::optional<int64_t> UserId;
    std::string InstallKey;
};

TCaller Identify(Store& store, const httplib::Request& req) {
    TCaller caller;
    caller.InstallKey = req.get_header_value("Kiv-Signature");
    std::string token = req.get_header_value("User-Token");
    if (!req.has_header("User-Token"))
        return caller;
    caller.UserId = store.UserByToken(token);
    caller.Auth = caller.UserId ? TAuth::Valid : TAuth::Invalid;
    return caller;
}

bool ValidInstallKey(const std::string& key) {
    if (key.empty() || key.size() > 128)
        return false;
    for (unsigned char c : key)
        if (c < 33 || c > 126)
            return false;
    return true;
}

std::optional<QJsonObject> ParseObject(const std::string& body) {
    QJsonParseError error;
    QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(body), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    return doc.object();
}

// Decodes a Base64 event body; on failure the answer is already set.
std::optional<QJsonObject> DecodeEvent(const httplib::Request& req, httplib::Response& res) {
    auto raw = DecodeBase64Lines(req.body);
    if (!raw) {
        SendError(res, 400, "The body must be Base64 text");
        return std::nullopt;
    }
    auto event = ParseObject(raw->toStdString());
    if (!event) {
        SendError(res, 400, "The decoded body is not a JSON object");
        return std::nullopt;
    }
    for (const char* member : {"a", "e"}) {
        QJsonValue v = event->value(member);
        if (!v.isString() || v.toString().isEmpty() || v.toString().size() > 128) {
            SendError(res, 400, std::string("Member \"") + member + "\" must be a non-empty text");
            return std::nullopt;
        }
    }
    return event;
}

QJsonObject Resource(const char* type, const QString& id, const QJsonObject& attributes) {
    return QJsonObject{{"type", type}, {"id", id}, {"attributes", attributes}};
}

std::string Page(const std::string& title, const std::string& body) {
    return "<!DOCTYPE html>\n<html lang=\"ru\"><head><meta charset=\"utf-8\"><title>" + title +
           "</title><style>body{font-family:sans-serif;background:#1e1f22;color:#ddd;margin:2em}"
           "a{color:#7fb2ff}li{margin:.6em 0}.locked{color:#888}</style></head><body>" +
           body + "</body></html>\n";
}

} // namespace

Service::Service(Content& content, Store& store, std::string listenOrigin)
    : FContent(content), FStore(store), FListenOrigin(std::move(listenOrigin)) {}

void Service::Install(httplib::Server& server) {
    server.Get(R"(/.*)", [this](const httplib::Request& req, httplib::Response& res) { Get(req, res); });
    server.Post(R"(/.*)", [this](const httplib::Request& req, httplib::Response& res) { Post(req, res); });
}

std::string Service::Origin(const httplib::Request& req) const {
    static const std::regex hostPattern(R"(^[A-Za-z0-9.\-]+(:[0-9]{1,5})?$|^\[[0-9A-Fa-f:.]+\](:[0-9]{1,5})?$)");
    std::string host = req.get_header_value("Host");
    if (host.size() < 256 && std::regex_match(host, hostPattern))
        return "http://" + host;
    return FListenOrigin;
}

QString Service::CoverUrl(const TApp& app, const httplib::Request& req) const {
    if (app.CoverFile.empty())
        return {};
    std::string name = app.CoverFile.substr(app.CoverFile.rfind('/') + 1);
    return QString::fromStdString(Origin(req) + "/cdn/covers/" + app.Key + "/" + name);
}

void Service::Get(const httplib::Request& req, httplib::Response& res) {
    const std::string& path = req.path;
    if (path.find('\0') != std::string::npos)
        return SendError(res, 400, "The address holds a NUL character");
    if (path.rfind("/cdn/", 0) == 0)
        return Cdn(path.substr(5), req, res);

    static const std::regex page(R"(^/api/kiv/public/catalog/([^/]+)$)");
    static const std::regex score(R"(^/api/kiv/score/([^/]+)/([^/]+)$)");
    std::smatch m;
    if (path == "/api/kiv/public/catalog")
        return Catalog(req, res);
    if (std::regex_match(path, m, page))
        return CatalogPage(m[1], req, res);
    if (path == "/api/kiv/profile")
        return Profile(req, res);
    if (std::regex_match(path, m, score))
        return Scoreboard(m[1], m[2], req, res);
    if (path == "/!/tarvenox/" || path == "/!/tarvenox")
        return WebCatalog(req, res);
    if (path == "/tarvenox/integration/on")
        return IntegrationPage(true, res);
    if (path == "/tarvenox/integration/off")
        return IntegrationPage(false, res);
    SendError(res, 404, "No such address: " + Printable(path));
}

void Service::Post(const httplib::Request& req, httplib::Response& res) {
    const std::string& path = req.path;
    if (path == "/api/kiv/login")
        return Login(req, res);
    if (path == "/api/kiv/public/register")
        return Register(req, res);
    if (path == "/api/kiv/public/event")
        return LauncherEvent(req, res);
    if (path == "/api/kiv/public/event/app")
        return GameEvent(req, res);
    SendError(res, 404, "No such address: " + Printable(path));
}

void Service::Cdn(const std::string& rest, const httplib::Request& req, httplib::Response& res) {
    auto parts = SplitSafeRelativePath(rest);
    if (!parts)
        return SendError(res, 400, "The file path is not a plain relative path (\"..\", \"//\", \"\\\" are refused)");
    const auto& p = *parts;
    if (p.size() == 1 && p[0] == "tarvenox.json") {
        auto file = FContent.FileIn(FContent.Root(), p);
        if (!file || !SendFile(res, *file))
            SendError(res, 404, "The launcher's version document is not published");
        return;
    }
    if (p.size() == 1 && (p[0] == "tarvenox" || p[0] == "tarvenox.exe")) {
        auto file = FContent.FileIn(FContent.Root(), {"tarvenox"});
        if (!file || !SendFile(res, *file))
            SendError(res, 404, "The launcher's executable is not published");
        return;
    }
    if (p.size() == 3 && p[0] == "meta") {
        const std::string& name = p[2];
        if (name.size() <= 5 || name.compare(name.size() - 5, 5, ".json") != 0)
            return SendError(res, 404, "Metadata documents end with .json");
        return Meta(p[1], name.substr(0, name.size() - 5), req, res);
    }
    if (p.size() == 3 && p[0] == "covers") {
        auto app = FContent.App(p[1]);
        if (!app || app->CoverFile.empty() || app->CoverFile.substr(app->CoverFile.rfind('/') + 1) != p[2] ||
            !SendFile(res, app->CoverFile))
            SendError(res, 404, "No such cover");
        return;
    }
    if (p.size() >= 3 && (p[0] == "apps" || p[0] == "components" || p[0] == "dependencies")) {
        std::string folder;
        if (p[0] == "apps") {
            auto app = FContent.App(p[1]);
            if (!app)
                return SendError(res, 404, "Unknown game: " + Printable(p[1]));
            if (app->Locked)
                return SendError(res, 403, "The game is not released yet");
            folder = app->Dir + "files/";
        } else if (p[0] == "components") {
            auto component = FContent.Component(p[1]);
            if (!component)
                return SendError(res, 404, "Unknown component: " + Printable(p[1]));
            folder = component->Dir + "files/";
        } else {
            if (!FContent.Dependency(p[1]))
                return SendError(res, 404, "Unknown dependency: " + Printable(p[1]));
            folder = FContent.Root() + "dependencies/" + p[1] + "/files/";
        }
        auto file = FContent.FileIn(folder, std::vector<std::string>(p.begin() + 2, p.end()));
        if (!file || !SendFile(res, *file))
            SendError(res, 404, "No such file");
        return;
    }
    SendError(res, 404, "No such file");
}

void Service::Meta(const std::string& type, const std::string& key, const httplib::Request& req,
                   httplib::Response& res) {
    if (type == "apps") {
        auto app = FContent.App(key);
        if (!app)
            return SendError(res, 404, "Unknown game: " + Printable(key));
        if (app->Locked)
            return SendError(res, 403, "The game is not released yet");
        return SendJson(res, 200,
                        QJsonObject{{"name", app->Name},
                                    {"description", app->Description},
                                    {"version", app->Version},
                                    {"files", FContent.FileList(app->Dir + "files")},
                                    {"component", QJsonArray::fromStringList(app->Components)}});
    }
    if (type == "components") {
        auto c = FContent.Component(key);
        if (!c)
            return SendError(res, 404, "Unknown component: " + Printable(key));
        return SendJson(res, 200,
                        QJsonObject{{"name", c->Name},
                                    {"description", c->Description},
                                    {"version", c->Version},
                                    {"files", FContent.FileList(c->Dir + "files")},
                                    {"dependencies", QJsonArray::fromStringList(c->Dependencies)}});
    }
    if (type == "dependencies") {
        auto d = FContent.Dependency(key);
        if (!d)
            return SendError(res, 404, "Unknown dependency: " + Printable(key));
        // Sources without a scheme name files published beside the dependency.
        QJsonArray sources;
        for (const auto& s : d->value("sources").toArray()) {
            QString source = s.toString();
            if (!source.contains("://"))
                source = QString::fromStdString(Origin(req) + "/cdn/dependencies/" + key + "/") + source;
            sources.append(source);
        }
        d->insert("sources", sources);
        return SendJson(res, 200, *d);
    }
    SendError(res, 404, "Unknown item type: " + Printable(type));
}

void Service::Catalog(const httplib::Request& req, httplib::Response& res) {
    if (Identify(FStore, req).Auth == TAuth::Invalid)
        return SendError(res, 401, "The login token is not valid");
    QJsonArray data;
    for (const auto& app : FContent.Apps())
        data.append(Resource("app", QString::fromStdString(app.Key),
                             QJsonObject{{"key", QString::fromStdString(app.Key)},
                                         {"title", app.Name},
                                         {"cover_url", CoverUrl(app, req)},
                                         {"description", app.Description},
                                         {"locked", app.Locked}}));
    SendJson(res, 200, QJsonObject{{"data", data}}, kJsonApi);
}

void Service::CatalogPage(const std::string& key, const httplib::Request& req, httplib::Response& res) {
    auto app = FContent.App(key);
    if (!app)
        return SendError(res, 404, "Unknown game: " + Printable(key));
    SendJson(res, 200,
             QJsonObject{{"data", Resource("app-page", QString::fromStdString(app->Key),
                                           QJsonObject{{"title", app->Name},
                                                       {"description", app->Description},
                                                       {"description_long", app->DescriptionLong},
                                                       {"cover_url", CoverUrl(*app, req)},
                                                       {"media", app->Media},
                                                       {"publish_date", app->PublishDate},
                                                       {"achievement_count", qint64(app->Achievements.size())},
                                                       {"scoreboard_count", qint64(app->Boards.size())}})}},
             kJsonApi);
}

void Service::Profile(const httplib::Request& req, httplib::Response& res) {
    TCaller caller = Identify(FStore, req);
    if (caller.Auth != TAuth::Valid)
        return SendError(res, 401, caller.Auth == TAuth::None ? "Log in first" : "The login token is not valid");
    auto profile = FStore.Profile(*caller.UserId);
    if (!profile)
        return SendError(res, 401, "The account no longer exists");
    SendJson(res, 200,
             QJsonObject{{"data", Resource("kiv-user-info", QString::number(*caller.UserId),
                                           QJsonObject{{"name", QString::fromStdString(profile->Name)},
                                                       {"coins", qint64(profile->Coins)}})}},
             kJsonApi);
}

void Service::Scoreboard(const std::string& key, const std::string& board, const httplib::Request& req,
                         httplib::Response& res) {
    auto app = FContent.App(key);
    if (!app)
        return SendError(res, 404, "Unknown game: " + Printable(key));
    static const std::regex number("^[0-9]{1,9}$");
    if (!std::regex_match(board, number))
        return SendError(res, 400, "The board number must be a decimal number");
    int64_t id = std::stoll(board);
    auto found = std::find_if(app->Boards.begin(), app->Boards.end(), [id](const TBoard& b) { return b.Id == id; });
    if (found == app->Boards.end())
        return SendError(res, 404, "The game has no board " + board);
    TCaller caller = Identify(FStore, req);
    QJsonArray data;
    for (const auto& row : FStore.Scoreboard(key, id, caller.InstallKey, caller.UserId, 100))
        data.append(QJsonObject{{"user", QString::fromStdString(row.User)},
                                {"value", qint64(row.Value)},
                                {"self", row.Self}});
    SendJson(res, 200, QJsonObject{{"data", data}});
}

void Service::WebCatalog(const httplib::Request&, httplib::Response& res) {
    std::string list;
    for (const auto& app : FContent.Apps()) {
        list += "<li" + std::string(app.Locked ? " class=\"locked\"" : "") + "><a href=\"tarvenox://run/" + app.Key +
                "\">" + HtmlEscape(app.Name) + "</a> — " + HtmlEscape(app.Description) +
                (app.Locked ? " (скоро)" : "") + "</li>\n";
    }
    res.set_content(Page("Каталог игр Tarveno!", "<h1>Каталог игр</h1><ul>\n" + list + "</ul>"),
                     "text/html; charset=utf-8");
}

void Service::IntegrationPage(bool on, httplib::Response& res) {
    std::string text = on ? "Интеграция с браузером включена: ссылки tarvenox:// открываются в Tarveno!"
                          : "Интеграция с браузером выключена: ссылки tarvenox:// больше не открывают Tarveno!";
    res.set_content(Page("Tarveno!", "<h1>Tarveno!</h1><p>" + text + "</p>"), "text/html; charset=utf-8");
}

void Service::Login(const httplib::Request& req, httplib::Response& res) {
    auto body = ParseObject(req.body);
    if (!body)
        return SendError(res, 400, "The body must be a JSON object");
    QJsonValue user = body->value("user"), password = body->value("password");
    if (!user.isString() || !password.isString())
        return SendError(res, 400, "Members \"user\" and \"password\" must be texts");
    QString name = user.toString().trimmed();
    if (name.isEmpty() || name.size() > 254 || password.toString().size() > 1024)
        return SendError(res, 403, "Wrong user name or password");
    auto token = FStore.Login(name.toStdString(), password.toString().toStdString());
    if (!token)
        return SendError(res, 403, "Wrong user name or password");
    SendJson(res, 200, QJsonObject{{"token", QString::fromStdString(*token)}});
}

void Service::Register(const httplib::Request& req, httplib::Response& res) {
    auto body = ParseObject(req.body);
    if (!body)
        return SendError(res, 400, "The body must be a JSON object");
    QJsonValue user = body->value("user"), email = body->value("email"), password = body->value("password");
    if (!user.isString())
        return SendError(res, 400, "Member \"user\" must be a text", "user");
    if (!email.isString())
        return SendError(res, 400, "Member \"email\" must be a text", "email");
    if (!password.isString())
        return SendError(res, 400, "Member \"password\" must be a text", "password");
    // The same rules as the launcher's registration dialog.
    static const QRegularExpression namePattern("^[a-zA-Z0-9_]*$");
    QString name = user.toString().trimmed();
    if (name.isEmpty() || name.size() > 64 || !namePattern.match(name).hasMatch())
        return SendError(res, 400, "The user name may hold only letters, digits and \"_\"", "user");
    QString mail = email.toString().trimmed();
    if (mail.size() < 5 || mail.size() > 254 || mail.indexOf('@') < 1)
        return SendError(res, 400, "The e-mail address is not plausible", "email");
    if (password.toString().trimmed().size() < 3 || password.toString().size() > 1024)
        return SendError(res, 400, "The password must have 3 to 1024 characters", "password");
    switch (FStore.Register(name.toStdString(), mail.toStdString(), password.toString().toStdString())) {
    case Store::TRegisterResult::Ok:
        return SendJson(res, 200, QJsonObject{{"user", name}});
    case Store::TRegisterResult::NameTaken:
        return SendError(res, 409, "The user name is taken", "user");
    case Store::TRegisterResult::EmailTaken:
        return SendError(res, 409, "The e-mail address is already registered", "email");
    case Store::TRegisterResult::Failed:
        break;
    }
    SendError(res, 500, "The account could not be stored");
}

void Service::LauncherEvent(const httplib::Request& req, httplib::Response& res) {
    TCaller caller = Identify(FStore, req);
    if (caller.Auth == TAuth::Invalid)
        return SendError(res, 401, "The login token is not valid");
    if (!ValidInstallKey(caller.InstallKey))
        return SendError(res, 400, "Header Kiv-Signature is missing or malformed");
    auto event = DecodeEvent(req, res);
    if (!event)
        return;
    std::string app = event->value("a").toString().toStdString();
    std::string name = event->value("e").toString().toStdString();
    if (app != "kiv" && !FContent.App(app))
        return SendError(res, 404, "Unknown game: " + Printable(app));
    if (name != "launch" && name != "install-request" && name != "install")
        return SendError(res, 400, "Unknown launcher event: " + Printable(name));
    FStore.AddEvent(caller.InstallKey, caller.UserId, app, name, std::nullopt);
    SendJson(res, 200, QJsonObject{{"status", "ok"}});
}

void Service::GameEvent(const httplib::Request& req, httplib::Response& res) {
    TCaller caller = Identify(FStore, req);
    if (!ValidInstallKey(caller.InstallKey))
        return SendError(res, 400, "Header Kiv-Signature is missing or malformed");
    auto event = DecodeEvent(req, res);
    if (!event)
        return;
    std::string key = event->value("a").toString().toStdString();
    std::string name = event->value("e").toString().toLower().toStdString();
    auto app = FContent.App(key);
    if (!app)
        return SendError(res, 404, "Unknown game: " + Printable(key));

    if (event->contains("p")) {
        QJsonValue p = event->value("p");
        double v = p.toDouble();
        if (!p.isDouble() || v != double(int64_t(v)) || v < INT32_MIN || v > INT32_MAX)
            return SendError(res, 400, "Member \"p\" must be a 32-bit integer");
        auto board = std::find_if(app->Boards.begin(), app->Boards.end(),
                                  [&](const TBoard& b) { return b.Name == name; });
        if (board == app->Boards.end())
            return SendError(res, 404, "The game has no board named " + Printable(name));
        FStore.AddEvent(caller.InstallKey, caller.UserId, key, name, int64_t(v));
        FStore.AddScore(key, board->Id, caller.InstallKey, caller.UserId, int64_t(v));
        return SendJson(res, 200, QJsonObject{{"data", QJsonArray()}}, kJsonApi);
    }

    FStore.AddEvent(caller.InstallKey, caller.UserId, key, name, std::nullopt);
    QJsonArray earned;
    // Without a login the event is kept for the install key alone and earns nothing.
    if (caller.UserId) {
        for (const auto& a : app->Achievements)
            if (a.Event == name && FStore.Earn(*caller.UserId, key, a.Event, a.Coins))
                earned.append(Resource("achievement", QString::fromStdString(key + "/" + a.Event),
                                       QJsonObject{{"name", a.Name},
                                                   {"description", a.Description},
                                                   {"app_key", QString::fromStdString(key)},
                                                   {"app_name", app->Name}}));
    }
    SendJson(res, 200, QJsonObject{{"data", earned}}, kJsonApi);
}

} // namespace tvx
