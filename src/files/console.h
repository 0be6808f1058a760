// Console output: every line is written as bytes, ended and flushed at once,
// so that a scheduler capturing the output sees each line as it happens.
#pragma once

#include <string_view>

// Writes `text` and a line end to standard output and flushes.
void printLine(std::string_view text);

// Writes `text` and a line end to standard error and flushes. Errors the
// program reports go here, one line each, naming the file or request and the
// reason.
void printErrorLine(std::string_view text);
