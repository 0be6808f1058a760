// Loaded into kkmbridge with LD_PRELOAD: writes each rename (by the folder
// it renamed in) and each fsync of a folder (by its path) to the file that
// KKM_SYNC_TRACE names, one line each in the order they happen, so that a
// test can see that every rename reaches the disk before the next step.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void note(const char* what, const char* path) {
  const char* trace = getenv("KKM_SYNC_TRACE");
  if (trace == nullptr) return;
  char line[8192];
  const int n = snprintf(line, sizeof line, "%s %s\n", what, path);
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof line) return;
  const int fd = open(trace, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return;
  if (write(fd, line, static_cast<std::size_t>(n)) != n) {
  }
  close(fd);
}

}  // namespace

extern "C" {

int rename(const char* from, const char* to) {
  auto real = reinterpret_cast<int (*)(const char*, const char*)>(dlsym(RTLD_NEXT, "rename"));
  const int result = real(from, to);
  if (result == 0) {
    char full[4096];
    // The folder as the system names it, for a comparison with fsync's.
    char folder[4096];
    snprintf(folder, sizeof folder, "%s", to);
    char* slash = strrchr(folder, '/');
    if (slash != nullptr) *slash = '\0';
    if (realpath(slash != nullptr ? folder : ".", full) != nullptr) note("rename-in", full);
  }
  return result;
}

int fsync(int fd) {
  auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
  struct stat info;
  if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    char link[64];
    char path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t got = readlink(link, path, sizeof path - 1);
    if (got > 0) {
      path[got] = '\0';
      note("fsync-folder", path);
    }
  }
  return real(fd);
}

}  // extern "C"
