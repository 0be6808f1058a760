// Child processes for the benchmark driver: one run measured the way the
// table reports it, and the simulated service kept running in the background.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// What one finished child cost, as its parent sees it.
struct RunCost {
  double wallSeconds = 0;   // fork to reaped, monotonic clock
  double cpuSeconds = 0;    // user + system of the child (wait4)
  long peakRssKb = 0;       // the child's maximum resident set size (wait4)
  int exitCode = -1;        // -1 when it did not exit normally
  int signal = 0;           // the signal that ended it, if any
};

// Starts the small process that forks every measured child. Call it first
// thing in main(), while this process is still small: a child's peak RSS as
// the kernel reports it is never below the RSS of the process it was forked
// from, so measured children must not come from a parent that has held large
// buffers. Without it, runMeasured forks from the calling process.
void startSpawner();

// Ends the spawner and reaps it, so that the CPU time of everything it ran
// is counted for this process too (as `time make bench` shows it).
void stopSpawner();

// Runs argv[0] (a path, or a name looked up in PATH) with `args` in the
// folder `cwd`, standard input from /dev/null, standard output and error
// into the given files (truncated; "" means /dev/null). Throws
// std::runtime_error when the process cannot be started.
RunCost runMeasured(const std::vector<std::string>& argv, const std::string& cwd, const std::string& stdoutPath,
                    const std::string& stderrPath);

// `cloud-sim serve ...` as a child for the length of a benchmark row.
class SimServer {
 public:
  SimServer() = default;
  ~SimServer();
  SimServer(const SimServer&) = delete;
  SimServer& operator=(const SimServer&) = delete;

  // Starts `simPath serve` with `args` (which must include --port 0 or a
  // port), its standard error into `stderrPath`, and waits up to
  // `timeoutSeconds` for its "listening on" line. Throws std::runtime_error
  // when it exits or says nothing in time.
  void start(const std::string& simPath, const std::vector<std::string>& args, const std::string& stderrPath,
             int timeoutSeconds);

  // SIGTERM, then SIGKILL after a grace period; waits for it.
  void stop();

  int port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int stdoutFd_ = -1;
  int port_ = 0;
};
