#include "app/check_run.h"

#include <tinyxml2.h>

#include <string>
#include <string_view>
#include <vector>

#include "app/exit_codes.h"
#include "app/import_run.h"
#include "app/run_lock.h"
#include "app/stall.h"
#include "cloud/document_query.h"
#include "cloud/session.h"
#include "config/config_file.h"
#include "config/settings.h"
#include "files/atomic_file.h"
#include "files/messages.h"
#include "files/paths.h"
#include "files/root_tag.h"
#include "files/text_file.h"
#include "platform/platform.h"
#include "report/import_document.h"
#include "report/shift_intervals.h"
#include "report/xml_elements.h"
#include "text/date_time.h"
#include "text/json_scanner.h"

namespace {

enum class Verdict { kOk, kWarning, kFailed };

// The lines of the diagnosis, counted as they are printed.
class Diagnosis {
 public:
  void say(Verdict verdict, const std::string& subject, const std::string& text) {
    static constexpr const char* kWords[] = {"ok       ", "warning  ", "FAILED   "};
    printLine(std::string(kWords[static_cast<int>(verdict)]) + subject + ": " + text);
    if (verdict == Verdict::kWarning) ++warnings_;
    if (verdict == Verdict::kFailed) {
      ++failed_;
      if (firstFailed_.empty()) firstFailed_ = subject;
    } else {
      ++ok_;
    }
  }
  void ok(const std::string& subject, const std::string& text) { say(Verdict::kOk, subject, text); }
  void warn(const std::string& subject, const std::string& text) { say(Verdict::kWarning, subject, text); }
  void fail(const std::string& subject, const std::string& text) { say(Verdict::kFailed, subject, text); }

  int failed() const { return failed_; }
  std::string counts() const {
    std::string text = std::to_string(ok_) + " ok (" + std::to_string(warnings_) + " warning(s)), " +
                       std::to_string(failed_) + " FAILED";
    if (!firstFailed_.empty()) text += ", first: " + firstFailed_;
    return text;
  }

 private:
  int ok_ = 0;
  int warnings_ = 0;
  int failed_ = 0;
  std::string firstFailed_;
};

// The program's own lines while `fn` runs (its readers trace and warn):
// standard output is left out, and each error or warning becomes a line of
// the diagnosis under `subject`.
template <typename Fn>
void quietly(Diagnosis& diagnosis, const std::string& subject, Fn&& fn) {
  std::vector<std::pair<MessageStream, std::string>> said;
  const MessageSink previous =
      setMessageSink([&said](MessageStream stream, std::string_view line) { said.emplace_back(stream, line); });
  fn();
  setMessageSink(previous);
  for (auto& [stream, line] : said) {
    if (stream != MessageStream::kErr) continue;
    std::string_view text = line;
    if (text.substr(0, kMessagePrefix.size()) == kMessagePrefix) text.remove_prefix(kMessagePrefix.size());
    static constexpr std::string_view kWarning = "warning: ";
    if (text.substr(0, kWarning.size()) == kWarning)
      diagnosis.warn(subject, std::string(text.substr(kWarning.size())));
    else
      diagnosis.fail(subject, std::string(text));
  }
}

const char* attributeOf(const tinyxml2::XMLElement* element, const char* name) {
  return element != nullptr ? element->Attribute(name) : nullptr;
}

// The host of an http(s) address, "" when `url` is none.
std::string hostOf(const std::string& url, std::string& scheme) {
  std::string lower = url.substr(0, 8);
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  std::size_t start = 0;
  if (lower.compare(0, 7, "http://") == 0) {
    scheme = "http";
    start = 7;
  } else if (lower.compare(0, 8, "https://") == 0) {
    scheme = "https";
    start = 8;
  } else {
    return "";
  }
  const std::size_t end = url.find_first_of("/?#", start);
  std::string host = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
  const std::size_t at = host.rfind('@');
  if (at != std::string::npos) host.erase(0, at + 1);
  return host;
}

// What the configuration holds, and whether a run could use it.
struct ConfigurationState {
  bool usable = false;        // a run would not stop at once with -2
  bool serviceKnown = false;  // basicURL and login are there to ask the service with
};

ConfigurationState checkConfiguration(Diagnosis& d, const Configuration& configuration) {
  ConfigurationState state;
  const std::string subject = "configuration " + configuration.fileName;
  const FileRead& file = configuration.file;
  if (file.status != FileStatus::kFound) {
    d.fail(subject, (file.status == FileStatus::kNotFound ? std::string("there is no such file")
                                                         : "cannot be read: " + file.reason) +
                        "; give the full path of the configuration file");
    return state;
  }
  const tinyxml2::XMLDocument& doc = configuration.document;
  if (doc.Error()) {
    d.fail(subject, std::string("is no well-formed XML (") + doc.ErrorStr() +
                        "); correct it in an editor that shows XML errors, or start again from config.example.xml");
    return state;
  }
  const tinyxml2::XMLElement* param = configuration.param();
  const tinyxml2::XMLElement* import = configuration.import();
  if (param == nullptr || import == nullptr) {
    d.fail(subject, std::string("has no ") + (param == nullptr ? "config/basicparams/param" : "config/importparams/import") +
                        " element; start again from config.example.xml");
    return state;
  }
  d.ok(subject, "readable, well-formed");

  // The program's own readers, so that each value is taken as a run takes it.
  quietly(d, "configuration", [&] {
    readInitialPreferences(configuration);
    readImportParams(configuration);
  });
  // The check writes no log or dump file, whatever debugmode says.
  const bool debug = debugOn();
  debugmode = 0;

  state.usable = true;
  std::string scheme;
  const std::string host = hostOf(basicURL, scheme);
  if (basicURL.empty()) {
    d.fail("basicURL", "missing or empty: set the service's address, such as https://cloud.example/api/");
    state.usable = false;
  } else if (host.empty()) {
    d.fail("basicURL", "\"" + basicURL + "\" is no http:// or https:// address with a host: set the service's address");
    state.usable = false;
  } else if (scheme == "http") {
    d.warn("basicURL", basicURL + " is plain http: the password travels unprotected; use the service's https:// address");
  } else {
    d.ok("basicURL", basicURL);
  }
  if (!sslVerify) d.warn("sslVerify", "\"0\" switches the certificate check off: the password travels unprotected "
                                      "against a man in the middle; remove sslVerify, and set caFile if the "
                                      "service's certificate is not trusted");
  if (login.empty())
    d.fail("login", "missing or empty: set the service account");
  else
    d.ok("login", login);
  if (password.empty()) d.warn("password", "empty: set the service account's password");
  if (kkmNum.empty())
    d.fail("kkmNum", "missing or empty on config/importparams/import: set the register's serial number");
  else
    d.ok("kkmNum", kkmNum);
  const std::string bookmark = bookmarkProblem(lastDocDT);
  if (!bookmark.empty()) {
    d.fail("lastDocDT", "\"" + lastDocDT + "\" " + bookmark +
                            ": set it to the service date-time of the last shift closing 1C has, or to 0");
    state.usable = false;
  } else {
    d.ok("lastDocDT", lastDocDT == "0" ? std::string("0, from the beginning") : lastDocDT);
  }
  ImportDataFormat format = ImportDataFormat::k3000;
  if (!formatNamed(formatVersion, format)) {
    d.fail("formatVersion", "\"" + formatVersion + "\" is no format this program writes: set 3000, 3001, 3002 or " +
                                "3003, as the device in 1C is set");
    state.usable = false;
  } else {
    d.ok("formatVersion", formatVersion + " (format " + formatTitleOf(format) + ")");
  }
  if (runLog.empty())
    d.warn("runLog", "not set: a scheduled run leaves nothing but its exit code; set runLog to a file such as "
                     "C:\\kkm\\run.log");
  else if (!platform::mayWrite(runLog))
    d.fail("runLog", runLog + " cannot be written by this account: give a file in a folder the tasks' account may "
                              "write");
  else
    d.ok("runLog", runLog);
  if (!caFile.empty()) {
    const FileRead pem = readTextFile(caFile);
    if (pem.status != FileStatus::kFound)
      d.fail("caFile", caFile + (pem.status == FileStatus::kNotFound ? std::string(": there is no such file")
                                                                    : " cannot be read: " + pem.reason) +
                           "; give the PEM file of the CA that issued the service's certificate, or remove caFile");
    else if (pem.text.find("-----BEGIN CERTIFICATE-----") == std::string::npos)
      d.fail("caFile", caFile + " holds no PEM certificate (-----BEGIN CERTIFICATE-----); give the CA's certificate "
                                "in PEM form");
    else
      d.ok("caFile", caFile);
  }
  const char* stall = attributeOf(param, "stallHours");
  if (stall != nullptr) d.ok("stallHours", stallHours == 0 ? std::string("0, stalls are never failed")
                                                           : std::to_string(stallHours) + " hours");
  if (debug)
    d.warn("debugmode", "\"1\": every run writes log and dump files into its working folder; set 0 once the "
                        "exchange works (this check writes none)");
  state.serviceKnown = !host.empty() && !login.empty();
  return state;
}

// Which stage of the login a failure shows: the connection, TLS, or the
// login itself.
void sayLoginFailure(Diagnosis& d, const std::string& host, const std::string& error) {
  const auto has = [&error](const char* part) { return error.find(part) != std::string::npos; };
  if (has("SSL") || has("certificate") || has("service TLS") || has("schannel") || has("caFile")) {
    d.ok("service connection", "reached " + host);
    d.fail("service TLS", error + "; set caFile to the PEM file of the CA that issued the service's certificate, and check "
                          "that basicURL names the host the certificate is for");
    return;
  }
  if (has("resolve") || has("connect") || has("Connection") || has("timed out") || has("Timeout") ||
      has("no answer")) {
    d.fail("service connection", error + "; check basicURL, this machine's network and its firewall");
    return;
  }
  d.ok("service connection", "reached " + host);
  d.fail("service login", error + "; check login and password (and basicURL's path) in the configuration");
}

void checkService(Diagnosis& d) {
  std::string scheme;
  const std::string host = hostOf(basicURL, scheme);
  std::string error;
  bool loggedIn = false;
  quietly(d, "service login", [&] { loggedIn = getLoginParams(error); });
  if (!loggedIn) {
    sayLoginFailure(d, host, error);
    return;
  }
  d.ok("service connection", "reached " + host);
  if (scheme == "https")
    d.say(sslVerify ? Verdict::kOk : Verdict::kWarning, "service TLS",
          sslVerify ? "the service's certificate and host name are verified" : "not verified (sslVerify=\"0\")");
  d.ok("service login", login + " logged in as " + (nameUser.empty() ? std::string("(no nameUser given)") : nameUser));

  const bool fromTheStart = lastDocDT == "0";
  const std::string from = fromTheStart ? std::string(kFirstDocDT) : lastDocDT;
  std::string docs;
  quietly(d, "service documents", [&] { docs = getAllDocsByKind(from, currentTimeText(), "2,5", error); });
  if (!error.empty()) {
    d.fail("service documents", error + "; the service answered the login but not the document query: check kkmNum, or "
                                "ask the service's support");
    return;
  }
  const std::int64_t after = fromTheStart ? serviceInstant(kFirstDocDT) - 1 : serviceInstant(from);
  int closings = 0;
  forEachDocument(docs, [&](std::string_view one) {
    if (getIntFromJSON(one, "docKind") == kShiftClosingKind && serviceInstant(getStringFromJSON(one, "docDt")) > after)
      ++closings;
  });
  d.ok("service documents", std::to_string(closings) + " closed shift(s) of register " + kkmNum + " waiting since lastDocDT " +
                        lastDocDT);
}

void checkExchangeFolder(Diagnosis& d, const Configuration& configuration, std::string fileName, bool configUsable) {
  const std::int64_t now = platform::now();
  std::string error;
  std::string target;
  switch (platform::followOwnLink(fileName, target, error)) {
    case platform::LinkResult::kNotALink:
      break;
    case platform::LinkResult::kFollowed:
      d.ok("exchange file", fileName + " is a link to " + target + "; runs work on that file");
      fileName = target;
      break;
    case platform::LinkResult::kRefused:
      d.fail("exchange file", fileName + " is a link that runs do not follow: " + error +
                                  "; give the file itself, or a link of the tasks' account");
      return;
  }
  const std::string folder = folderOf(fileName).empty() ? "." : folderOf(fileName);
  {
    // A file made exclusively beside the exchange file, removed again when
    // the probe goes away: what every run does to replace a file there.
    AtomicFile probe(fileName);
    if (probe.open(error))
      d.ok("exchange folder", folder + " is writable");
    else
      d.fail("exchange folder", error + "; the tasks' account must be allowed to create files in " + folder);
  }

  const std::string lockFile = lockFileFor(fileName);
  platform::LockHolder holder;
  switch (platform::FileLock::look(lockFile, holder, error)) {
    case platform::FileLock::Look::kMissing:
    case platform::FileLock::Look::kFree:
      d.ok("run lock", "free");
      break;
    case platform::FileLock::Look::kBusy: {
      const std::string who = holder.known() ? "process " + std::to_string(holder.processId) + ", " +
                                                   sinceText(holder.since, now)
                                             : std::string("a process that recorded nothing");
      if (waitedTooLong(holder.since, now, stallHours))
        d.fail("run lock", lockFile + " held by " + who + ", longer than stallHours=" + std::to_string(stallHours) +
                               ": that run is stuck; end it (Task Manager, or kill)");
      else
        d.ok("run lock", "held by " + who + ": a run is under way");
      break;
    }
    case platform::FileLock::Look::kFailed:
      d.fail("run lock", lockFile + ": " + error);
      break;
  }

  PendingCommit record;
  if (configUsable && readPendingCommit(configuration, record) && record.present()) {
    static constexpr const char* kWhat[] = {
        "the next run finishes it: its file goes into place",
        "the next run confirms it: the exchange file is the one that run wrote",
        "the next run undoes it: lastDocDT goes back and those shifts are written again",
    };
    const CommitPlan plan = planPendingCommit(fileName, record, lastDocDT);
    d.warn("commit record", "an earlier run was stopped while putting " + nameOf(fileName) + " in place (" +
                                record.file + "); " + kWhat[static_cast<int>(plan.step)] +
                                (plan.plantedTemporary ? "; the file under its name is not that run's and is removed"
                                                       : ""));
  } else {
    d.ok("commit record", "none pending");
  }

  const ExchangeFileCheck exchange = inspectExchangeFile(fileName);
  const std::string shown = "ImportData " + fileName;
  switch (exchange.state) {
    case ExchangeFileState::kMissing:
      d.ok(shown, "none yet: the next import writes it");
      break;
    case ExchangeFileState::kEmpty:
    case ExchangeFileState::kNoSaleReport:
      d.ok(shown, "holds no sales report: the next import replaces it");
      break;
    case ExchangeFileState::kProcessedStub:
      d.ok(shown, "1C's stub: 1C has loaded the last file");
      break;
    case ExchangeFileState::kNotLoaded: {
      const std::int64_t written = platform::modificationSeconds(fileName);
      const std::string since = sinceText(written, now);
      if (waitedTooLong(written, now, stallHours))
        d.fail(shown, "waiting for 1C " + since + ", longer than stallHours=" + std::to_string(stallHours) +
                          ": check that 1C's exchange with the register runs and reaches this folder");
      else
        d.ok(shown, "waiting for 1C to load it, " + since);
      break;
    }
    case ExchangeFileState::kForeign:
    case ExchangeFileState::kUnreadable:
      d.fail(shown, exchange.reason + "; runs leave it alone and fail: move it away, or give another exchange file");
      break;
  }

  const std::string goodsFile = exportDataBeside(fileName);
  tinyxml2::XMLDocument tag;
  const tinyxml2::XMLElement* root = readRootStartTag(goodsFile, tag);
  const std::string goods = "ExportData " + goodsFile;
  if (root == nullptr) {
    d.ok(goods, platform::isRegularFile(goodsFile) ? "cannot be read as XML: the next export says why"
                                                   : "none: 1C has written no goods file yet");
    return;
  }
  const char* ns = root->Attribute("xmlns");
  ImportDataFormat goodsFormat = ImportDataFormat::k3000, configured = ImportDataFormat::k3000;
  const bool stamped = root->Attribute("Processed") != nullptr;
  const std::string state = stamped ? std::string("stamped Processed ") + root->Attribute("Processed") + " (sent)"
                                    : "not stamped yet: the next export sends it";
  if (std::string_view(root->Name()) != "ExportData" || ns == nullptr || !formatOfNamespace(ns, goodsFormat)) {
    d.warn(goods, "is no ExportData of 1C's in a format this program knows; " + state);
  } else if (formatNamed(formatVersion, configured) && goodsFormat != configured) {
    d.warn(goods, std::string("is in format ") + formatTitleOf(goodsFormat) + ", and 1C loads sales reports only in " +
                      "the format it writes: set formatVersion=\"" + formatVersionOf(goodsFormat) + "\"; " + state);
  } else {
    d.ok(goods, std::string("format ") + formatTitleOf(goodsFormat) + ", " + state);
  }
}

}  // namespace

int runCheck(const Configuration& configuration, const std::string& fileName, RunReport& report) {
  Diagnosis d;
  const ConfigurationState config = checkConfiguration(d, configuration);
  if (config.serviceKnown) checkService(d);
  checkExchangeFolder(d, configuration, fileName, config.usable);
  const int exitCode = !config.usable ? kExitUnusableConfig : d.failed() > 0 ? kExitRunFailed : kExitOk;
  printLine("check: " + d.counts() + "; exit " + std::to_string(exitCode));
  report = {d.failed() > 0 ? RunOutcome::kFailed : RunOutcome::kOk, d.counts()};
  return exitCode;
}
