#include "app/run_report.h"

const char* outcomeText(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kOk: return "ok";
    case RunOutcome::kNothingToDo: return "nothing to do";
    case RunOutcome::kSkipped: return "skipped: another run";
    case RunOutcome::kFailed: break;
  }
  return "failed";
}
