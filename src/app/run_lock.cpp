#include "app/run_lock.h"

#include "files/paths.h"

std::string lockFileFor(const std::string& fileName) {
  return folderOf(fileName) + "~kkmbridge-" + nameOf(fileName) + ".lock";
}
