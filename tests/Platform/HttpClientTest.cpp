#include "Platform/HttpClient.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <QBuffer>

#include <mutex>
#include <set>
#include <thread>

namespace {

// Requests share a connection only inside a reuse scope, and only on its thread.
TEST(HttpClientTest, ConnectionsAreReusedOnlyInsideAScope) {
    TestHttpServer server;
    std::mutex lock;
    std::vector<int> ports;
    server.Server().Get("/x", [&](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard guard(lock);
        ports.push_back(req.remote_port);
        res.set_content("x", "text/plain");
    });
    // Idle connections stay open long enough to be reused; the client closes every one it opened.
    server.Server().set_keep_alive_timeout(5);
    server.Start();
    const auto get = [&] {
        QBuffer body;
        body.open(QIODevice::ReadWrite);
        EXPECT_EQ(THttpClient().Get(server.Origin() + "/x", body, {}), 200);
    };
    const auto distinct = [&] {
        std::lock_guard guard(lock);
        const size_t n = std::set<int>(ports.begin(), ports.end()).size();
        ports.clear();
        return n;
    };

    std::thread([&] {
        get();
        get();
    }).join();
    EXPECT_EQ(distinct(), 2u);

    std::thread([&] {
        {
            THttpConnectionReuse reuse;
            get();
            get();
            get();
        }
        get(); // the scope's end closed the connection
    }).join();
    EXPECT_EQ(distinct(), 2u);
}

} // namespace
