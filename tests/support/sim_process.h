// Runs the simulated cloud service (cloud-sim serve) as a child process for
// end-to-end tests, and reads the request records it writes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kkmtest {

// The cloud-sim binary named by the KKM_CLOUD_SIM_PATH compile definition,
// or "" when the definition is absent.
std::string defaultSimPath();

// Starts `cloud-sim serve ARGS... --host 127.0.0.1 --port 0` (host and port
// are added unless ARGS give them), waits for its "listening on" line and
// learns the port from it. Throws std::runtime_error when the process cannot
// be started or does not report within startTimeout. The destructor stops
// the process (SIGTERM, then SIGKILL after a grace period) and reaps it.
class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> serveArgs, std::string simPath = defaultSimPath(),
                        std::chrono::milliseconds startTimeout = std::chrono::seconds(20));
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    int port() const { return port_; }
    const std::string& host() const { return host_; }
    pid_t pid() const { return pid_; }

    // "http://127.0.0.1:PORT/api/" (or https), the form of basicURL.
    std::string baseUrl(const std::string& scheme = "http") const;

    // Sends SIGTERM and waits; returns the exit status (0 after a clean
    // stop), 128 + signal when it was killed, -1 when already stopped.
    int stop(std::chrono::milliseconds grace = std::chrono::seconds(5));

private:
    pid_t pid_ = -1;
    int stdoutFd_ = -1;
    int port_ = 0;
    std::string host_ = "127.0.0.1";
};

// One request as cloud-sim recorded it with --log-dir.
struct LoggedRequest {
    std::string requestLine;  // "POST /api/WebDataPackPost HTTP/1.1"
    std::string method;
    std::string target;
    std::vector<std::pair<std::string, std::string>> headers;  // as received
    std::string body;                                          // exact bytes

    // Header lookup ignoring the case of the name.
    bool hasHeader(const std::string& name) const;
    std::string header(const std::string& name) const;
};

// Reads DIR/<n>.req; nothing when the file is missing or malformed.
std::optional<LoggedRequest> readRequestLog(const std::string& dir, int n);

// How many request records (1.req, 2.req, ... without a gap) DIR holds.
int countRequestLogs(const std::string& dir);

// A fresh empty directory under the system's temporary directory.
std::string makeTempDir(const std::string& prefix = "kkm-test-");

// Removes a directory tree; errors are ignored.
void removeTree(const std::string& path);

// Writes a self-signed certificate (PEM) for commonName and its private key
// (PEM, unencrypted), for cloud-sim serve --cert/--key. False on failure.
bool writeSelfSignedCertificate(const std::string& certPath, const std::string& keyPath,
                                const std::string& commonName = "localhost");

}  // namespace kkmtest
