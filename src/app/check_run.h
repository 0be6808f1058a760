// The admin's diagnosis: `kkmbridge check CONFIG_FILE EXCHANGE_FILE` looks
// at everything a scheduled run depends on and says, one line per check,
// whether it is ok, worth a warning or FAILED, with the reason and what to
// do. It changes nothing: no configuration rewrite, no exchange file, no
// stamp, no log or dump file; the only file it makes is a probe in the
// exchange folder, removed at once.
#pragma once

#include <string>

#include "app/run_report.h"
#include "config/config_file.h"

// Checks, in this order: the configuration (readable, well-formed, each
// attribute), the service (connection, TLS, login, the shift documents
// waiting since lastDocDT, with the same requests a run makes, nothing
// uploaded), and the exchange folder (writable, the run lock, a pending
// commit record, the ImportData file, the ExportData file beside it).
// Returns kExitOk when nothing failed (warnings allowed), kExitUnusableConfig
// when the configuration cannot be used, kExitRunFailed when another check
// failed. `configuration` is the configuration file as the run read it.
// `report` receives the counts for the run log.
int runCheck(const Configuration& configuration, const std::string& fileName, RunReport& report);
