// Loaded into kkmbridge with LD_PRELOAD: writes each rename (by the folder
// it renamed in), each fsync of a folder, each exclusive lock taken and each
// file opened for reading (by their paths) to the file that KKM_SYNC_TRACE
// names, one line each in the order they happen, so that a test can see
// that every rename reaches the disk before the next step, and what a run
// reads before it holds its lock.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
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

// The path of the open file `fd`, as the system names it; false when unknown.
bool pathOf(int fd, char (&path)[4096]) {
  char link[64];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t got = readlink(link, path, sizeof path - 1);
  if (got <= 0) return false;
  path[got] = '\0';
  return true;
}

using OpenFunction = int (*)(const char*, int, ...);

int tracedOpen(const char* name, const char* path, int flags, va_list args) {
  mode_t mode = 0;
  if ((flags & O_CREAT) != 0) mode = va_arg(args, mode_t);
  auto real = reinterpret_cast<OpenFunction>(dlsym(RTLD_NEXT, name));
  const int fd = real(path, flags, mode);
  char full[4096];
  if (fd >= 0 && (flags & O_ACCMODE) == O_RDONLY && (flags & O_DIRECTORY) == 0 && pathOf(fd, full))
    note("open-read", full);
  return fd;
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const int fd = tracedOpen("open", path, flags, args);
  va_end(args);
  return fd;
}

int open64(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const int fd = tracedOpen("open64", path, flags, args);
  va_end(args);
  return fd;
}

int flock(int fd, int operation) {
  auto real = reinterpret_cast<int (*)(int, int)>(dlsym(RTLD_NEXT, "flock"));
  const int result = real(fd, operation);
  char path[4096];
  if (result == 0 && (operation & LOCK_EX) != 0 && pathOf(fd, path)) note("lock", path);
  return result;
}

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
    char path[4096];
    if (pathOf(fd, path)) note("fsync-folder", path);
  }
  return real(fd);
}

}  // extern "C"
