#include "server.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <pthread.h>
#include <thread>

#include <httplib.h>

#include "service.h"

namespace cloudsim {

namespace {

bool parseInt(const std::string& text, int64_t& out) {
    if (text.empty() || text.size() > 18) return false;
    int64_t v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    out = v;
    return true;
}

// Pseudo headers that the HTTP library adds to every request it reads.
bool isLibraryHeader(const std::string& name) {
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
           name == "LOCAL_PORT";
}

const char* const kGarbageBody = "<html><body><h1>502 Bad Gateway</h1>upstream said: ###</body></html>";

}  // namespace

bool parseFault(const std::string& text, Fault& out, std::string& error) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos) {
        error = "expected N:status=CODE, N:close=K, N:delay=MS or N:garbage";
        return false;
    }
    Fault f;
    if (!parseInt(text.substr(0, colon), f.request) || f.request < 1) {
        error = "the request number must be a whole number from 1";
        return false;
    }
    const std::string action = text.substr(colon + 1);
    if (action == "garbage") {
        f.kind = Fault::Kind::Garbage;
        out = f;
        return true;
    }
    const size_t eq = action.find('=');
    const std::string name = action.substr(0, eq);
    const std::string value = eq == std::string::npos ? std::string() : action.substr(eq + 1);
    if (name == "status") f.kind = Fault::Kind::Status;
    else if (name == "close") f.kind = Fault::Kind::Close;
    else if (name == "delay") f.kind = Fault::Kind::Delay;
    else {
        error = "unknown fault \"" + name + "\"";
        return false;
    }
    if (eq == std::string::npos || !parseInt(value, f.value)) {
        error = "fault \"" + name + "\" needs a whole number value";
        return false;
    }
    if (f.kind == Fault::Kind::Status && (f.value < 100 || f.value > 999)) {
        error = "status must be a three-digit HTTP code";
        return false;
    }
    out = f;
    return true;
}

bool writeRequestLog(const std::string& path, const std::string& method, const std::string& target,
                     const std::string& version,
                     const std::vector<std::pair<std::string, std::string>>& headers,
                     const std::string& body) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << method << ' ' << target << ' ' << version << '\n';
    for (const auto& h : headers) out << h.first << ": " << h.second << '\n';
    out << '\n';
    out.write(body.data(), static_cast<std::streamsize>(body.size()));
    out.close();
    return static_cast<bool>(out);
}

namespace {

std::atomic<bool> g_stopping{false};

// Waits, in short steps so that a stop request is not held up.
void interruptibleSleep(int64_t ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!g_stopping.load() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

// Every answer goes out with a known length and without content coding;
// limit < body size sends only the first limit bytes and drops the
// connection.
void setAnswer(httplib::Response& res, const Reply& reply, size_t limit) {
    res.status = reply.status;
    auto body = std::make_shared<std::string>(reply.body);
    res.set_content_provider(
        body->size(), reply.contentType,
        [body, limit](size_t offset, size_t length, httplib::DataSink& sink) {
            if (offset >= limit || offset >= body->size()) return false;
            const size_t n = std::min({length, limit - offset, body->size() - offset});
            return sink.write(body->data() + offset, n);
        });
}

}  // namespace

int runServer(const ServeOptions& options) {
    namespace fs = std::filesystem;
    DataSet data;
    if (!options.dataFile.empty()) {
        try {
            data = loadDataFile(options.dataFile);
        } catch (const std::exception& e) {
            std::cerr << "cloud-sim: " << e.what() << '\n';
            return 2;
        }
    }
    std::error_code ec;
    if (!options.logDir.empty()) fs::create_directories(options.logDir, ec);
    Service service(std::move(data), options.stateDir);

    std::map<int64_t, std::vector<Fault>> faults;
    for (const Fault& f : options.faults) faults[f.request].push_back(f);

    // SIGTERM and SIGINT are taken by one waiting thread; every other
    // thread, the library's workers included, inherits the blocked mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<httplib::Server> server;
    if (!options.certFile.empty() || !options.keyFile.empty()) {
        if (options.certFile.empty() || options.keyFile.empty()) {
            std::cerr << "cloud-sim: --cert and --key go together\n";
            return 2;
        }
        server = std::make_unique<httplib::SSLServer>(options.certFile.c_str(), options.keyFile.c_str());
    } else {
        server = std::make_unique<httplib::Server>();
    }
    if (!server->is_valid()) {
        std::cerr << "cloud-sim: cannot set up the server (certificate or key unreadable?)\n";
        return 2;
    }

    server->set_keep_alive_timeout(2);
    std::atomic<int64_t> requestCount{0};
    auto handle = [&](const httplib::Request& req, httplib::Response& res, const std::string& body) {
        const int64_t number = ++requestCount;
        if (!options.logDir.empty()) {
            std::vector<std::pair<std::string, std::string>> headers;
            for (const auto& h : req.headers)
                if (!isLibraryHeader(h.first)) headers.emplace_back(h.first, h.second);
            const std::string path = (fs::path(options.logDir) / (std::to_string(number) + ".req")).string();
            if (!writeRequestLog(path, req.method, req.target, req.version, headers, body))
                std::cerr << "cloud-sim: cannot write " << path << '\n';
        }
        size_t limit = static_cast<size_t>(-1);
        const Fault* replace = nullptr;
        const auto it = faults.find(number);
        if (it != faults.end()) {
            for (const Fault& f : it->second) {
                if (f.kind == Fault::Kind::Delay) interruptibleSleep(f.value);
                else if (f.kind == Fault::Kind::Close) limit = static_cast<size_t>(f.value);
                else replace = &f;
            }
        }
        Reply reply;
        if (replace && replace->kind == Fault::Kind::Status) {
            reply = problemReply(static_cast<int>(replace->value), "injected fault");
        } else if (replace && replace->kind == Fault::Kind::Garbage) {
            reply.contentType = "text/html";
            reply.body = kGarbageBody;
        } else {
            reply = service.handle(req.method, req.path, req.target, body);
        }
        setAnswer(res, reply, limit);
    };

    auto withBody = [&](const httplib::Request& req, httplib::Response& res,
                        const httplib::ContentReader& reader) {
        // Read through the content reader: the library's own body reading
        // refuses form-encoded bodies above a few kilobytes.
        std::string body;
        reader([&](const char* data, size_t length) {
            body.append(data, length);
            return true;
        });
        handle(req, res, body);
    };
    auto withoutBody = [&](const httplib::Request& req, httplib::Response& res) { handle(req, res, req.body); };
    server->Get(".*", withoutBody);
    server->Options(".*", withoutBody);
    server->Post(".*", withBody);
    server->Put(".*", withBody);
    server->Patch(".*", withBody);
    server->Delete(".*", withBody);

    int port = options.port;
    if (port == 0) {
        port = server->bind_to_any_port(options.host);
        if (port < 0) port = 0;
    } else if (!server->bind_to_port(options.host, port)) {
        port = 0;
    }
    if (port <= 0) {
        std::cerr << "cloud-sim: cannot listen on " << options.host << ':' << options.port << '\n';
        return 1;
    }

    std::atomic<bool> listenDone{false};
    std::thread signalWaiter([&] {
        int sig = 0;
        sigwait(&stopSignals, &sig);
        g_stopping = true;
        // A stop asked before the accept loop runs would be lost.
        while (!listenDone.load() && !server->is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        server->stop();
    });

    std::cout << "cloud-sim listening on " << options.host << ':' << port << std::endl;
    const bool ok = server->listen_after_bind();
    listenDone = true;

    if (!g_stopping.exchange(true)) pthread_kill(signalWaiter.native_handle(), SIGTERM);
    signalWaiter.join();
    return ok ? 0 : 1;
}

}  // namespace cloudsim
