#include "config/debug_dump.h"

#include "config/settings.h"
#include "files/log.h"

void debugDump(const std::string& file, std::string_view label, std::string_view text) {
  if (!debugOn()) return;
  if (!label.empty()) writeLog(file, label);
  writeLog(file, text);
}
