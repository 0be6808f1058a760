// Shared pieces of the fuzz targets: a scratch folder for file-based
// targets, the console kept quiet, and a check that stops the run with a
// message when a property of the code under test does not hold.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz {

// Called once per process: standard output goes to /dev/null (the program
// traces there; libFuzzer reports on standard error), and the scratch
// folder is made.
void setUp();

// A file path inside this process's scratch folder (on a memory file system
// when there is one, so that the atomic writes' flush costs nothing).
std::string scratchFile(const std::string& name);

// Writes `size` bytes to `path`, replacing it; aborts when that fails.
void writeBytes(const std::string& path, const std::uint8_t* data, std::size_t size);
std::string readBytes(const std::string& path);

[[noreturn]] void fail(const char* file, int line, const char* condition, const std::string& detail);

}  // namespace fuzz

#define FUZZ_CHECK(condition, detail)                                    \
  do {                                                                   \
    if (!(condition)) fuzz::fail(__FILE__, __LINE__, #condition, detail); \
  } while (0)
