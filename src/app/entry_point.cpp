#include "app/entry_point.h"

#include <string>

#include "app/export_run.h"
#include "cloud/session.h"
#include "config/config_file.h"
#include "config/settings.h"
#include "app/import_run.h"
#include "files/messages.h"

namespace {

// The usage message; the word between "import" and "export" is the Russian
// "or" in Windows-1251, which is what the operators' consoles show.
constexpr const char* kUsage =
    "Need to use 3 parameters - 1.Type: import \xE8\xEB\xE8 export, 2. Full ConfigFileName (with filepath) "
    "3. Full xml filename (with filepath)";

}  // namespace

int runKkmBridge(int argc, const char* const argv[]) {
  if (argc < 4) {
    printErrorLine(kUsage);
    return kExitUsage;
  }
  const std::string mode = argv[1];
  const std::string configFileName = argv[2];
  const std::string fileName = argv[3];

  readInitialPreferences(configFileName);
  if (basicURL.empty()) return kExitNoService;

  std::string loginError;
  // A failed login is said; the run goes on, and its requests say what follows.
  if (!getLoginParams(loginError)) printError(loginError);
  if (mode == "export") return runExport(fileName);
  if (mode == "import") return runImport(fileName, configFileName);
  return kExitUsage;
}
