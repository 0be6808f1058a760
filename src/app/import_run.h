// The import run: the register's fiscal documents since lastDocDT become
// the ImportData file 1C loads, and lastDocDT moves past them.
#pragma once

#include <string>

#include "app/run_report.h"
#include "config/config_file.h"
#include "report/shift_intervals.h"

// Runs the import once with the documents coming from `query`: looks at the
// exchange file first (a report 1C has not loaded yet is never replaced, a
// file that is not ours never touched), reads the import settings from
// `configuration` (the file as this run read it; lastDocDT and the commit
// record are stored back into its file), writes the ImportData file `fileName` atomically, in the
// format that formatVersion names, and only then moves lastDocDT. All or
// nothing: when a query fails or a file cannot be written, nothing is
// changed (an exchange file whose shifts could not be booked is taken
// back). A shift holding a value that would make 1C refuse the file ends the
// run in front of it: the shifts before it are written (a warning says how
// to move past it), and when it is the first, nothing is. Without any
// closed shift no file is written. Reports on standard output or, for a failure, standard error, one
// line each; values mended on the way get a warning each, and so does a
// goods file of 1C's beside the exchange file that is in the other format.
// Returns kExitOk, kExitRunFailed, or kExitUnusableConfig for a formatVersion it
// does not write.
// When `report` is given it receives what the run did, for the run log.
int runImport(const std::string& fileName, const Configuration& configuration, const DocumentQuery& query,
              RunReport* report);

// The same against the service (getAllDocsByKind).
int runImport(const std::string& fileName, const Configuration& configuration, RunReport* report);

// The goods file 1C writes beside the exchange file `fileName`:
// ExportData.xml beside ImportData.xml (ExportData_1.xml beside
// ImportData_1.xml).
std::string exportDataBeside(const std::string& fileName);

// Why `value` is no bookmark (lastDocDT, pendingPreviousDocDT) a run can go
// on from: "" for "0" (from the beginning) or a service date-time no more
// than a day ahead of this machine's clock; otherwise the reason ("is no
// date", "lies more than a day ahead ...").
std::string bookmarkProblem(const std::string& value);

// What a run does with the record of a commit an earlier run began and did
// not finish (it was killed, or the power went) on the exchange file
// `fileName`, where `recordedDocDT` is the lastDocDT stored with the record.
// Decided from the files alone; nothing is changed.
struct CommitPlan {
  enum class Step {
    kFinish,   // the temporary file is that run's and the slot is free: it is renamed into place
    kConfirm,  // the exchange file is the one that run wrote, or 1C has loaded that one since
    kUndo,     // lastDocDT goes back, and those shifts are written again
  };
  Step step = Step::kUndo;
  bool removeTemporary = false;   // the temporary file is removed (not put in place)
  bool plantedTemporary = false;  // something else than that run's file stands under its name
};
CommitPlan planPendingCommit(const std::string& fileName, const PendingCommit& record, const std::string& recordedDocDT);
