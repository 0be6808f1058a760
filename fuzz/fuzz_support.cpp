#include "fuzz_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace fuzz {

namespace {

std::string scratchDir;

void removeScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(scratchDir, ignored);
}

}  // namespace

void setUp() {
  const int devNull = open("/dev/null", O_WRONLY);
  if (devNull >= 0) {
    dup2(devNull, STDOUT_FILENO);
    close(devNull);
  }
  const std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  scratchDir = base + "/kkm-fuzz-" + std::to_string(getpid());
  mkdir(scratchDir.c_str(), 0700);
  std::atexit(removeScratchDir);
}

std::string scratchFile(const std::string& name) { return scratchDir + "/" + name; }

void writeBytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) fail(__FILE__, __LINE__, "fopen", path);
  if (size > 0 && std::fwrite(data, 1, size, f) != size) fail(__FILE__, __LINE__, "fwrite", path);
  std::fclose(f);
}

std::string readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void fail(const char* file, int line, const char* condition, const std::string& detail) {
  std::fprintf(stderr, "%s:%d: property failed: %s\n  %s\n", file, line, condition, detail.c_str());
  std::fflush(stderr);
  std::abort();
}

}  // namespace fuzz
