// Small file helpers for tests: a scratch folder per test and whole-file
// reads and writes in binary mode.
#pragma once

#include <chrono>
#include <functional>
#include <string>

// A fresh, empty folder under the system's temporary folder, removed with
// everything in it when the object goes away.
class ScopedTempDir {
 public:
  ScopedTempDir();
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  const std::string& path() const { return path_; }
  // `name` inside the folder.
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Makes the process's working directory a scratch folder for the object's
// lifetime (log and dump files land there), then returns to the old one.
class ScopedWorkingDir {
 public:
  explicit ScopedWorkingDir(const std::string& path);
  ~ScopedWorkingDir();
  ScopedWorkingDir(const ScopedWorkingDir&) = delete;
  ScopedWorkingDir& operator=(const ScopedWorkingDir&) = delete;

 private:
  std::string previous_;
};

std::string readFileBytes(const std::string& path);
void writeFileBytes(const std::string& path, const std::string& bytes);
bool fileExists(const std::string& path);
// Waits until `path` exists; false when `timeout` passes first.
bool waitForFile(const std::string& path, std::chrono::milliseconds timeout);

// Runs `body` in a child process that has given up root's rights (when the
// tests run as root), so that file permissions apply to it. Returns 0 when
// `body` returned true, 1 when it returned false, and -1 when the child
// could not be run.
int runUnprivileged(const std::function<bool()>& body);

// A copy of the program at `program` that a process without root's rights
// can run wherever the build lives (a clone in a private folder, such as
// root's home, is out of its reach): made once, in a folder of its own under
// the system's temporary folder, readable and runnable by everyone.
const std::string& reachableCopyOf(const std::string& program);
