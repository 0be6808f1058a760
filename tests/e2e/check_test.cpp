#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>

#include "e2e_support.h"
#include "files/paths.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;

// Every file under `folder` with its bytes, and the configuration's.
std::map<std::string, std::string> snapshot(const std::string& config, const std::string& folder) {
  std::map<std::string, std::string> files{{config, readFileBytes(config)}};
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    files[entry.path().string()] = entry.is_regular_file() ? readFileBytes(entry.path().string()) : "<folder>";
  return files;
}

// An ImportData file of ours that 1C has not loaded, last written `hours` ago.
void writeWaitingFile(const std::string& path, int hours) {
  writeFileBytes(path,
                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ImportData xmlns=\"http://www.1c.ru/EquipmentService/"
                 "3.0.0.0\" FormatVersion=\"3000\"><SaleReports><SaleReport OpeningDate=\"2024-11-18T08:00:05\" "
                 "ClosingDate=\"2024-11-18T20:00:10\" ShiftNumber=\"41\"/></SaleReports></ImportData>\n");
  fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(hours));
}

// `text` with every `from` replaced by `to`.
std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::size_t countOf(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

class CheckTest : public e2e::ExchangeTest {
 public:
  // What a case's set-up lambda works with.
  using ExchangeTest::config;
  using ExchangeTest::dir;
  using ExchangeTest::sim;
  using ExchangeTest::writeConfig;
  platform::FileLock held;  // a run lock a case holds while the check runs
};

// `kkmbridge check` says of each thing a run depends on whether it is ok,
// and changes nothing on disk, whatever it finds.
TEST_F(CheckTest, SaysWhatIsWrongAndChangesNothing) {
  struct Case {
    const char* name;
    std::function<void(CheckTest&, const std::string& exchange)> setUp;
    int exitCode;
    std::string failed;  // part of the one FAILED line; "" when nothing fails
  };
  const std::vector<Case> cases = {
      {"everything right", [](CheckTest& t, const std::string&) { t.writeConfig("0", " runLog=\"run.log\""); }, 0, ""},
      {"a wrong password",
       [](CheckTest& t, const std::string&) {
         t.writeConfig("0");
         writeFileBytes(t.config(), replaced(readFileBytes(t.config()), "demo-pass", "wrong"));
       },
       -3, "FAILED   service login: "},
      {"an untrusted certificate",
       [](CheckTest& t, const std::string&) {
         const std::string cert = t.dir.file("cert.pem"), key = t.dir.file("key.pem");
         ASSERT_TRUE(kkmtest::writeSelfSignedCertificate(cert, key, "localhost"));
         t.sim = std::make_unique<kkmtest::SimProcess>(std::vector<std::string>{
             "--data", e2e::kDemoData, "--cert", cert, "--key", key, "--state", t.dir.file("tls-state")});
         t.writeConfig("0");
         writeFileBytes(t.config(), replaced(readFileBytes(t.config()), t.sim->baseUrl(),
                                             "https://localhost:" + std::to_string(t.sim->port()) + "/api/"));
       },
       -3, "FAILED   service TLS: "},
      {"an exchange folder that cannot be written",
       [](CheckTest& t, const std::string& exchange) {
         t.writeConfig("0");
         // Root writes into any folder: there, the folder is missing instead.
         if (geteuid() == 0)
           fs::remove_all(folderOf(exchange));
         else
           fs::permissions(folderOf(exchange), fs::perms::owner_read | fs::perms::owner_exec);
       },
       -3, "FAILED   exchange folder: "},
      {"a lock held past stallHours",
       [](CheckTest& t, const std::string& exchange) {
         t.writeConfig("0", " stallHours=\"2\"");
         // Held by this process, which took it three hours ago by its record.
         const std::string lock = folderOf(exchange) + "~kkmbridge-ImportData.xml.lock";
         std::string error;
         platform::LockHolder holder;
         ASSERT_EQ(platform::FileLock::Result::kTaken, platform::FileLock::tryTake(lock, "", t.held, holder, error)) << error;
         writeFileBytes(lock, std::to_string(getpid()) + " " + std::to_string(platform::now() - 3 * 3600) + "\n");
       },
       -3, "FAILED   run lock: "},
      {"a file waiting for 1C past stallHours",
       [](CheckTest& t, const std::string& exchange) {
         t.writeConfig("0", " stallHours=\"48\"");
         writeWaitingFile(exchange, 50);
       },
       -3, "FAILED   ImportData "},
      {"a configuration without basicURL",
       [](CheckTest& t, const std::string&) {
         t.writeConfig("0");
         writeFileBytes(t.config(), replaced(readFileBytes(t.config()), "basicURL=\"" + t.sim->baseUrl() + "\"", ""));
       },
       -2, "FAILED   basicURL: missing"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    startService();
    const std::string folder = dir.file(std::string("exchange-") + std::to_string(&c - &cases[0]) + "/");
    fs::create_directories(folder);
    writeFileBytes(folder + "ExportData.xml", readFileBytes(e2e::kDemoGoods));
    const std::string exchange = folder + "ImportData.xml";
    c.setUp(*this, exchange);
    const bool folderThere = fs::exists(folder);
    const auto before = folderThere ? snapshot(config(), folder) : std::map<std::string, std::string>{};

    const ProgramResult r = runProgram(KKM_BINARY_PATH, {"check", config(), exchange}, dir.path());
    EXPECT_EQ(c.exitCode, r.exitCode) << r.out << r.err;
    EXPECT_EQ(c.failed.empty() ? 0u : 1u, countOf("\n" + r.out, "\nFAILED   ")) << r.out;
    if (!c.failed.empty()) {
      EXPECT_NE(std::string::npos, r.out.find(c.failed)) << r.out;
    }
    EXPECT_NE(std::string::npos, r.out.find("\ncheck: ")) << r.out;
    if (folderThere) {
      const auto after = snapshot(config(), folder);
      std::string changed;
      for (const auto& [path, bytes] : after)
        if (before.count(path) == 0 || before.at(path) != bytes) changed += " " + path;
      for (const auto& entry : before)
        if (after.count(entry.first) == 0) changed += " " + entry.first + " (gone)";
      EXPECT_EQ("", changed);
      fs::permissions(folder, fs::perms::owner_all);
    }
    held = platform::FileLock();
    // Only the run log gets its one line.
    if (std::string(c.name) == "everything right") {
      EXPECT_EQ(1u, countOf(readFileBytes(dir.file("run.log")), "\n"));
      EXPECT_NE(std::string::npos, readFileBytes(dir.file("run.log")).find(" | check | ok | ")) << readFileBytes(dir.file("run.log"));
    }
  }
}

}  // namespace
