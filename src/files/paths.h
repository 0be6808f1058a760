// The parts of a file's path, with either separator.
#pragma once

#include <string>

// The folder part of `path` with its separator ("" for a bare name), and
// the name without it.
std::string folderOf(const std::string& path);
std::string nameOf(const std::string& path);
