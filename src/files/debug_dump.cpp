#include "files/debug_dump.h"

#include "files/log.h"

namespace {
bool (*dumpSwitch)() = nullptr;
}  // namespace

void setDumpSwitch(bool (*dumpsOn)()) { dumpSwitch = dumpsOn; }

void debugDump(const std::string& file, std::string_view label, std::string_view text) {
  if (dumpSwitch == nullptr || !dumpSwitch()) return;
  if (!label.empty()) writeLog(file, label);
  writeLog(file, text);
}
