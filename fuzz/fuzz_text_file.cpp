// readTextFile on arbitrary files, checked against a plain line-by-line
// reading of the same bytes; and writeFileAtomically, whose result must hold
// exactly the bytes written.
#include <cstdint>
#include <cstring>
#include <string>

#include "files/atomic_file.h"
#include "files/text_file.h"
#include "fuzz_support.h"

namespace {

// The reading readTextFile promises: lines split at LF, a CR in front of the
// LF dropped, lines joined without separator; the first line loses what
// stands in front of its first '<'.
std::string expectedText(const std::string& bytes) {
  std::string out;
  std::size_t start = 0;
  bool first = true;
  while (true) {
    const std::size_t lf = bytes.find('\n', start);
    std::string line = bytes.substr(start, lf == std::string::npos ? std::string::npos : lf - start);
    if (lf != std::string::npos && !line.empty() && line.back() == '\r') line.pop_back();
    if (first) {
      const std::size_t angle = line.find('<');
      if (angle != std::string::npos) line.erase(0, angle);
      first = false;
    }
    out += line;
    if (lf == std::string::npos) break;
    start = lf + 1;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::setUp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = fuzz::scratchFile("input.txt");
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  fuzz::writeBytes(path, data, size);
  const std::string text = readTextFile(path).text;
  FUZZ_CHECK(text == expectedText(bytes), "readTextFile gave " + std::to_string(text.size()) + " bytes, expected " +
                                              std::to_string(expectedText(bytes).size()));

  static const std::string target = fuzz::scratchFile("atomic.xml");
  std::string error;
  const bool written = writeFileAtomically(target, bytes, error);
  FUZZ_CHECK(written, "writeFileAtomically failed: " + error);
  FUZZ_CHECK(fuzz::readBytes(target) == bytes, "the atomically written file differs from what was written");
  return 0;
}
