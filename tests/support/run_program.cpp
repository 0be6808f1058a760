#include "run_program.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "test_files.h"

ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingDir) {
  ScopedTempDir capture;
  const std::string outPath = capture.file("out"), errPath = capture.file("err");
  ProgramResult result;
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) return result;
  if (child == 0) {
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0) _exit(120);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (!workingDir.empty() && chdir(workingDir.c_str()) != 0) _exit(121);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(122);
  }
  int status = 0;
  if (waitpid(child, &status, 0) == child && WIFEXITED(status))
    result.exitCode = static_cast<signed char>(WEXITSTATUS(status));
  result.out = readFileBytes(outPath);
  result.err = readFileBytes(errPath);
  return result;
}
