// kkm_bench: times kkmbridge against cloud-sim, next to the two floors of the
// same work, and prints one table (also written as CSV).
//
//   kkm_bench --bin DIR --out DIR [--reps N] [--rows KEY,KEY...]
//             [--backlog-shifts N] [--backlog-checks N] [--scanner-min-time S]
//
// DIR of --bin holds kkmbridge, cloud-sim, kkm_tinyxml2_floor and
// kkm_scanner_bench. Everything the run makes goes under --out: data/ (the
// generated data and goods files), one folder per row, results.csv,
// scanner.csv, table.md.
//
// Every row, every repetition: the program (all its runs), then the transfer
// floor (the program's requests replayed with the curl tool against the same
// cloud-sim), then the library floor (kkm_tinyxml2_floor on the same
// document or goods file). The table gives the median of each measure over
// the repetitions.
#include <strings.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "measure.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kProcessedStub =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><ImportData xmlns=\"http://www.1c.ru/EquipmentService/3.0.0.0\" "
    "FormatVersion=\"3000\" Processed=\"2020-03-02T21:00:00\"/>";
constexpr int kMaxRunsPerRepetition = 200;
constexpr int kSimStartSeconds = 300;

struct Options {
  std::string binDir;
  std::string outDir;
  int reps = 3;
  std::vector<std::string> rows;  // empty: all
  int backlogShifts = 8;
  int backlogChecks = 50000;
  std::string scannerMinTime = "0.5";
};

struct Tools {
  std::string kkmbridge, cloudSim, floor, scannerBench, curl = "curl";
};

// ---- small helpers ----------------------------------------------------------

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string readHead(const fs::path& path, std::size_t bytes) {
  std::ifstream in(path, std::ios::binary);
  std::string text(bytes, '\0');
  in.read(&text[0], static_cast<std::streamsize>(bytes));
  text.resize(static_cast<std::size_t>(in.gcount()));
  return text;
}

void writeFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

bool sameContent(const fs::path& a, const fs::path& b) {
  if (fs::file_size(a) != fs::file_size(b)) return false;
  std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
  std::vector<char> bx(1 << 16), by(1 << 16);
  while (x && y) {
    x.read(bx.data(), static_cast<std::streamsize>(bx.size()));
    y.read(by.data(), static_cast<std::streamsize>(by.size()));
    if (x.gcount() != y.gcount() || !std::equal(bx.begin(), bx.begin() + x.gcount(), by.begin())) return false;
  }
  return true;
}

std::uint64_t countOccurrences(const std::string& text, const std::string& what) {
  std::uint64_t n = 0;
  for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + what.size())) ++n;
  return n;
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const std::size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

std::string fixed(double value, int decimals) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  return buffer;
}

std::string grouped(std::uint64_t value) {
  std::string digits = std::to_string(value), out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

double loadAverage() {
  std::ifstream in("/proc/loadavg");
  double one = 0;
  in >> one;
  return one;
}

// The lines of `path` that the program writes itself (libcurl's trace left out).
std::string programErrorLines(const fs::path& path) {
  std::istringstream in(fs::exists(path) ? readFile(path) : std::string());
  std::string line, lines;
  while (std::getline(in, line))
    if (line.rfind("kkmbridge", 0) == 0 || line.rfind(" export", 0) == 0) lines += "    " + line + "\n";
  return lines;
}

// ---- what a row measures ------------------------------------------------------

// One repetition of one side (program or a floor): summed over the runs of
// the repetition, the peak RSS the largest of them.
struct Sample {
  double wall = 0;
  double cpu = 0;
  long rssKb = 0;
  void add(double w, double c, long r) {
    wall += w;
    cpu += c;
    rssKb = std::max(rssKb, r);
  }
};

struct Side {
  std::vector<Sample> samples;
  double wall() const { return pick(&Sample::wall); }
  double wallMin() const { return extreme(true); }
  double wallMax() const { return extreme(false); }
  double cpu() const { return pick(&Sample::cpu); }
  double rssKb() const {
    std::vector<double> v;
    for (const Sample& s : samples) v.push_back(static_cast<double>(s.rssKb));
    return median(v);
  }

 private:
  double pick(double Sample::*member) const {
    std::vector<double> v;
    for (const Sample& s : samples) v.push_back(s.*member);
    return median(v);
  }
  double extreme(bool lowest) const {
    if (samples.empty()) return 0;
    double x = samples[0].wall;
    for (const Sample& s : samples) x = lowest ? std::min(x, s.wall) : std::max(x, s.wall);
    return x;
  }
};

struct Row {
  std::string kind;   // import | export
  std::string key;    // names the row's folder and its --rows selection
  std::string label;  // as the table shows it
  // import
  int shifts = 0;
  int checksPerShift = 0;
  // export
  int goodsMb = 0;

  // results
  bool ran = false;
  std::string failure;
  int runs = 0;                  // program runs that wrote a file (import) or uploads (export)
  int requests = 0;              // requests of one repetition
  std::uint64_t reports = 0;     // SaleReport elements over the runs of one repetition
  std::uint64_t checks = 0;      // Check elements over the runs of one repetition
  std::uint64_t answerBytes = 0; // service answers, as the replay received them
  std::uint64_t fileBytes = 0;   // ImportData written (import) or goods file (export)
  Side program, transfer, library;
  std::vector<double> libraryRelease;
  std::vector<double> libraryInputRssKb;
  double load1 = 0;
  long fixedRssKb = 0;  // export: peak RSS of exporting a goods file of a few bytes
  std::vector<std::string> notes;

  // Export: peak RSS above the run's fixed part, per byte of the goods file.
  double rssPerFileByte() const {
    return fileBytes ? (program.rssKb() - static_cast<double>(fixedRssKb)) * 1024 / static_cast<double>(fileBytes) : 0;
  }

  double floorWall() const { return transfer.wall() + library.wall(); }
  double ratio() const { return floorWall() > 0 ? program.wall() / floorWall() : 0; }
  double cpuRatio() const {
    const double f = transfer.cpu() + library.cpu();
    return f > 0 ? program.cpu() / f : 0;
  }
  // Microseconds per check (import) or milliseconds per MiB (export).
  double perUnit() const {
    if (kind == "import") return checks ? program.wall() * 1e6 / static_cast<double>(checks) : 0;
    return fileBytes ? program.wall() * 1e3 / (static_cast<double>(fileBytes) / 1048576.0) : 0;
  }
};

// ---- the request log and its replay --------------------------------------------

struct LoggedRequest {
  std::string method, target, body;
  std::vector<std::pair<std::string, std::string>> headers;
};

LoggedRequest parseRequestRecord(const fs::path& path) {
  const std::string text = readFile(path);
  const std::size_t headEnd = text.find("\n\n");
  if (headEnd == std::string::npos) throw std::runtime_error("no blank line in " + path.string());
  LoggedRequest r;
  r.body = text.substr(headEnd + 2);
  std::istringstream head(text.substr(0, headEnd));
  std::string line;
  std::getline(head, line);
  std::istringstream requestLine(line);
  requestLine >> r.method >> r.target;
  while (std::getline(head, line)) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string value = line.substr(colon + 1);
    if (!value.empty() && value[0] == ' ') value.erase(0, 1);
    r.headers.emplace_back(line.substr(0, colon), value);
  }
  return r;
}

bool sameName(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

std::string curlQuoted(const std::string& value) {
  std::string out = "\"";
  for (char c : value) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// Requests numbered from `next` on that cloud-sim has recorded so far.
std::vector<int> newRequests(const fs::path& logDir, int& next) {
  std::vector<int> numbers;
  while (fs::exists(logDir / (std::to_string(next) + ".req"))) numbers.push_back(next++);
  return numbers;
}

void removeRequests(const fs::path& logDir, const std::vector<int>& numbers) {
  for (int n : numbers) fs::remove(logDir / (std::to_string(n) + ".req"));
}

// A curl config that sends the recorded requests again, one after the other,
// each on a connection of its own, with the same target, headers and body.
// Prints per request: HTTP status, answer bytes, connections opened.
void writeReplay(const fs::path& logDir, const std::vector<int>& numbers, int port, const fs::path& bodyDir,
                 const fs::path& configPath) {
  std::string config;
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    const LoggedRequest r = parseRequestRecord(logDir / (std::to_string(numbers[i]) + ".req"));
    if (i > 0) config += "next\n";
    config += "url = " + curlQuoted("http://127.0.0.1:" + std::to_string(port) + r.target) + "\n";
    config += "globoff\nsilent\nshow-error\noutput = \"/dev/null\"\n";
    config += "write-out = \"%{http_code} %{size_download} %{num_connects}\\n\"\n";
    if (r.method == "POST") {
      const fs::path body = bodyDir / (std::to_string(numbers[i]) + ".body");
      writeFile(body, r.body);
      config += "data-binary = " + curlQuoted("@" + body.string()) + "\n";
    } else if (r.method != "GET") {
      config += "request = " + curlQuoted(r.method) + "\n";
    }
    bool userAgent = false, accept = false;
    for (const auto& [name, value] : r.headers) {
      // The transport's own: curl writes them for this connection and body.
      if (sameName(name, "Host") || sameName(name, "Content-Length") || sameName(name, "Connection")) continue;
      // Added by the HTTP library on the service side, never on the wire.
      if (sameName(name, "REMOTE_ADDR") || sameName(name, "REMOTE_PORT") || sameName(name, "LOCAL_ADDR") ||
          sameName(name, "LOCAL_PORT"))
        continue;
      if (sameName(name, "User-Agent")) userAgent = true;
      if (sameName(name, "Accept")) accept = true;
      config += "header = " + curlQuoted(value.empty() ? name + ";" : name + ": " + value) + "\n";
    }
    // Headers the curl tool would add on its own but the program did not send.
    if (!userAgent) config += "header = \"User-Agent:\"\n";
    if (!accept) config += "header = \"Accept:\"\n";
    config += "header = \"Expect:\"\n";
    // The service closes after answering, so the next request connects anew.
    config += "header = \"Connection: close\"\n";
  }
  writeFile(configPath, config);
}

struct ReplayOutcome {
  int requests = 0;
  int failed = 0;       // HTTP status 0 or >= 400
  int reconnects = 0;   // requests that did not open exactly one connection
  std::uint64_t answerBytes = 0;
};

ReplayOutcome readReplayOutput(const fs::path& path) {
  ReplayOutcome o;
  std::istringstream in(readFile(path));
  int status = 0, connects = 0;
  std::uint64_t bytes = 0;
  while (in >> status >> bytes >> connects) {
    ++o.requests;
    if (status == 0 || status >= 400) ++o.failed;
    if (connects != 1) ++o.reconnects;
    o.answerBytes += bytes;
  }
  return o;
}

std::map<std::string, double> readFloorOutput(const fs::path& path) {
  std::map<std::string, double> values;
  std::istringstream in(readFile(path));
  std::string item;
  while (in >> item) {
    const std::size_t eq = item.find('=');
    if (eq != std::string::npos) values[item.substr(0, eq)] = std::stod(item.substr(eq + 1));
  }
  return values;
}

// ---- the benchmark --------------------------------------------------------------

class Bench {
 public:
  Bench(Options options, Tools tools) : o_(std::move(options)), t_(std::move(tools)), out_(o_.outDir) {}

  int run(std::vector<Row>& rows);

 private:
  void runImportRow(Row& row);
  void runExportRow(Row& row);
  void transferFloor(Row& row, const fs::path& dir, int runs, Sample& sample, bool first);
  void writeConfig(const fs::path& path, int port) const;
  bool stale(const fs::path& path) const;
  fs::path dataFile(int shifts, int checks);
  fs::path goodsFile(int megabytes);
  void generate(const std::vector<std::string>& args, const fs::path& target);
  void startSim(const fs::path& dir, const fs::path& data);
  void runScanner();
  void report(const std::vector<Row>& rows);

  Options o_;
  Tools t_;
  fs::path out_;
  SimServer sim_;
  int nextRequest_ = 1;
  std::string scannerCsv_;
  double loadAtStart_ = 0;
};

void Bench::generate(const std::vector<std::string>& args, const fs::path& target) {
  std::vector<std::string> argv{t_.cloudSim};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.push_back("--out");
  argv.push_back(target.string());
  const RunCost c = runMeasured(argv, "", "", (out_ / "data" / "generate.err").string());
  if (c.exitCode != 0) throw std::runtime_error("cloud-sim " + args[0] + " failed for " + target.string());
}

// Data made by an older cloud-sim than the one built is made again.
bool Bench::stale(const fs::path& path) const {
  return !fs::exists(path) || fs::last_write_time(path) < fs::last_write_time(t_.cloudSim);
}

fs::path Bench::dataFile(int shifts, int checks) {
  const fs::path path = out_ / "data" / ("shifts" + std::to_string(shifts) + "-checks" + std::to_string(checks) + ".json");
  if (stale(path))
    generate({"generate", "--shifts", std::to_string(shifts), "--checks", std::to_string(checks), "--goods", "3",
              "--cash", "20", "--seed", "1"},
             path);
  return path;
}

fs::path Bench::goodsFile(int megabytes) {
  const fs::path path = out_ / "data" / ("goods-" + std::to_string(megabytes) + "mb.xml");
  if (stale(path)) generate({"goods", "--size-mb", std::to_string(megabytes), "--seed", "1"}, path);
  return path;
}

void Bench::startSim(const fs::path& dir, const fs::path& data) {
  sim_.start(t_.cloudSim,
             {"--data", data.string(), "--port", "0", "--log-dir", (dir / "requests").string(), "--state",
              (dir / "state").string()},
             (dir / "cloud-sim.err").string(), kSimStartSeconds);
  nextRequest_ = 1;
}

void Bench::writeConfig(const fs::path& path, int port) const {
  writeFile(path,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config><basicparams><param login=\"cashier\" "
            "password=\"secret\" basicURL=\"http://127.0.0.1:" +
                std::to_string(port) +
                "/api/\" debugmode=\"0\"/></basicparams><importparams><import lastDocDT=\"0\" "
                "kkmNum=\"0000000000012345\"/></importparams></config>\n");
}

// Replays the requests of each program run kept in dir/replay (run-K.curl),
// one curl process per program run.
void Bench::transferFloor(Row& row, const fs::path& dir, int runs, Sample& sample, bool first) {
  const fs::path logDir = dir / "requests";
  ReplayOutcome total;
  for (int k = 1; k <= runs; ++k) {
    const fs::path config = dir / "replay" / ("run-" + std::to_string(k) + ".curl");
    const RunCost c = runMeasured({t_.curl, "--config", config.string()}, dir.string(), (dir / "replay.out").string(),
                                  (dir / "replay.err").string());
    sample.add(c.wallSeconds, c.cpuSeconds, c.peakRssKb);
    const ReplayOutcome r = readReplayOutput(dir / "replay.out");
    total.requests += r.requests;
    total.failed += r.failed;
    total.reconnects += r.reconnects;
    total.answerBytes += r.answerBytes;
    if (c.exitCode != 0) row.notes.push_back("curl exited with " + std::to_string(c.exitCode) + " replaying run " + std::to_string(k));
    removeRequests(logDir, newRequests(logDir, nextRequest_));
  }
  if (first) {
    row.answerBytes = total.answerBytes;
    if (total.requests != row.requests)
      row.notes.push_back("the replay sent " + std::to_string(total.requests) + " requests, the program " +
                          std::to_string(row.requests));
    if (total.failed) row.notes.push_back(std::to_string(total.failed) + " replayed requests failed");
    if (total.reconnects) row.notes.push_back(std::to_string(total.reconnects) + " replayed requests did not open one connection each");
  }
}

void Bench::runImportRow(Row& row) {
  const fs::path dir = out_ / row.key;
  fs::remove_all(dir);
  fs::create_directories(dir / "replay");
  const fs::path data = dataFile(row.shifts, row.checksPerShift);
  startSim(dir, data);
  const fs::path config = dir / "config.xml";
  const fs::path exchange = dir / "ImportData.xml";
  const fs::path logDir = dir / "requests";

  for (int rep = 0; rep < o_.reps; ++rep) {
    const bool first = rep == 0;
    // The program: from lastDocDT "0" until a run finds nothing new, acting
    // as 1C between runs. The last run (nothing new) is not counted.
    Sample program;
    writeConfig(config, sim_.port());
    fs::remove(exchange);
    int runs = 0;
    for (;;) {
      if (runs == kMaxRunsPerRepetition) throw std::runtime_error("the program kept writing files");
      const RunCost c = runMeasured({t_.kkmbridge, "import", config.string(), exchange.string()}, dir.string(),
                                    (dir / "kkmbridge.out").string(), (dir / "kkmbridge.err").string());
      const std::vector<int> requests = newRequests(logDir, nextRequest_);
      if (c.exitCode != 0)
        throw std::runtime_error("kkmbridge import exited with " +
                                 (c.signal ? "signal " + std::to_string(c.signal) : std::to_string(c.exitCode)) +
                                 "\n" + programErrorLines(dir / "kkmbridge.err"));
      const std::string head = readHead(exchange, 4096);
      const bool written = head.find("<ImportData") != std::string::npos && head.find("Processed=") == std::string::npos;
      if (!written) {
        removeRequests(logDir, requests);
        break;
      }
      ++runs;
      program.add(c.wallSeconds, c.cpuSeconds, c.peakRssKb);
      if (first) {
        const std::string text = readFile(exchange);
        row.fileBytes += text.size();
        row.reports += countOccurrences(text, "<SaleReport ");
        row.checks += countOccurrences(text, "<Check ");
        row.requests += static_cast<int>(requests.size());
        writeReplay(logDir, requests, sim_.port(), dir / "replay", dir / "replay" / ("run-" + std::to_string(runs) + ".curl"));
        fs::rename(exchange, dir / ("ImportData-" + std::to_string(runs) + ".xml"));
      }
      removeRequests(logDir, requests);
      writeFile(exchange, kProcessedStub);
    }
    if (first) {
      row.runs = runs;
      if (runs == 0) throw std::runtime_error("the program wrote no ImportData file");
      if (row.reports != static_cast<std::uint64_t>(row.shifts))
        row.notes.push_back(std::to_string(row.reports) + " sales reports written for " + std::to_string(row.shifts) + " shifts");
    } else if (runs != row.runs) {
      row.notes.push_back("repetition " + std::to_string(rep + 1) + " took " + std::to_string(runs) + " runs");
    }
    row.program.samples.push_back(program);

    Sample transfer;
    transferFloor(row, dir, row.runs, transfer, first);
    row.transfer.samples.push_back(transfer);

    Sample library;
    double release = 0, inputRss = 0;
    for (int k = 1; k <= row.runs; ++k) {
      const fs::path input = dir / ("ImportData-" + std::to_string(k) + ".xml");
      const fs::path output = dir / "floor-ImportData.xml";
      const RunCost c = runMeasured({t_.floor, "import", input.string(), output.string()}, dir.string(),
                                    (dir / "floor.out").string(), (dir / "floor.err").string());
      if (c.exitCode != 0) throw std::runtime_error("kkm_tinyxml2_floor failed on " + input.string());
      const auto values = readFloorOutput(dir / "floor.out");
      library.add(values.at("seconds"), values.at("cpu_seconds"), c.peakRssKb);
      release += values.at("release_seconds");
      inputRss = std::max(inputRss, values.at("input_rss_kb"));
      if (first && !sameContent(output, input))
        row.notes.push_back("the library floor's document differs from the program's (run " + std::to_string(k) + ")");
      fs::remove(output);
    }
    row.library.samples.push_back(library);
    row.libraryRelease.push_back(release);
    row.libraryInputRssKb.push_back(inputRss);
  }
  sim_.stop();
  fs::remove_all(dir / "state");
  // The documents and request bodies are kept only when something about them needs a look.
  if (row.notes.empty()) {
    fs::remove_all(dir / "replay");
    for (int k = 1; k <= row.runs; ++k) fs::remove(dir / ("ImportData-" + std::to_string(k) + ".xml"));
  }
}

void Bench::runExportRow(Row& row) {
  const fs::path dir = out_ / row.key;
  fs::remove_all(dir);
  fs::create_directories(dir / "replay");
  const fs::path goods = goodsFile(row.goodsMb);
  startSim(dir, dataFile(1, 1));
  const fs::path config = dir / "config.xml";
  const fs::path exchange = dir / "ExportData.xml";
  const fs::path logDir = dir / "requests";
  writeConfig(config, sim_.port());
  row.fileBytes = fs::file_size(goods);

  // What an export costs in memory whatever the goods: libraries, buffers.
  writeFile(exchange, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ExportData "
                      "xmlns=\"http://www.1c.ru/EquipmentService/3.0.0.0\" FormatVersion=\"3000\"/>\n");
  const RunCost tiny = runMeasured({t_.kkmbridge, "export", config.string(), exchange.string()}, dir.string(),
                                   (dir / "kkmbridge.out").string(), (dir / "kkmbridge.err").string());
  if (tiny.exitCode != 0)
    throw std::runtime_error("kkmbridge export of a tiny goods file failed\n" + programErrorLines(dir / "kkmbridge.err"));
  row.fixedRssKb = tiny.peakRssKb;
  removeRequests(logDir, newRequests(logDir, nextRequest_));

  for (int rep = 0; rep < o_.reps; ++rep) {
    const bool first = rep == 0;
    fs::copy_file(goods, exchange, fs::copy_options::overwrite_existing);
    Sample program;
    const RunCost c = runMeasured({t_.kkmbridge, "export", config.string(), exchange.string()}, dir.string(),
                                  (dir / "kkmbridge.out").string(), (dir / "kkmbridge.err").string());
    const std::vector<int> requests = newRequests(logDir, nextRequest_);
    if (c.exitCode != 0)
      throw std::runtime_error("kkmbridge export exited with " +
                               (c.signal ? "signal " + std::to_string(c.signal) : std::to_string(c.exitCode)) + "\n" +
                               programErrorLines(dir / "kkmbridge.err"));
    if (readHead(exchange, 65536).find("Processed=\"") == std::string::npos)
      row.notes.push_back("repetition " + std::to_string(rep + 1) + ": the goods file was not stamped");
    program.add(c.wallSeconds, c.cpuSeconds, c.peakRssKb);
    row.program.samples.push_back(program);
    if (first) {
      row.runs = 1;
      row.requests = static_cast<int>(requests.size());
      writeReplay(logDir, requests, sim_.port(), dir / "replay", dir / "replay" / "run-1.curl");
    }
    removeRequests(logDir, requests);
    fs::remove(exchange);

    Sample transfer;
    transferFloor(row, dir, 1, transfer, first);
    row.transfer.samples.push_back(transfer);

    const fs::path output = dir / "floor-ExportData.xml";
    const RunCost f = runMeasured({t_.floor, "export", goods.string(), output.string()}, dir.string(),
                                  (dir / "floor.out").string(), (dir / "floor.err").string());
    if (f.exitCode != 0) throw std::runtime_error("kkm_tinyxml2_floor failed on " + goods.string());
    const auto values = readFloorOutput(dir / "floor.out");
    Sample library;
    library.add(values.at("seconds"), values.at("cpu_seconds"), f.peakRssKb);
    row.library.samples.push_back(library);
    row.libraryRelease.push_back(values.at("release_seconds"));
    row.libraryInputRssKb.push_back(values.at("input_rss_kb"));
    fs::remove(output);
  }
  sim_.stop();
  fs::remove_all(dir / "state");
  fs::remove_all(dir / "replay");  // the upload bodies are as large as the goods
}

void Bench::runScanner() {
  const fs::path csv = out_ / "scanner.csv";
  const RunCost c = runMeasured({t_.scannerBench, "--benchmark_repetitions=3", "--benchmark_report_aggregates_only=true",
                                 "--benchmark_min_time=" + o_.scannerMinTime, "--benchmark_out=" + csv.string(),
                                 "--benchmark_out_format=csv"},
                                out_.string(), (out_ / "scanner.txt").string(), (out_ / "scanner.err").string());
  if (c.exitCode != 0) throw std::runtime_error("kkm_scanner_bench failed (see " + (out_ / "scanner.err").string() + ")");
  scannerCsv_ = readFile(csv);
}

std::string machineLine() {
  std::string model = "unknown CPU";
  std::ifstream cpu("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpu, line))
    if (line.rfind("model name", 0) == 0) {
      model = line.substr(line.find(':') + 2);
      break;
    }
  long memKb = 0;
  std::ifstream mem("/proc/meminfo");
  while (std::getline(mem, line))
    if (line.rfind("MemTotal:", 0) == 0) memKb = std::stol(line.substr(9));
  utsname u{};
  uname(&u);
  return model + ", " + std::to_string(std::thread::hardware_concurrency()) + " cores, " +
         std::to_string(memKb / 1024 / 1024 + (memKb % (1024 * 1024) > 512 * 1024 ? 1 : 0)) + " GB RAM, " + u.sysname +
         " " + u.release;
}

struct ScannerRow {
  std::string name;
  double msPerPass = 0;
  double bytesPerSecond = 0;
};

std::vector<ScannerRow> parseScannerCsv(const std::string& csv) {
  // name,iterations,real_time,cpu_time,time_unit,bytes_per_second,...
  std::vector<ScannerRow> rows;
  std::istringstream in(csv);
  std::string line;
  bool header = false;
  while (std::getline(in, line)) {
    if (!header) {
      header = line.rfind("name,", 0) == 0;
      continue;
    }
    std::vector<std::string> cells;
    std::string cell;
    bool quoted = false;
    for (char c : line) {
      if (c == '"') quoted = !quoted;
      else if (c == ',' && !quoted) {
        cells.push_back(cell);
        cell.clear();
      } else cell += c;
    }
    cells.push_back(cell);
    if (cells.size() < 6) continue;
    const std::string& name = cells[0];
    const std::string suffix = "_median";
    if (name.size() < suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) continue;
    ScannerRow r;
    r.name = name.substr(0, name.size() - suffix.size());
    r.msPerPass = std::stod(cells[2]);
    if (cells[4] == "us") r.msPerPass /= 1e3;
    if (cells[4] == "ns") r.msPerPass /= 1e6;
    if (cells[4] == "s") r.msPerPass *= 1e3;
    r.bytesPerSecond = cells[5].empty() ? 0 : std::stod(cells[5]);
    rows.push_back(r);
  }
  return rows;
}

void Bench::report(const std::vector<Row>& rows) {
  std::ostringstream t;
  // MB are 2^20 bytes throughout, MB/s too; the scanner target's GB/s is 2^30 bytes per second.
  const double mb = 1048576.0;
  char when[64];
  const std::time_t now = std::time(nullptr);
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
  t << "kkmbridge benchmark, " << when << "; " << machineLine() << "\n";
  t << "median of " << o_.reps << " repetitions; load average (1 min) " << fixed(loadAtStart_, 2) << " at the start, "
    << fixed(loadAverage(), 2) << " at the end (each row's in results.csv); MB = 2^20 bytes\n\n";

  t << "| import | runs | checks | wall s | CPU s | peak RSS MB | answers MB | ImportData MB | transfer floor s | "
       "library floor s | wall / floors | CPU / floors | µs per check |\n";
  t << "|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|\n";
  for (const Row& r : rows) {
    if (r.kind != "import" || !r.ran) continue;
    t << "| " << r.label << " | " << r.runs << " | " << grouped(r.checks) << " | " << fixed(r.program.wall(), 3) << " | "
      << fixed(r.program.cpu(), 3) << " | " << fixed(r.program.rssKb() / 1024, 1) << " | "
      << fixed(static_cast<double>(r.answerBytes) / mb, 1) << " | " << fixed(static_cast<double>(r.fileBytes) / mb, 1)
      << " | " << fixed(r.transfer.wall(), 3) << " | " << fixed(r.library.wall(), 3) << " | " << fixed(r.ratio(), 2)
      << " | " << fixed(r.cpuRatio(), 2) << " | " << fixed(r.perUnit(), 1) << " |\n";
  }
  t << "\n| export | goods MB | wall s | CPU s | peak RSS MB | RSS / file | (RSS - fixed) / file | transfer floor s | "
       "library floor s | wall / floors | CPU / floors | ms per MB |\n";
  t << "|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|\n";
  for (const Row& r : rows) {
    if (r.kind != "export" || !r.ran) continue;
    t << "| " << r.label << " | " << fixed(static_cast<double>(r.fileBytes) / mb, 1) << " | "
      << fixed(r.program.wall(), 3) << " | " << fixed(r.program.cpu(), 3) << " | "
      << fixed(r.program.rssKb() / 1024, 1) << " | "
      << fixed(r.program.rssKb() * 1024 / static_cast<double>(r.fileBytes), 2) << " | "
      << fixed(r.rssPerFileByte(), 2) << " | " << fixed(r.transfer.wall(), 3)
      << " | " << fixed(r.library.wall(), 3) << " | " << fixed(r.ratio(), 2) << " | " << fixed(r.cpuRatio(), 2) << " | "
      << fixed(r.perUnit(), 1) << " |\n";
  }

  const std::vector<ScannerRow> scanner = parseScannerCsv(scannerCsv_);
  if (!scanner.empty()) {
    t << "\n| scanner (Google Benchmark) | ms per pass | MB/s |\n|---|--:|--:|\n";
    for (const ScannerRow& s : scanner)
      t << "| " << s.name << " | " << fixed(s.msPerPass, 2) << " | " << fixed(s.bytesPerSecond / mb, 0) << " |\n";
  }

  // Targets: reported, never enforced.
  auto mark = [](bool met) { return met ? "met    " : "NOT met"; };
  t << "\nTargets\n";
  {
    std::string over;
    bool any = false;
    for (const Row& r : rows) {
      if (!r.ran) continue;
      any = true;
      if (r.ratio() > 1.25) over += (over.empty() ? "" : ", ") + r.label + " " + fixed(r.ratio(), 3);
    }
    if (any) t << "  " << mark(over.empty()) << " wall <= 1.25 x (transfer + library floor) in every row"
               << (over.empty() ? "" : "; over: " + over) << "\n";
  }
  {
    const Row* reference = nullptr;
    for (const Row& r : rows)
      if (r.ran && r.kind == "import" && r.key == "import-1k") reference = &r;
    if (reference && reference->perUnit() > 0) {
      std::string detail;
      bool met = true;
      for (const Row& r : rows) {
        if (!r.ran || r.kind != "import" || &r == reference) continue;
        const double change = (r.perUnit() / reference->perUnit() - 1) * 100;
        const bool inScope = r.key != "import-backlog";
        if (inScope && std::fabs(change) > 20) met = false;
        detail += (detail.empty() ? "" : ", ") + r.label + " " + (change >= 0 ? "+" : "") + fixed(change, 0) + "%" +
                  (inScope ? "" : " (not in the target)");
      }
      t << "  " << mark(met) << " time per check within ±20% of the 1,000-check row (" << fixed(reference->perUnit(), 1)
        << " µs): " << detail << "\n";
      // What a check costs once the run's fixed costs are left out.
      const Row *small = nullptr, *large = nullptr;
      for (const Row& r : rows) {
        if (r.ran && r.key == "import-10k") small = &r;
        if (r.ran && r.key == "import-50k") large = &r;
      }
      if (small && large && large->checks > small->checks)
        t << "          marginal time per check from 10,000 to 50,000 checks: "
          << fixed((large->program.wall() - small->program.wall()) * 1e6 /
                       static_cast<double>(large->checks - small->checks),
                   1)
          << " µs\n";
    }
  }
  for (const ScannerRow& s : scanner)
    if (s.name == "DocumentWalk/50000")
      t << "  " << mark(s.bytesPerSecond >= 1024 * mb) << " scanner walks a 50,000-document list at >= 1 GB/s: "
        << fixed(s.bytesPerSecond / mb, 0) << " MB/s\n";
  {
    std::string detail;
    bool met = true, any = false;
    for (const Row& r : rows) {
      if (!r.ran || r.kind != "export") continue;
      any = true;
      // The run's fixed part (libraries, buffers: an export of a few bytes)
      // is left out: it alone is larger than 2 x a 1 MB file.
      const double factor = r.rssPerFileByte();
      if (factor > 2) met = false;
      detail += (detail.empty() ? "" : ", ") + r.label + " " + fixed(factor, 2) + "x (fixed " +
                fixed(static_cast<double>(r.fixedRssKb) / 1024, 1) + " MB)";
    }
    if (any) t << "  " << mark(met) << " export peak RSS <= 2 x goods file, above the run's fixed part: " << detail << "\n";
  }
  for (const Row& r : rows)
    if (r.ran && r.key == "import-backlog")
      t << "  " << mark(r.program.rssKb() < 512 * 1024) << " import peak RSS < 512 MB for the "
        << grouped(r.checks) << "-check backlog: worst run " << fixed(r.program.rssKb() / 1024, 1) << " MB over "
        << r.runs << " runs\n";

  bool anyNote = false;
  for (const Row& r : rows) {
    if (!r.failure.empty()) {
      if (!anyNote) t << "\nNotes\n";
      anyNote = true;
      t << "  " << r.label << ": FAILED: " << r.failure << "\n";
    }
    for (const std::string& n : r.notes) {
      if (!anyNote) t << "\nNotes\n";
      anyNote = true;
      t << "  " << r.label << ": " << n << "\n";
    }
  }

  std::cout << "\n" << t.str() << std::flush;
  writeFile(out_ / "table.md", t.str());

  std::ostringstream csv;
  csv << "kind,row,repetitions,runs,requests,shifts,checks,file_bytes,answer_bytes,wall_s,wall_min_s,wall_max_s,cpu_s,"
         "peak_rss_kb,transfer_wall_s,transfer_cpu_s,transfer_rss_kb,library_wall_s,library_cpu_s,library_rss_kb,"
         "library_input_rss_kb,library_release_s,wall_ratio,cpu_ratio,us_per_check,ms_per_mb,fixed_rss_kb,load1,failure\n";
  for (const Row& r : rows) {
    if (!r.ran && r.failure.empty()) continue;
    csv << r.kind << "," << r.key << "," << r.program.samples.size() << "," << r.runs << "," << r.requests << ","
        << r.reports << "," << r.checks << "," << r.fileBytes << "," << r.answerBytes << "," << fixed(r.program.wall(), 4)
        << "," << fixed(r.program.wallMin(), 4) << "," << fixed(r.program.wallMax(), 4) << ","
        << fixed(r.program.cpu(), 4) << "," << fixed(r.program.rssKb(), 0) << "," << fixed(r.transfer.wall(), 4) << ","
        << fixed(r.transfer.cpu(), 4) << "," << fixed(r.transfer.rssKb(), 0) << "," << fixed(r.library.wall(), 4) << ","
        << fixed(r.library.cpu(), 4) << "," << fixed(r.library.rssKb(), 0) << ","
        << fixed(median(r.libraryInputRssKb), 0) << "," << fixed(median(r.libraryRelease), 4) << ","
        << fixed(r.ratio(), 3) << "," << fixed(r.cpuRatio(), 3) << ","
        << (r.kind == "import" ? fixed(r.perUnit(), 2) : "") << "," << (r.kind == "export" ? fixed(r.perUnit(), 2) : "")
        << "," << (r.kind == "export" ? std::to_string(r.fixedRssKb) : "") << "," << fixed(r.load1, 2) << ",\"" << (r.failure.empty() ? "" : r.failure.substr(0, r.failure.find('\n')))
        << "\"\n";
  }
  writeFile(out_ / "results.csv", csv.str());
  std::cout << "\nwritten: " << (out_ / "results.csv").string() << ", " << (out_ / "scanner.csv").string() << ", "
            << (out_ / "table.md").string() << "\n";
}

int Bench::run(std::vector<Row>& rows) {
  fs::create_directories(out_ / "data");
  loadAtStart_ = loadAverage();
  bool failed = false;
  const auto started = std::chrono::steady_clock::now();
  for (Row& row : rows) {
    if (!o_.rows.empty() && std::find(o_.rows.begin(), o_.rows.end(), row.key) == o_.rows.end()) continue;
    row.load1 = loadAverage();
    std::cout << "== " << row.label << " (load " << fixed(row.load1, 2) << ")" << std::flush;
    const auto rowStart = std::chrono::steady_clock::now();
    try {
      if (row.kind == "import") runImportRow(row);
      else runExportRow(row);
      row.ran = true;
      std::cout << ": program " << fixed(row.program.wall(), 3) << " s, floors " << fixed(row.transfer.wall(), 3) << " + "
                << fixed(row.library.wall(), 3) << " s";
    } catch (const std::exception& e) {
      sim_.stop();
      row.failure = e.what();
      failed = true;
      std::cout << ": FAILED: " << e.what();
    }
    std::cout << " (" << fixed(std::chrono::duration<double>(std::chrono::steady_clock::now() - rowStart).count(), 0)
              << " s)\n"
              << std::flush;
  }
  if (o_.rows.empty() || std::find(o_.rows.begin(), o_.rows.end(), "scanner") != o_.rows.end()) {
    std::cout << "== scanner micro-benchmarks" << std::flush;
    try {
      runScanner();
      std::cout << "\n";
    } catch (const std::exception& e) {
      failed = true;
      std::cout << ": FAILED: " << e.what() << "\n";
    }
  }
  report(rows);
  std::cout << "benchmark took "
            << fixed(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(), 0) << " s\n";
  return failed ? 1 : 0;
}

std::vector<Row> allRows(const Options& o) {
  std::vector<Row> rows;
  auto import = [&](const std::string& key, const std::string& label, int shifts, int checks) {
    Row r;
    r.kind = "import";
    r.key = key;
    r.label = label;
    r.shifts = shifts;
    r.checksPerShift = checks;
    rows.push_back(r);
  };
  import("import-1k", "1 shift x 1,000 checks", 1, 1000);
  import("import-10k", "1 shift x 10,000 checks", 1, 10000);
  import("import-50k", "1 shift x 50,000 checks", 1, 50000);
  import("import-365", "365 shifts x 100 checks", 365, 100);
  import("import-backlog",
         "backlog " + std::to_string(o.backlogShifts) + " shifts x " + grouped(static_cast<std::uint64_t>(o.backlogChecks)) +
             " checks",
         o.backlogShifts, o.backlogChecks);
  for (int mb : {1, 10, 100}) {
    Row r;
    r.kind = "export";
    r.key = "export-" + std::to_string(mb) + "mb";
    r.label = "goods " + std::to_string(mb) + " MB";
    r.goodsMb = mb;
    rows.push_back(r);
  }
  return rows;
}

constexpr const char* kUsage =
    "usage: kkm_bench --bin DIR --out DIR [--reps N] [--rows KEY,...] [--backlog-shifts N]"
    " [--backlog-checks N] [--scanner-min-time S]\n"
    "rows: import-1k import-10k import-50k import-365 import-backlog export-1mb export-10mb export-100mb scanner\n";

[[noreturn]] void usage(const std::string& message) {
  std::cerr << "kkm_bench: " << message << "\n" << kUsage;
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything else: the measured children are forked from a process
  // that stays as small as this one is now.
  try {
    startSpawner();
  } catch (const std::exception& e) {
    std::cerr << "kkm_bench: " << e.what() << "\n";
    return 1;
  }
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--help") {
      std::cout << kUsage;
      return 0;
    }
    if (i + 1 >= argc) usage(name + " needs a value");
    const std::string value = argv[++i];
    try {
      if (name == "--bin") o.binDir = value;
      else if (name == "--out") o.outDir = value;
      else if (name == "--reps") o.reps = std::stoi(value);
      else if (name == "--backlog-shifts") o.backlogShifts = std::stoi(value);
      else if (name == "--backlog-checks") o.backlogChecks = std::stoi(value);
      else if (name == "--scanner-min-time") o.scannerMinTime = value;
      else if (name == "--rows") {
        std::istringstream in(value);
        std::string key;
        while (std::getline(in, key, ','))
          if (!key.empty()) o.rows.push_back(key);
      } else usage("unknown option " + name);
    } catch (const std::logic_error&) {
      usage("bad value for " + name);
    }
  }
  if (o.binDir.empty() || o.outDir.empty()) usage("--bin and --out are needed");
  if (o.reps < 1) usage("--reps must be at least 1");
  const fs::path bin = fs::absolute(o.binDir);
  o.outDir = fs::absolute(o.outDir).string();
  Tools t;
  t.kkmbridge = (bin / "kkmbridge").string();
  t.cloudSim = (bin / "cloud-sim").string();
  t.floor = (bin / "kkm_tinyxml2_floor").string();
  t.scannerBench = (bin / "kkm_scanner_bench").string();
  for (const std::string& p : {t.kkmbridge, t.cloudSim, t.floor, t.scannerBench})
    if (!fs::exists(p)) usage(p + " is missing");

  std::vector<Row> rows = allRows(o);
  int result = 1;
  try {
    Bench bench(o, t);
    result = bench.run(rows);
  } catch (const std::exception& e) {
    std::cerr << "kkm_bench: " << e.what() << "\n";
  }
  stopSpawner();
  return result;
}
