// Shared pieces of the reliability tests: generated service data and the
// closed shifts it holds, the shifts an ImportData file reports, 1C's side of
// the exchange, the configuration as the tests see it, a program run that can
// be killed, and a proxy that refuses connections from a given one on.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <ostream>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

namespace reliability {

inline const std::string kBinary = KKM_BINARY_PATH;
inline const std::string kLogin = "cashier";
inline const std::string kPassword = "secret";
inline const std::string kKkm = "0000000000012345";
// What 1C leaves in place of an ImportData file it has loaded.
inline const std::string kProcessedStub =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><ImportData xmlns=\"http://www.1c.ru/EquipmentService/3.0.0.0\" "
    "FormatVersion=\"3000\" Processed=\"2020-03-02T21:00:00\"/>";

// One closed shift: its dates in 1C's form and the numbers of its documents.
struct Shift {
  std::string opening, closing;
  std::set<long> checks, cash;
  // Of a reported shift: each Check as "Date #Number" (numbers start again
  // on a new fiscal drive, dates do not). Not compared.
  std::vector<std::string> checkKeys;
  bool operator==(const Shift& o) const {
    return opening == o.opening && closing == o.closing && checks == o.checks && cash == o.cash;
  }
  bool operator<(const Shift& o) const { return closing < o.closing; }
};
std::string describe(const Shift& s);
// For test failure messages.
void PrintTo(const Shift& s, std::ostream* out);

// Runs `cloud-sim generate` with `options` into `path`; returns the data,
// its members in the order they were written (a fiscal body's tags must
// come back in the service's order).
nlohmann::ordered_json generateData(const std::string& path, const std::vector<std::string>& options);
// The documents of the data's only register, in the order the service sorts them.
nlohmann::ordered_json& documentsOf(nlohmann::ordered_json& data);
// The data with only the first `count` documents of its register.
nlohmann::ordered_json withFirstDocuments(nlohmann::ordered_json data, std::size_t count);
void writeJson(const std::string& path, const nlohmann::ordered_json& data);

// The closed shifts in `data`, as the import pairs openings and closings.
std::vector<Shift> closedShifts(const nlohmann::ordered_json& data);

// Every check of `data` up to its last closing, as Shift::checkKeys names them.
std::multiset<std::string> checksIn(const nlohmann::ordered_json& data);
// The checks of `shifts`, each as often as it was reported.
std::multiset<std::string> checksOf(const std::vector<Shift>& shifts);

// The SaleReports of an ImportData text; `complete` is false when the text
// does not parse, has another root or was already processed.
std::vector<Shift> reportedShifts(const std::string& text, bool* complete = nullptr);

// 1C's load: when `path` holds an ImportData without Processed that has
// sales reports, checks it against 1C's schema (a test failure when 1C would
// refuse it), returns them and overwrites the file with the processed stub;
// otherwise returns nothing and leaves the file.
std::vector<Shift> loadAs1C(const std::string& path);

// The configuration file text for an import against `baseUrl`.
std::string configText(const std::string& baseUrl, const std::string& lastDocDT = "0");

// Points the configuration file at `baseUrl`, leaving the rest as it is.
void setBaseUrl(const std::string& configPath, const std::string& baseUrl);

// lastDocDT as the program will read it; `parses` false when the file does
// not give config/importparams/import.
struct ConfigState {
  bool parses = false;
  std::string lastDocDT;
};
ConfigState readConfig(const std::string& path);

// A program started without waiting for it.
class Child {
 public:
  // `program ARGS` in `workingDir`, standard output and error into files there.
  Child(const std::string& program, const std::vector<std::string>& args, const std::string& workingDir);
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }
  // Waits; the exit code as a signed byte, or -1000 - signal when killed.
  int wait();
  // SIGKILL, then wait(); the same result.
  int kill();
  // true when it has ended (and then `wait` does not block).
  bool ended();

 private:
  pid_t pid_ = -1;
  int status_ = 0;
  bool reaped_ = false;
};

// Listens on 127.0.0.1 and passes connections through to `upstreamPort`;
// from connection number `refuseFrom` on (1 = the first) it stops
// listening, so those connections are refused.
class RefusingProxy {
 public:
  RefusingProxy(int upstreamPort, int refuseFrom);
  ~RefusingProxy();
  RefusingProxy(const RefusingProxy&) = delete;
  RefusingProxy& operator=(const RefusingProxy&) = delete;
  std::string baseUrl() const;

 private:
  void acceptLoop();
  int upstreamPort_;
  int refuseFrom_;
  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
  std::vector<std::thread> pumps_;
};

// A seed from the environment variable `name`, else `fallback`; printed.
unsigned seedFrom(const char* name, unsigned fallback);
int countFrom(const char* name, int fallback);

// Names of the files in `dir`.
std::vector<std::string> filesIn(const std::string& dir);

}  // namespace reliability
