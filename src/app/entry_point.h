// The program's run sequence: arguments, configuration, base-URL test, login,
// then the export or import run.
#pragma once

#include "app/exit_codes.h"

// Runs the program once with the command line `argv` (argv[0] the program's
// name, then mode, configuration file, exchange file) and returns the exit code.
int runKkmBridge(int argc, const char* const argv[]);
