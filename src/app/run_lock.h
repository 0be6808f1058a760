// The lock that keeps a second run on the same exchange file from working
// beside the first.
#pragma once

#include <string>

// The lock file of the exchange file `fileName`: a file next to it, whose
// name no ImportData* or ExportData* pattern of 1C's matches.
std::string lockFileFor(const std::string& fileName);
