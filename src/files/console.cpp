#include "files/console.h"

#include <cstdio>

namespace {

void writeLine(std::FILE* stream, std::string_view text) {
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

}  // namespace

void printLine(std::string_view text) { writeLine(stdout, text); }

void printErrorLine(std::string_view text) { writeLine(stderr, text); }
