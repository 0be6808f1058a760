#include "files/run_log.h"

#include "files/messages.h"
#include "files/secret_mask.h"
#include "platform/platform.h"

void appendRunLogLine(const std::string& path, std::string_view line) {
  if (path.empty()) return;
#ifdef _WIN32
  std::string text = maskSecrets(line);
  text += "\r\n";
#else
  std::string text = maskSecrets(line);
  text += '\n';
#endif
  std::string error;
  if (!platform::appendToRotatedLog(path, text, kRunLogCap, error))
    printError("run log " + path + " not written: " + error);
}
