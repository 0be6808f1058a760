#include "files/text_file.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "platform/platform.h"

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Drops the line ends of `text` in place: every LF, and a CR directly in front
// of a LF. Whole lines are moved at once (a goods file can be 100 MB).
void joinLines(std::string& text) {
  char* data = text.data();
  const std::size_t n = text.size();
  std::size_t out = 0;
  std::size_t i = 0;
  while (i < n) {
    const void* found = std::memchr(data + i, '\n', n - i);
    const std::size_t end = found ? static_cast<std::size_t>(static_cast<const char*>(found) - data) : n;
    std::size_t length = end - i;
    if (found && length > 0 && data[end - 1] == '\r') --length;
    if (out != i && length > 0) std::memmove(data + out, data + i, length);
    out += length;
    i = end + 1;
  }
  text.resize(out);
}

}  // namespace

namespace {

std::string megabytes(unsigned long long bytes) { return std::to_string(bytes / (1024 * 1024)) + " MB"; }

}  // namespace

namespace {

// readFile, or with `startOnly` the first `maxBytes` bytes of the file
// instead of a refusal when it holds more.
FileRead readUpTo(const std::string& path, std::size_t maxBytes, bool startOnly) {
  FileRead result;
  std::FILE* raw = nullptr;
  switch (platform::openForReading(path, raw, result.reason)) {
    case platform::OpenResult::kMissing:
      result.status = FileStatus::kNotFound;
      return result;
    case platform::OpenResult::kFailed:
      result.status = FileStatus::kFailed;
      return result;
    case platform::OpenResult::kOpened:
      break;
  }
  FilePtr in(raw);
  try {
    // The size up front, where the system tells it, so that a large file is
    // read without being copied over and over as the text grows.
    const long long size = platform::regularFileSize(in.get());
    if (size > 0 && static_cast<unsigned long long>(size) > maxBytes && !startOnly) {
      result.status = FileStatus::kFailed;
      result.reason = "it holds " + megabytes(static_cast<unsigned long long>(size)) + ", more than the " +
                      megabytes(maxBytes) + " the program reads";
      return result;
    }
    if (size > 0 && static_cast<unsigned long long>(size) < result.text.max_size())
      result.text.reserve(static_cast<std::size_t>(std::min<unsigned long long>(size, maxBytes)));
    char buffer[64 * 1024];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, in.get())) > 0) {
      if (startOnly && got >= maxBytes - result.text.size()) {
        result.text.append(buffer, maxBytes - result.text.size());
        break;
      }
      if (got > maxBytes - result.text.size()) {  // it grew while being read
        std::string().swap(result.text);
        result.status = FileStatus::kFailed;
        result.reason = "it holds more than the " + megabytes(maxBytes) + " the program reads";
        return result;
      }
      result.text.append(buffer, got);
    }
  } catch (const std::bad_alloc&) {
    std::string().swap(result.text);
    result.status = FileStatus::kFailed;
    result.reason = "not enough memory to read it";
    return result;
  }
  if (std::ferror(in.get())) {
    std::string().swap(result.text);
    result.status = FileStatus::kFailed;
    result.reason = "reading failed: " + platform::lastErrorText();
    return result;
  }
  result.status = FileStatus::kFound;
  return result;
}

}  // namespace

FileRead readFile(const std::string& path, std::size_t maxBytes) { return readUpTo(path, maxBytes, false); }

FileRead readFileStart(const std::string& path, std::size_t maxBytes) { return readUpTo(path, maxBytes, true); }

FileRead readTextFile(const std::string& path) {
  FileRead result = readFile(path);
  result.text = textAsRead(std::move(result.text));
  return result;
}

std::string fileFingerprint(std::string_view bytes) {
  // FNV-1a: enough to notice that a file changed, not to withstand a forger.
  std::uint64_t hash = 14695981039346656037ULL;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ULL;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text = std::to_string(bytes.size()) + ":";
  for (int shift = 60; shift >= 0; shift -= 4) text += kHex[(hash >> shift) & 0xF];
  return text;
}

std::string textAsRead(std::string postXML) {
  // The cut in front of the first '<' applies to the first line only.
  const std::size_t firstLineEnd = postXML.find('\n');
  const std::size_t firstAngle = postXML.find('<');
  if (firstAngle != std::string::npos && firstAngle > 0 &&
      (firstLineEnd == std::string::npos || firstAngle < firstLineEnd)) {
    postXML.erase(0, firstAngle);
  }
  joinLines(postXML);
  return postXML;
}
