// Goods exchange files as the accounting side writes them.
#pragma once

#include <cstdint>
#include <ostream>

namespace cloudsim {

// Writes an ExportData goods catalogue of about sizeMb megabytes
// (1 MB = 1 048 576 bytes; at least a handful of goods). UTF-8, tab-indented.
// Returns the number of bytes written.
uint64_t writeGoodsFile(std::ostream& out, double sizeMb, uint64_t seed);

}  // namespace cloudsim
