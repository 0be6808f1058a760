// Goods exchange files as the accounting side writes them.
#pragma once

#include <cstdint>
#include <ostream>

namespace cloudsim {

// Writes an ExportData goods catalogue in 1C's format 3.0 of about sizeMb
// megabytes (1 MB = 1 048 576 bytes), UTF-8, tab-indented. It holds at least
// every item of catalogue() under the code the generated checks sell it by.
// Returns the number of bytes written.
uint64_t writeGoodsFile(std::ostream& out, double sizeMb, uint64_t seed);

}  // namespace cloudsim
