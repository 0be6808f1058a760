#include "files/log.h"

#include <cstdio>

#include "platform/platform.h"
#include "text/date_time.h"

int writeLog(const std::string& fileName, std::string_view text) {
  // The operators' machines run a Russian locale; where it does not exist
  // the attempt is simply ignored.
  platform::trySetLocale("Russian");
  std::string error;
  std::FILE* out = platform::openForAppending(fileName, error);
  if (out == nullptr) return 0;
  const std::string stamp = currentTimeText() + " --- ";
  std::fwrite(stamp.data(), 1, stamp.size(), out);
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), out);
  std::fputc('\n', out);
  std::fclose(out);
  return 0;
}
