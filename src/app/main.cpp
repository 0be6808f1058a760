#include <string>
#include <vector>

#include "app/entry_point.h"
#include "files/messages.h"
#include "platform/platform.h"

int main(int argc, char* argv[]) {
  // The arguments as UTF-8, whatever the system's code page could spell.
  std::vector<std::string> args;
  std::string error;
  if (!platform::commandLineArguments(argc, argv, args, error)) {
    printError(error + "; nothing done");
    return kExitUsage;
  }
  std::vector<const char*> pointers;
  for (const std::string& arg : args) pointers.push_back(arg.c_str());
  pointers.push_back(nullptr);
  return runKkmBridge(static_cast<int>(args.size()), pointers.data());
}
