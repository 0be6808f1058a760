// The program's run sequence: arguments, configuration, base-URL test, login,
// then the export or import run.
#pragma once

// Exit codes.
inline constexpr int kExitOk = 0;            // the run finished
inline constexpr int kExitUsage = -1;        // too few arguments, or an unknown mode
inline constexpr int kExitNoService = -2;    // the configuration names no service address
inline constexpr int kExitRunFailed = -3;    // the run failed and changed nothing

// Runs the program once with the command line `argv` (argv[0] the program's
// name, then mode, configuration file, exchange file) and returns the exit code.
int runKkmBridge(int argc, const char* const argv[]);
