#include "files/run_log.h"

#include "platform/platform.h"

void appendRunLogLine(const std::string& path, std::string_view line) {
  if (path.empty()) return;
  if (platform::fileSize(path) >= kRunLogCap) {
    std::string ignored;
    platform::replaceFile(path, path + ".1", ignored);
  }
#ifdef _WIN32
  std::string text(line);
  text += "\r\n";
#else
  std::string text(line);
  text += '\n';
#endif
  platform::appendInOneWrite(path, text);
}
