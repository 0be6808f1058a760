#ifdef _WIN32
#define _CRT_RAND_S  // rand_s: the system's random numbers, asked for before <stdlib.h> comes in
#endif

#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <random>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>
#else
#include <openssl/evp.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
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

OpenResult openForReading(const std::string& path, std::FILE*& file, std::string& error) {
  errno = 0;
#ifdef _WIN32
  std::FILE* f = _fsopen(path.c_str(), "rb", _SH_DENYNO);
#else
  std::FILE* f = std::fopen(path.c_str(), "rb");
#endif
  if (f != nullptr) {
    file = f;
    return OpenResult::kOpened;
  }
  if (errno == ENOENT) return OpenResult::kMissing;
  error = lastErrorText();
  return OpenResult::kFailed;
}

long long regularFileSize(std::FILE* f) {
#ifdef _WIN32
  struct _stat64 info {};
  if (_fstat64(_fileno(f), &info) != 0 || (info.st_mode & _S_IFREG) == 0) return -1;
#else
  struct stat info {};
  if (fstat(fileno(f), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
#endif
  return static_cast<long long>(info.st_size);
}

std::FILE* createExclusive(const std::string& path, const std::string& modelPath, std::string& error) {
#ifdef _WIN32
  (void)modelPath;  // a new file takes the folder's permissions there
  // CREATE_NEW fails on any existing name, and a reparse point (a link) is
  // opened as itself, never followed.
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = "cannot create the file (Windows error " + std::to_string(GetLastError()) + ")";
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY | _O_WRONLY);
  if (fd < 0) {
    CloseHandle(h);
    DeleteFileA(path.c_str());
    error = "cannot use the new file";
    return nullptr;
  }
  std::FILE* f = _fdopen(fd, "wb");
  if (f == nullptr) {
    _close(fd);
    DeleteFileA(path.c_str());
    error = "cannot use the new file";
  }
  return f;
#else
  struct stat model {};
  const bool hasModel = !modelPath.empty() && stat(modelPath.c_str(), &model) == 0 && S_ISREG(model.st_mode);
  // Created private; widened to the model's bits below, never beyond them.
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, hasModel ? 0600 : 0666);
  if (fd < 0) {
    error = lastErrorText();
    return nullptr;
  }
  if (hasModel) {
    struct stat mine {};
    if (fstat(fd, &mine) == 0 && (mine.st_uid != model.st_uid || mine.st_gid != model.st_gid)) {
      // Only root may give a file away; a failure keeps the file ours, which is no wider.
      if (fchown(fd, model.st_uid, model.st_gid) != 0) {
      }
    }
    if (fchmod(fd, model.st_mode & 07777) != 0) {
      error = "cannot set its permissions: " + lastErrorText();
      close(fd);
      unlink(path.c_str());
      return nullptr;
    }
  }
  std::FILE* f = fdopen(fd, "wb");
  if (f == nullptr) {
    error = lastErrorText();
    close(fd);
    unlink(path.c_str());
  }
  return f;
#endif
}

std::int64_t modificationTime(const std::string& path) {
#ifdef _WIN32
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                   data.ftLastWriteTime.dwLowDateTime);
#else
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return -1;
  return static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec;
#endif
}

std::int64_t fileSize(const std::string& path) {
#ifdef _WIN32
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
#else
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return -1;
  return static_cast<std::int64_t>(info.st_size);
#endif
}

bool appendInOneWrite(const std::string& path, std::string_view bytes) {
#ifdef _WIN32
  // Opened for appending only: every write then goes to the end of the file
  // as one piece, whoever else appends.
  HANDLE h = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size();
  CloseHandle(h);
  return ok;
#else
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const ssize_t written = write(fd, bytes.data(), bytes.size());
  close(fd);
  return written == static_cast<ssize_t>(bytes.size());
#endif
}

bool isRegularFile(const std::string& path) {
#ifdef _WIN32
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
#else
  struct stat info {};
  return lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
#endif
}

bool removeFile(const std::string& path) {
#ifdef _WIN32
  if (DeleteFileA(path.c_str())) return true;
  const DWORD e = GetLastError();
  return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND;
#else
  return unlink(path.c_str()) == 0 || errno == ENOENT;
#endif
}

std::vector<std::string> folderEntries(const std::string& folder) {
  std::vector<std::string> names;
  const std::string where = folder.empty() ? "." : folder;
#ifdef _WIN32
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA((where + "\\*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    names.emplace_back(found.cFileName);
  } while (FindNextFileA(h, &found));
  FindClose(h);
#else
  DIR* dir = opendir(where.c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = readdir(dir)) names.emplace_back(entry->d_name);
  closedir(dir);
#endif
  return names;
}

std::string lastErrorText() { return std::strerror(errno); }

long processId() {
#ifdef _WIN32
  return static_cast<long>(_getpid());
#else
  return static_cast<long>(getpid());
#endif
}

bool processIsRunning(long pid) {
  if (pid <= 0) return false;
#ifdef _WIN32
  HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (h == nullptr) return GetLastError() != ERROR_INVALID_PARAMETER;
  DWORD code = 0;
  const bool running = !GetExitCodeProcess(h, &code) || code == STILL_ACTIVE;
  CloseHandle(h);
  return running;
#else
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
#endif
}

std::string randomToken() {
  static constexpr char kHex[] = "0123456789abcdef";
  unsigned char bytes[8] = {};
  bool filled = false;
#ifdef _WIN32
  unsigned int a = 0, b = 0;
  if (rand_s(&a) == 0 && rand_s(&b) == 0) {
    std::memcpy(bytes, &a, 4);
    std::memcpy(bytes + 4, &b, 4);
    filled = true;
  }
#else
  if (std::FILE* f = std::fopen("/dev/urandom", "rb")) {
    filled = std::fread(bytes, 1, sizeof bytes, f) == sizeof bytes;
    std::fclose(f);
  }
#endif
  if (!filled) {
    std::random_device device;
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(device());
  }
  std::string token;
  for (const unsigned char b : bytes) {
    token += kHex[b >> 4];
    token += kHex[b & 0xF];
  }
  return token;
}

FileLock::~FileLock() { release(); }

FileLock::FileLock(FileLock&& other) noexcept { *this = std::move(other); }

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    release();
#ifdef _WIN32
    handle_ = other.handle_;
    other.handle_ = nullptr;
#else
    fd_ = other.fd_;
    other.fd_ = -1;
#endif
  }
  return *this;
}

#ifdef _WIN32

bool FileLock::held() const { return handle_ != nullptr; }

void FileLock::release() {
  if (handle_ == nullptr) return;
  CloseHandle(static_cast<HANDLE>(handle_));  // closing the handle ends the lock
  handle_ = nullptr;
}

FileLock::Result FileLock::tryTake(const std::string& path, FileLock& lock, std::string& error) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = "cannot open it (Windows error " + std::to_string(GetLastError()) + ")";
    return Result::kFailed;
  }
  OVERLAPPED whole{};
  if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole)) {
    const DWORD e = GetLastError();
    CloseHandle(h);
    if (e == ERROR_LOCK_VIOLATION || e == ERROR_IO_PENDING) return Result::kBusy;
    error = "cannot lock it (Windows error " + std::to_string(e) + ")";
    return Result::kFailed;
  }
  lock = FileLock();
  lock.handle_ = h;
  return Result::kTaken;
}

#else

bool FileLock::held() const { return fd_ >= 0; }

void FileLock::release() {
  if (fd_ < 0) return;
  close(fd_);  // closing the descriptor ends the lock
  fd_ = -1;
}

FileLock::Result FileLock::tryTake(const std::string& path, FileLock& lock, std::string& error) {
  // Opened for reading only, so that another account that runs the program
  // on the same folder can take the same lock.
  const int fd = open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = "cannot open it: " + lastErrorText();
    return Result::kFailed;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int e = errno;
    close(fd);
    if (e == EWOULDBLOCK) return Result::kBusy;
    errno = e;
    error = "cannot lock it: " + lastErrorText();
    return Result::kFailed;
  }
  lock = FileLock();
  lock.fd_ = fd;
  return Result::kTaken;
}

#endif

void trySetLocale(const char* name) { std::setlocale(LC_ALL, name); }

bool sha1(std::string_view data, std::array<unsigned char, 20>& digest) {
  std::array<unsigned char, 20> out{};
#ifdef _WIN32
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA1_ALGORITHM, nullptr, 0))) return false;
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool done = BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0));
  // BCryptHashData takes at most a ULONG of bytes at a time.
  for (std::size_t at = 0; done && at < data.size();) {
    const ULONG part = static_cast<ULONG>(std::min<std::size_t>(data.size() - at, 1u << 30));
    done = BCRYPT_SUCCESS(BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(data.data() + at)), part, 0));
    at += part;
  }
  done = done && BCRYPT_SUCCESS(BCryptFinishHash(hash, out.data(), static_cast<ULONG>(out.size()), 0));
  if (hash != nullptr) BCryptDestroyHash(hash);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  if (!done) return false;
#else
  unsigned int size = 0;
  if (EVP_Digest(data.data(), data.size(), out.data(), &size, EVP_sha1(), nullptr) != 1 || size != out.size())
    return false;
#endif
  digest = out;
  return true;
}

}  // namespace platform
