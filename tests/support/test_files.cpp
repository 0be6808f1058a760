#include "test_files.h"

#ifdef _WIN32
#include <process.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

ScopedTempDir::ScopedTempDir() {
#ifdef _WIN32
  // A name no other folder has: this process's id, a counter, and a retry
  // when the folder is there all the same.
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    const fs::path candidate = fs::temp_directory_path() / ("kkmtest-" + std::to_string(_getpid()) + "-" +
                                                            std::to_string(counter++));
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) path_ = candidate.u8string();
  }
  if (path_.empty()) throw std::runtime_error("cannot create a temporary folder");
#else
  std::string pattern = (fs::temp_directory_path() / "kkmtest-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
#endif
}

ScopedTempDir::~ScopedTempDir() {
  std::error_code ec;
  // Folders a test made read-only must become writable again to be removed.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (it->is_directory(ec)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

// Paths are UTF-8, as in the program; on Windows they reach the system in
// UTF-16 through std::filesystem.
ScopedWorkingDir::ScopedWorkingDir(const std::string& path) : previous_(fs::current_path().u8string()) {
  fs::current_path(fs::u8path(path));
}

ScopedWorkingDir::~ScopedWorkingDir() {
  std::error_code ec;
  fs::current_path(fs::u8path(previous_), ec);
}

std::string readFileBytes(const std::string& path) {
  std::ifstream in(fs::u8path(path), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(fs::u8path(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool fileExists(const std::string& path) { return fs::exists(fs::u8path(path)); }

bool waitForFile(const std::string& path, std::chrono::milliseconds timeout) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  while (!fileExists(path)) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  return true;
}

const std::string& reachableCopyOf(const std::string& program) {
  static std::map<std::string, std::string> copies;
  std::string& copy = copies[program];
  if (!copy.empty()) return copy;
  static ScopedTempDir folder;  // removed when the tests end
  fs::permissions(folder.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                     fs::perms::others_read | fs::perms::others_exec);
  copy = folder.file(fs::path(program).filename().string());
  fs::copy_file(program, copy, fs::copy_options::overwrite_existing);
  fs::permissions(copy, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                            fs::perms::others_exec);
  return copy;
}

#ifdef _WIN32
// Windows has no such switch for a running process.
int runUnprivileged(const std::function<bool()>&) { return -1; }
#else
int runUnprivileged(const std::function<bool()>& body) {
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
    _exit(body() ? 0 : 1);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  const int code = WEXITSTATUS(status);
  return code <= 1 ? code : -1;
}
#endif
