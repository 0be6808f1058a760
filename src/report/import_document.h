// The ImportData exchange file: the sales reports that 1C loads, one per
// closed shift, and what an existing exchange file holds.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "report/shift_intervals.h"

// What an existing exchange file holds, as far as replacing it is concerned.
enum class ExchangeFileState {
  kMissing,        // no file: may be written
  kEmpty,          // 0 bytes: may be replaced
  kProcessedStub,  // ImportData with Processed: 1C has loaded it, may be replaced
  kNoSaleReport,   // ImportData without any SaleReport: may be replaced
  kNotLoaded,      // ImportData without Processed holding sales reports: 1C has yet to load it
  kForeign,        // not XML, or a root other than ImportData: not ours to replace
  kUnreadable,     // exists but cannot be read
};

struct ExchangeFileCheck {
  ExchangeFileState state = ExchangeFileState::kMissing;
  std::string content;          // the file's bytes as found; empty when missing
  std::string reason;           // why the file is kForeign or kUnreadable
  std::string lastClosingDate;  // ClosingDate of its last SaleReport (kNotLoaded)

  // Whether an import may put its own file in this one's place.
  bool replaceable() const {
    return state == ExchangeFileState::kMissing || state == ExchangeFileState::kEmpty ||
           state == ExchangeFileState::kProcessedStub || state == ExchangeFileState::kNoSaleReport;
  }
};

// Reads the exchange file `fileName` and tells what it holds.
ExchangeFileCheck inspectExchangeFile(const std::string& fileName);

// What building the ImportData file came to.
struct ImportDocumentResult {
  enum class Outcome {
    kWritten,    // the file holds one SaleReport or more
    kNothingNew, // no closed shift: nothing was printed
    kFailed,     // a query failed, or the first shift is refused: what was printed must not be kept
  };
  Outcome outcome = Outcome::kNothingNew;
  ShiftWalkResult walk;  // counts, the last reported closing, shifts left for later, mended values
  std::string error;     // why, when kFailed: a failed query, or a value 1C refuses
};

// Builds the ImportData document from the documents `query` finds since the
// lastDocDT setting and prints it into `out`, one SaleReport at a time, in
// the library's indented layout (the same bytes as printing the whole
// document), in `format`. Without any closed shift nothing is printed. A
// shift holding a value that 1C's schema refuses is not printed and ends the
// building in front of it (`walk.refusal` names the shift, the check and the
// value, `walk.refusedClosingDate` its closing); when it is the first shift
// nothing is printed and the building is kFailed with that `error`.
// Stores nothing: the caller keeps the file and moves lastDocDT.
ImportDocumentResult writeImportDataXML(std::FILE* out, const DocumentQuery& query, ImportDataFormat format);
