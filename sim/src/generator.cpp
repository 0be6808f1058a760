#include "generator.h"

#include <algorithm>

#include "datetime.h"
#include "json_text.h"

namespace cloudsim {

namespace {

// SplitMix64: small, fast and the same everywhere.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    int64_t below(int64_t n) { return n <= 1 ? 0 : static_cast<int64_t>(next() % static_cast<uint64_t>(n)); }

private:
    uint64_t state_;
};

const char* const kCashiers[] = {"Иванова Мария Петровна", "Смирнов Алексей Игоревич",
                                 "Кузнецова Ольга Сергеевна"};
const int kTaxationSystems[] = {1, 2, 4, 16, 32};
const int kOperationCycle[] = {1, 2, 1, 3, 1, 4, 1};

// A shop's checks: sales, one in ten a sale's return, one in twenty a
// purchase.
int usualOperation(int64_t check) {
    const int64_t n = check % 20;
    return n < 17 ? 1 : n < 19 ? 2 : 3;
}

// A goods line is paid in full (4) but for one in twenty-five, which goes
// through the other methods in turn.
int usualPaymentMethod(int64_t line) {
    if (line % 25 != 24) return 4;
    static const int others[] = {1, 2, 3, 5, 6, 7};
    return others[(line / 25) % 6];
}

void appendTag(std::string& out, const char* tag, int64_t value) {
    out += '"';
    out += tag;
    out += "\":";
    out += std::to_string(value);
}

void appendStringTag(std::string& out, const char* tag, const std::string& value) {
    out += '"';
    out += tag;
    out += "\":";
    appendJsonQuoted(out, value);
}

void appendGoodsArray(std::string& out, const std::vector<GenGood>& goods) {
    out += '[';
    for (size_t i = 0; i < goods.size(); ++i) {
        const GenGood& g = goods[i];
        if (i > 0) out += ',';
        // The quantity opens every item; the name, which is not read, closes it.
        out += '{';
        appendStringTag(out, "t1023", quantityText(g.quantityMilli));
        out += ',';
        appendTag(out, "t1079", g.price);
        out += ',';
        appendTag(out, "t1043", g.sum);
        out += ',';
        appendTag(out, "t1199", g.taxRate);
        out += ',';
        appendTag(out, "t1214", g.paymentMethod);
        out += ',';
        appendStringTag(out, "t40385", g.code);
        out += ',';
        appendStringTag(out, "t1030", g.name);
        out += '}';
    }
    out += ']';
}

}  // namespace

const std::vector<CatalogueItem>& catalogue() {
    static const std::vector<CatalogueItem> items = {
        {"100001", "Хлеб пшеничный нарезной 400 г", "шт", 4800, false},
        {"100002", "Батон нарезной 350 г", "шт", 5200, false},
        {"100003", "Молоко 3,2% 930 мл", "шт", 9600, false},
        {"100004", "Кефир 1% 900 г", "шт", 8400, false},
        {"100005", "Сметана 20% 300 г", "шт", 11600, false},
        {"100006", "Масло сливочное 82,5% 180 г", "шт", 21600, false},
        {"100007", "Сыр российский", "кг", 79600, true},
        {"100008", "Колбаса докторская", "кг", 64800, true},
        {"100009", "Яйцо куриное С1, 10 шт", "шт", 11200, false},
        {"100010", "Сахар-песок 1 кг", "шт", 8800, false},
        {"100011", "Гречка ядрица 900 г", "шт", 10400, false},
        {"100012", "Рис круглозёрный 900 г", "шт", 9200, false},
        {"100013", "Макароны перья 450 г", "шт", 6400, false},
        {"100014", "Чай чёрный листовой 100 г", "шт", 15600, false},
        {"100015", "Кофе молотый 250 г", "шт", 42400, false},
        {"100016", "Яблоки Гренни Смит", "кг", 15600, true},
        {"100017", "Бананы", "кг", 12800, true},
        {"100018", "Картофель", "кг", 4400, true},
        {"100019", "Морковь", "кг", 5200, true},
        {"100020", "Лук репчатый", "кг", 3600, true},
        {"100021", "Огурцы среднеплодные", "кг", 18800, true},
        {"100022", "Помидоры розовые", "кг", 29600, true},
        {"100023", "Куриное филе охлаждённое", "кг", 39600, true},
        {"100024", "Фарш говяжий 400 г", "шт", 34800, false},
        {"100025", "Пельмени домашние 800 г", "шт", 38400, false},
        {"100026", "Вода питьевая 1,5 л", "шт", 4400, false},
        {"100027", "Сок яблочный 1 л", "шт", 13600, false},
        {"100028", "Шоколад молочный 90 г", "шт", 8800, false},
        {"100029", "Печенье овсяное 300 г", "шт", 9600, false},
        {"100030", "Зефир ванильный 250 г", "шт", 14400, false},
        {"100031", "Мыло туалетное 90 г", "шт", 5600, false},
        {"100032", "Зубная паста 100 мл", "шт", 17600, false},
        {"100033", "Бумага туалетная, 4 рулона", "шт", 16800, false},
        {"100034", "Средство для мытья посуды 500 мл", "шт", 12400, false},
        {"100035", "Пакет-майка", "шт", 800, false},
        {"100036", "Подсолнечное масло 1 л", "шт", 14800, false},
        {"100037", "Мука пшеничная 2 кг", "шт", 11200, false},
        {"100038", "Соль поваренная 1 кг", "шт", 2400, false},
        {"100039", "Творог 9% 200 г", "шт", 12000, false},
        {"100040", "Сельдь слабосолёная", "кг", 36000, true},
    };
    return items;
}

std::string quantityText(int64_t quantityMilli) {
    std::string frac = std::to_string(quantityMilli % 1000);
    while (frac.size() < 3) frac.insert(frac.begin(), '0');
    return std::to_string(quantityMilli / 1000) + "." + frac;
}

std::string bodyText(const GenDoc& doc) {
    std::string out;
    out.reserve(160 + doc.goods.size() * 160);
    out += '{';
    appendTag(out, "t1038", doc.shift);
    out += ',';
    appendTag(out, "t1042", doc.docNo);
    out += ',';
    if (doc.kind == 2 || doc.kind == 5) {
        appendStringTag(out, "t1021", doc.cashier);
        out += ',';
        appendStringTag(out, "t1012", formatWallClock(doc.time));
    } else if (doc.kind == 129 || doc.kind == 130) {
        // Cash income and outcome carry their sum in t1055.
        appendTag(out, "t1055", doc.cashSum);
        out += ',';
        appendStringTag(out, "t1021", doc.cashier);
    } else {
        appendTag(out, "t1054", doc.operationType);
        out += ',';
        appendTag(out, "t1055", doc.taxationSystem);
        out += ',';
        int64_t total = 0;
        for (const GenGood& g : doc.goods) total += g.sum;
        appendTag(out, "t1020", total);
        out += ',';
        if (doc.layout == GoodsLayout::Wrapped) {
            out += "\"t1058\":{\"t1059\":";
            appendGoodsArray(out, doc.goods);
            out += "},";
        }
        static const char* const paymentTags[5] = {"t1031", "t1081", "t1215", "t1216", "t1217"};
        for (int i = 0; i < 5; ++i) {
            appendTag(out, paymentTags[i], doc.payments[i]);
            out += ',';
        }
        appendStringTag(out, "t1021", doc.cashier);
    }
    out += ',';
    appendStringTag(out, "t1077", doc.fiscalSign);
    if ((doc.kind == 3 || doc.kind == 4) && doc.layout == GoodsLayout::TrailingList) {
        out += ",\"tl1059\":";
        appendGoodsArray(out, doc.goods);
    }
    out += '}';
    return out;
}

std::string validateOptions(const GenOptions& o) {
    if (o.shifts < 0 || o.shifts > 100000) return "--shifts must be 0..100000";
    if (o.checks < 0 || o.checks > 10000000) return "--checks must be 0..10000000";
    if (o.goods < 1 || o.goods > 1000) return "--goods must be 1..1000";
    if (o.cash < 0 || o.cash > 100000) return "--cash must be 0..100000";
    if (o.driveChangeAfter < 0 || o.driveChangeAfter > o.shifts) return "--drive-change must be 0..--shifts";
    if (!parseWallClockSeconds(o.start)) return "--start must look like 2020-03-01T08:00:00";
    if (o.kkm.empty()) return "--kkm must not be empty";
    return "";
}

void generateDocuments(const GenOptions& o, const std::function<void(const GenDoc&)>& sink) {
    Random rng(o.seed);
    const auto& items = catalogue();
    const int64_t start = parseWallClockSeconds(o.start).value_or(0);
    const int64_t perShift = o.checks + o.cash;
    // Documents of a shift are spread over about ten hours, at least a
    // second apart.
    const int64_t step = std::clamp<int64_t>(36000 / (perShift + 1), 1, 900);

    int64_t id = 0;
    int64_t docNo = 0;
    int64_t shiftBase = 0;  // shifts of the fiscal drives before the present one
    int64_t checkCount = 0;
    int64_t cashCount = 0;
    int64_t previousClose = start - 86400;
    GenDoc doc;

    auto emit = [&](int kind, int64_t time, int64_t shift) {
        doc.id = 100000 + (++id);
        doc.docNo = ++docNo;
        doc.kind = kind;
        doc.time = time;
        doc.shift = shift;
        doc.cashier = kCashiers[(shift + shiftBase - 1) % 3];
        doc.fiscalSign = std::to_string(1000000000 + rng.below(3000000000LL));
        sink(doc);
    };

    const int64_t shiftTotal = o.shifts + (o.openShift ? 1 : 0);
    for (int64_t s = 0; s < shiftTotal; ++s) {
        if (o.driveChangeAfter > 0 && s == o.driveChangeAfter) {
            docNo = 0;
            shiftBase = s;
        }
        const int64_t shift = s + 1 - shiftBase;
        int64_t t = std::max(start + s * 86400, previousClose + 1800);
        doc = GenDoc();
        emit(2, t, shift);
        if (s == o.shifts) break;  // the open shift has only its opening

        // Income and outcome documents sit evenly between the checks.
        std::vector<bool> isCash(static_cast<size_t>(perShift), false);
        for (int64_t j = 0; j < o.cash; ++j) {
            int64_t idx = (j + 1) * perShift / (o.cash + 1);
            idx = std::min(idx, perShift - 1);
            while (isCash[static_cast<size_t>(idx)]) idx = (idx + 1) % perShift;
            isCash[static_cast<size_t>(idx)] = true;
        }
        for (int64_t slot = 0; slot < perShift; ++slot) {
            t += step + rng.below(step / 2 + 1);
            doc = GenDoc();
            if (isCash[static_cast<size_t>(slot)]) {
                // 100 to 50 000 roubles in whole tens.
                doc.cashSum = (10 + rng.below(5000)) * 1000;
                emit(cashCount++ % 2 == 0 ? 129 : 130, t, shift);
                continue;
            }
            const int64_t c = checkCount++;
            doc.layout = c % 2 == 0 ? GoodsLayout::TrailingList : GoodsLayout::Wrapped;
            doc.operationType = o.varied ? kOperationCycle[c % 7] : usualOperation(c);
            doc.taxationSystem = kTaxationSystems[(shift - 1) % 5];
            int64_t total = 0;
            for (int64_t i = 0; i < o.goods; ++i) {
                const CatalogueItem& item = items[static_cast<size_t>(rng.below(static_cast<int64_t>(items.size())))];
                GenGood g;
                g.code = item.code;
                g.name = item.name;
                static const int64_t weights[] = {250, 500, 750, 1000, 1250, 1500, 2000};
                g.quantityMilli = item.weighed ? weights[rng.below(7)] : 1000 * (1 + rng.below(3));
                g.price = item.price;
                g.sum = g.price * g.quantityMilli / 1000;
                const int64_t n = c * o.goods + i;
                g.taxRate = static_cast<int>(n % 6) + 1;
                g.paymentMethod = o.varied ? static_cast<int>(n % 7) + 1 : usualPaymentMethod(n);
                total += g.sum;
                doc.goods.push_back(std::move(g));
            }
            const int64_t half = total / 200 * 100;  // whole roubles
            switch (c % 6) {
                case 0: doc.payments[0] = total; break;
                case 1: doc.payments[1] = total; break;
                case 2: doc.payments[0] = half; doc.payments[1] = total - half; break;
                case 3: doc.payments[2] = total; break;
                case 4: doc.payments[0] = half; doc.payments[3] = total - half; break;
                default: doc.payments[4] = total; break;
            }
            emit(c % 5 == 4 ? 4 : 3, t, shift);
        }
        doc = GenDoc();
        emit(5, t + step, shift);
        previousClose = t + step;
    }
}

std::string generatedSessionId(uint64_t seed) {
    Random rng(seed ^ 0x5EC0DE5EC0DEULL);
    static const char hex[] = "0123456789abcdef";
    std::string id = "sim-";
    for (int i = 0; i < 2; ++i) {
        uint64_t v = rng.next();
        for (int k = 0; k < 16; ++k, v >>= 4) id.push_back(hex[v & 0xF]);
    }
    return id;
}

void writeDataFile(const GenOptions& o, std::ostream& out) {
    std::string head = "{\"accounts\":[{\"login\":";
    appendJsonQuoted(head, o.login);
    head += ",\"password\":";
    appendJsonQuoted(head, o.password);
    head += ",\"idSession\":";
    appendJsonQuoted(head, generatedSessionId(o.seed));
    head += ",\"nameUser\":";
    appendJsonQuoted(head, kCashiers[0]);
    head += ",\"idUser\":101,\"idDealer\":7,\n\"registers\":[{\"kkmNum\":";
    appendJsonQuoted(head, o.kkm);
    head += ",\"documents\":[";
    out << head;

    bool first = true;
    std::string line;
    generateDocuments(o, [&](const GenDoc& d) {
        line.clear();
        line += first ? "\n" : ",\n";
        first = false;
        line += "{\"id\":" + std::to_string(d.id) + ",\"docNo\":" + std::to_string(d.docNo) +
                ",\"docKind\":" + std::to_string(d.kind) + ",\"docDt\":\"" + formatServiceTime(d.time) +
                "\",\"body\":";
        line += bodyText(d);
        line += '}';
        out.write(line.data(), static_cast<std::streamsize>(line.size()));
    });
    out << "\n]}]}]}\n";
}

}  // namespace cloudsim
