#include "sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

extern char** environ;

namespace kkmtest {

std::string defaultSimPath() {
#ifdef KKM_CLOUD_SIM_PATH
    return KKM_CLOUD_SIM_PATH;
#else
    return std::string();
#endif
}

namespace {

bool hasArg(const std::vector<std::string>& args, const std::string& name) {
    for (const auto& a : args)
        if (a == name) return true;
    return false;
}

// Exit status in one number: the code, or 128 + signal.
int decodeStatus(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

bool waitWithTimeout(pid_t pid, std::chrono::milliseconds timeout, int& status) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (true) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return true;
        if (r < 0 && errno != EINTR) return true;  // not our child any more
        if (std::chrono::steady_clock::now() >= until) return false;
        usleep(5000);
    }
}

}  // namespace

SimProcess::SimProcess(std::vector<std::string> serveArgs, std::string simPath,
                       std::chrono::milliseconds startTimeout) {
    if (simPath.empty()) throw std::runtime_error("SimProcess: no path to cloud-sim");
    for (size_t i = 0; i + 1 < serveArgs.size(); ++i)
        if (serveArgs[i] == "--host") host_ = serveArgs[i + 1];
    if (!hasArg(serveArgs, "--host")) {
        serveArgs.push_back("--host");
        serveArgs.push_back(host_);
    }
    if (!hasArg(serveArgs, "--port")) {
        serveArgs.push_back("--port");
        serveArgs.push_back("0");
    }

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("SimProcess: pipe failed");
    std::vector<std::string> argvStrings;
    argvStrings.push_back(simPath);
    argvStrings.push_back("serve");
    argvStrings.insert(argvStrings.end(), serveArgs.begin(), serveArgs.end());
    std::vector<char*> argv;
    for (auto& s : argvStrings) argv.push_back(&s[0]);
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, simPath.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        throw std::runtime_error("SimProcess: cannot start " + simPath);
    }
    pid_ = pid;
    stdoutFd_ = fds[0];

    // Read the first line: "cloud-sim listening on HOST:PORT".
    std::string line;
    const auto until = std::chrono::steady_clock::now() + startTimeout;
    while (line.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{stdoutFd_, POLLIN, 0};
        const int pr = poll(&p, 1, static_cast<int>(left.count()));
        if (pr < 0 && errno == EINTR) continue;
        if (pr <= 0) break;
        char buf[256];
        const ssize_t n = read(stdoutFd_, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // the process ended before saying it listens
        line.append(buf, static_cast<size_t>(n));
    }
    const std::string prefix = "cloud-sim listening on ";
    const size_t nl = line.find('\n');
    const size_t colon = nl == std::string::npos ? std::string::npos : line.rfind(':', nl);
    if (line.compare(0, prefix.size(), prefix) != 0 || colon == std::string::npos || colon + 1 >= nl) {
        stop(std::chrono::milliseconds(500));
        throw std::runtime_error("SimProcess: cloud-sim did not start: " + line);
    }
    port_ = std::atoi(line.substr(colon + 1, nl - colon - 1).c_str());
    if (port_ <= 0) {
        stop(std::chrono::milliseconds(500));
        throw std::runtime_error("SimProcess: no port in: " + line);
    }
}

SimProcess::~SimProcess() { stop(); }

std::string SimProcess::baseUrl(const std::string& scheme) const {
    return scheme + "://" + host_ + ":" + std::to_string(port_) + "/api/";
}

int SimProcess::stop(std::chrono::milliseconds grace) {
    int result = -1;
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        if (!waitWithTimeout(pid_, grace, status)) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
        result = decodeStatus(status);
        pid_ = -1;
    }
    if (stdoutFd_ >= 0) {
        close(stdoutFd_);
        stdoutFd_ = -1;
    }
    return result;
}

bool LoggedRequest::hasHeader(const std::string& name) const {
    for (const auto& h : headers)
        if (strcasecmp(h.first.c_str(), name.c_str()) == 0) return true;
    return false;
}

std::string LoggedRequest::header(const std::string& name) const {
    for (const auto& h : headers)
        if (strcasecmp(h.first.c_str(), name.c_str()) == 0) return h.second;
    return std::string();
}

std::optional<LoggedRequest> readRequestLog(const std::string& dir, int n) {
    std::ifstream in(dir + "/" + std::to_string(n) + ".req", std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream ss;
    ss << in.rdbuf();
    const std::string text = ss.str();

    LoggedRequest r;
    size_t pos = text.find('\n');
    if (pos == std::string::npos) return std::nullopt;
    r.requestLine = text.substr(0, pos);
    const size_t sp1 = r.requestLine.find(' ');
    const size_t sp2 = sp1 == std::string::npos ? std::string::npos : r.requestLine.rfind(' ');
    if (sp1 == std::string::npos || sp2 == sp1) return std::nullopt;
    r.method = r.requestLine.substr(0, sp1);
    r.target = r.requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
    ++pos;
    while (true) {
        const size_t end = text.find('\n', pos);
        if (end == std::string::npos) return std::nullopt;
        if (end == pos) {
            r.body = text.substr(end + 1);
            return r;
        }
        const std::string line = text.substr(pos, end - pos);
        const size_t colon = line.find(": ");
        if (colon == std::string::npos) {
            // A header with an empty value is recorded as "Name: ".
            r.headers.emplace_back(line.substr(0, line.find(':')), std::string());
        } else {
            r.headers.emplace_back(line.substr(0, colon), line.substr(colon + 2));
        }
        pos = end + 1;
    }
}

int countRequestLogs(const std::string& dir) {
    int n = 0;
    while (std::filesystem::exists(dir + "/" + std::to_string(n + 1) + ".req")) ++n;
    return n;
}

std::string makeTempDir(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
    if (mkdtemp(&pattern[0]) == nullptr) throw std::runtime_error("makeTempDir: mkdtemp failed");
    return pattern;
}

void removeTree(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

bool writeSelfSignedCertificate(const std::string& certPath, const std::string& keyPath,
                                const std::string& commonName) {
    EVP_PKEY* key = EVP_RSA_gen(2048);
    X509* cert = X509_new();
    bool ok = key != nullptr && cert != nullptr;
    if (ok) {
        X509_set_version(cert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
        X509_gmtime_adj(X509_getm_notAfter(cert), 7L * 24 * 3600);
        X509_set_pubkey(cert, key);
        X509_NAME* name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
        X509_set_issuer_name(cert, name);
        ok = X509_sign(cert, key, EVP_sha256()) > 0;
    }
    if (ok) {
        FILE* f = fopen(certPath.c_str(), "wb");
        ok = f != nullptr && PEM_write_X509(f, cert) == 1;
        if (f) ok = fclose(f) == 0 && ok;
    }
    if (ok) {
        FILE* f = fopen(keyPath.c_str(), "wb");
        ok = f != nullptr && PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
        if (f) ok = fclose(f) == 0 && ok;
    }
    X509_free(cert);
    EVP_PKEY_free(key);
    return ok;
}

}  // namespace kkmtest
