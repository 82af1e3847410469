// tarvenox-server: the stand-in for the launcher's web service (see server/README.md).
#include "Content.h"
#include "Service.h"
#include "Store.h"
#include "Util.h"

#include <httplib.h>

#include <QCoreApplication>

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <iostream>
#include <mutex>
#include <thread>

namespace {

void Usage() {
    std::cerr << "usage: tarvenox-server --content DIR --db FILE [--listen HOST:PORT] [--seed-demo-user]\n"
                 "  --listen defaults to 127.0.0.1:8470; port 0 picks a free port\n";
}

} // namespace

int main(int argc, char** argv) {
    std::string content, db, listen = "127.0.0.1:8470";
    bool seedDemo = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) {
                Usage();
                exit(2);
            }
            return argv[++i];
        };
        if (arg == "--content")
            content = next();
        else if (arg == "--db")
            db = next();
        else if (arg == "--listen")
            listen = next();
        else if (arg == "--seed-demo-user")
            seedDemo = true;
        else {
            Usage();
            return 2;
        }
    }
    size_t colon = listen.rfind(':');
    if (content.empty() || db.empty() || colon == std::string::npos) {
        Usage();
        return 2;
    }
    std::string host = listen.substr(0, colon);
    int port = atoi(listen.c_str() + colon + 1);
    struct stat st {};
    if (stat(content.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        std::cerr << "tarvenox-server: no content folder " << content << std::endl;
        return 1;
    }

    // Signals are taken by one thread with sigwait, which may stop the server safely. A shell starts
    // background jobs with SIGINT ignored, and an ignored signal never reaches sigwait.
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    QCoreApplication app(argc, argv);
    tvx::Store store;
    std::string error;
    if (!store.Open(db, error)) {
        std::cerr << "tarvenox-server: " << db << ": " << error << std::endl;
        return 1;
    }
    if (seedDemo) {
        auto r = store.Register("demo", "demo@example.com", "demo123");
        if (r == tvx::Store::TRegisterResult::Failed)
            std::cerr << "tarvenox-server: the demo account could not be created" << std::endl;
    }
    tvx::Content catalog(content, store);

    httplib::Server server;
    server.set_payload_max_length(64 * 1024);
    // More workers than the default, so that a few slow clients do not hold up everybody else.
    server.new_task_queue = [] { return new httplib::ThreadPool(32); };
    // Headers and body go out in separate writes; without this a kept-alive connection waits for the
    // client's delayed acknowledgement between them, some 40 ms per small file.
    server.set_tcp_nodelay(true);
    server.set_read_timeout(30, 0);
    server.set_write_timeout(60, 0);
    // A client that syncs thousands of files keeps one connection; closing it every few requests
    // makes clients race the close.
    server.set_keep_alive_max_count(100000);
    std::mutex logLock;
    // One line per request; paths only, never headers or bodies (they carry tokens and passwords).
    server.set_logger([&logLock](const httplib::Request& req, const httplib::Response& res) {
        std::string line = req.remote_addr + " " + req.method + " " + tvx::Printable(req.path) + " " +
                           std::to_string(res.status) + "\n";
        std::lock_guard lock(logLock);
        std::cerr << line << std::flush;
    });
    server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        res.status = 500;
        res.set_content("{\"error\":\"Internal error\"}", "application/json");
    });

    int bound = port == 0 ? server.bind_to_any_port(host) : (server.bind_to_port(host, port) ? port : -1);
    if (bound < 0) {
        std::cerr << "tarvenox-server: cannot listen on " << listen << std::endl;
        return 1;
    }
    std::string origin = "http://" + (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
                         std::to_string(bound);
    tvx::Service service(catalog, store, origin);
    service.Install(server);

    std::atomic<bool> listenDone{false};
    std::thread signalThread([&] {
        int sig = 0;
        sigwait(&stopSignals, &sig);
        // stop() does nothing before the server runs, and a signal may come right after the address is printed.
        while (!server.is_running() && !listenDone)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        server.stop();
    });
    std::cout << "listening on " << host << ":" << bound << std::endl;
    server.listen_after_bind();
    listenDone = true;
    // Wakes the signal thread when the server ended for another reason.
    pthread_kill(signalThread.native_handle(), SIGTERM);
    signalThread.join();
    std::cerr << "tarvenox-server: stopped" << std::endl;
    return 0;
}
