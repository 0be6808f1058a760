#include "files/text_file.h"

#include <atomic>
#include <cstring>
#include <memory>

#include "files/platform.h"

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

std::string readTextFile(const std::string& filePath) {
  std::string postXML;
  FilePtr in(platform::openForReading(filePath));
  if (!in) return postXML;

  char buffer[64 * 1024];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, in.get())) > 0) postXML.append(buffer, got);
  return textAsRead(std::move(postXML));
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

bool writeFileAtomically(const std::string& targetPath, const std::function<bool(std::FILE*)>& write,
                         std::string& error) {
  static std::atomic<unsigned> counter{0};
  // The temporary name does not begin with the target's name: a program that
  // picks up files by a name pattern (1C takes the first ImportData* file of
  // its exchange folder) must never see a half-written file, nor one that a
  // killed run left behind.
  const std::size_t nameStart = targetPath.find_last_of("/\\") + 1;  // 0 when there is no folder part
  const std::string tempPath = targetPath.substr(0, nameStart) + "~" + targetPath.substr(nameStart) + ".tmp" +
                               std::to_string(platform::processId()) + "-" + std::to_string(counter++);
  std::FILE* raw = std::fopen(tempPath.c_str(), "wb");
  if (raw == nullptr) {
    error = "cannot create " + tempPath + ": " + platform::lastErrorText();
    return false;
  }
  FilePtr out(raw);
  bool ok = write(out.get());
  if (!ok) {
    error = "writing failed";
  } else if (std::ferror(out.get()) || !platform::flushToDisk(out.get())) {
    error = "writing failed: " + platform::lastErrorText();
    ok = false;
  }
  if (std::fclose(out.release()) != 0 && ok) {
    error = "closing failed: " + platform::lastErrorText();
    ok = false;
  }
  if (ok && !platform::replaceFile(tempPath, targetPath, error)) ok = false;
  if (!ok) std::remove(tempPath.c_str());
  return ok;
}
