// What a run did, for its line in the run log.
#pragma once

#include <string>

enum class RunOutcome {
  kOk,           // it did its work
  kNothingToDo,  // there was nothing to send or report
  kSkipped,      // another run on the same exchange file was under way
  kFailed,       // it failed; the first error line says why
};

struct RunReport {
  RunOutcome outcome = RunOutcome::kFailed;
  std::string did;  // what it did, in a few words ("3 shift(s) with 40 check(s) written")
};

// The outcome as the run log writes it.
const char* outcomeText(RunOutcome outcome);
