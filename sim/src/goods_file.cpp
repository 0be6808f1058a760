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

// A fixed UUID per kind of object and number, in the 8-4-4-4-12 form 1C writes.
std::string uuid(const char* kind, uint64_t number) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%s-%012llx", kind, static_cast<unsigned long long>(number));
    return buf;
}

void appendAttribute(std::string& out, const char* name, const std::string& value) {
    out += ' ';
    out += name;
    out += "=\"";
    for (const char c : value) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    out += '"';
}

const char* const kGoodKind = "6b1e5f0a-2c3d-4e5f-8a9b";

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

    const char* const group = "3f2a7c10-5b1d-4e8a-9c60";
    const char* const unit = "8d4e2b60-1a7f-4c3e-b5d2";
    chunk +=
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<ExportData xmlns=\"http://www.1c.ru/EquipmentService/3.0.0.0\" FormatVersion=\"3000\">\n"
        "\t<PriceList FullExport=\"true\">\n"
        "\t\t<Groups>\n"
        "\t\t\t<Group Code=\"1\" Name=\"Продукты питания\" UUID=\"" + uuid(group, 1) + "\"/>\n"
        "\t\t\t<Group Code=\"2\" Name=\"Бытовая химия и гигиена\" UUID=\"" + uuid(group, 2) + "\"/>\n"
        "\t\t</Groups>\n"
        "\t\t<Units>\n"
        "\t\t\t<Unit Code=\"796\" Name=\"шт\" UUID=\"" + uuid(unit, 0x796) + "\" OKEICode=\"796\"/>\n"
        "\t\t\t<Unit Code=\"166\" Name=\"кг\" UUID=\"" + uuid(unit, 0x166) + "\" OKEICode=\"166\"/>\n"
        "\t\t</Units>\n"
        "\t\t<Goods>\n";
    static const char footer[] = "\t\t</Goods>\n\t</PriceList>\n</ExportData>\n";
    const uint64_t footerSize = sizeof footer - 1;

    // Every item of the catalogue comes once under its own code and price
    // (what the generated checks sell it by); further series of it get codes
    // of their own and prices varied by the seed.
    const auto& items = catalogue();
    uint64_t n = 0;
    while (n < items.size() || written + chunk.size() + footerSize < target) {
        const CatalogueItem& item = items[n % items.size()];
        const uint64_t series = n / items.size();
        const bool household = n % items.size() >= 30;
        const int64_t price =
            item.price + (series == 0 ? 0 : static_cast<int64_t>((seed + series * 37) % 50) * 100);
        char article[32];
        std::snprintf(article, sizeof article, "00-%08llu", static_cast<unsigned long long>(n + 1));
        std::string name = item.name;
        if (series > 0) name += ", серия " + std::to_string(series);

        chunk += "\t\t\t<Good";
        appendAttribute(chunk, "Code", series == 0 ? std::string(item.code) : std::to_string(100001 + n));
        appendAttribute(chunk, "UUID", uuid(kGoodKind, n + 1));
        appendAttribute(chunk, "Name", name);
        appendAttribute(chunk, "TaxRate", household ? "20" : "10");
        appendAttribute(chunk, "CalculationSubject", "1");
        appendAttribute(chunk, "Price", money(price));
        appendAttribute(chunk, "UnitCode", item.weighed ? "166" : "796");
        appendAttribute(chunk, "GroupCode", household ? "2" : "1");
        appendAttribute(chunk, "Article", article);
        appendAttribute(chunk, "IsWeight", item.weighed ? "true" : "false");
        chunk += ">\n\t\t\t\t<Barcodes>\n\t\t\t\t\t<Barcode Value=\"" + ean13(460000000000ULL + n * 7 + seed % 7) +
                 "\" Type=\"EAN13\"/>\n\t\t\t\t</Barcodes>\n\t\t\t</Good>\n";
        ++n;
        if (chunk.size() > (1u << 16)) flush();
    }
    chunk += footer;
    flush();
    out.flush();
    return written;
}

}  // namespace cloudsim
