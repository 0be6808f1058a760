#include "app/run_lock.h"

#include "files/atomic_file.h"

std::string lockFileFor(const std::string& fileName) {
  return folderOf(fileName) + "~kkmbridge-" + nameOf(fileName) + ".lock";
}
