// Shared pieces of the report tests: service documents as the service writes
// them, a scripted document query, element inspection, log entries and the
// schema check.
#pragma once

#include <gtest/gtest.h>
#include <tinyxml2.h>

#ifdef _WIN32
#include <process.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "config/config_file.h"
#include "config/settings.h"
#include "report/shift_intervals.h"
#include "importdata_check.h"
#include "test_files.h"

namespace reporttest {

// What 1C makes of the ImportData text `text` when it holds sales reports:
// "" when it loads it to the end, or the first value its schema refuses or
// that stops its load; "" also for a text without sales reports.
inline std::string violationOfReports(const std::string& text) {
  if (text.find("<SaleReport") == std::string::npos) return "";
  return kkmtest::importDataComplaints(text);
}

// The configuration file at `path` as a run reads it, once.
inline std::unique_ptr<Configuration> configurationAt(const std::string& path) {
  auto configuration = std::make_unique<Configuration>();
  readConfiguration(path, *configuration);
  return configuration;
}

// A test that starts and ends with every process-wide value at its start.
class CleanSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { resetSettings(); }
  void TearDown() override { resetSettings(); }
};

using Attributes = std::vector<std::pair<std::string, std::string>>;

// A document object of the service's list: document-level keys, then the
// escaped body string. An empty `docDt` leaves the key out; `kind` is
// written as given (a number, or anything else).
inline std::string document(int id, const std::string& kind, const std::string& docDt, const std::string& body) {
  std::string text = "{\"id\":" + std::to_string(id) + ",\"docNo\":" + std::to_string(id) + ",\"docKind\":" + kind + ",";
  if (!docDt.empty()) text += "\"docDt\":\"" + docDt + "\",";
  text += "\"kkmNum\":\"0000000000012345\",\"body\":\"" + body + "\"}";
  return text;
}

inline std::string document(int id, int kind, const std::string& docDt, const std::string& body) {
  return document(id, std::to_string(kind), docDt, body);
}

// Document objects joined the way the list holds them.
inline std::string list(const std::vector<std::string>& docs) {
  std::string text;
  for (const std::string& doc : docs) text += (text.empty() ? "" : ",") + doc;
  return text;
}

// The attributes of `element` in file order.
inline Attributes attributesOf(const tinyxml2::XMLElement* element) {
  Attributes out;
  if (element == nullptr) return out;
  for (const tinyxml2::XMLAttribute* a = element->FirstAttribute(); a; a = a->Next()) out.emplace_back(a->Name(), a->Value());
  return out;
}

// The names of the child elements of `element`, in order.
inline std::vector<std::string> childNames(const tinyxml2::XMLElement* element) {
  std::vector<std::string> out;
  if (element == nullptr) return out;
  for (const tinyxml2::XMLElement* c = element->FirstChildElement(); c; c = c->NextSiblingElement()) out.push_back(c->Name());
  return out;
}

// The child elements of `element` called `name`, in order.
inline std::vector<const tinyxml2::XMLElement*> children(const tinyxml2::XMLElement* element, const char* name) {
  std::vector<const tinyxml2::XMLElement*> out;
  if (element == nullptr) return out;
  for (const tinyxml2::XMLElement* c = element->FirstChildElement(name); c; c = c->NextSiblingElement(name)) out.push_back(c);
  return out;
}

// One document query the code under test made.
struct QueryCall {
  std::string dateFrom, dateTo, kinds;
};

// A scripted service: answers the shift query with `shiftDocs`, the interval
// queries with `checksFor` / `incomeOutcomeFor` keyed by the closing date
// that ends the interval ("" when absent), and fails call number `failCall` (0-based) with
// `failText`. `onCall` runs before each answer (to change files mid-run).
struct FakeService {
  std::string shiftDocs;
  std::vector<std::pair<std::string, std::string>> checksFor;
  std::vector<std::pair<std::string, std::string>> incomeOutcomeFor;
  int failCall = -1;
  std::string failText = "document query failed: HTTP status 500";
  std::function<void(const QueryCall&)> onCall;
  std::vector<QueryCall> calls;

  static std::string lookUp(const std::vector<std::pair<std::string, std::string>>& table, const std::string& key) {
    for (const auto& entry : table)
      if (entry.first == key) return entry.second;
    return "";
  }

  DocumentQuery query() {
    return [this](const std::string& dateFrom, const std::string& dateTo, const std::string& kinds, std::string& error) {
      calls.push_back({dateFrom, dateTo, kinds});
      if (onCall) onCall(calls.back());
      if (static_cast<int>(calls.size()) - 1 == failCall) {
        error = failText;
        return std::string("{\"id\":1,\"docKind\":2,\"docDt\":\"2020-03-02T08:00:00.000+0000\",");  // half an answer
      }
      error.clear();
      if (kinds == kShiftKinds) return shiftDocs;
      if (kinds == kCheckKinds) return lookUp(checksFor, dateTo);
      if (kinds == kIncomeOutcomeKinds) return lookUp(incomeOutcomeFor, dateTo);
      return std::string();
    };
  }
};

// The texts of the entries of a log or dump file, time stamps cut off. An
// entry spans several lines when its text does.
inline std::vector<std::string> logEntries(const std::string& path) {
#ifdef _WIN32
  // Logs are text files there: every line ends with CR LF.
  std::string text;
  const std::string bytes = readFileBytes(path);
  for (std::size_t i = 0; i < bytes.size(); ++i)
    if (bytes[i] != '\r' || i + 1 >= bytes.size() || bytes[i + 1] != '\n') text += bytes[i];
#else
  const std::string text = readFileBytes(path);
#endif
  std::vector<std::string> entries;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t lineEnd = text.find('\n', pos);
    if (lineEnd == std::string::npos) lineEnd = text.size();
    const std::string line = text.substr(pos, lineEnd - pos);
    const std::size_t mark = line.find(" --- ");
    // A stamp is "YYYY-MM-DDTHH:MM:SS+hhmm" (24 characters) then " --- ".
    if (mark == 24 && line.size() > 10 && line[4] == '-' && line[10] == 'T')
      entries.push_back(line.substr(mark + 5));
    else if (!entries.empty())
      entries.back() += "\n" + line;
    pos = lineEnd + 1;
  }
  return entries;
}

#ifdef _WIN32
// Under Wine a Windows program cannot wait for the Linux xmllint's answer, so
// the file is copied into the folder named by KKM_SCHEMA_CHECK_DIR, whose
// files the caller (windows/test.sh) checks against the schema of their
// namespace after the tests. Empty when the copy is made and nothing in the
// file stops 1C's load; without the folder the check fails.
inline std::string schemaComplaints(const std::string& path) {
  const char* folder = std::getenv("KKM_SCHEMA_CHECK_DIR");
  if (folder == nullptr || *folder == '\0') return "KKM_SCHEMA_CHECK_DIR is not set: no schema check";
  static int counter = 0;
  const std::string copy = std::string(folder) + "/" + std::to_string(_getpid()) + "-" + std::to_string(counter++) +
                           ".xml";
  const std::string bytes = readFileBytes(path);
  writeFileBytes(copy, bytes);
  if (readFileBytes(copy) != bytes) return "cannot copy " + path + " to " + copy + " for the schema check";
  return kkmtest::importDataLoadStopper(bytes);
}
#else
// Empty when 1C loads the ImportData file at `path` to the end (its schema
// and its loader); otherwise what stops it.
inline std::string schemaComplaints(const std::string& path) { return kkmtest::importDataComplaints(readFileBytes(path)); }
#endif

}  // namespace reporttest
