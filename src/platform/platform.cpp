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

namespace {

#ifndef _WIN32
// The folder part of `path` without its separator ("." for a bare name).
std::string folderPart(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// Syncs the folder that holds `path`, so that a rename into it is on the
// disk before the program goes on. A file system that cannot sync a folder
// (EINVAL) has nothing more to give; the file's own data was synced before.
void syncFolderOf(const std::string& path) {
  const int fd = open(folderPart(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)fsync(fd);
  close(fd);
}

// What a file that is no regular file is, for an error line.
std::string kindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO (named pipe)";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISLNK(mode)) return "a symbolic link";
  return "no regular file";
}

// Takes O_NONBLOCK off a descriptor that was opened with it only so that
// opening a FIFO or device could not wait.
void makeBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) (void)fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

// Opens `path` for appending as openForAppending promises; -1 with `error`.
int openAppendDescriptor(const std::string& path, std::string& error) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0) {
    const int e = errno;
    struct stat info {};
    if (e == ELOOP)
      error = "it is a symbolic link, which is never followed";
    else if (lstat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode))
      error = "it is " + kindOf(info.st_mode) + ", not a regular file";  // a FIFO no one reads
    else
      error = (errno = e, lastErrorText());
    return -1;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    error = "it is " + kindOf(info.st_mode) + ", not a regular file";
    close(fd);
    return -1;
  }
  makeBlocking(fd);
  return fd;
}

bool writeAll(int fd, std::string_view bytes, std::string& error) {
  const ssize_t written = write(fd, bytes.data(), bytes.size());
  if (written == static_cast<ssize_t>(bytes.size())) return true;
  error = written < 0 ? lastErrorText() : std::string("the disk took only part of the line");
  return false;
}

// Whether the account `uid` may be trusted with a file of ours: this
// process's own, or the system's administrator.
bool trustedOwner(uid_t uid) { return uid == geteuid() || uid == 0; }
#endif

// The record a FileLock holder leaves in its lock file: "PID SINCE\n".
std::string holderRecord() { return std::to_string(processId()) + " " + std::to_string(now()) + "\n"; }

LockHolder parseHolderRecord(const char* text, std::size_t size) {
  LockHolder holder;
  long long pid = 0;
  long long since = 0;
  std::size_t i = 0;
  auto number = [&](long long& value) {
    const std::size_t start = i;
    for (; i < size && text[i] >= '0' && text[i] <= '9' && i - start < 18; ++i) value = value * 10 + (text[i] - '0');
    return i > start;
  };
  if (!number(pid) || i >= size || text[i++] != ' ' || !number(since) || i >= size || text[i] != '\n') return holder;
  // What a process that no longer runs left behind says nothing of the holder.
  if (pid <= 0 || pid > 0x7FFFFFFF || !processIsRunning(static_cast<long>(pid))) return holder;
  holder.processId = static_cast<long>(pid);
  holder.since = since;
  return holder;
}

}  // namespace

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
  if (std::rename(source.c_str(), target.c_str()) != 0) {
    error = lastErrorText();
    return false;
  }
  // Without this a power cut can take the rename back, also after a later
  // rename in another folder (on another file system) has reached the disk.
  syncFolderOf(target);
  return true;
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
  if (f == nullptr) {
    if (errno == ENOENT) return OpenResult::kMissing;
    error = lastErrorText();
    return OpenResult::kFailed;
  }
  // A device name (CON, a COM port) opens without waiting, but reading it would.
  struct _stat64 info {};
  if (_fstat64(_fileno(f), &info) != 0 || (info.st_mode & _S_IFREG) == 0) {
    std::fclose(f);
    error = "it is no regular file (a device or a folder)";
    return OpenResult::kFailed;
  }
  file = f;
  return OpenResult::kOpened;
#else
  // Non-blocking only for the open itself: a FIFO without a writer must not
  // hold the run (and its lock) for ever.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return OpenResult::kMissing;
    error = lastErrorText();
    return OpenResult::kFailed;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    error = "it is " + kindOf(info.st_mode) + ", not a regular file";
    close(fd);
    return OpenResult::kFailed;
  }
  makeBlocking(fd);
  std::FILE* f = fdopen(fd, "rb");
  if (f == nullptr) {
    error = lastErrorText();
    close(fd);
    return OpenResult::kFailed;
  }
  file = f;
  return OpenResult::kOpened;
#endif
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

std::int64_t modificationSeconds(const std::string& path) {
#ifdef _WIN32
  const std::int64_t ticks = modificationTime(path);  // 100 ns steps since 1601-01-01
  if (ticks < 0) return -1;
  return (ticks - 116444736000000000LL) / 10000000LL;
#else
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return -1;
  return static_cast<std::int64_t>(info.st_mtim.tv_sec);
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

#ifdef _WIN32
namespace {

// Opens `path` for appending: a reparse point (a link) is opened as itself
// and then refused, like anything else that is no plain file.
HANDLE openAppendHandle(const std::string& path, std::string& error) {
  HANDLE h = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = "cannot open it (Windows error " + std::to_string(GetLastError()) + ")";
    return INVALID_HANDLE_VALUE;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
      GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    error = "it is a link, a folder or a device, not a regular file";
    return INVALID_HANDLE_VALUE;
  }
  return h;
}

}  // namespace
#endif

std::FILE* openForAppending(const std::string& path, std::string& error) {
#ifdef _WIN32
  HANDLE h = openAppendHandle(path, error);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_APPEND | _O_WRONLY | _O_TEXT);
  if (fd < 0) {
    CloseHandle(h);
    error = "cannot use the file";
    return nullptr;
  }
  std::FILE* f = _fdopen(fd, "a");
  if (f == nullptr) {
    _close(fd);
    error = "cannot use the file";
  }
  return f;
#else
  const int fd = openAppendDescriptor(path, error);
  if (fd < 0) return nullptr;
  std::FILE* f = fdopen(fd, "a");
  if (f == nullptr) {
    error = lastErrorText();
    close(fd);
  }
  return f;
#endif
}

bool appendInOneWrite(const std::string& path, std::string_view bytes, std::string& error) {
#ifdef _WIN32
  // Opened for appending only: every write then goes to the end of the file
  // as one piece, whoever else appends.
  HANDLE h = openAppendHandle(path, error);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size();
  if (!ok) error = "writing failed (Windows error " + std::to_string(GetLastError()) + ")";
  CloseHandle(h);
  return ok;
#else
  const int fd = openAppendDescriptor(path, error);
  if (fd < 0) return false;
  const bool ok = writeAll(fd, bytes, error);
  close(fd);
  return ok;
#endif
}

bool appendToRotatedLog(const std::string& path, std::string_view bytes, std::int64_t rotateAtSize,
                        std::string& error) {
#ifdef _WIN32
  if (fileSize(path) >= rotateAtSize) {
    std::string ignored;
    replaceFile(path, path + ".1", ignored);
  }
  return appendInOneWrite(path, bytes, error);
#else
  // Each appender locks the log it opened; the one that finds it full
  // renames it while holding the lock, and the others, once they hold it,
  // see that the name now leads to a new file and open that one instead.
  for (int attempt = 0; attempt < 8; ++attempt) {
    const int fd = openAppendDescriptor(path, error);
    if (fd < 0) return false;
    // A few seconds at most: runs hold the lock only for one write.
    bool locked = false;
    for (int wait = 0; wait < 500 && !(locked = flock(fd, LOCK_EX | LOCK_NB) == 0); ++wait) usleep(10 * 1000);
    struct stat mine {};
    struct stat named {};
    if (locked && fstat(fd, &mine) == 0) {
      if (lstat(path.c_str(), &named) != 0 || named.st_ino != mine.st_ino || named.st_dev != mine.st_dev) {
        close(fd);  // rotated by another run meanwhile
        continue;
      }
      if (mine.st_size >= rotateAtSize) {
        const bool rotated = std::rename(path.c_str(), (path + ".1").c_str()) == 0;
        if (rotated) syncFolderOf(path);
        close(fd);
        if (rotated) continue;
        return appendInOneWrite(path, bytes, error);
      }
    }
    const bool ok = writeAll(fd, bytes, error);
    close(fd);
    return ok;
  }
  return appendInOneWrite(path, bytes, error);
#endif
}

LinkResult followOwnLink(const std::string& path, std::string& resolved, std::string& error) {
#ifdef _WIN32
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
    return LinkResult::kNotALink;
  (void)resolved;
  error = "it is a link (a reparse point), which is not followed";
  return LinkResult::kRefused;
#else
  std::string current = path;
  for (int depth = 0; depth <= 16; ++depth) {
    struct stat info {};
    const bool exists = lstat(current.c_str(), &info) == 0;
    if (!exists || !S_ISLNK(info.st_mode)) {
      if (depth == 0) return LinkResult::kNotALink;
      // A link to a file that is not there yet: the file is made there.
      if (exists && !trustedOwner(info.st_uid)) {
        error = "the file it leads to, " + current + ", belongs to another account (user id " +
                std::to_string(info.st_uid) + ")";
        return LinkResult::kRefused;
      }
      resolved = current;
      return LinkResult::kFollowed;
    }
    if (!trustedOwner(info.st_uid)) {
      error = "the link " + current + " belongs to another account (user id " + std::to_string(info.st_uid) + ")";
      return LinkResult::kRefused;
    }
    std::string target(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 4096) + 1, '\0');
    const ssize_t got = readlink(current.c_str(), target.data(), target.size());
    if (got < 0 || static_cast<std::size_t>(got) >= target.size()) {
      error = "the link " + current + " cannot be read";
      return LinkResult::kRefused;
    }
    target.resize(static_cast<std::size_t>(got));
    if (target.empty()) {
      error = "the link " + current + " is empty";
      return LinkResult::kRefused;
    }
    const std::size_t slash = current.find_last_of('/');
    current = target[0] == '/' || slash == std::string::npos ? target : current.substr(0, slash + 1) + target;
  }
  error = "it is a chain of more than 16 links";
  return LinkResult::kRefused;
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
  // The record goes with the lock, so that a waiting run never reads an old one.
  HANDLE h = static_cast<HANDLE>(handle_);
  SetFilePointer(h, 0, nullptr, FILE_BEGIN);
  SetEndOfFile(h);
  CloseHandle(h);  // closing the handle ends the lock
  handle_ = nullptr;
}

FileLock::Result FileLock::tryTake(const std::string& path, const std::string& modelPath, FileLock& lock,
                                   LockHolder& holder, std::string& error) {
  (void)modelPath;  // a new file takes the folder's permissions there
  holder = LockHolder();
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = "cannot open it (Windows error " + std::to_string(GetLastError()) + ")";
    return Result::kFailed;
  }
  // LockFileEx locks bytes, which then cannot be read by anyone else: the
  // byte locked lies far beyond the record at the start of the file.
  OVERLAPPED beyond{};
  beyond.OffsetHigh = 1;
  if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &beyond)) {
    const DWORD e = GetLastError();
    if (e == ERROR_LOCK_VIOLATION || e == ERROR_IO_PENDING) {
      char text[64] = {};
      DWORD got = 0;
      OVERLAPPED start{};
      if (ReadFile(h, text, sizeof text - 1, &got, &start)) holder = parseHolderRecord(text, got);
      CloseHandle(h);
      return Result::kBusy;
    }
    CloseHandle(h);
    error = "cannot lock it (Windows error " + std::to_string(e) + ")";
    return Result::kFailed;
  }
  const std::string record = holderRecord();
  DWORD written = 0;
  OVERLAPPED start{};
  SetFilePointer(h, 0, nullptr, FILE_BEGIN);
  SetEndOfFile(h);
  WriteFile(h, record.data(), static_cast<DWORD>(record.size()), &written, &start);
  lock = FileLock();
  lock.handle_ = h;
  return Result::kTaken;
}

#else

bool FileLock::held() const { return fd_ >= 0; }

void FileLock::release() {
  if (fd_ < 0) return;
  // The record goes with the lock, so that a waiting run never reads an old one.
  (void)ftruncate(fd_, 0);
  close(fd_);  // closing the descriptor ends the lock
  fd_ = -1;
}

FileLock::Result FileLock::tryTake(const std::string& path, const std::string& modelPath, FileLock& lock,
                                   LockHolder& holder, std::string& error) {
  holder = LockHolder();
  // No wider than the model (the configuration, which holds the password),
  // but always readable and writable by this account, which keeps its
  // record in it.
  mode_t allowed = 0600;
  struct stat model {};
  if (!modelPath.empty() && stat(modelPath.c_str(), &model) == 0) allowed = (model.st_mode & 0066) | 0600;
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, allowed);
  if (fd < 0) {
    const int e = errno;
    struct stat existing {};
    if (lstat(path.c_str(), &existing) == 0 && existing.st_uid != geteuid()) {
      error = "it belongs to another account (user id " + std::to_string(existing.st_uid) +
              "), which could hold it for ever; remove it";
    } else {
      errno = e;
      error = e == ELOOP ? std::string("it is a symbolic link, which is never followed")
                         : "cannot open it: " + lastErrorText();
    }
    return Result::kFailed;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    error = "it is " + kindOf(info.st_mode) + ", not a regular file";
    return Result::kFailed;
  }
  if (info.st_uid != geteuid()) {
    close(fd);
    error = "it belongs to another account (user id " + std::to_string(info.st_uid) +
            "), which could hold it for ever; remove it";
    return Result::kFailed;
  }
  if ((info.st_mode & 0777 & ~allowed) != 0 && fchmod(fd, info.st_mode & allowed & 0777) != 0) {
    error = "cannot narrow its permissions: " + lastErrorText();
    close(fd);
    return Result::kFailed;
  }
  makeBlocking(fd);
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int e = errno;
    if (e == EWOULDBLOCK) {
      char text[64] = {};
      const ssize_t got = pread(fd, text, sizeof text - 1, 0);
      if (got > 0) holder = parseHolderRecord(text, static_cast<std::size_t>(got));
      close(fd);
      return Result::kBusy;
    }
    close(fd);
    errno = e;
    error = "cannot lock it: " + lastErrorText();
    return Result::kFailed;
  }
  const std::string record = holderRecord();
  if (ftruncate(fd, 0) != 0 || pwrite(fd, record.data(), record.size(), 0) != static_cast<ssize_t>(record.size())) {
    // A run that waits then only cannot say who holds the lock.
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
