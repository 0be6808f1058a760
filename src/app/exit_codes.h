// The exit codes of a run, as the scheduler sees them.
#pragma once

inline constexpr int kExitOk = 0;          // the run finished (also: nothing to do)
inline constexpr int kExitUsage = -1;      // too few arguments, or an unknown mode
// The configuration cannot be used: it names no service address, or (import)
// a format the program does not write or a bookmark no run can go on from.
inline constexpr int kExitUnusableConfig = -2;
inline constexpr int kExitRunFailed = -3;  // the run failed and changed nothing
