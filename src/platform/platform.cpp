#ifdef _WIN32
#define _CRT_RAND_S  // rand_s: the system's random numbers, asked for before <stdlib.h> comes in
#endif

#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
// After windows.h, which they build on.
#include <aclapi.h>
#include <bcrypt.h>
#include <sddl.h>
#include <shellapi.h>
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

#ifdef _WIN32
namespace {

// UTF-8 to UTF-16; false for bytes that are no UTF-8.
bool toWide(std::string_view utf8, std::wstring& wide) {
  wide.clear();
  if (utf8.empty()) return true;
  if (utf8.size() > static_cast<std::size_t>(INT_MAX)) return false;
  const int size = static_cast<int>(utf8.size());
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
  if (n <= 0) return false;
  wide.resize(static_cast<std::size_t>(n));
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide.data(), n) == n;
}

// UTF-16 to UTF-8; false for a lone surrogate, which UTF-8 cannot spell.
bool toUtf8(std::wstring_view wide, std::string& utf8) {
  utf8.clear();
  if (wide.empty()) return true;
  if (wide.size() > static_cast<std::size_t>(INT_MAX / 3)) return false;
  const int size = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return false;
  utf8.resize(static_cast<std::size_t>(n));
  return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), size, utf8.data(), n, nullptr, nullptr) == n;
}

struct LocalFreer {
  void operator()(void* p) const { LocalFree(p); }
};

// The system's text for the Windows error `code`, in UTF-8, with the number:
// "Access is denied (Windows error 5)".
std::string windowsErrorText(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  const std::unique_ptr<wchar_t, LocalFreer> owned(buffer);
  std::string text;
  if (n > 0 && buffer != nullptr && toUtf8(std::wstring_view(buffer, n), text)) {
    // One line: the text's own line ends become blanks, its final full stop goes.
    for (char& c : text)
      if (c == '\r' || c == '\n') c = ' ';
    while (!text.empty() && (text.back() == ' ' || text.back() == '.')) text.pop_back();
  }
  const std::string number = "Windows error " + std::to_string(code);
  return text.empty() ? number : text + " (" + number + ")";
}

std::string lastWindowsErrorText() { return windowsErrorText(GetLastError()); }

// A path as every wide call here gets it: absolute, normalised (the system's
// own rules: '/' as '\\', "." and ".." resolved, against the current folder
// for a relative one) and in the \\?\ form (\\?\UNC\ for a share), which
// lifts the limit of 260 characters. `problem` says why there is none.
struct WidePath {
  std::wstring text;
  std::string problem;

  bool ok() const { return problem.empty(); }
  const wchar_t* c_str() const { return text.c_str(); }
};

WidePath widePath(const std::string& path) {
  WidePath result;
  std::wstring wide;
  if (!toWide(path, wide)) {
    result.problem = "the path is not valid UTF-8";
    return result;
  }
  if (wide.empty() || wide.find(L'\0') != std::wstring::npos) {
    result.problem = wide.empty() ? "the path is empty" : "the path holds a zero byte";
    return result;
  }
  // Already in a form that the system takes as it stands.
  if (wide.rfind(L"\\\\?\\", 0) == 0 || wide.rfind(L"\\\\.\\", 0) == 0) {
    result.text = std::move(wide);
    return result;
  }
  std::wstring full(MAX_PATH, L'\0');
  DWORD n = 0;
  // The current folder may change between the calls; a few rounds settle it.
  for (int attempt = 0; attempt < 4; ++attempt) {
    n = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n == 0 || n < full.size()) break;
    full.assign(n, L'\0');  // too small: n counts the closing zero then
  }
  if (n == 0 || n >= full.size()) {
    result.problem = n == 0 ? lastWindowsErrorText() : "the path cannot be made absolute";
    return result;
  }
  full.resize(n);
  if (full.rfind(L"\\\\.\\", 0) == 0) {
    result.text = std::move(full);  // a device (NUL, CON), which has no long form
  } else if (full.rfind(L"\\\\", 0) == 0) {
    result.text = L"\\\\?\\UNC\\" + full.substr(2);
  } else {
    result.text = L"\\\\?\\" + full;
  }
  return result;
}

// Whether the Windows error `code` says that a file or its folder is not there.
bool isMissing(DWORD code) { return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND; }

// A C runtime stream on the open handle `h` (which it then owns), or null
// with the handle closed.
std::FILE* streamOf(HANDLE h, int flags, const char* mode) {
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags);
  if (fd < 0) {
    CloseHandle(h);
    return nullptr;
  }
  std::FILE* f = _fdopen(fd, mode);
  if (f == nullptr) _close(fd);
  return f;
}

// The account this process runs as, kept in `buffer` (DWORD elements: the
// token's structure needs their alignment); null when it cannot be told.
PSID processUser(std::vector<DWORD>& buffer) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  buffer.assign(size / sizeof(DWORD) + 1, 0);
  const DWORD room = static_cast<DWORD>(buffer.size() * sizeof(DWORD));
  const bool known = size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), room, &size);
  CloseHandle(token);
  return known ? reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid : nullptr;
}

// A security descriptor that lets this process's user alone at a file, for
// a file that is to take another's access list: until then no one else may
// open it (a handle opened meanwhile would keep its access afterwards).
class PrivateSecurity {
 public:
  PrivateSecurity() {
    PSID me = processUser(user_);
    if (me == nullptr) return;
    acl_.resize((sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(me)) / sizeof(DWORD) + 1);
    PACL acl = reinterpret_cast<PACL>(acl_.data());
    if (InitializeAcl(acl, static_cast<DWORD>(acl_.size() * sizeof(DWORD)), ACL_REVISION) &&
        AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, me) &&
        InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
        SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) &&
        SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
      attributes_.nLength = sizeof attributes_;
      attributes_.lpSecurityDescriptor = &descriptor_;
      attributes_.bInheritHandle = FALSE;
      ready_ = true;
    }
  }
  PrivateSecurity(const PrivateSecurity&) = delete;
  PrivateSecurity& operator=(const PrivateSecurity&) = delete;

  // Null when it could not be made: the file then starts with its folder's.
  SECURITY_ATTRIBUTES* attributes() { return ready_ ? &attributes_ : nullptr; }

 private:
  // DWORD elements: the token's and the list's structures need their alignment.
  std::vector<DWORD> user_;
  std::vector<DWORD> acl_;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
  bool ready_ = false;
};

// Gives the file open as `h` the owner and the access list of the file at
// `model` (whose inheritance from its folder, on or off, comes along). The
// owner is set only where the process may give the file away; the access
// list must be set. Empty when it was done, else the reason.
std::string copySecurity(const WidePath& model, HANDLE h) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD got = GetNamedSecurityInfoW(model.c_str(), SE_FILE_OBJECT,
                                          OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                                          &dacl, nullptr, &descriptor);
  const std::unique_ptr<void, LocalFreer> owned(descriptor);
  if (got != ERROR_SUCCESS) return "cannot read the permissions of the file it replaces: " + windowsErrorText(got);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!GetSecurityDescriptorControl(descriptor, &control, &revision))
    return "cannot read the permissions of the file it replaces: " + lastWindowsErrorText();
  const SECURITY_INFORMATION inheritance =
      (control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION;
  if (SetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | inheritance, owner,
                      nullptr, dacl, nullptr) == ERROR_SUCCESS)
    return "";
  // Another owner needs a privilege the process may lack; the file then
  // stays the process's own, which grants no one else anything.
  const DWORD set = SetSecurityInfo(h, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | inheritance, nullptr, nullptr, dacl,
                                    nullptr);
  if (set == ERROR_SUCCESS) return "";
  return "cannot give it the permissions of the file it replaces: " + windowsErrorText(set);
}

// The account `sid` in the system's text form (S-1-5-21-...).
std::string sidText(PSID sid) {
  wchar_t* text = nullptr;
  if (sid == nullptr || !ConvertSidToStringSidW(sid, &text)) return "unknown";
  const std::unique_ptr<wchar_t, LocalFreer> owned(text);
  std::string utf8;
  return toUtf8(text, utf8) ? utf8 : "unknown";
}

// Why the open file `h` is no lock file a run may use ("" when it is): it
// must be a regular file, no link, folder or device, owned by this
// process's account, by the system or by the administrators (who own what
// an elevated administrator creates). A file of another account's could be
// held by that account for ever.
std::string lockFileProblem(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
      GetFileType(h) != FILE_TYPE_DISK)
    return "it is a link, a folder or a device, not a regular file";
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD got =
      GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr, &descriptor);
  const std::unique_ptr<void, LocalFreer> owned(descriptor);
  if (got != ERROR_SUCCESS) return "cannot read its owner: " + windowsErrorText(got);
  std::vector<DWORD> buffer;
  const PSID me = processUser(buffer);
  if (owner != nullptr && ((me != nullptr && EqualSid(owner, me)) || IsWellKnownSid(owner, WinLocalSystemSid) ||
                           IsWellKnownSid(owner, WinBuiltinAdministratorsSid)))
    return "";
  return "it belongs to another account (" + sidText(owner) + "), which could hold it for ever; remove it";
}

}  // namespace
#endif

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
  const WidePath from = widePath(source), to = widePath(target);
  if (!from.ok() || !to.ok()) {
    error = "cannot replace the file: " + (from.ok() ? to.problem : from.problem);
    return false;
  }
  // The move itself refuses a read-only target on Windows, though not under
  // every emulation of it; asking first gives the same answer everywhere.
  const DWORD attributes = GetFileAttributesW(to.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    error = "the file is read-only";
    return false;
  }
  // Not ReplaceFileW: it has no write-through, so the new name could be lost
  // to a power cut after the run has said that it is done. The temporary
  // file already carries the target's owner and access list.
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  error = "cannot replace the file: " + lastWindowsErrorText();
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
#ifdef _WIN32
  const WidePath wide = widePath(path);
  if (!wide.ok()) {
    error = wide.problem;
    return OpenResult::kFailed;
  }
  // Shared for reading and writing, as the program that writes it may hold it.
  const HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD e = GetLastError();
    if (isMissing(e)) return OpenResult::kMissing;
    error = windowsErrorText(e);  // a folder too: it opens as no file
    return OpenResult::kFailed;
  }
  // A device name (NUL, CON, a COM port) opens without waiting, but reading
  // it would not end.
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    CloseHandle(h);
    error = "it is no regular file (a device or a folder)";
    return OpenResult::kFailed;
  }
  std::FILE* f = streamOf(h, _O_RDONLY | _O_BINARY, "rb");
  if (f == nullptr) {
    error = "cannot use the open file";
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
  const WidePath wide = widePath(path);
  if (!wide.ok()) {
    error = wide.problem;
    return nullptr;
  }
  // The model, when it is a file: the new one gets its owner and access list
  // (a configuration narrowed to one user stays so), else the folder's.
  WidePath model;
  if (!modelPath.empty()) {
    model = widePath(modelPath);
    const DWORD attributes = model.ok() ? GetFileAttributesW(model.c_str()) : INVALID_FILE_ATTRIBUTES;
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) model = WidePath{};
  }
  const bool hasModel = !model.text.empty();
  // CREATE_NEW fails on any existing name, and a reparse point (a link) is
  // opened as itself, never followed. Whoever creates a file is granted what
  // the handle asks for, the rights to set its owner and access list too.
  // Until it has them, it is this user's alone.
  const DWORD access = GENERIC_WRITE | (hasModel ? READ_CONTROL | WRITE_DAC | WRITE_OWNER : 0);
  PrivateSecurity privateSecurity;
  const HANDLE h = CreateFileW(wide.c_str(), access, FILE_SHARE_READ, hasModel ? privateSecurity.attributes() : nullptr,
                               CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = "cannot create the file: " + lastWindowsErrorText();
    return nullptr;
  }
  if (hasModel) {
    const std::string refused = copySecurity(model, h);
    if (!refused.empty()) {
      CloseHandle(h);
      DeleteFileW(wide.c_str());
      error = refused;
      return nullptr;
    }
  }
  std::FILE* f = streamOf(h, _O_BINARY | _O_WRONLY, "wb");
  if (f == nullptr) {
    DeleteFileW(wide.c_str());
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
  const WidePath wide = widePath(path);
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!wide.ok() || !GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) return -1;
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
  const WidePath wide = widePath(path);
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!wide.ok() || !GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) return -1;
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
#else
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return -1;
  return static_cast<std::int64_t>(info.st_size);
#endif
}

#ifdef _WIN32
namespace {

// Opens `path` for appending (and, with `readable`, for reading, which a
// byte-range lock needs): a reparse point (a link) is opened as itself and
// then refused, like anything else that is no plain file.
HANDLE openAppendHandle(const std::string& path, std::string& error, bool readable = false) {
  const WidePath wide = widePath(path);
  if (!wide.ok()) {
    error = "cannot open it: " + wide.problem;
    return INVALID_HANDLE_VALUE;
  }
  // A new file is this account's alone, as its lines name the shop's files and service.
  PrivateSecurity privateSecurity;
  HANDLE h = CreateFileW(wide.c_str(), FILE_APPEND_DATA | (readable ? FILE_READ_DATA : 0),
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, privateSecurity.attributes(), OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = "cannot open it: " + lastWindowsErrorText();
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

// Writes `bytes` to `h` in one call: opened for appending, they go to the
// end of the file as one piece, whoever else appends.
bool writeWhole(HANDLE h, std::string_view bytes, std::string& error) {
  DWORD written = 0;
  const bool ok =
      WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
  if (!ok) error = "writing failed: " + lastWindowsErrorText();
  return ok;
}

// Whether `path` still names the file open as `h` (another run may have
// renamed it away meanwhile).
bool namesOpenFile(const std::string& path, HANDLE h) {
  const WidePath wide = widePath(path);
  if (!wide.ok()) return false;
  HANDLE named = CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (named == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION a, b;
  const bool same = GetFileInformationByHandle(h, &a) && GetFileInformationByHandle(named, &b) &&
                    a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
                    a.nFileIndexLow == b.nFileIndexLow;
  CloseHandle(named);
  return same;
}

}  // namespace
#endif

std::FILE* openForAppending(const std::string& path, std::string& error) {
#ifdef _WIN32
  HANDLE h = openAppendHandle(path, error);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  // Text mode: every line end is written as CR LF.
  std::FILE* f = streamOf(h, _O_APPEND | _O_WRONLY | _O_TEXT, "a");
  if (f == nullptr) error = "cannot use the open file";
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
  const bool ok = writeWhole(h, bytes, error);
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
  // Each appender locks the log it opened; the one that finds it full
  // renames it while holding the lock, and the others, once they hold it,
  // see that the name now leads to a new file and open that one instead.
#ifdef _WIN32
  for (int attempt = 0; attempt < 8; ++attempt) {
    HANDLE h = openAppendHandle(path, error, true);
    if (h == INVALID_HANDLE_VALUE) return false;
    // A byte far beyond the end is locked, so that appending goes on; a few
    // seconds at most: runs hold the lock only for one write.
    OVERLAPPED beyond{};
    beyond.OffsetHigh = 1;
    bool locked = false;
    for (int wait = 0; wait < 500; ++wait) {
      locked = LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &beyond);
      if (locked) break;
      Sleep(10);
    }
    LARGE_INTEGER size{};
    if (locked && GetFileSizeEx(h, &size)) {
      if (!namesOpenFile(path, h)) {
        CloseHandle(h);  // rotated by another run meanwhile
        continue;
      }
      if (size.QuadPart >= rotateAtSize) {
        std::string ignored;
        const bool rotated = replaceFile(path, path + ".1", ignored);
        CloseHandle(h);
        if (rotated) continue;
        return appendInOneWrite(path, bytes, error);
      }
    }
    const bool ok = writeWhole(h, bytes, error);
    CloseHandle(h);  // closing the handle ends the lock
    return ok;
  }
  return appendInOneWrite(path, bytes, error);
#else
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
  const WidePath wide = widePath(path);
  const DWORD attributes = wide.ok() ? GetFileAttributesW(wide.c_str()) : INVALID_FILE_ATTRIBUTES;
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
  const WidePath wide = widePath(path);
  const DWORD attributes = wide.ok() ? GetFileAttributesW(wide.c_str()) : INVALID_FILE_ATTRIBUTES;
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
#else
  struct stat info {};
  return lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
#endif
}

bool mayWrite(const std::string& path) {
#ifdef _WIN32
  const std::size_t slash = path.find_last_of("\\/");
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const WidePath wide = widePath(path), wideFolder = widePath(folder);
  if (!wide.ok() || !wideFolder.ok()) return false;
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES)
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) == 0;
  const DWORD folderAttributes = GetFileAttributesW(wideFolder.c_str());
  return folderAttributes != INVALID_FILE_ATTRIBUTES && (folderAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
#else
  const std::size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  if (access(path.c_str(), W_OK) == 0) return true;
  return errno == ENOENT && access(folder.c_str(), W_OK | X_OK) == 0;
#endif
}

bool removeFile(const std::string& path) {
#ifdef _WIN32
  const WidePath wide = widePath(path);
  if (!wide.ok()) return false;
  return DeleteFileW(wide.c_str()) || isMissing(GetLastError());
#else
  return unlink(path.c_str()) == 0 || errno == ENOENT;
#endif
}

std::vector<std::string> folderEntries(const std::string& folder) {
  std::vector<std::string> names;
  const std::string where = folder.empty() ? "." : folder;
#ifdef _WIN32
  const WidePath wide = widePath(where);
  if (!wide.ok()) return names;
  // The long form is taken literally: one separator in front of the pattern.
  const std::wstring pattern = wide.text + (wide.text.back() == L'\\' ? L"*" : L"\\*");
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstFileW(pattern.c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    // A name that no UTF-8 text can spell (a lone surrogate) is no name
    // this program made, and could not be named back.
    std::string name;
    if (toUtf8(found.cFileName, name)) names.push_back(std::move(name));
  } while (FindNextFileW(h, &found));
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

#ifdef _WIN32

bool argumentsOfCommandLine(const wchar_t* commandLine, std::vector<std::string>& args, std::string& error) {
  args.clear();
  int count = 0;
  // The system's own splitting, the rules the C runtime splits argv by.
  const std::unique_ptr<wchar_t*, LocalFreer> split(CommandLineToArgvW(commandLine, &count));
  if (!split) {
    error = "cannot read the command line: " + lastWindowsErrorText();
    return false;
  }
  for (int i = 0; i < count; ++i) {
    std::string arg;
    if (!toUtf8(split.get()[i], arg)) {
      args.clear();
      error = "argument " + std::to_string(i) + " of the command line is no valid Unicode (a lone surrogate)";
      return false;
    }
    args.push_back(std::move(arg));
  }
  return true;
}

bool commandLineArguments(int, const char* const[], std::vector<std::string>& args, std::string& error) {
  return argumentsOfCommandLine(GetCommandLineW(), args, error);
}

std::string legacyTextToUtf8(std::string_view bytes, std::string& codePage) {
  const UINT ansi = GetACP();
  codePage = std::to_string(ansi);
  std::wstring wide;
  if (!bytes.empty() && bytes.size() <= static_cast<std::size_t>(INT_MAX)) {
    const int size = static_cast<int>(bytes.size());
    const int n = MultiByteToWideChar(ansi, 0, bytes.data(), size, nullptr, 0);
    if (n > 0) {
      wide.resize(static_cast<std::size_t>(n));
      if (MultiByteToWideChar(ansi, 0, bytes.data(), size, wide.data(), n) != n) wide.clear();
    }
  }
  std::string text;
  if (!toUtf8(wide, text)) text.clear();
  return text;
}

#else

bool commandLineArguments(int argc, const char* const argv[], std::vector<std::string>& args, std::string&) {
  args.assign(argv, argv + (argc > 0 ? argc : 0));
  return true;
}

std::string legacyTextToUtf8(std::string_view bytes, std::string& codePage) {
  codePage.clear();
  return std::string(bytes);
}

#endif

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

namespace {

// What the process holding the lock on `h` recorded of itself, at the start
// of the file, outside the locked byte.
LockHolder recordedHolder(HANDLE h) {
  char text[64] = {};
  DWORD got = 0;
  OVERLAPPED start{};
  return ReadFile(h, text, sizeof text - 1, &got, &start) ? parseHolderRecord(text, got) : LockHolder();
}

}  // namespace

void FileLock::release() {
  if (handle_ == nullptr) return;
  // The record goes with the lock, so that a waiting run never reads an old one.
  HANDLE h = static_cast<HANDLE>(handle_);
  SetFilePointer(h, 0, nullptr, FILE_BEGIN);
  SetEndOfFile(h);
  CloseHandle(h);  // closing the handle ends the lock
  handle_ = nullptr;
}

FileLock::Look FileLock::look(const std::string& path, LockHolder& holder, std::string& error) {
  holder = LockHolder();
  const WidePath wide = widePath(path);
  if (!wide.ok()) {
    error = "cannot open it: " + wide.problem;
    return Look::kFailed;
  }
  HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD e = GetLastError();
    if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND) return Look::kMissing;
    error = "cannot open it: " + windowsErrorText(e);
    return Look::kFailed;
  }
  error = lockFileProblem(h);
  if (!error.empty()) {
    CloseHandle(h);
    return Look::kFailed;
  }
  // A shared lock on the byte the runs lock, let go at once: it is granted
  // only while no run holds the exclusive one.
  OVERLAPPED beyond{};
  beyond.OffsetHigh = 1;
  if (!LockFileEx(h, LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &beyond)) {
    const DWORD e = GetLastError();
    Look result = Look::kFailed;
    if (e == ERROR_LOCK_VIOLATION || e == ERROR_IO_PENDING) {
      holder = recordedHolder(h);
      result = Look::kBusy;
    } else {
      error = "cannot look at its lock: " + windowsErrorText(e);
    }
    CloseHandle(h);
    return result;
  }
  UnlockFileEx(h, 0, 1, 0, &beyond);
  CloseHandle(h);
  return Look::kFree;
}

FileLock::Result FileLock::tryTake(const std::string& path, const std::string& modelPath, FileLock& lock,
                                   LockHolder& holder, std::string& error) {
  (void)modelPath;  // a new lock file is this account's alone, which is never wider than the configuration
  holder = LockHolder();
  const WidePath wide = widePath(path);
  if (!wide.ok()) {
    error = "cannot open it: " + wide.problem;
    return Result::kFailed;
  }
  PrivateSecurity privateSecurity;
  HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         privateSecurity.attributes(), OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = "cannot open it: " + lastWindowsErrorText();
    return Result::kFailed;
  }
  error = lockFileProblem(h);
  if (!error.empty()) {
    CloseHandle(h);
    return Result::kFailed;
  }
  // LockFileEx locks bytes, which then cannot be read by anyone else: the
  // byte locked lies far beyond the record at the start of the file.
  OVERLAPPED beyond{};
  beyond.OffsetHigh = 1;
  if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &beyond)) {
    const DWORD e = GetLastError();
    if (e == ERROR_LOCK_VIOLATION || e == ERROR_IO_PENDING) {
      holder = recordedHolder(h);
      CloseHandle(h);
      return Result::kBusy;
    }
    CloseHandle(h);
    error = "cannot lock it: " + windowsErrorText(e);
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

void FileLock::release() {
  if (fd_ < 0) return;
  // The record goes with the lock, so that a waiting run never reads an old one.
  (void)ftruncate(fd_, 0);
  close(fd_);  // closing the descriptor ends the lock
  fd_ = -1;
}

namespace {

// Whether the open lock file `fd` is one a run may use: a regular file of
// this account's (another account could hold it for ever). Closes `fd` and
// sets `error` when it is not.
bool ownRegularLockFile(int fd, std::string& error) {
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    error = "it is " + kindOf(info.st_mode) + ", not a regular file";
    return false;
  }
  if (info.st_uid != geteuid()) {
    close(fd);
    error = "it belongs to another account (user id " + std::to_string(info.st_uid) +
            "), which could hold it for ever; remove it";
    return false;
  }
  return true;
}

// What the process holding the lock on `fd` recorded of itself.
LockHolder recordedHolder(int fd) {
  char text[64] = {};
  const ssize_t got = pread(fd, text, sizeof text - 1, 0);
  return got > 0 ? parseHolderRecord(text, static_cast<std::size_t>(got)) : LockHolder();
}

}  // namespace

FileLock::Look FileLock::look(const std::string& path, LockHolder& holder, std::string& error) {
  holder = LockHolder();
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return Look::kMissing;
    error = errno == ELOOP ? std::string("it is a symbolic link, which is never followed")
                           : "cannot open it: " + lastErrorText();
    return Look::kFailed;
  }
  if (!ownRegularLockFile(fd, error)) return Look::kFailed;
  // A shared lock, let go at once: it is granted only while no run holds
  // the exclusive one.
  if (flock(fd, LOCK_SH | LOCK_NB) != 0) {
    const int e = errno;
    Look result = Look::kFailed;
    if (e == EWOULDBLOCK) {
      holder = recordedHolder(fd);
      result = Look::kBusy;
    } else {
      errno = e;
      error = "cannot look at its lock: " + lastErrorText();
    }
    close(fd);
    return result;
  }
  close(fd);  // closing the descriptor ends the shared lock
  return Look::kFree;
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
  if (!ownRegularLockFile(fd, error)) return Result::kFailed;
  struct stat info {};
  fstat(fd, &info);
  if ((info.st_mode & 0777 & ~allowed) != 0 && fchmod(fd, info.st_mode & allowed & 0777) != 0) {
    error = "cannot narrow its permissions: " + lastErrorText();
    close(fd);
    return Result::kFailed;
  }
  makeBlocking(fd);
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int e = errno;
    if (e == EWOULDBLOCK) {
      holder = recordedHolder(fd);
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
