// Bad local input end to end: configuration, exchange and goods files that
// are empty, truncated, binary, huge, foreign or doubled, and paths that are
// folders, read-only, or on a missing folder or drive. Each case gets its
// exit code, its line on standard error where the run fails, the requests it
// may send, and the files it may change; none crashes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "files/text_file.h"
#include "reliability_support.h"
#include "run_program.h"
#include "sim_process.h"
#include "test_files.h"

namespace {

using namespace reliability;

constexpr std::size_t kHugeBytes = 100u * 1024 * 1024;

std::string randomBytes(std::size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(n, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
  return bytes;
}

// Everything a case needs: its folder, the service, and the paths it runs with.
struct Scene {
  ScopedTempDir dir;
  ScopedTempDir logs;
  std::string dataFile;
  std::unique_ptr<kkmtest::SimProcess> sim;
  std::string config = dir.file("config.xml");
  std::string exchange = dir.file("ImportData.xml");
  std::string goods = dir.file("ExportData.xml");
  std::string original;       // what the case put into the file it tests, when kept for a comparison
  bool unprivileged = false;  // run as an ordinary user, so that file permissions count
  long memoryLimitKB = 0;     // the address space the run may have (0: no limit)
  int heldLock = -1;          // a lock file this process holds during the run
  ~Scene() {
    if (heldLock >= 0) ::close(heldLock);
  }

  int requests() const { return kkmtest::countRequestLogs(logs.path()); }
  std::string storedGoods() const { return readFileBytes(logs.file("goods-" + kLogin + ".xml")); }
};

struct Case {
  const char* name;
  const char* mode;
  std::function<void(Scene&)> prepare;
  int exitCode;
  const char* errorText;  // must stand on stderr; "": no error line of the program
  std::function<void(Scene&, const ProgramResult&)> verify;
};

class BadInput : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dataDir = std::make_unique<ScopedTempDir>();
    data = generateData(dataDir->file("data.json"), {"--shifts", "2", "--checks", "2", "--goods", "2", "--cash", "1"});
  }
  static void TearDownTestSuite() { dataDir.reset(); }

  void runCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      Scene scene;
      scene.sim = std::make_unique<kkmtest::SimProcess>(std::vector<std::string>{
          "--data", dataDir->file("data.json"), "--log-dir", scene.logs.path(), "--state", scene.logs.path()});
      writeFileBytes(scene.config, configText(scene.sim->baseUrl()));
      writeFileBytes(scene.goods, readFileBytes(std::string(KKM_SOURCE_DIR) + "/demo/ExportData.xml"));
      c.prepare(scene);
      if (IsSkipped()) return;  // the case needs what this machine cannot give
      const auto started = std::chrono::steady_clock::now();
      const std::vector<std::string> args = {c.mode, scene.config, c.mode == std::string("import") ? scene.exchange
                                                                                                   : scene.goods};
      ProgramResult result;
      if (scene.unprivileged) {
        ::chmod(scene.dir.path().c_str(), 0777);
        const std::string& program = reachableCopyOf(kBinary);
        ASSERT_EQ(0, runUnprivileged([&] {
                    result = runProgram(program, args, "/tmp");
                    // The child's result travels back through a file.
                    writeFileBytes(scene.dir.file("result.txt"),
                                   std::to_string(result.exitCode) + "\n" + result.err);
                    return true;
                  }));
        const std::string back = readFileBytes(scene.dir.file("result.txt"));
        result.exitCode = std::stoi(back.substr(0, back.find('\n')));
        result.err = back.substr(back.find('\n') + 1);
        ::remove(scene.dir.file("result.txt").c_str());
      } else if (scene.memoryLimitKB > 0) {
#if defined(__SANITIZE_ADDRESS__)
        std::cout << "[ case ] " << c.name << ": skipped (the address sanitizer needs far more address space)"
                  << std::endl;
        continue;
#endif
        std::vector<std::string> limited = {"-c", "ulimit -v " + std::to_string(scene.memoryLimitKB) + " && exec \"$0\" \"$@\"",
                                            kBinary};
        limited.insert(limited.end(), args.begin(), args.end());
        result = runProgram("/bin/sh", limited, scene.dir.path());
      } else {
        result = runProgram(kBinary, args, scene.dir.path());
      }
      EXPECT_EQ(c.exitCode, result.exitCode) << result.err;
      if (*c.errorText == '\0') {
        // Only the transfer trace of the service client, no line of the program's own.
        EXPECT_EQ(std::string::npos, result.err.find("kkmbridge:")) << result.err;
      } else {
        EXPECT_NE(std::string::npos, result.err.find(c.errorText)) << result.err;
        EXPECT_EQ(std::string::npos, result.err.find("ERROR: AddressSanitizer")) << result.err;
      }
      if (c.verify) c.verify(scene, result);
      std::cout << "[ case ] " << c.name << ": exit " << result.exitCode << ", "
                << std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started)
                       .count()
                << " ms" << std::endl;
    }
  }

  static std::unique_ptr<ScopedTempDir> dataDir;
  static nlohmann::ordered_json data;
};

std::unique_ptr<ScopedTempDir> BadInput::dataDir;
nlohmann::ordered_json BadInput::data;

// A configuration that cannot be read: exit -2 before anything is asked.
void nothingAsked(Scene& s, const ProgramResult&) {
  EXPECT_EQ(0, s.requests());
  EXPECT_FALSE(fileExists(s.exchange));
}

// A failed import: no file where there was none, lastDocDT unchanged.
void importChangedNothing(Scene& s, const ProgramResult&) {
  EXPECT_FALSE(fileExists(s.exchange));
  EXPECT_EQ("0", readConfig(s.config).lastDocDT);
}

void importDone(Scene& s, const ProgramResult&) {
  EXPECT_EQ(2u, reportedShifts(readFileBytes(s.exchange)).size());
  EXPECT_NE("0", readConfig(s.config).lastDocDT);
}

// An attribute added to config/basicparams/param.
void addParam(Scene& s, const std::string& attribute) {
  std::string text = readFileBytes(s.config);
  text.insert(text.find(" debugmode="), " " + attribute);
  writeFileBytes(s.config, text);
}

// Sets when the file at `path` was last written to `hours` hours ago.
void writtenHoursAgo(const std::string& path, int hours) {
  const timeval back{static_cast<time_t>(::time(nullptr) - hours * 3600L), 0};
  const timeval times[2] = {back, back};
  ASSERT_EQ(0, ::lutimes(path.c_str(), times));
}

// Another run of this account that has held the import's lock for `hours`
// hours, as the lock file records it.
void lockHeldFor(Scene& s, int hours) {
  const std::string lock = s.dir.file("~kkmbridge-ImportData.xml.lock");
  s.heldLock = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(s.heldLock, 0);
  const std::string record = std::to_string(::getpid()) + " " + std::to_string(::time(nullptr) - hours * 3600L) + "\n";
  ASSERT_EQ(static_cast<ssize_t>(record.size()), ::write(s.heldLock, record.data(), record.size()));
  ASSERT_EQ(0, ::flock(s.heldLock, LOCK_EX));
}

// An ImportData of ours that 1C has not loaded.
const std::string kUnloaded =
    "<?xml version=\"1.0\"?>\n<ImportData FormatVersion=\"3000\"><SaleReports><SaleReport "
    "ClosingDate=\"2020-03-03T20:00:00\"/></SaleReports></ImportData>\n";

void unloadedLeftAlone(Scene& s, const ProgramResult&) {
  EXPECT_EQ(kUnloaded, readFileBytes(s.exchange));
  EXPECT_EQ("0", readConfig(s.config).lastDocDT);
  EXPECT_EQ(0, s.requests());
}

unsigned permissionsOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(0, ::lstat(path.c_str(), &info)) << path;
  return info.st_mode & 0777;
}

std::string withoutBasicUrl(const std::string& config) {
  std::string text = config;
  const std::size_t start = text.find(" basicURL=\"");
  return text.erase(start, text.find('"', start + 11) + 1 - start);
}

TEST_F(BadInput, ConfigurationFiles) {
  const std::vector<Case> cases = {
      {"empty", "import", [](Scene& s) { writeFileBytes(s.config, ""); }, -2, "", nothingAsked},
      {"truncated", "import",
       [](Scene& s) {
         const std::string text = readFileBytes(s.config);
         writeFileBytes(s.config, text.substr(0, text.size() / 2));
       },
       -2, "", nothingAsked},
      {"cut after the service address", "import",
       [](Scene& s) {
         const std::string text = readFileBytes(s.config);
         writeFileBytes(s.config, text.substr(0, text.find("</basicparams>")));
       },
       -2, "", nothingAsked},
      {"binary", "import", [](Scene& s) { writeFileBytes(s.config, randomBytes(4096, 7)); }, -2, "", nothingAsked},
      {"without config", "import",
       [](Scene& s) {
         std::string text = readFileBytes(s.config);
         text.replace(text.find("<config>"), 8, "<settings>").replace(text.find("</config>"), 9, "</settings>");
         writeFileBytes(s.config, text);
       },
       -2, "", nothingAsked},
      {"without basicURL", "import", [](Scene& s) { writeFileBytes(s.config, withoutBasicUrl(readFileBytes(s.config))); },
       -2, "", nothingAsked},
      {"without importparams", "import",
       [](Scene& s) {
         std::string text = readFileBytes(s.config);
         const std::size_t start = text.find("<importparams>"), end = text.find("</importparams>") + 15;
         writeFileBytes(s.config, text.erase(start, end - start));
       },
       -3, "cannot read config/importparams/import", [](Scene& s, const ProgramResult&) {
         EXPECT_FALSE(fileExists(s.exchange));
         EXPECT_EQ(0, s.requests());  // nothing to ask: not even a login
       }},
      {"duplicated elements", "import",
       [](Scene& s) {
         std::string text = readFileBytes(s.config);
         text.insert(text.find("</basicparams>"), "<param login=\"x\" password=\"y\" basicURL=\"http://127.0.0.1:9/\"/>");
         text.insert(text.find("</importparams>"), "<import lastDocDT=\"second\" kkmNum=\"9\"/>");
         text += "<config><basicparams><param basicURL=\"http://127.0.0.1:9/\"/></basicparams></config>\n";
         writeFileBytes(s.config, text);
       },
       0, "", [](Scene& s, const ProgramResult& r) {
         importDone(s, r);
         const std::string text = readFileBytes(s.config);
         EXPECT_NE(std::string::npos, text.find("<import lastDocDT=\"second\" kkmNum=\"9\"/>")) << text;
         EXPECT_NE(std::string::npos, text.find("<param basicURL=\"http://127.0.0.1:9/\"/>")) << text;
       }},
      {"a run log that cannot be written", "import",
       [](Scene& s) {
         std::string text = readFileBytes(s.config);
         text.insert(text.find(" debugmode="), " runLog=\"" + s.dir.file("gone/run.log") + "\"");
         writeFileBytes(s.config, text);
       },
       0, "run log", importDone},  // one line, and the run log never changes a run's outcome
      {"a run log that is a link", "import",
       [](Scene& s) {
         writeFileBytes(s.dir.file("elsewhere.txt"), "keep\n");
         std::filesystem::create_symlink(s.dir.file("elsewhere.txt"), s.dir.file("run.log"));
         addParam(s, "runLog=\"" + s.dir.file("run.log") + "\"");
       },
       0, "symbolic link, which is never followed", [](Scene& s, const ProgramResult& r) {
         importDone(s, r);
         EXPECT_EQ("keep\n", readFileBytes(s.dir.file("elsewhere.txt")));
       }},
      {"a run log that is a FIFO", "import",
       [](Scene& s) {
         ASSERT_EQ(0, ::mkfifo(s.dir.file("run.log").c_str(), 0600));
         addParam(s, "runLog=\"" + s.dir.file("run.log") + "\"");
       },
       0, "run log", importDone},  // refused without waiting for a reader
      {"a new run log is private", "import",
       [](Scene& s) { addParam(s, "runLog=\"" + s.dir.file("run.log") + "\""); }, 0, "",
       [](Scene& s, const ProgramResult& r) {
         importDone(s, r);
         EXPECT_EQ(0600u, permissionsOf(s.dir.file("run.log")));
       }},
      {"stallHours that is no number", "import", [](Scene& s) { addParam(s, "stallHours=\"a day\""); }, 0,
       "warning: stallHours=\"a day\"", importDone},
      {"a private configuration gets a private lock", "import", [](Scene& s) { ::chmod(s.config.c_str(), 0600); }, 0,
       "", [](Scene& s, const ProgramResult& r) {
         importDone(s, r);
         EXPECT_EQ(0600u, permissionsOf(s.dir.file("~kkmbridge-ImportData.xml.lock")));
       }},
      {"a lock file anyone may open is narrowed", "import",
       [](Scene& s) {
         ::chmod(s.config.c_str(), 0600);
         writeFileBytes(s.dir.file("~kkmbridge-ImportData.xml.lock"), "");
         ::chmod(s.dir.file("~kkmbridge-ImportData.xml.lock").c_str(), 0666);
       },
       0, "", [](Scene& s, const ProgramResult& r) {
         importDone(s, r);
         EXPECT_EQ(0600u, permissionsOf(s.dir.file("~kkmbridge-ImportData.xml.lock")));
       }},
      {"a lock file of another account", "import",
       [](Scene& s) {
         writeFileBytes(s.dir.file("~kkmbridge-ImportData.xml.lock"), "");
         if (::chown(s.dir.file("~kkmbridge-ImportData.xml.lock").c_str(), 65534, 65534) != 0)
           GTEST_SKIP() << "only root can give a file away";
       },
       -3, "belongs to another account", [](Scene& s, const ProgramResult& r) {
         importChangedNothing(s, r);
         EXPECT_EQ(0, s.requests());
       }},
      {"a folder", "import",
       [](Scene& s) {
         s.config = s.dir.file("config.d");
         std::filesystem::create_directory(s.config);
       },
       -2, "cannot read configuration file", nothingAsked},
      {"in a missing folder", "import", [](Scene& s) { s.config = s.dir.file("gone/config.xml"); }, -2, "",
       nothingAsked},
      {"on a missing drive", "import", [](Scene& s) { s.config = "/kkm-missing-drive/config.xml"; }, -2, "",
       nothingAsked},
      {"read-only", "import",
       [](Scene& s) {
         ::chmod(s.config.c_str(), 0444);
         s.unprivileged = true;
       },
       -3, "read-only", [](Scene& s, const ProgramResult& r) {
         importChangedNothing(s, r);  // no exchange file is put in place
         EXPECT_EQ(configText(s.sim->baseUrl()), readFileBytes(s.config));
       }},
  };
  runCases(cases);
}

TEST_F(BadInput, ExchangeFilesAndPaths) {
  const std::vector<Case> cases = {
      {"empty file is replaced", "import", [](Scene& s) { writeFileBytes(s.exchange, ""); }, 0, "", importDone},
      {"truncated ImportData is left alone", "import",
       [](Scene& s) { writeFileBytes(s.exchange, "<?xml version=\"1.0\"?>\n<ImportData FormatVersion=\"3000\"><SaleRep"); },
       -3, "is not XML", [](Scene& s, const ProgramResult&) {
         EXPECT_EQ("<?xml version=\"1.0\"?>\n<ImportData FormatVersion=\"3000\"><SaleRep", readFileBytes(s.exchange));
         EXPECT_EQ("0", readConfig(s.config).lastDocDT);
         EXPECT_EQ(0, s.requests());
       }},
      {"binary file is left alone", "import", [](Scene& s) { writeFileBytes(s.exchange, randomBytes(4096, 9)); }, -3,
       "left as it is", [](Scene& s, const ProgramResult&) {
         EXPECT_EQ(randomBytes(4096, 9), readFileBytes(s.exchange));
         EXPECT_EQ(0, s.requests());
       }},
      {"a folder", "import",
       [](Scene& s) {
         s.exchange = s.dir.file("exchange.d");
         std::filesystem::create_directory(s.exchange);
       },
       -3, "cannot be read", [](Scene& s, const ProgramResult&) {
         EXPECT_TRUE(std::filesystem::is_directory(s.exchange));
         EXPECT_EQ("0", readConfig(s.config).lastDocDT);
         EXPECT_EQ(0, s.requests());
       }},
      {"in a missing folder", "import", [](Scene& s) { s.exchange = s.dir.file("gone/ImportData.xml"); }, -3,
       "gone/~kkmbridge-ImportData.xml.lock: cannot open it", importChangedNothing},
      {"on a missing drive", "import", [](Scene& s) { s.exchange = "/kkm-missing-drive/ImportData.xml"; }, -3,
       "cannot lock /kkm-missing-drive/", importChangedNothing},
      {"a link of ours: the file is written where it leads", "import",
       [](Scene& s) {
         std::filesystem::create_directory(s.dir.file("real"));
         std::filesystem::create_symlink("real/ImportData.xml", s.exchange);
       },
       0, "", [](Scene& s, const ProgramResult&) {
         EXPECT_TRUE(std::filesystem::is_symlink(s.exchange));
         EXPECT_EQ(2u, reportedShifts(readFileBytes(s.dir.file("real/ImportData.xml"))).size());
         EXPECT_TRUE(fileExists(s.dir.file("real/~kkmbridge-ImportData.xml.lock")));
         EXPECT_NE("0", readConfig(s.config).lastDocDT);
       }},
      {"a link of another account", "import",
       [](Scene& s) {
         writeFileBytes(s.dir.file("planted.xml"), kProcessedStub);
         std::filesystem::create_symlink(s.dir.file("planted.xml"), s.exchange);
         if (::lchown(s.exchange.c_str(), 65534, 65534) != 0) GTEST_SKIP() << "only root can give a link away";
       },
       -3, "is a link that is not followed", [](Scene& s, const ProgramResult&) {
         EXPECT_TRUE(std::filesystem::is_symlink(s.exchange));
         EXPECT_EQ(kProcessedStub, readFileBytes(s.dir.file("planted.xml")));
         EXPECT_EQ("0", readConfig(s.config).lastDocDT);
         EXPECT_EQ(0, s.requests());
       }},
      {"a FIFO", "import", [](Scene& s) { ASSERT_EQ(0, ::mkfifo(s.exchange.c_str(), 0600)); }, -3, "FIFO",
       [](Scene& s, const ProgramResult&) {
         EXPECT_EQ("0", readConfig(s.config).lastDocDT);
         EXPECT_EQ(0, s.requests());
       }},
      {"not loaded by 1C for 2 hours", "import", [](Scene& s) {
         writeFileBytes(s.exchange, kUnloaded);
         writtenHoursAgo(s.exchange, 2);
       },
       0, "", [](Scene& s, const ProgramResult& r) {
         unloadedLeftAlone(s, r);
         EXPECT_NE(std::string::npos, r.out.find("not loaded yet, waiting since ")) << r.out;
         EXPECT_NE(std::string::npos, r.out.find(" (2 h 0 min); nothing asked")) << r.out;
       }},
      {"not loaded by 1C for longer than stallHours", "import", [](Scene& s) {
         writeFileBytes(s.exchange, kUnloaded);
         writtenHoursAgo(s.exchange, 73);
       },
       -3, "(3 d 1 h), longer than stallHours=72 hours", unloadedLeftAlone},
      {"not loaded by 1C for long, stallHours=\"0\"", "import", [](Scene& s) {
         writeFileBytes(s.exchange, kUnloaded);
         writtenHoursAgo(s.exchange, 5000);
         addParam(s, "stallHours=\"0\"");
       },
       0, "", unloadedLeftAlone},
      {"another run has held the lock for longer than stallHours", "import",
       [](Scene& s) {
         addParam(s, "stallHours=\"24\"");
         lockHeldFor(s, 25);
       },
       -3, "(1 d 1 h)), longer than stallHours=24 hours", [](Scene& s, const ProgramResult& r) {
         importChangedNothing(s, r);
         EXPECT_EQ(0, s.requests());
         EXPECT_NE(std::string::npos, r.err.find("(process " + std::to_string(::getpid()) + ", since ")) << r.err;
       }},
      {"read-only folder", "import",
       [](Scene& s) {
         std::filesystem::create_directory(s.dir.file("ro"));
         s.exchange = s.dir.file("ro/ImportData.xml");
         ::chmod(s.dir.file("ro").c_str(), 0555);
         s.unprivileged = true;
       },
       -3, "cannot lock", importChangedNothing},
      {"read-only processed file", "import",
       [](Scene& s) {
         writeFileBytes(s.exchange, kProcessedStub);
         ::chmod(s.exchange.c_str(), 0444);
         ::chmod(s.config.c_str(), 0666);
         s.unprivileged = true;
       },
       -3, "read-only", [](Scene& s, const ProgramResult&) {
         EXPECT_EQ(kProcessedStub, readFileBytes(s.exchange));
         EXPECT_EQ("0", readConfig(s.config).lastDocDT);
       }},
  };
  runCases(cases);
}

// What the goods upload must have stored: the file as the program reads it.
void sentAsRead(const std::string& original, Scene& s) {
  EXPECT_EQ(2, s.requests());
  std::string expected = textAsRead(original);
  expected.erase(std::remove(expected.begin(), expected.end(), '\t'), expected.end());  // TABs are not sent
  EXPECT_TRUE(expected == s.storedGoods()) << "the stored goods differ from the file";
}

TEST_F(BadInput, GoodsFiles) {
  static const std::string truncated = [] {
    const std::string text = readFileBytes(std::string(KKM_SOURCE_DIR) + "/demo/ExportData.xml");
    return text.substr(0, text.size() / 2);
  }();
  const std::vector<Case> cases = {
      {"empty", "export", [](Scene& s) { writeFileBytes(s.goods, ""); }, -3, "missing or empty",
       [](Scene& s, const ProgramResult&) { EXPECT_EQ(0, s.requests()); }},
      {"truncated: sent as it stands, not stamped", "export", [](Scene& s) { writeFileBytes(s.goods, truncated); },
       0, "not stamped Processed", [](Scene& s, const ProgramResult&) {
         sentAsRead(truncated, s);
         EXPECT_EQ(truncated, readFileBytes(s.goods));
       }},
      {"binary: sent byte for byte, not stamped", "export",
       [](Scene& s) { writeFileBytes(s.goods, randomBytes(4096, 11)); }, 0, "not stamped Processed",
       [](Scene& s, const ProgramResult&) {
         sentAsRead(randomBytes(4096, 11), s);
         EXPECT_EQ(randomBytes(4096, 11), readFileBytes(s.goods));
       }},
      {"without ExportData", "export", [](Scene& s) { writeFileBytes(s.goods, "<Goods><Good Code=\"1\"/></Goods>"); },
       0, "its root element is not ExportData", [](Scene& s, const ProgramResult&) {
         EXPECT_EQ("<Goods><Good Code=\"1\"/></Goods>", readFileBytes(s.goods));
       }},
      {"duplicated roots: the first is stamped, the rest kept as it was", "export",
       [](Scene& s) { writeFileBytes(s.goods, "<ExportData><A/></ExportData>\n<ExportData><B/></ExportData>\n"); }, 0,
       "", [](Scene& s, const ProgramResult&) {
         const std::string text = readFileBytes(s.goods);
         EXPECT_EQ(0u, text.find("<ExportData Processed=\"")) << text;
         EXPECT_NE(std::string::npos, text.find("><A/></ExportData>\n<ExportData><B/></ExportData>\n")) << text;
       }},
      {"a folder", "export",
       [](Scene& s) {
         s.goods = s.dir.file("goods.d");
         std::filesystem::create_directory(s.goods);
       },
       -3, "cannot be read", [](Scene& s, const ProgramResult&) { EXPECT_EQ(0, s.requests()); }},
      {"a FIFO", "export",
       [](Scene& s) {
         ::remove(s.goods.c_str());
         ASSERT_EQ(0, ::mkfifo(s.goods.c_str(), 0600));
       },
       -3, "FIFO", [](Scene& s, const ProgramResult&) { EXPECT_EQ(0, s.requests()); }},
      {"over 256 MB", "export",
       [](Scene& s) { ASSERT_EQ(0, ::truncate(s.goods.c_str(), 256L * 1024 * 1024 + 1)); },  // sparse: no disk used
       -3, "more than the 256 MB the program reads", [](Scene& s, const ProgramResult&) {
         EXPECT_EQ(0, s.requests());
         EXPECT_EQ(256u * 1024 * 1024 + 1, std::filesystem::file_size(s.goods));
       }},
      {"a link of ours: stamped where it leads", "export",
       [](Scene& s) {
         std::filesystem::create_directory(s.dir.file("real"));
         std::filesystem::rename(s.goods, s.dir.file("real/ExportData.xml"));
         std::filesystem::create_symlink(s.dir.file("real/ExportData.xml"), s.goods);
       },
       0, "", [](Scene& s, const ProgramResult&) {
         EXPECT_EQ(2, s.requests());
         EXPECT_TRUE(std::filesystem::is_symlink(s.goods));
         EXPECT_NE(std::string::npos, readFileBytes(s.dir.file("real/ExportData.xml")).find("Processed=\""));
       }},
      {"in a missing folder", "export", [](Scene& s) { s.goods = s.dir.file("gone/ExportData.xml"); }, -3,
       "gone/~kkmbridge-ExportData.xml.lock: cannot open it", [](Scene& s, const ProgramResult&) { EXPECT_EQ(0, s.requests()); }},
      {"on a missing drive", "export", [](Scene& s) { s.goods = "/kkm-missing-drive/ExportData.xml"; }, -3,
       "cannot lock /kkm-missing-drive/", [](Scene& s, const ProgramResult&) { EXPECT_EQ(0, s.requests()); }},
      {"read-only: sent, not stamped", "export",
       [](Scene& s) {
         ::chmod(s.goods.c_str(), 0444);
         ::chmod(s.config.c_str(), 0444);
         s.unprivileged = true;
       },
       -3, "could not be stamped Processed", [](Scene& s, const ProgramResult&) {
         EXPECT_EQ(2, s.requests());
         EXPECT_EQ(readFileBytes(std::string(KKM_SOURCE_DIR) + "/demo/ExportData.xml"), readFileBytes(s.goods));
       }},
  };
  runCases(cases);
}

// The two 100 MB files run as tests of their own, so that they can run
// beside the others.
TEST_F(BadInput, HugeConfiguration) {
  runCases({
      {"huge (a 100 MB comment)", "import",
       [](Scene& s) {
         std::string text = readFileBytes(s.config);
         text.insert(text.find("<basicparams>"), "<!--" + std::string(kHugeBytes, 'c') + "-->");
         writeFileBytes(s.config, text);
       },
       0, "", [](Scene& s, const ProgramResult& r) {
         importDone(s, r);
         EXPECT_GT(std::filesystem::file_size(s.config), kHugeBytes);
       }},
  });
}

// A 100 MB goods file as 1C writes it, kept for the comparison.
void hugeGoods(Scene& s) {
  const ProgramResult r =
      runProgram(kkmtest::defaultSimPath(), {"goods", "--size-mb", "100", "--out", s.goods, "--seed", "3"});
  ASSERT_EQ(0, r.exitCode) << r.err;
  s.original = readFileBytes(s.goods);
}

TEST_F(BadInput, HugeGoodsFile) {
  runCases({
      {"huge (100 MB)", "export", hugeGoods,
       0, "", [](Scene& s, const ProgramResult&) {
         sentAsRead(s.original, s);
         EXPECT_NE(std::string::npos, readFileBytes(s.goods).find("Processed=\""));
       }},
      // As a 32-bit process near its limit: the run ends with one line, never an abort.
      {"huge (100 MB) with 200 MB of address space", "export",
       [](Scene& s) {
         hugeGoods(s);
         s.memoryLimitKB = 200 * 1024;
       },
       -3, "not enough memory", [](Scene& s, const ProgramResult&) {
         EXPECT_TRUE(s.original == readFileBytes(s.goods)) << "the goods file changed";
         EXPECT_EQ("", s.storedGoods());
       }},
  });
}

}  // namespace
