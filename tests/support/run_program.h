// Runs a built program as a child process and collects what it did.
#pragma once

#include <string>
#include <vector>

struct ProgramResult {
  int exitCode = -1000;  // the process's exit status as a signed byte (-1 for 255); -1000 when it did not exit
  std::string out;       // standard output
  std::string err;       // standard error
};

// Runs `program` with `args` in the folder `workingDir` (the current one
// when empty), standard input closed, and waits for it.
ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingDir = "");

#ifndef _WIN32
// Starts `program` with `args` in `workingDir` (the current folder when
// empty), standard input closed and standard output and error written to the
// files `outPath` and `errPath`, without waiting. Returns its process id, or
// -1 when it cannot be started.
int startProgram(const std::string& program, const std::vector<std::string>& args, const std::string& workingDir,
                 const std::string& outPath, const std::string& errPath);

// What a wait status says: the exit code as a signed byte (-1 for 255), or
// -1000 - signal for a process that was killed.
int exitCodeOf(int waitStatus);
#endif
