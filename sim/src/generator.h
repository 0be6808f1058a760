// Synthetic fiscal documents for one account and one cash register.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace cloudsim {

struct GenOptions {
    int64_t shifts = 3;        // closed shifts
    int64_t checks = 5;        // sale checks per shift
    int64_t goods = 3;         // goods items per check
    int64_t cash = 1;          // income/outcome documents per shift
    bool openShift = false;    // one more opening, never closed, at the end
    // A new fiscal drive after this many shifts (0: none): document numbers
    // and shift numbers start again at 1, ids go on.
    int64_t driveChangeAfter = 0;
    // Every operation type and payment method in turn, instead of what a
    // shop's register mostly holds (sales paid in full, a few returns, rare
    // purchases).
    bool varied = false;
    std::string start = "2020-03-01T08:00:00";  // first opening, UTC
    uint64_t seed = 1;
    std::string kkm = "0000000000012345";
    std::string login = "cashier";
    std::string password = "secret";
};

struct GenGood {
    std::string code;           // the catalogue item's code
    std::string name;
    int64_t quantityMilli = 0;  // 1500 is "1.500"
    int64_t price = 0;          // kopecks
    int64_t sum = 0;            // kopecks
    int taxRate = 0;            // 1..6
    int paymentMethod = 0;      // 1..7
};

// Goods array layouts in a check body.
enum class GoodsLayout {
    TrailingList,  // "tl1059":[...] as the body's last member
    Wrapped,       // "t1058":{"t1059":[...]} in the middle of the body
};

struct GenDoc {
    int64_t id = 0;
    int64_t docNo = 0;
    int kind = 0;               // 2, 5, 3, 4, 129 or 130
    int64_t time = 0;           // UTC seconds
    int64_t shift = 0;          // shift number
    int operationType = 0;      // checks: 1..4
    int taxationSystem = 0;     // checks
    GoodsLayout layout = GoodsLayout::TrailingList;
    int64_t cashSum = 0;        // kinds 129 and 130, kopecks
    std::vector<GenGood> goods;
    int64_t payments[5] = {0, 0, 0, 0, 0};  // cash, electronic, prepaid, credit, barter
    std::string cashier;
    std::string fiscalSign;
};

struct CatalogueItem {
    const char* code;  // 1C's numeric code: the goods file's Good/@Code, the checks' t40385
    const char* name;
    const char* unit;  // "шт" or "кг"
    int64_t price;     // kopecks per unit, a multiple of 4
    bool weighed;
};

const std::vector<CatalogueItem>& catalogue();

// "1.000", "0.250" ...
std::string quantityText(int64_t quantityMilli);

// The fiscal document's JSON text (unescaped), tags in the order the
// importer needs: every tag it reads is followed by another tag.
std::string bodyText(const GenDoc& doc);

// Checks the options; returns "" or a message.
std::string validateOptions(const GenOptions& options);

// Produces the documents in order of time (and of number, but for a
// fiscal drive change, where numbers start again).
void generateDocuments(const GenOptions& options, const std::function<void(const GenDoc&)>& sink);

// Writes a complete data file for the server.
void writeDataFile(const GenOptions& options, std::ostream& out);

// The session identifier the generated account gets.
std::string generatedSessionId(uint64_t seed);

}  // namespace cloudsim
