// Reading whole files: one routine that tells found, not found and failed
// apart, so that no caller mistakes an unreadable file for a missing or a
// shorter one.
#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <string_view>

enum class FileStatus {
  kFound,     // read whole
  kNotFound,  // there is no such file
  kFailed,    // it exists (or cannot be looked at) but could not be read whole
};

struct FileRead {
  FileStatus status = FileStatus::kNotFound;
  std::string text;    // the content when found; empty otherwise
  std::string reason;  // why, when failed

  bool found() const { return status == FileStatus::kFound; }
};

// Reads the file at `path` whole, byte for byte. A read error or a lack of
// memory part way through is kFailed, never a shorter text; so is anything
// but a regular file (a FIFO, a device, a folder: refused without waiting)
// and a file of more than `maxBytes` bytes (refused before it is read).
FileRead readFile(const std::string& path, std::size_t maxBytes = std::numeric_limits<std::size_t>::max());

// The first `maxBytes` bytes of the file at `path` (all of a shorter one),
// with readFile's statuses and refusals.
FileRead readFileStart(const std::string& path, std::size_t maxBytes);

// Reads the file at `path` as one text with every line end dropped: the
// lines are joined directly, with no separator. CR LF and LF line ends read
// the same on every platform (a CR is dropped only in front of a LF). On the
// first line everything in front of its first '<' is dropped (a byte-order
// mark, blanks); a first line without '<' is kept whole. Bytes are otherwise
// returned unchanged. The status is readFile's.
FileRead readTextFile(const std::string& path);

// A short text that tells two file contents apart: their length and a
// 64-bit hash of their bytes.
std::string fileFingerprint(std::string_view bytes);

// What readTextFile gives for a file that holds `bytes`.
std::string textAsRead(std::string bytes);
