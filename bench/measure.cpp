#include "measure.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace {

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

std::vector<char*> argvPointers(const std::vector<std::string>& argv) {
  std::vector<char*> pointers;
  for (const std::string& a : argv) pointers.push_back(const_cast<char*>(a.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

// In the child only: points `fd` at `path` (or /dev/null), or exits.
void redirect(int fd, const std::string& path, int flags) {
  const int opened = open(path.empty() ? "/dev/null" : path.c_str(), flags, 0644);
  if (opened < 0 || dup2(opened, fd) < 0) _exit(127);
  close(opened);
}

[[noreturn]] void execOrExit(const std::vector<std::string>& argv) {
  std::vector<char*> pointers = argvPointers(argv);
  execvp(pointers[0], pointers.data());
  const std::string message = "cannot start " + argv[0] + ": " + std::strerror(errno) + "\n";
  (void)!write(2, message.data(), message.size());
  _exit(127);
}

// Forks, runs and reaps one child; the measure covers fork to reaped.
RunCost runHere(const std::vector<std::string>& argv, const std::string& cwd, const std::string& stdoutPath,
                const std::string& stderrPath) {
  const auto started = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  if (pid == 0) {
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
    redirect(0, "", O_RDONLY);
    redirect(1, stdoutPath, O_WRONLY | O_CREAT | O_TRUNC);
    redirect(2, stderrPath, O_WRONLY | O_CREAT | O_TRUNC);
    execOrExit(argv);
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) throw std::runtime_error(std::string("wait4: ") + std::strerror(errno));
  }
  RunCost cost;
  cost.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  cost.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  cost.peakRssKb = usage.ru_maxrss;  // kilobytes on Linux
  if (WIFEXITED(status)) cost.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) cost.signal = WTERMSIG(status);
  return cost;
}

// ---- the spawner: requests and answers over two pipes --------------------------

int toSpawner = -1;
int fromSpawner = -1;
pid_t spawnerPid = -1;

bool readAll(int fd, void* data, std::size_t size) {
  auto* p = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t got = read(fd, p, size);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

bool writeAll(int fd, const void* data, std::size_t size) {
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t put = write(fd, p, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    p += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

void putString(std::string& out, const std::string& s) {
  const auto size = static_cast<std::uint32_t>(s.size());
  out.append(reinterpret_cast<const char*>(&size), sizeof size).append(s);
}

bool getString(int fd, std::string& s) {
  std::uint32_t size = 0;
  if (!readAll(fd, &size, sizeof size)) return false;
  s.assign(size, '\0');
  return size == 0 || readAll(fd, &s[0], size);
}

// The spawner's life: one request (argument count, arguments, folder, output
// files) in, one RunCost out, until the driver closes its end.
[[noreturn]] void serveRequests(int in, int out) {
  for (;;) {
    std::uint32_t count = 0;
    if (!readAll(in, &count, sizeof count)) _exit(0);
    std::vector<std::string> argv(count);
    std::string cwd, stdoutPath, stderrPath;
    bool ok = true;
    for (std::string& a : argv) ok = ok && getString(in, a);
    ok = ok && getString(in, cwd) && getString(in, stdoutPath) && getString(in, stderrPath);
    if (!ok) _exit(0);
    RunCost cost;
    try {
      cost = runHere(argv, cwd, stdoutPath, stderrPath);
    } catch (const std::exception&) {
      cost.exitCode = -2;
    }
    if (!writeAll(out, &cost, sizeof cost)) _exit(0);
  }
}

}  // namespace

void startSpawner() {
  int requests[2], answers[2];
  if (pipe(requests) != 0 || pipe(answers) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  if (pid == 0) {
    close(requests[1]);
    close(answers[0]);
    fcntl(requests[0], F_SETFD, FD_CLOEXEC);
    fcntl(answers[1], F_SETFD, FD_CLOEXEC);
    serveRequests(requests[0], answers[1]);
  }
  close(requests[0]);
  close(answers[1]);
  spawnerPid = pid;
  toSpawner = requests[1];
  fromSpawner = answers[0];
  // The spawner ends when this process closes its end at exit.
  fcntl(toSpawner, F_SETFD, FD_CLOEXEC);
  fcntl(fromSpawner, F_SETFD, FD_CLOEXEC);
}

void stopSpawner() {
  if (spawnerPid < 0) return;
  close(toSpawner);
  close(fromSpawner);
  toSpawner = fromSpawner = -1;
  int status = 0;
  while (waitpid(spawnerPid, &status, 0) < 0 && errno == EINTR) {
  }
  spawnerPid = -1;
}

RunCost runMeasured(const std::vector<std::string>& argv, const std::string& cwd, const std::string& stdoutPath,
                    const std::string& stderrPath) {
  if (toSpawner < 0) return runHere(argv, cwd, stdoutPath, stderrPath);
  std::string request;
  const auto count = static_cast<std::uint32_t>(argv.size());
  request.append(reinterpret_cast<const char*>(&count), sizeof count);
  for (const std::string& a : argv) putString(request, a);
  putString(request, cwd);
  putString(request, stdoutPath);
  putString(request, stderrPath);
  RunCost cost;
  if (!writeAll(toSpawner, request.data(), request.size()) || !readAll(fromSpawner, &cost, sizeof cost))
    throw std::runtime_error("the spawner process is gone");
  if (cost.exitCode == -2) throw std::runtime_error("cannot start " + argv[0]);
  return cost;
}

SimServer::~SimServer() { stop(); }

void SimServer::start(const std::string& simPath, const std::vector<std::string>& args, const std::string& stderrPath,
                      int timeoutSeconds) {
  stop();
  int pipeFds[2];
  if (pipe(pipeFds) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  if (pid == 0) {
    close(pipeFds[0]);
    redirect(0, "", O_RDONLY);
    if (dup2(pipeFds[1], 1) < 0) _exit(127);
    close(pipeFds[1]);
    redirect(2, stderrPath, O_WRONLY | O_CREAT | O_TRUNC);
    std::vector<std::string> argv{simPath, "serve"};
    argv.insert(argv.end(), args.begin(), args.end());
    execOrExit(argv);
  }
  close(pipeFds[1]);
  pid_ = pid;
  stdoutFd_ = pipeFds[0];

  // The one line "cloud-sim listening on HOST:PORT".
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  while (line.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      stop();
      throw std::runtime_error("cloud-sim did not report listening within " + std::to_string(timeoutSeconds) + " s");
    }
    pollfd p{stdoutFd_, POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    char buffer[256];
    const ssize_t got = read(stdoutFd_, buffer, sizeof buffer);
    if (got <= 0) {
      stop();
      throw std::runtime_error("cloud-sim exited before listening (see " + stderrPath + ")");
    }
    line.append(buffer, static_cast<std::size_t>(got));
  }
  const std::size_t colon = line.rfind(':', line.find('\n'));
  if (line.rfind("cloud-sim listening on ", 0) != 0 || colon == std::string::npos) {
    stop();
    throw std::runtime_error("unexpected line from cloud-sim: " + line);
  }
  port_ = std::stoi(line.substr(colon + 1));
}

void SimServer::stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    bool reaped = false;
    for (int i = 0; i < 100 && !reaped; ++i) {
      const pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_ || (r < 0 && errno != EINTR)) reaped = true;
      else std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!reaped) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    pid_ = -1;
  }
  if (stdoutFd_ >= 0) {
    close(stdoutFd_);
    stdoutFd_ = -1;
  }
  port_ = 0;
}
