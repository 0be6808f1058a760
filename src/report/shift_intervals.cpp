#include "report/shift_intervals.h"

#include <set>
#include <string_view>

#include "config/debug_dump.h"
#include "config/settings.h"
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

}  // namespace

std::string getShiftDocs(const std::string& dateFrom, const DocumentQuery& query, std::string& error) {
  return askFor(query, dateFrom, currentTimeText(), kShiftKinds, error);
}

tinyxml2::XMLElement* processOneShiftInterval(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* saleReports,
                                              const ShiftInterval& shift, const DocumentQuery& query,
                                              ImportDataFormat format, ShiftWalkResult& result) {
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

  // The interval queries take the raw dates of the opening and the closing.
  std::string allDocsFromShiftInterval = askFor(query, shift.startDate, shift.endDate, kCheckKinds, result.error);
  if (!result.error.empty()) return nullptr;
  result.checkCount += processChecks(doc, saleReport, allDocsFromShiftInterval, shift.shiftNumber, values);
  allDocsFromShiftInterval = askFor(query, shift.startDate, shift.endDate, kIncomeOutcomeKinds, result.error);
  if (!result.error.empty()) return nullptr;
  processIncomeOutcomeChecks(doc, saleReport, allDocsFromShiftInterval, values);

  // 1C turns ShiftNumber into a number outside any error handling: one that
  // is no whole number would stop its load half-way through the file.
  const char* written = saleReport->Attribute("ShiftNumber");
  const std::string_view number = written != nullptr ? written : "";
  if (number.empty() || number.find_first_not_of("0123456789") != std::string_view::npos) {
    values.shift().mend("ShiftNumber " + shownValue(number) + " is no whole number, written 0");
    saleReport->SetAttribute("ShiftNumber", "0");
  }
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
                           ShiftWalkResult& result, ImportDataFormat format, const SaleReportSink& sink) {
  result = ShiftWalkResult();
  if (lastDocDT == "0") lastDocDT = kFirstDocDT;
  dump("----------start function- processShiftIntervals--------");
  const std::string shiftDocs = getShiftDocs(lastDocDT, query, result.error);
  dump("----------shiftDocs--------", shiftDocs);
  if (!result.error.empty()) return false;

  bool shiftOpen = false;
  ShiftInterval shift;
  std::string openingShiftNumber;
  tinyxml2::XMLElement* saleReports = addElementWithText(doc, importData, "SaleReports", "");
  tinyxml2::XMLElement* handedOver = nullptr;  // the last report the sink took
  std::set<std::string> reportedUuids;
  const bool walked = forEachDocument(shiftDocs, [&](std::string_view oneDocString) {
    // A kind that is missing or no number reads as -1 and is passed over.
    const int kind = getIntFromJSON(oneDocString, "docKind");
    if (kind == kShiftOpeningKind) {
      // A second opening without a closing in between replaces the first.
      shiftOpen = true;
      shift.startDate = getStringFromJSON(oneDocString, "docDt");
      openingShiftNumber = shiftNumberOf(oneDocString);
      dump("----------found--startDate---------", shift.startDate);
      return true;
    }
    if (kind != kShiftClosingKind || !shiftOpen) return true;
    shiftOpen = false;
    if (result.checkCount >= kMaxChecksPerRun) {
      // This run's file is full: the shift waits for the next run.
      ++result.shiftsLeft;
      return true;
    }
    shift.endDate = getStringFromJSON(oneDocString, "docDt");
    shift.closingId = std::string(documentIdOf(oneDocString));
    // The same closing twice in the answer would be one report in 1C, filled
    // twice over: it is taken once.
    if (!reportedUuids.insert(shiftUuid(kkmNum, shift.endDate, shift.closingId)).second) {
      result.warnings.push_back("the shift closing " + shownValue(shift.closingId) + " of " +
                                shownValue(shift.endDate) + " came twice from the service; taken once");
      return true;
    }
    shift.shiftNumber = shiftNumberOf(oneDocString);
    if (shift.shiftNumber.empty()) shift.shiftNumber = openingShiftNumber;
    dump("------------processOneShiftInterval------------------");
    dump("startDate--" + shift.startDate + "----endDate---", shift.endDate);
    if (handedOver != nullptr) {
      // Printed already: it makes room for the next shift.
      doc.DeleteNode(handedOver);
      handedOver = nullptr;
    }
    tinyxml2::XMLElement* saleReport = processOneShiftInterval(doc, saleReports, shift, query, format, result);
    if (saleReport == nullptr) return false;
    if (!result.refusal.empty()) {
      // 1C would refuse the file whole: the run ends in front of this shift.
      result.refusedClosingDate = shift.endDate;
      doc.DeleteNode(saleReport);
      return false;
    }
    ++result.reportCount;
    result.lastClosingDate = shift.endDate;
    if (sink) {
      if (!sink(*saleReport, result.error)) return false;
      handedOver = saleReport;
    }
    return true;
  });
  if (!walked) return !result.refusal.empty() && result.error.empty();
  dump("---------processShiftIntervals before saveLastShiftCloseDate---------");
  return true;
}
