// The whole report building from arbitrary document-list answers: the
// import without the network. Answer text in, ImportData text out.
//
// The input is up to three service answers separated by a line "#--": the
// answer to the shift query, to the check queries and to the income/outcome
// queries. With fewer parts the last one answers the remaining queries. Each
// query gets its answer's "kkmDocs" array, as the document query hands it
// on. The import run itself (runImport) writes the exchange file and the
// configuration in a scratch folder.
//
// Properties: the run finishes (exit 0: no query fails; or -3 when the first
// shift holds a value 1C's schema refuses, or its closing cannot be stored,
// leaving no file and the configuration as it was); the file it wrote holds
// exactly the bytes of the whole document printed at once (a refused shift
// and those after it left out); 1C loads it to the end (its schema, through
// libxml2 in process, and the tests' check of what stops its loader); its
// SaleReports each end with ShiftState 2; lastDocDT names the closing of the
// file's last SaleReport; without a closed shift there is no file and the
// configuration is as it was.
//
// Set KKM_FUZZ_VERBOSE=1 to see the run's own lines on standard error when
// replaying an input.
#include <tinyxml2.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "app/entry_point.h"
#include "app/import_run.h"
#include "cloud/document_query.h"
#include "config/settings.h"
#include "files/messages.h"
#include "fuzz_support.h"
#include "importdata_check.h"
#include "report/shift_intervals.h"
#include "report/xml_elements.h"
#include "text/date_time.h"

namespace {

constexpr const char* kConfig =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config>\n  <basicparams>\n    <param login=\"l\" password=\"p\" "
    "basicURL=\"http://127.0.0.1:9/api/\" debugmode=\"0\"/>\n  </basicparams>\n  <importparams>\n    <import "
    "lastDocDT=\"0\" kkmNum=\"0000000000012345\"/>\n  </importparams>\n</config>\n";

std::vector<std::string_view> splitAnswers(std::string_view input) {
  static constexpr std::string_view kSeparator = "\n#--\n";
  std::vector<std::string_view> parts;
  while (parts.size() < 2) {
    const std::size_t at = input.find(kSeparator);
    if (at == std::string_view::npos) break;
    parts.push_back(input.substr(0, at));
    input.remove_prefix(at + kSeparator.size());
  }
  parts.push_back(input);
  return parts;
}

// The import run with its lines dropped (it warns about odd values).
int runQuietly(const std::string& exchange, const std::string& config, const DocumentQuery& query) {
  static const bool verbose = std::getenv("KKM_FUZZ_VERBOSE") != nullptr;
  Configuration configuration;
  readConfiguration(config, configuration);
  if (verbose) return runImport(exchange, configuration, query, nullptr);
  MessageSink previous = setMessageSink([](MessageStream, std::string_view) {});
  const int code = runImport(exchange, configuration, query, nullptr);
  setMessageSink(std::move(previous));
  return code;
}

std::string lastDocDTIn(const std::string& configText) {
  tinyxml2::XMLDocument doc;
  doc.Parse(configText.c_str());
  const tinyxml2::XMLElement* import = doc.FirstChildElement("config")
                                           ? doc.FirstChildElement("config")->FirstChildElement("importparams")
                                           : nullptr;
  import = import ? import->FirstChildElement("import") : nullptr;
  const char* value = import ? import->Attribute("lastDocDT") : nullptr;
  return value ? value : "(none)";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::setUp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string_view> answers = splitAnswers(std::string_view(reinterpret_cast<const char*>(data), size));
  const DocumentQuery query = [&](const std::string&, const std::string&, const std::string& kinds, std::string&) {
    std::size_t which = 0;
    if (kinds == kCheckKinds) which = 1;
    if (kinds == kIncomeOutcomeKinds) which = 2;
    return extractKkmDocs(answers[which < answers.size() ? which : answers.size() - 1]);
  };

  // The whole document in memory, printed at once.
  resetSettings();
  lastDocDT = "0";
  kkmNum = "0000000000012345";  // the configuration's, which the UUIDs are made of
  tinyxml2::XMLDocument doc;
  tinyxml2::XMLElement* root = addImportDataRoot(doc, ImportDataFormat::k3000);
  ShiftWalkResult walk;
  FUZZ_CHECK(processShiftIntervals(doc, root, query, walk, ImportDataFormat::k3000, nullptr), "the walk failed without a failed query: " + walk.error);
  const std::string whole = xmlToString(doc);

  // The import run, writing its files.
  static const std::string exchange = fuzz::scratchFile("ImportData.xml");
  static const std::string config = fuzz::scratchFile("config.xml");
  std::remove(exchange.c_str());
  fuzz::writeBytes(config, reinterpret_cast<const std::uint8_t*>(kConfig), std::strlen(kConfig));
  resetSettings();
  const int code = runQuietly(exchange, config, query);
  const std::string written = fuzz::readBytes(exchange);
  const std::string configAfter = fuzz::readBytes(config);
  if (code == kExitRunFailed) {
    // A value 1C refuses, or a closing that cannot be stored: nothing is put in place.
    FUZZ_CHECK(walk.reportCount > 0 || !walk.refusal.empty(), "the import run failed without any shift to report");
    FUZZ_CHECK(written.empty(), "a failed run left its exchange file");
    FUZZ_CHECK(configAfter == kConfig, "a failed run changed the configuration");
    return 0;
  }
  FUZZ_CHECK(code == kExitOk, "the import run ended with " + std::to_string(code));
  if (walk.reportCount == 0) {
    FUZZ_CHECK(written.empty(), "a file without any closed shift was written");
    FUZZ_CHECK(configAfter == kConfig, "the configuration changed without a closed shift");
    return 0;
  }
  FUZZ_CHECK(written == whole, "the file differs from the document printed whole (" + std::to_string(written.size()) +
                                   " against " + std::to_string(whole.size()) + " bytes)");

  const std::string violation = kkmtest::importDataComplaints(written);
  FUZZ_CHECK(violation.empty(), "1C does not load the file to the end: " + violation);

  tinyxml2::XMLDocument back;
  FUZZ_CHECK(back.Parse(written.data(), written.size()) == tinyxml2::XML_SUCCESS,
             std::string("the ImportData text does not read back: ") + back.ErrorStr());
  const tinyxml2::XMLElement* readRoot = back.RootElement();
  FUZZ_CHECK(readRoot != nullptr && std::strcmp(readRoot->Name(), "ImportData") == 0, "root is not ImportData");
  const tinyxml2::XMLElement* saleReports = readRoot->FirstChildElement("SaleReports");
  FUZZ_CHECK(saleReports != nullptr, "no SaleReports element");
  int reports = 0;
  const tinyxml2::XMLElement* last = nullptr;
  for (const tinyxml2::XMLElement* report = saleReports->FirstChildElement("SaleReport"); report != nullptr;
       report = report->NextSiblingElement("SaleReport")) {
    ++reports;
    last = report;
    const tinyxml2::XMLElement* state = report->LastChildElement();
    FUZZ_CHECK(state != nullptr && std::strcmp(state->Name(), "ShiftState") == 0 && state->GetText() != nullptr &&
                   std::strcmp(state->GetText(), "2") == 0,
               "a SaleReport does not end with ShiftState 2");
  }
  FUZZ_CHECK(reports == walk.reportCount, "SaleReports read back: " + std::to_string(reports) + ", written: " +
                                              std::to_string(walk.reportCount));
  const std::string stored = lastDocDTIn(configAfter);
  const char* closing = last->Attribute("ClosingDate");
  // An attribute ends at a NUL byte (which no JSON text holds unescaped).
  const std::string closingText = walk.lastClosingDate.c_str();
  FUZZ_CHECK(stored == closingText, "lastDocDT is '" + stored + "', the last closing '" + closingText + "'");
  FUZZ_CHECK(closing != nullptr && convertDateTimeTo1C(stored) == closing,
             "lastDocDT " + stored + " is not the closing of the file's last SaleReport");
  return 0;
}
