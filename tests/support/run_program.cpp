#include "run_program.h"

#ifdef _WIN32
#include <windows.h>

#include <filesystem>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdio>

#include "test_files.h"

#ifdef _WIN32

namespace {

// One argument as the C runtime's command-line parser reads it back:
// quoted when it is empty or holds blanks or quotes, backslashes doubled in
// front of a quote.
std::string quoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  out += '"';
  return out;
}

// A UTF-8 text in the UTF-16 of the system's wide calls.
std::wstring wide(const std::string& utf8) { return std::filesystem::u8path(utf8).wstring(); }

HANDLE openInherited(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return CreateFileW(wide(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, disposition,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingDir) {
  ScopedTempDir capture;
  const std::string outPath = capture.file("out"), errPath = capture.file("err");
  ProgramResult result;
  // The program's full path, so that another working folder does not change it.
  const std::string programPath = std::filesystem::absolute(std::filesystem::u8path(program)).u8string();
  std::string commandLine = quoteArgument(programPath);
  for (const auto& a : args) commandLine += " " + quoteArgument(a);

  const HANDLE in = openInherited("NUL", GENERIC_READ, OPEN_EXISTING);
  const HANDLE out = openInherited(outPath, GENERIC_WRITE, CREATE_ALWAYS);
  const HANDLE err = openInherited(errPath, GENERIC_WRITE, CREATE_ALWAYS);
  // Wide, so that every argument reaches the program as it is spelled.
  std::wstring wideCommandLine = wide(commandLine);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  std::fflush(nullptr);
  const bool started = in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE &&
                       CreateProcessW(wide(programPath).c_str(), wideCommandLine.data(), nullptr, nullptr, TRUE, 0,
                                      nullptr, workingDir.empty() ? nullptr : wide(workingDir).c_str(), &startup,
                                      &process);
  for (HANDLE h : {in, out, err})
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  if (!started) return result;
  DWORD code = 0;
  if (WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 && GetExitCodeProcess(process.hProcess, &code))
    result.exitCode = static_cast<int>(code);  // Windows keeps all 32 bits: main's -1 stays -1
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  result.out = readFileBytes(outPath);
  result.err = readFileBytes(errPath);
  return result;
}

#else

int startProgram(const std::string& program, const std::vector<std::string>& args, const std::string& workingDir,
                 const std::string& outPath, const std::string& errPath) {
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child != 0) return child < 0 ? -1 : static_cast<int>(child);
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

int exitCodeOf(int waitStatus) {
  if (WIFEXITED(waitStatus)) return static_cast<signed char>(WEXITSTATUS(waitStatus));
  if (WIFSIGNALED(waitStatus)) return -1000 - WTERMSIG(waitStatus);
  return -2000;
}

ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingDir) {
  ScopedTempDir capture;
  const std::string outPath = capture.file("out"), errPath = capture.file("err");
  ProgramResult result;
  const int child = startProgram(program, args, workingDir, outPath, errPath);
  if (child < 0) return result;
  int status = 0;
  if (waitpid(child, &status, 0) == child && WIFEXITED(status)) result.exitCode = exitCodeOf(status);
  result.out = readFileBytes(outPath);
  result.err = readFileBytes(errPath);
  return result;
}

#endif
