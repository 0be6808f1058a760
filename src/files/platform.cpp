#include "files/platform.h"

#include <cerrno>
#include <clocale>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <share.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace platform {

bool localCalendarTime(std::int64_t t, std::tm& out) {
  std::tm tm{};
#ifdef _WIN32
  __time64_t value = t;
  if (_localtime64_s(&tm, &value) != 0) return false;
#else
  std::time_t value = static_cast<std::time_t>(t);
  if (localtime_r(&value, &tm) == nullptr) return false;
#endif
  out = tm;
  return true;
}

std::int64_t now() {
#ifdef _WIN32
  return static_cast<std::int64_t>(_time64(nullptr));
#else
  return static_cast<std::int64_t>(std::time(nullptr));
#endif
}

bool replaceFile(const std::string& source, const std::string& target, std::string& error) {
#ifdef _WIN32
  // The move itself refuses a read-only target on Windows, though not under
  // every emulation of it; asking first gives the same answer everywhere.
  const DWORD attributes = GetFileAttributesA(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    error = "the file is read-only";
    return false;
  }
  if (MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  error = "cannot replace the file (Windows error " + std::to_string(GetLastError()) + ")";
  return false;
#else
  // A read-only file is not replaced, as on Windows (rename ignores the
  // file's own permissions).
  if (access(target.c_str(), F_OK) == 0 && access(target.c_str(), W_OK) != 0) {
    error = "the file is read-only (" + lastErrorText() + ")";
    return false;
  }
  if (std::rename(source.c_str(), target.c_str()) == 0) return true;
  error = lastErrorText();
  return false;
#endif
}

bool flushToDisk(std::FILE* f) {
  if (std::fflush(f) != 0) return false;
#ifdef _WIN32
  return _commit(_fileno(f)) == 0;
#else
  return fsync(fileno(f)) == 0;
#endif
}

std::FILE* openForReading(const std::string& path) {
#ifdef _WIN32
  return _fsopen(path.c_str(), "rb", _SH_DENYNO);
#else
  return std::fopen(path.c_str(), "rb");
#endif
}

std::string lastErrorText() { return std::strerror(errno); }

long processId() {
#ifdef _WIN32
  return static_cast<long>(_getpid());
#else
  return static_cast<long>(getpid());
#endif
}

void trySetLocale(const char* name) { std::setlocale(LC_ALL, name); }

}  // namespace platform
