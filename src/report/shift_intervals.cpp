#include "report/shift_intervals.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <string_view>

#include "config/settings.h"
#include "files/debug_dump.h"
#include "report/check_lists.h"
#include "report/shift_uuid.h"
#include "report/value_rules.h"
#include "report/xml_elements.h"
#include "text/date_time.h"
#include "text/json_scanner.h"

namespace {

constexpr const char* kWalkDump = "processOneShiftInterval.json";

// ShiftState of a closed shift.
constexpr const char* kClosedShiftState = "2";

// One dump entry: `label` followed directly by `value`; put together only
// when the dump is written.
void dump(std::string_view label, std::string_view value = {}) {
  if (!debugOn()) return;
  std::string text;
  text.reserve(label.size() + value.size());
  text.append(label).append(value);
  debugDump(kWalkDump, "", text);
}

// Runs `query`; a failed query's list is never used.
std::string askFor(const DocumentQuery& query, const std::string& dateFrom, const std::string& dateTo,
                   const std::string& kinds, std::string& error) {
  error.clear();
  std::string docs = query(dateFrom, dateTo, kinds, error);
  if (!error.empty()) docs.clear();
  return docs;
}

// The documents of an interval answer that belong to `shift`: those dated
// after its span's start up to and including its closing (the service's
// range includes both ends, and a service may ignore it), and those whose
// date cannot be read (they stay with the interval they were answered for);
// each id once in the run. The list comes back unchanged when all belong.
std::string keptDocuments(std::string docs, const ShiftInterval& shift, const char* kinds, DocumentIds& seen,
                          std::vector<std::string>& warnings) {
  std::vector<std::string_view> kept;
  std::size_t total = 0;
  forEachDocument(docs, [&](std::string_view oneDocString) {
    ++total;
    const std::int64_t instant = serviceInstant(getStringFromJSON(oneDocString, "docDt"));
    if (instant >= 0 && (instant <= shift.after || instant > shift.upTo)) return;
    const std::string_view id = documentIdOf(oneDocString);
    if (!id.empty() && !seen.insert(std::string(id)).second) {
      warnings.push_back("document id " + std::string(id) + " (kinds " + kinds + ") came twice from the service" +
                         " for the shift closed \"" + shift.endDate + "\"; taken once");
      return;
    }
    kept.push_back(oneDocString);
  });
  if (kept.size() == total) return docs;
  std::string joined;
  for (const std::string_view one : kept) (joined.empty() ? joined : joined.append(",")).append(one);
  return joined;
}

// One opening or closing of the shift query's answer.
struct ShiftDocument {
  int kind = 0;
  std::string id;             // as the service gives it
  std::string docDt;
  bool dated = false;         // docDt can be read
  std::int64_t instant = -1;  // when docDt cannot be read: that of the document before it in the answer
  std::string shiftNumber;    // whole-number t1038, "" when none
  std::string oddNumber;      // a t1038 that is no whole number
};

// The shift documents of `shiftDocs` in the order of their dates (stable
// for equal ones), each id once.
std::vector<ShiftDocument> shiftDocumentsByDate(std::string_view shiftDocs, std::int64_t from,
                                                std::vector<std::string>& warnings) {
  std::vector<ShiftDocument> docs;
  DocumentIds ids;
  std::int64_t lastKnown = from;
  forEachDocument(shiftDocs, [&](std::string_view oneDocString) {
    // A kind that is missing or no number reads as -1 and is passed over.
    const int kind = getIntFromJSON(oneDocString, "docKind");
    if (kind != kShiftOpeningKind && kind != kShiftClosingKind) return;
    const std::string_view id = documentIdOf(oneDocString);
    if (!id.empty() && !ids.insert(std::string(id)).second) {
      warnings.push_back("shift document id " + std::string(id) + " came twice from the service; taken once");
      return;
    }
    ShiftDocument doc;
    doc.kind = kind;
    doc.id = std::string(id);
    doc.docDt = getStringFromJSON(oneDocString, "docDt");
    doc.instant = serviceInstant(doc.docDt);
    doc.dated = doc.instant >= 0;
    if (!doc.dated)
      doc.instant = lastKnown;
    else
      lastKnown = doc.instant;
    doc.shiftNumber = shiftNumberOf(oneDocString, doc.oddNumber);
    docs.push_back(std::move(doc));
  });
  std::stable_sort(docs.begin(), docs.end(),
                   [](const ShiftDocument& a, const ShiftDocument& b) { return a.instant < b.instant; });
  return docs;
}

std::int64_t steadySeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

std::string getShiftDocs(const std::string& dateFrom, const DocumentQuery& query, std::string& error) {
  return askFor(query, dateFrom, currentTimeText(), kShiftKinds, error);
}

tinyxml2::XMLElement* processOneShiftInterval(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* saleReports,
                                              const ShiftInterval& shift, const DocumentQuery& query,
                                              ImportDataFormat format, ShiftWalkResult& result, DocumentIds& seen) {
  tinyxml2::XMLElement* saleReport = addElementWithText(doc, saleReports, "SaleReport", "");
  ValueNotes notes;
  const std::string closingDate =
      dateValue(convertDateTimeTo1C(shift.endDate), shift.endDate, "ClosingDate", "", notes);
  const std::string openingDate =
      dateValue(convertDateTimeTo1C(shift.startDate), shift.startDate, "OpeningDate", closingDate, notes);
  saleReport->SetAttribute("OpeningDate", openingDate.c_str());
  saleReport->SetAttribute("ClosingDate", closingDate.c_str());
  ShiftValues values(closingDate);
  values.shift() = std::move(notes);

  // The interval queries ask for the whole span, from the closing before.
  std::string allDocsFromShiftInterval = askFor(query, shift.spanStart, shift.endDate, kCheckKinds, result.error);
  if (!result.error.empty()) return nullptr;
  allDocsFromShiftInterval =
      keptDocuments(std::move(allDocsFromShiftInterval), shift, kCheckKinds, seen, result.warnings);
  result.checkCount += processChecks(doc, saleReport, allDocsFromShiftInterval, shift.shiftNumber, values);
  allDocsFromShiftInterval = askFor(query, shift.spanStart, shift.endDate, kIncomeOutcomeKinds, result.error);
  if (!result.error.empty()) return nullptr;
  allDocsFromShiftInterval =
      keptDocuments(std::move(allDocsFromShiftInterval), shift, kIncomeOutcomeKinds, seen, result.warnings);
  processIncomeOutcomeChecks(doc, saleReport, allDocsFromShiftInterval, values);

  const std::string uuid = shiftUuid(kkmNum, shift.endDate, shift.closingId);
  if (uuid.empty()) values.shift().refuse("no UUID can be made for it (SHA-1 failed)");
  saleReport->SetAttribute("UUID", uuid.c_str());
  if (shiftStateIsAttribute(format))
    saleReport->SetAttribute("ShiftState", kClosedShiftState);
  else
    addElementWithText(doc, saleReport, "ShiftState", kClosedShiftState);

  const std::string shiftName = std::string("shift ") + saleReport->Attribute("ShiftNumber") + " (opened \"" +
                                openingDate + "\", closed \"" + closingDate + "\")";
  values.collect(shiftName, result.warnings, result.refusal);
  return saleReport;
}

bool processShiftIntervals(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* importData, const DocumentQuery& query,
                           ShiftWalkResult& result, ImportDataFormat format, const SaleReportSink& sink,
                           const WalkLimits& limits) {
  result = ShiftWalkResult();
  const std::function<std::int64_t()> clock = limits.clock ? limits.clock : steadySeconds;
  const std::int64_t startedAt = clock();
  // "0" is the very beginning: its first instant is taken too.
  const bool fromTheStart = lastDocDT == "0";
  const std::string from = fromTheStart ? std::string(kFirstDocDT) : lastDocDT;
  const std::int64_t fromInstant = fromTheStart ? serviceInstant(kFirstDocDT) - 1 : serviceInstant(from);
  dump("----------start function- processShiftIntervals--------");
  const std::string shiftDocs = getShiftDocs(from, query, result.error);
  dump("----------shiftDocs--------", shiftDocs);
  if (!result.error.empty()) return false;
  const std::vector<ShiftDocument> byDate = shiftDocumentsByDate(shiftDocs, fromInstant, result.warnings);

  tinyxml2::XMLElement* saleReports = addElementWithText(doc, importData, "SaleReports", "");
  tinyxml2::XMLElement* handedOver = nullptr;  // the last report the sink took
  DocumentIds seen;
  ShiftInterval shift;
  shift.spanStart = from;
  shift.after = fromInstant;
  const ShiftDocument* opening = nullptr;  // the latest opening inside the current span
  bool full = false;
  for (const ShiftDocument& one : byDate) {
    // An opening or closing not later than the span's start belongs to a
    // shift reported already, by this run or an earlier one. One without a
    // readable date stays where the service put it.
    if (one.dated && one.instant <= shift.after) continue;
    if (one.kind == kShiftOpeningKind) {
      opening = &one;
      dump("----------found--startDate---------", one.docDt);
      continue;
    }
    if (!full && result.checkCount >= limits.maxChecks) full = true;
    // The first shift is always taken, however slow the service: a run
    // that takes none would never get on.
    if (!full && result.reportCount > 0 && clock() - startedAt >= limits.maxSeconds)
      full = result.timeLimitReached = true;
    if (full) {
      // This run has taken its share: the shift waits for the next run.
      ++result.shiftsLeft;
      shift.after = one.instant;
      continue;
    }
    shift.startDate = opening != nullptr ? opening->docDt : shift.spanStart;
    shift.endDate = one.docDt;
    shift.closingId = one.id;
    // A closing without a readable date ends its span nowhere: the
    // documents after the span's start all stay with it.
    shift.upTo = one.dated ? one.instant : std::numeric_limits<std::int64_t>::max();
    shift.shiftNumber = one.shiftNumber;
    if (shift.shiftNumber.empty() && opening != nullptr) shift.shiftNumber = opening->shiftNumber;
    for (const ShiftDocument* source : {&one, opening})
      if (source != nullptr && !source->oddNumber.empty())
        result.warnings.push_back("the shift closed \"" + one.docDt + "\": its " +
                                  (source == &one ? "closing" : "opening") + " carries the shift number " +
                                  shownValue(source->oddNumber) + ", which is no whole number; passed over");
    dump("------------processOneShiftInterval------------------");
    dump("startDate--" + shift.startDate + "----endDate---", shift.endDate);
    if (handedOver != nullptr) {
      // Printed already: it makes room for the next shift.
      doc.DeleteNode(handedOver);
      handedOver = nullptr;
    }
    tinyxml2::XMLElement* saleReport =
        processOneShiftInterval(doc, saleReports, shift, query, format, result, seen);
    if (saleReport == nullptr) return false;
    if (!result.refusal.empty()) {
      // 1C would refuse the file whole: the run ends in front of this shift.
      result.refusedClosingDate = shift.endDate;
      doc.DeleteNode(saleReport);
      break;
    }
    ++result.reportCount;
    result.lastClosingDate = one.docDt;
    if (sink) {
      if (!sink(*saleReport, result.error)) return false;
      handedOver = saleReport;
    }
    shift.spanStart = one.docDt;
    shift.after = one.instant;
    opening = nullptr;
  }
  dump("---------processShiftIntervals before saveLastShiftCloseDate---------");
  return true;
}
