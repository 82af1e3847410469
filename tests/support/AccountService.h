#pragma once

#include "App/Paths.h"
#include "App/User.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <mutex>
#include <string>
#include <vector>

// Login and registration endpoints answering with the status and body the test sets, with the service
// address pointed at them and no user logged in before and after each test.
class TAccountServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto answer = [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(FMutex);
            FRequests.push_back({req.path, req.body});
            res.status = FStatus;
            res.set_content(FAnswer, "application/json");
        };
        FServer.Server().Post("/api/kiv/login", answer);
        FServer.Server().Post("/api/kiv/public/register", answer);
        FServer.Start();
        qputenv("TARVENOX_SERVICE_URL", FServer.Origin().toUtf8());
        InitPaths();
        ResetUser();
    }
    void TearDown() override {
        ResetUser();
        qputenv("TARVENOX_SERVICE_URL", "http://127.0.0.1:9");
        InitPaths();
    }
    static void ResetUser() {
        CurrentUser().SetName(QString());
        CurrentUser().SetToken(QString());
        CurrentUser().Save();
    }
    void Answer(int Status, const std::string& Body) {
        std::lock_guard lock(FMutex);
        FStatus = Status;
        FAnswer = Body;
    }
    struct TRequest {
        std::string Path, Body;
    };
    std::vector<TRequest> Requests() {
        std::lock_guard lock(FMutex);
        return FRequests;
    }
    std::vector<std::string> Bodies() {
        std::vector<std::string> bodies;
        for (const TRequest& r : Requests())
            bodies.push_back(r.Body);
        return bodies;
    }

    TestHttpServer FServer;

private:
    std::mutex FMutex;
    int FStatus = 200;
    std::string FAnswer;
    std::vector<TRequest> FRequests;
};
