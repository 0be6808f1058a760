#include "reliability_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>

#include "files/text_file.h"
#include "importdata_schema_check.h"
#include "run_program.h"
#include "sim_process.h"
#include "test_files.h"
#include "text/date_time.h"

namespace reliability {

std::string describe(const Shift& s) {
  return s.opening + ".." + s.closing + " (" + std::to_string(s.checks.size()) + " checks, " +
         std::to_string(s.cash.size()) + " cash)";
}

void PrintTo(const Shift& s, std::ostream* out) {
  *out << describe(s) << " checks";
  for (long n : s.checks) *out << ' ' << n;
  *out << " cash";
  for (long n : s.cash) *out << ' ' << n;
}

nlohmann::ordered_json generateData(const std::string& path, const std::vector<std::string>& options) {
  std::vector<std::string> args = {"generate", "--out", path};
  args.insert(args.end(), options.begin(), options.end());
  const ProgramResult r = runProgram(kkmtest::defaultSimPath(), args);
  if (r.exitCode != 0) throw std::runtime_error("cloud-sim generate failed: " + r.err);
  return nlohmann::ordered_json::parse(readFileBytes(path));
}

nlohmann::ordered_json& documentsOf(nlohmann::ordered_json& data) { return data["accounts"][0]["registers"][0]["documents"]; }

nlohmann::ordered_json withFirstDocuments(nlohmann::ordered_json data, std::size_t count) {
  nlohmann::ordered_json& docs = documentsOf(data);
  if (count < docs.size()) docs.erase(docs.begin() + static_cast<std::ptrdiff_t>(count), docs.end());
  return data;
}

void writeJson(const std::string& path, const nlohmann::ordered_json& data) { writeFileBytes(path, data.dump()); }

std::vector<Shift> closedShifts(const nlohmann::ordered_json& data) {
  std::vector<Shift> shifts;
  Shift current;
  bool open = false;
  for (const auto& doc : data["accounts"][0]["registers"][0]["documents"]) {
    const int kind = doc["docKind"].get<int>();
    const long number = doc["docNo"].get<long>();
    const std::string date = convertDateTimeTo1C(doc["docDt"].get<std::string>());
    if (kind == 2) {
      current = Shift();
      current.opening = date;
      open = true;
    } else if (kind == 5 && open) {
      current.closing = date;
      shifts.push_back(current);
      open = false;
    } else if (open && (kind == 3 || kind == 4)) {
      current.checks.insert(number);
    } else if (open && (kind == 129 || kind == 130)) {
      current.cash.insert(number);
    }
  }
  return shifts;
}

std::multiset<std::string> checksIn(const nlohmann::ordered_json& data) {
  std::multiset<std::string> checks, pending;
  for (const auto& doc : data["accounts"][0]["registers"][0]["documents"]) {
    const int kind = doc["docKind"].get<int>();
    if (kind == 3 || kind == 4)
      pending.insert(convertDateTimeTo1C(doc["docDt"].get<std::string>()) + " #" +
                     std::to_string(doc["docNo"].get<long>()));
    if (kind == 5) {
      checks.insert(pending.begin(), pending.end());
      pending.clear();
    }
  }
  return checks;
}

std::multiset<std::string> checksOf(const std::vector<Shift>& shifts) {
  std::multiset<std::string> checks;
  for (const Shift& s : shifts) checks.insert(s.checkKeys.begin(), s.checkKeys.end());
  return checks;
}

std::vector<Shift> reportedShifts(const std::string& text, bool* complete) {
  std::vector<Shift> shifts;
  if (complete) *complete = false;
  tinyxml2::XMLDocument doc;
  if (text.empty() || doc.Parse(text.data(), text.size()) != tinyxml2::XML_SUCCESS) return shifts;
  const tinyxml2::XMLElement* root = doc.RootElement();
  if (root == nullptr || std::strcmp(root->Name(), "ImportData") != 0 || root->Attribute("Processed")) return shifts;
  if (complete) *complete = true;
  const tinyxml2::XMLElement* reports = root->FirstChildElement("SaleReports");
  for (const tinyxml2::XMLElement* r = reports ? reports->FirstChildElement("SaleReport") : nullptr; r;
       r = r->NextSiblingElement("SaleReport")) {
    Shift s;
    s.opening = r->Attribute("OpeningDate") ? r->Attribute("OpeningDate") : "";
    s.closing = r->Attribute("ClosingDate") ? r->Attribute("ClosingDate") : "";
    const tinyxml2::XMLElement* checks = r->FirstChildElement("Checks");
    for (const tinyxml2::XMLElement* c = checks ? checks->FirstChildElement("Check") : nullptr; c;
         c = c->NextSiblingElement("Check")) {
      const char* number = c->Attribute("Number") ? c->Attribute("Number") : "-1";
      s.checks.insert(std::atol(number));
      s.checkKeys.push_back(std::string(c->Attribute("Date") ? c->Attribute("Date") : "") + " #" + number);
    }
    const tinyxml2::XMLElement* cash = r->FirstChildElement("IncomeOutcomeChecks");
    for (const tinyxml2::XMLElement* c = cash ? cash->FirstChildElement("IncomeOutcomeCheck") : nullptr; c;
         c = c->NextSiblingElement("IncomeOutcomeCheck"))
      s.cash.insert(std::atol(c->Attribute("Number") ? c->Attribute("Number") : "-1"));
    shifts.push_back(s);
  }
  return shifts;
}

std::vector<Shift> loadAs1C(const std::string& path) {
  if (!fileExists(path)) return {};
  const std::string text = readFileBytes(path);
  std::vector<Shift> shifts = reportedShifts(text);
  if (shifts.empty()) return shifts;
  // 1C refuses the whole file when its schema does.
  EXPECT_EQ("", kkmtest::importDataSchemaViolation(text)) << path;
  writeFileBytes(path, kProcessedStub);
  return shifts;
}

std::string configText(const std::string& baseUrl, const std::string& lastDocDT) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config>\n  <basicparams>\n    <param login=\"" + kLogin +
         "\" password=\"" + kPassword + "\" basicURL=\"" + baseUrl +
         "\" debugmode=\"0\"/>\n  </basicparams>\n  <importparams>\n    <import lastDocDT=\"" + lastDocDT +
         "\" kkmNum=\"" + kKkm + "\"/>\n  </importparams>\n</config>\n";
}

void setBaseUrl(const std::string& configPath, const std::string& baseUrl) {
  std::string text = readFileBytes(configPath);
  const std::size_t start = text.find("basicURL=\"") + 10;
  text.replace(start, text.find('"', start) - start, baseUrl);
  writeFileBytes(configPath, text);
}

ConfigState readConfig(const std::string& path) {
  ConfigState state;
  tinyxml2::XMLDocument doc;
  // Read the way the program reads it.
  if (doc.Parse(readTextFile(path).text.c_str()) != tinyxml2::XML_SUCCESS) return state;
  const tinyxml2::XMLElement* config = doc.FirstChildElement("config");
  const tinyxml2::XMLElement* params = config ? config->FirstChildElement("importparams") : nullptr;
  const tinyxml2::XMLElement* import = params ? params->FirstChildElement("import") : nullptr;
  if (import == nullptr || import->Attribute("lastDocDT") == nullptr) return state;
  state.parses = true;
  state.lastDocDT = import->Attribute("lastDocDT");
  return state;
}

Child::Child(const std::string& program, const std::vector<std::string>& args, const std::string& workingDir) {
  pid_ = startProgram(program, args, workingDir, workingDir + "/stdout.txt", workingDir + "/stderr.txt");
  if (pid_ < 0) throw std::runtime_error("cannot start " + program);
}

Child::~Child() {
  if (!reaped_) kill();
}

int Child::wait() {
  if (!reaped_) {
    while (waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
  }
  return exitCodeOf(status_);
}

int Child::kill() {
  if (!reaped_) ::kill(pid_, SIGKILL);
  return wait();
}

bool Child::ended() {
  if (reaped_) return true;
  const pid_t r = waitpid(pid_, &status_, WNOHANG);
  if (r == pid_) reaped_ = true;
  return reaped_;
}

namespace {

void pump(int a, int b, const std::atomic<bool>& stopping) {
  bool aOpen = true, bOpen = true;
  char buffer[16384];
  while ((aOpen || bOpen) && !stopping) {
    pollfd fds[2] = {{a, static_cast<short>(aOpen ? POLLIN : 0), 0}, {b, static_cast<short>(bOpen ? POLLIN : 0), 0}};
    const int n = poll(fds, 2, 50);
    if (n < 0 && errno != EINTR) break;
    if (n <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const int from = i == 0 ? a : b, to = i == 0 ? b : a;
      const ssize_t got = read(from, buffer, sizeof buffer);
      if (got <= 0) {
        shutdown(to, SHUT_WR);
        (i == 0 ? aOpen : bOpen) = false;
        continue;
      }
      for (ssize_t sent = 0; sent < got;) {
        const ssize_t w = send(to, buffer + sent, static_cast<std::size_t>(got - sent), MSG_NOSIGNAL);
        if (w <= 0) {
          aOpen = bOpen = false;
          break;
        }
        sent += w;
      }
    }
  }
  close(a);
  close(b);
}

}  // namespace

RefusingProxy::RefusingProxy(int upstreamPort, int refuseFrom) : upstreamPort_(upstreamPort), refuseFrom_(refuseFrom) {
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  if (listenFd_ < 0 || bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(listenFd_, 16) != 0 || getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
    throw std::runtime_error("RefusingProxy: cannot listen");
  port_ = ntohs(addr.sin_port);
  if (refuseFrom_ <= 1) {
    close(listenFd_);
    listenFd_ = -1;
  } else {
    acceptor_ = std::thread([this] { acceptLoop(); });
  }
}

RefusingProxy::~RefusingProxy() {
  stopping_ = true;
  if (acceptor_.joinable()) acceptor_.join();
  if (listenFd_ >= 0) close(listenFd_);
  for (auto& t : pumps_) t.join();
}

std::string RefusingProxy::baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_) + "/api/"; }

void RefusingProxy::acceptLoop() {
  int accepted = 0;
  while (!stopping_) {
    pollfd p{listenFd_, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    const int client = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    ++accepted;
    if (accepted >= refuseFrom_ - 1) {
      // Every later connection is refused.
      close(listenFd_);
      listenFd_ = -1;
    }
    const int upstream = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(upstreamPort_));
    if (upstream < 0 || connect(upstream, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      close(client);
      if (upstream >= 0) close(upstream);
    } else {
      pumps_.emplace_back(pump, client, upstream, std::cref(stopping_));
    }
    if (listenFd_ < 0) return;
  }
}

unsigned seedFrom(const char* name, unsigned fallback) {
  const char* value = std::getenv(name);
  const unsigned seed = value && *value ? static_cast<unsigned>(std::strtoul(value, nullptr, 10)) : fallback;
  std::cout << "[ seed ] " << name << "=" << seed << " (set " << name << " to replay)" << std::endl;
  return seed;
}

int countFrom(const char* name, int fallback) {
  const char* value = std::getenv(name);
  const int n = value && *value ? std::atoi(value) : fallback;
  return n > 0 ? n : fallback;
}

std::vector<std::string> filesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  return names;
}

}  // namespace reliability
