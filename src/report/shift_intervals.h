// Shift intervals: the register's shift openings and closings cut into closed
// shifts, one SaleReport each with the shift's checks and income/outcome
// checks.
#pragma once

#include <tinyxml2.h>

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

#include "cloud/document_kinds.h"
#include "report/xml_elements.h"

// lastDocDT "0" means from the very beginning, which is this date.
inline constexpr const char* kFirstDocDT = "2020-03-01T00:00:00.000+0000";

// Asks for the register's documents of `kinds` dated from `dateFrom` to
// `dateTo` and returns the document list (objects each beginning {"id":,
// "" when there is none). When the query fails (no complete answer, an error
// status) `error` is set to one line naming the query and the reason, and the
// list must not be used; otherwise `error` is left empty.
using DocumentQuery = std::function<std::string(const std::string& dateFrom, const std::string& dateTo,
                                                const std::string& kinds, std::string& error)>;

// A run takes whole shifts into its file only while the file holds fewer
// checks than this; the shift that reaches it is the run's last, and the
// next run goes on from its closing. A register that was offline for months
// would otherwise bring more checks than one process can hold, and fail on
// every run for ever.
inline constexpr int kMaxChecksPerRun = 50000;

// Nor does a run start another shift once it has taken shifts for this
// long: a scheduler's time limit (an hour is recommended) would otherwise
// kill every run of a long backlog before it commits anything.
inline constexpr std::int64_t kMaxWalkSeconds = 20 * 60;

// Where a walk stops taking shifts, and the clock it measures its time by
// (seconds, any steady origin; the process's steady clock when empty).
struct WalkLimits {
  int maxChecks = kMaxChecksPerRun;
  std::int64_t maxSeconds = kMaxWalkSeconds;
  std::function<std::int64_t()> clock;
};

// What the walk handed back.
struct ShiftWalkResult {
  int reportCount = 0;          // SaleReport elements written
  int checkCount = 0;           // Check elements written, all shifts together
  int shiftsLeft = 0;           // closed shifts left for the next run by the check or time limit
  bool timeLimitReached = false;  // the walk stopped at kMaxWalkSeconds
  std::string lastClosingDate;  // raw docDt of the latest closing reported; "" when none (or it had none)
  std::string error;            // set when a query failed: the document must not be saved
  // Values mended on the way (control bytes dropped, a quantity that is no
  // number, a date taken from the shift), one line per shift, check or
  // income/outcome check, each naming them.
  std::vector<std::string> warnings;
  // The first value that 1C's schema refuses and that has no plain mending
  // (a sum of more than 15 digits, a code of more than 36 characters), with
  // its shift and check; "" when none. The document must not be saved.
  std::string refusal;
  // Set with `refusal`: the raw docDt of the refused shift's closing. The
  // walk stops in front of that shift, whose SaleReport is taken out again,
  // and the shifts before it stand.
  std::string refusedClosingDate;
};

// One closed shift: the span of time it covers, the raw docDt texts of its
// opening and closing, and the shift number that their documents carry.
struct ShiftInterval {
  std::string spanStart;    // raw date the span begins after: the previous closing, or where the run began
  std::string startDate;    // raw docDt of the latest opening inside the span; spanStart when there is none
  std::string endDate;      // raw docDt of the closing
  std::string shiftNumber;  // the closing's t1038, else the opening's; "" when neither is a whole number
  // The span as instants (milliseconds, serviceInstant): a document belongs
  // to the shift when it is dated after `after`, up to and including `upTo`.
  std::int64_t after = -1;
  std::int64_t upTo = -1;
  std::string closingId;    // the closing document's id as the service gives it (for the shift's UUID)
};

// The ids of the documents a run has taken so far.
using DocumentIds = std::unordered_set<std::string>;

// Takes each SaleReport as soon as it is complete (to print it). The walk
// then takes the report out of the document before it builds the next one,
// so that memory holds one shift at a time. Returns false, with `error` set,
// to stop the walk.
using SaleReportSink = std::function<bool(tinyxml2::XMLElement& saleReport, std::string& error)>;

// The shift openings and closings from `dateFrom` up to now.
std::string getShiftDocs(const std::string& dateFrom, const DocumentQuery& query, std::string& error);

// Writes one SaleReport under `saleReports` for `shift`: its dates (a
// closing date that cannot be read is refused; an opening date that cannot
// be read becomes the closing date), the checks and income/outcome checks
// that `query` finds for its span, its UUID (shiftUuid of the kkmNum setting
// and the closing), and ShiftState 2 as `format` places it.
// Of each answer it takes the documents dated inside the span (and those
// whose date cannot be read) whose id is not in `seen` yet, and adds their
// ids there; a document given again gets a warning. Returns the SaleReport
// and adds its checks to `result.checkCount`, its mended values to
// `result.warnings` and its first refused value, if `result.refusal` is
// still "", there; returns null, with `result.error` set, when a query
// failed (the SaleReport is then incomplete).
tinyxml2::XMLElement* processOneShiftInterval(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* saleReports,
                                              const ShiftInterval& shift, const DocumentQuery& query,
                                              ImportDataFormat format, ShiftWalkResult& result, DocumentIds& seen);

// Adds SaleReports under `importData` and one SaleReport per shift closed
// after the lastDocDT setting ("0": from kFirstDocDT on; the setting is only
// read). The shift documents are taken in the order of their dates, whatever
// order the service gives them in. Each closing dated after lastDocDT and
// after the closing before it ends a shift, which covers every document
// dated after that earlier closing (for the first, after lastDocDT) up to
// and including its own; its OpeningDate is the latest opening inside that
// span. A closing not later than one already reported is never reported
// again, and a shift still open at the end waits for the next run. Stores
// nothing: the latest closing reported comes back in `result` for the caller
// to store once the document is saved. Takes shifts only while fewer than
// `limits.maxChecks` checks are written and for at most `limits.maxSeconds`;
// the closed shifts after that are counted in `result.shiftsLeft`. The
// reports are written in `format`. Each finished SaleReport goes to `sink`
// when one is given (else it stays in the document). Returns false when a
// query failed or the sink refused (the walk stops at once; `result.error`
// says which and why). A shift holding a value that 1C refuses ends the walk
// in front of it: its SaleReport is taken out, it is not counted, and
// `result.refusal` and `result.refusedClosingDate` say which it is; the walk
// still returns true.
bool processShiftIntervals(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* importData, const DocumentQuery& query,
                           ShiftWalkResult& result, ImportDataFormat format, const SaleReportSink& sink,
                           const WalkLimits& limits = WalkLimits());
