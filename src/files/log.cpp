#include "files/log.h"

#include <cstdio>
#include <set>

#include "files/messages.h"
#include "files/secret_mask.h"
#include "platform/platform.h"
#include "text/date_time.h"

int writeLog(const std::string& fileName, std::string_view text) {
  // The operators' machines run a Russian locale; where it does not exist
  // the attempt is simply ignored.
  platform::trySetLocale("Russian");
  std::string error;
  std::FILE* out = platform::openForAppending(fileName, error);
  if (out == nullptr) {
    // Said once per file: a dump is written many times in a run.
    static std::set<std::string> refused;
    if (refused.insert(fileName).second)
      printWarning("debug log " + fileName + " not written: " + error + "; the run goes on without it");
    return 0;
  }
  const std::string stamp = currentTimeText() + " --- ";
  std::fwrite(stamp.data(), 1, stamp.size(), out);
  writeMasked(out, text);
  std::fputc('\n', out);
  std::fclose(out);
  return 0;
}
