#pragma once

#include "Content.h"
#include "Store.h"

#include <string>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace tvx {

// Every address the launcher uses, answered from the content folder and the store.
class Service {
public:
    Service(Content& content, Store& store, std::string listenOrigin);
    void Install(httplib::Server& server);

private:
    void Get(const httplib::Request& req, httplib::Response& res);
    void Post(const httplib::Request& req, httplib::Response& res);

    void Cdn(const std::string& rest, const httplib::Request& req, httplib::Response& res);
    void Meta(const std::string& type, const std::string& key, const httplib::Request& req, httplib::Response& res);
    void Catalog(const httplib::Request& req, httplib::Response& res);
    void CatalogPage(const std::string& key, const httplib::Request& req, httplib::Response& res);
    void Profile(const httplib::Request& req, httplib::Response& res);
    void Scoreboard(const std::string& key, const std::string& board, const httplib::Request& req,
                    httplib::Response& res);
    void WebCatalog(const httplib::Request& req, httplib::Response& res);
    void IntegrationPage(bool on, httplib::Response& res);

    void Login(const httplib::Request& req, httplib::Response& res);
    void Register(const httplib::Request& req, httplib::Response& res);
    void LauncherEvent(const httplib::Request& req, httplib::Response& res);
    void GameEvent(const httplib::Request& req, httplib::Response& res);

    // The origin of the request as the client addressed it, for absolute addresses in documents.
    std::string Origin(const httplib::Request& req) const;
    QString CoverUrl(const TApp& app, const httplib::Request& req) const;

    Content& FContent;
    Store& FStore;
    std::string FListenOrigin;
};

} // namespace tvx
