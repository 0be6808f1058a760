// The HTTP(S) front of the simulated service.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace cloudsim {

struct Fault {
    enum class Kind { Status, Close, Delay, Garbage };
    int64_t request = 0;  // 1-based number of the request it applies to
    Kind kind = Kind::Status;
    int64_t value = 0;    // status code, body bytes to send, or milliseconds
};

// Reads "N:status=CODE", "N:close=K", "N:delay=MS" or "N:garbage".
bool parseFault(const std::string& text, Fault& out, std::string& error);

struct ServeOptions {
    std::string dataFile;
    std::string host = "127.0.0.1";
    int port = 0;
    std::string stateDir = ".";
    std::string certFile;
    std::string keyFile;
    std::string logDir;
    std::vector<Fault> faults;
};

// Writes one request record: "METHOD target VERSION", the header lines
// "Name: value", an empty line, then the body bytes. Lines end in "\n".
bool writeRequestLog(const std::string& path, const std::string& method, const std::string& target,
                     const std::string& version,
                     const std::vector<std::pair<std::string, std::string>>& headers,
                     const std::string& body);

// Runs the service until SIGTERM or SIGINT; returns the process exit code.
int runServer(const ServeOptions& options);

}  // namespace cloudsim
