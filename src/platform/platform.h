// The few calls that differ between Windows and POSIX, side by side in one
// unit so that the rest of the program builds unchanged on both.
//
// Paths and texts are UTF-8 on every system. On Windows this unit alone
// speaks to the system, in UTF-16 through the wide calls: a path is made
// absolute and normalised and given the \\?\ form, so that its length is
// not bound to the old 260 characters, and an error names the system's own
// text for it with its number.
#pragma once

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
// replaced. On failure `target` is untouched and `error` says why.
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

// Opens a file for binary reading that other programs may have open too.
// `file` is set only when the result is kOpened; `error` says why otherwise.
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

// Opens the file at `path` for appending text, creating it when missing (on
// Windows each line end is written as CR LF). Returns null with `error` set
// when it cannot be opened.
std::FILE* openForAppending(const std::string& path, std::string& error);

// The size of the file at `path`; -1 when there is none.
std::int64_t fileSize(const std::string& path);

// Appends `bytes` to the end of the file at `path` (created when missing) in
// one write that no other process's append can split. False when the file
// cannot be opened or the write fails.
bool appendInOneWrite(const std::string& path, std::string_view bytes);

// True when `path` names a regular file itself (a link is not followed).
bool isRegularFile(const std::string& path);

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

  bool held() const;

  enum class Result { kTaken, kBusy, kFailed };
  // Creates `path` when missing (never through a link) and takes the lock
  // without waiting: kBusy when another process holds it, kFailed (with
  // `error`) when the file cannot be opened or locked.
  static Result tryTake(const std::string& path, FileLock& lock, std::string& error);

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

}  // namespace platform
