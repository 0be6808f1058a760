// The few calls that differ between Windows and POSIX, side by side in one
// unit so that the rest of the program builds unchanged on both.
//
// Paths and texts are UTF-8 on every system. On Windows this unit alone
// speaks to the system, in UTF-16 through the wide calls: a path is made
// absolute and normalised and given the \\?\ form, so that its length is
// not bound to the old 260 characters, and an error names the system's own
// text for it with its number.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Local broken-down time (zone and daylight saving of the machine) of a
// calendar time. Returns false when the platform cannot convert the value;
// `out` is then unchanged.
bool localCalendarTime(std::int64_t t, std::tm& out);

// The current calendar time, seconds since 1970-01-01 00:00:00 UTC.
std::int64_t now();

// Replaces `target` with `source` in one step, so that a reader sees either
// the old file or the new one, never a mix. A read-only `target` is not
// replaced. On failure `target` is untouched and `error` says why. The
// rename is made durable before this returns: on POSIX the folder holding
// `target` is synced (as far as its file system honours that), on Windows
// the move is written through; so two renames in two folders, one after the
// other, reach the disk in that order.
bool replaceFile(const std::string& source, const std::string& target, std::string& error);

// Pushes what was written to `f` through to the disk (beyond the runtime's
// and the system's buffers). Returns false when the system refuses.
bool flushToDisk(std::FILE* f);

// How opening a file for reading went.
enum class OpenResult {
  kOpened,
  kMissing,  // there is no such file
  kFailed,   // it exists (or cannot be looked at) but cannot be opened
};

// Opens a regular file for binary reading that other programs may have open
// too. Anything else at that name (a FIFO, a device, a folder) is kFailed at
// once, without waiting for a writer or reading a byte. `file` is set only
// when the result is kOpened; `error` says why otherwise.
OpenResult openForReading(const std::string& path, std::FILE*& file, std::string& error);

// The size of the regular file open as `f`; -1 when it is no regular file
// or its size cannot be told.
long long regularFileSize(std::FILE* f);

// Creates `path` for binary writing only when no file, folder or link of
// that name exists (a link planted there is never followed). The new file
// gets the permission bits of `modelPath` (and its owner and group where the
// process may set them) when that file exists, on Windows its access list
// (and owner where the process may set it), else the process's defaults.
// Returns null with `error` set when the file cannot be created or cannot be
// given those permissions.
std::FILE* createExclusive(const std::string& path, const std::string& modelPath, std::string& error);

// When the file at `path` was last written, in the finest unit the system
// keeps (nanoseconds on POSIX, 100-nanosecond steps on Windows); -1 when
// there is no such file.
std::int64_t modificationTime(const std::string& path);

// When the file at `path` was last written, in seconds since 1970-01-01
// 00:00:00 UTC; -1 when there is no such file.
std::int64_t modificationSeconds(const std::string& path);

// The size of the file at `path`; -1 when there is none.
std::int64_t fileSize(const std::string& path);

// Opens the file at `path` for appending text (created, readable by this
// account only, when missing; on Windows each line end is written as CR LF).
// Only a regular file is opened: a link at that name is never followed, and
// a FIFO, device or folder is refused without waiting. Returns null with
// `error` set otherwise.
std::FILE* openForAppending(const std::string& path, std::string& error);

// Appends `bytes` to the end of the file at `path`, opened as
// openForAppending opens it, in one write that no other process's append can
// split. False, with `error` set, when the file cannot be opened or the
// write fails.
bool appendInOneWrite(const std::string& path, std::string_view bytes, std::string& error);

// appendInOneWrite for a log that is kept below a size: when the file holds
// `rotateAtSize` bytes or more, it is first renamed to `path` + ".1"
// (replacing an older one) and a new one begun. Processes that append at the
// same moment take turns, so the log is rotated once and no line is lost.
bool appendToRotatedLog(const std::string& path, std::string_view bytes, std::int64_t rotateAtSize,
                        std::string& error);

// What became of following the exchange file's name.
enum class LinkResult {
  kNotALink,  // `path` names no link: use it as it stands
  kFollowed,  // a link of this account's (or the system's): `resolved` is where it leads
  kRefused,   // a link that someone else could have planted or changed: `error` says whose
};

// When `path` is a symbolic link (or a chain of them), follows it only while
// every link and the file it ends at (when that exists) belong to the
// running account or to the system's administrator; `resolved` is then the
// path of that file, beside which the program works, so that the link stays
// a link.
LinkResult followOwnLink(const std::string& path, std::string& resolved, std::string& error);

// True when `path` names a regular file itself (a link is not followed).
bool isRegularFile(const std::string& path);

// Whether this account may write `path`: an existing file it may open for
// writing, or, when there is none, a folder it may create the file in
// (on Windows: not marked read-only; what the access list allows shows
// only when the file is written).
bool mayWrite(const std::string& path);

// Removes a file (a link itself, never what it points to). True when it is
// gone, also when it was not there.
bool removeFile(const std::string& path);

// The names of the entries of `folder` ("." for the current one); empty when
// it cannot be listed.
std::vector<std::string> folderEntries(const std::string& folder);

// The reason of the last failed C runtime call, as one line of text.
std::string lastErrorText();

// The program's command line, its name first, as UTF-8 texts. On Windows it
// is the system's own (UTF-16) command line, so that a name outside the ANSI
// code page arrives as it is spelled, and `argv` is not used; elsewhere it is
// `argv`. False, with `error` saying which argument, when one is no valid
// Unicode (a lone surrogate, which no UTF-8 text can spell).
bool commandLineArguments(int argc, const char* const argv[], std::vector<std::string>& args, std::string& error);

#ifdef _WIN32
// commandLineArguments for the command line `commandLine` (as
// GetCommandLineW gives it).
bool argumentsOfCommandLine(const wchar_t* commandLine, std::vector<std::string>& args, std::string& error);
#endif

// `bytes`, which are no UTF-8, as UTF-8 read in the system's legacy code
// page: on Windows the ANSI code page (its number in `codePage`, "1251" on
// a Russian Windows). Elsewhere a file name is the bytes it holds, so they
// are returned unchanged and `codePage` is empty.
std::string legacyTextToUtf8(std::string_view bytes, std::string& codePage);

// This process's id.
long processId();

// False only when no process with id `pid` runs (a process that may not be
// looked at counts as running).
bool processIsRunning(long pid);

// 16 hexadecimal digits from the system's source of random bytes, for file
// names that another user cannot predict.
std::string randomToken();

// Who holds a FileLock, as the holder recorded it in the lock file.
struct LockHolder {
  long processId = 0;     // 0: not recorded
  std::int64_t since = -1;  // when it took the lock, seconds since 1970; -1: not recorded

  bool known() const { return processId > 0 && since >= 0; }
};

// An exclusive lock on a file, held until the object goes away or the
// process ends (the system releases it when the process dies, whatever
// killed it).
class FileLock {
 public:
  FileLock() = default;
  ~FileLock();
  FileLock(FileLock&& other) noexcept;
  FileLock& operator=(FileLock&& other) noexcept;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  enum class Result { kTaken, kBusy, kFailed };
  // Creates `path` when missing (never through a link), with permission
  // bits no wider than those of `modelPath` (readable and writable by this
  // account only when `modelPath` is private or cannot be looked at), and
  // takes the lock without waiting. A lock file of this account's with wider
  // bits is narrowed; one that belongs to another account, or that is no
  // regular file, is kFailed (with `error`): another account must never be
  // able to hold it. kTaken: this process's id and the time are recorded in
  // the file for a waiting run to read. kBusy: another process holds it;
  // `holder` is what that one recorded (unknown when it recorded nothing,
  // or what it recorded is left from a process that no longer runs).
  static Result tryTake(const std::string& path, const std::string& modelPath, FileLock& lock, LockHolder& holder,
                        std::string& error);
  // What `path` tells of its lock without taking it for more than a moment
  // and without changing the file in any way (no file is made, no
  // permission narrowed, nothing recorded): kMissing when there is no such
  // file, kFree, kBusy with `holder` as for tryTake, kFailed with `error`
  // when it cannot be looked at, or is no lock file of this account's.
  enum class Look { kMissing, kFree, kBusy, kFailed };
  static Look look(const std::string& path, LockHolder& holder, std::string& error);

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
  void release();
};

// Sets the runtime-library locale (all categories) by name; a name that the
// platform does not know is ignored.
void trySetLocale(const char* name);

// The SHA-1 digest of `data`, by the system's own cryptography library
// (OpenSSL's libcrypto on POSIX, CNG on Windows). False when the library
// refuses; `digest` is then unchanged.
bool sha1(std::string_view data, std::array<unsigned char, 20>& digest);

}  // namespace platform
