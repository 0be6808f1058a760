#include "goods_file.h"

#include <cstdio>
#include <string>

#include "generator.h"

namespace cloudsim {

namespace {

// EAN-13 with its check digit, from a 12-digit body.
std::string ean13(uint64_t body) {
    char digits[14];
    std::snprintf(digits, sizeof digits, "%012llu", static_cast<unsigned long long>(body % 1000000000000ULL));
    int sum = 0;
    for (int i = 0; i < 12; ++i) sum += (digits[i] - '0') * (i % 2 == 0 ? 1 : 3);
    digits[12] = static_cast<char>('0' + (10 - sum % 10) % 10);
    digits[13] = '\0';
    return digits;
}

std::string money(int64_t kopecks) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%lld.%02lld", static_cast<long long>(kopecks / 100),
                  static_cast<long long>(kopecks % 100));
    return buf;
}

}  // namespace

uint64_t writeGoodsFile(std::ostream& out, double sizeMb, uint64_t seed) {
    const uint64_t target = sizeMb > 0 ? static_cast<uint64_t>(sizeMb * 1048576.0) : 0;
    uint64_t written = 0;
    std::string chunk;
    auto flush = [&] {
        out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        written += chunk.size();
        chunk.clear();
    };

    chunk +=
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<ExportData FormatVersion=\"3000\" Created=\"2020-03-01T07:30:00\">\n"
        "\t<Catalog Name=\"Основной каталог\" ClearCatalog=\"true\">\n"
        "\t\t<Units>\n"
        "\t\t\t<Unit Code=\"796\" Name=\"шт\" FullName=\"Штука\"/>\n"
        "\t\t\t<Unit Code=\"166\" Name=\"кг\" FullName=\"Килограмм\"/>\n"
        "\t\t</Units>\n"
        "\t\t<Groups>\n"
        "\t\t\t<Group Code=\"G01\" Name=\"Продукты питания\"/>\n"
        "\t\t\t<Group Code=\"G02\" Name=\"Бытовая химия и гигиена\"/>\n"
        "\t\t</Groups>\n"
        "\t\t<Goods>\n";
    static const char footer[] = "\t\t</Goods>\n\t</Catalog>\n</ExportData>\n";
    const uint64_t footerSize = sizeof footer - 1;

    const auto& items = catalogue();
    static const char* const rates[] = {"20", "10", "20/120", "10/110", "0", "none"};
    uint64_t n = 0;
    while (n < 12 || written + chunk.size() + footerSize < target) {
        const CatalogueItem& item = items[n % items.size()];
        const uint64_t series = n / items.size();
        const int64_t price = item.price + static_cast<int64_t>((seed + series * 37) % 50) * 100;
        const std::string code = std::to_string(100000 + n);
        chunk += "\t\t\t<Good Code=\"" + code + "\" Article=\"" + item.code + "-" + std::to_string(series) +
                 "\" Group=\"" + (n % items.size() >= 30 ? "G02" : "G01") + "\" Unit=\"" +
                 (item.weighed ? "166" : "796") + "\" TaxRate=\"" + rates[(n + seed) % 6] +
                 "\" Weighed=\"" + (item.weighed ? "true" : "false") + "\">\n";
        chunk += "\t\t\t\t<Name>";
        chunk += item.name;
        if (series > 0) chunk += ", серия " + std::to_string(series);
        chunk += "</Name>\n";
        chunk += "\t\t\t\t<Price Type=\"Розничная\" Value=\"" + money(price) + "\"/>\n";
        chunk += "\t\t\t\t<Barcodes>\n\t\t\t\t\t<Barcode>" + ean13(460000000000ULL + n * 7 + seed % 7) +
                 "</Barcode>\n\t\t\t\t</Barcodes>\n\t\t\t</Good>\n";
        ++n;
        if (chunk.size() > (1u << 16)) flush();
    }
    chunk += footer;
    flush();
    out.flush();
    return written;
}

}  // namespace cloudsim
