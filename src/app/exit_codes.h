// The exit codes of a run, as the scheduler sees them.
#pragma once

inline constexpr int kExitOk = 0;          // the run finished (also: nothing to do)
inline constexpr int kExitUsage = -1;      // too few arguments, or an unknown mode
inline constexpr int kExitNoService = -2;  // the configuration names no service address
inline constexpr int kExitUnusableConfig = -2;  // (import) the configuration names a format the program does not write
inline constexpr int kExitRunFailed = -3;  // the run failed and changed nothing
