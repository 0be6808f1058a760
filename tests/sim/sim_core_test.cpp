// The simulated service without the network: date bounds, string decoding,
// the answers it builds, and the documents the generator writes.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "datetime.h"
#include "generator.h"
#include "goods_file.h"
#include "json_text.h"
#include "layout_check.h"
#include "scanner_rules.h"
#include "server.h"
#include "service.h"
#include "sim_process.h"
#include "store.h"

using namespace cloudsim;

namespace {

// The data-pack body exactly as the importer builds it.
std::string queryBody(const std::string& sid, const std::string& from, const std::string& to,
                      const std::string& kkm, const std::string& kinds) {
    return "{ \"session\": { \"idSession\": \"" + sid +
           "\",\"idDealer\":7, \"idUser\":12}, \"params\": { \"ext\": {\"getDocumentsCommands\": "
           "[{\"commandId\":\"command2026-12-08T08:15:00+0300\", \"commandDt\":\"2026-12-08T08:15:00+0300\", "
           "\"dateFrom\":\"" + from + "\", \"dateTo\":\"" + to + "\", \"serialNumbers\":[\"" + kkm +
           "\"], \"kinds\":[" + kinds + "] , \"sortBy\":\"docNo, docDt\"}]}}}";
}

std::string goodsBody(const std::string& sid, const std::string& escapedXml) {
    return "{ \"session\": { \"idSession\": \"" + sid +
           "\",\"idDealer\":7, \"idUser\":12},  \"params\": { \"ext\": { \"import1cXmlTovars\": \"" +
           escapedXml + "\"}}}";
}

std::vector<int64_t> docNumbers(const std::string& answer) {
    std::vector<int64_t> out;
    const std::string list = scanrules::docsList(answer);
    long pos = 0;
    std::string doc;
    while (pos != -1) {
        pos = scanrules::nextDoc(list, pos, doc);
        if (doc.empty()) break;
        out.push_back(scanrules::intAfterKey(doc, "docNo"));
    }
    return out;
}

// The start tag of the goods file's Good whose Code is `code`, or "".
std::string goodTag(const std::string& goodsXml, const std::string& code) {
    const size_t at = goodsXml.find("<Good Code=\"" + code + "\" ");
    return at == std::string::npos ? "" : goodsXml.substr(at, goodsXml.find('>', at) - at);
}

// A check's goods item as the catalogue gives it: its code names a Good of
// that name and price.
void expectInCatalogue(const std::string& goodsXml, const std::string& code, std::string name, int64_t price) {
    for (size_t q = name.find('"'); q != std::string::npos; q = name.find('"', q)) name.replace(q, 1, "&quot;");
    const std::string tag = goodTag(goodsXml, code);
    EXPECT_NE(tag.find(" Name=\"" + name + "\""), std::string::npos) << code << " " << name << ": " << tag;
    char money[32];
    std::snprintf(money, sizeof money, " Price=\"%lld.%02lld\"", static_cast<long long>(price / 100),
                  static_cast<long long>(price % 100));
    EXPECT_NE(tag.find(money), std::string::npos) << code << ": " << tag;
}

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

const char* const kSmallData = R"({"accounts":[
 {"login":"anna","password":"p+w","idSession":"S-1","nameUser":"Анна","idUser":12,"idDealer":7,
  "registers":[{"kkmNum":"K1","documents":[
    {"id":13,"docNo":3,"docKind":3,"docDt":"2020-03-01T11:00:00.000+0000","body":{"t1042":3,"t1077":"x"}},
    {"id":11,"docNo":1,"docKind":2,"docDt":"2020-03-01T10:00:00.000+0000","body":{"t1042":1,"t1077":"x"}},
    {"id":12,"docNo":2,"docKind":129,"docDt":"2020-03-01T10:30:00.000+0000","body":"{\"t1042\":2,\"t1055\":950,\"t1077\":\"y\"}"},
    {"id":14,"docNo":4,"docKind":5,"docDt":"2020-03-01T12:00:00.000+0000"},
    {"id":15,"docNo":5,"docKind":2,"docDt":"2020-03-02T10:00:00.000+0000","raw":"{\"id\":15,\"docNo\":5,\"docKind\":2}"}]}]},
 {"login":"boris","password":"b","idSession":"S-2","idUser":13,"idDealer":7,
  "registers":[{"kkmNum":"K2","documents":[
    {"id":21,"docNo":1,"docKind":2,"docDt":"2020-03-01T10:00:00.000+0000","body":{"t1042":1}}]}]}]})";

class TempDir {
public:
    TempDir() : path(kkmtest::makeTempDir("cloud-sim-core-")) {}
    ~TempDir() { kkmtest::removeTree(path); }
    std::string path;
};

}  // namespace

// ---- date bounds ------------------------------------------------------

TEST(Instant, ReadsBothServiceFormsAsTheSameInstant) {
    const auto base = parseInstantMs("2020-03-01T10:00:00.000+0000");
    ASSERT_TRUE(base);
    EXPECT_EQ(*base, 1583056800000LL);
    const struct {
        const char* text;
        int64_t deltaMs;
    } cases[] = {
        {"2020-03-01T13:00:00+0300", 0},
        {"2020-03-01T10:00:00Z", 0},
        {"2020-03-01T10:00:00", 0},
        {"2020-03-01T05:30:00-04:30", 0},
        {"2020-03-01T10:00:00.5+0000", 500},
        {"2020-03-01T10:00:00.123456+0000", 123},
        {"2020-03-01T00:00:00+0300", -13 * 3600 * 1000LL},
        {"2020-02-29T10:00:00.000+0000", -86400 * 1000LL},
    };
    for (const auto& c : cases) {
        const auto v = parseInstantMs(c.text);
        ASSERT_TRUE(v) << c.text;
        EXPECT_EQ(*v - *base, c.deltaMs) << c.text;
    }
}

TEST(Instant, RefusesTextsThatAreNotDateTimes) {
    for (const char* text : {"", "0", "2020-03-01", "2020-03-01 10:00:00", "2020-02-30T00:00:00",
                             "2021-02-29T00:00:00", "2020-13-01T00:00:00", "2020-03-01T24:00:00",
                             "2020-03-01T10:60:00", "2020-03-01T10:00:00.+0000", "2020-03-01T10:00:00+03",
                             "2020-03-01T10:00:00.000+0000 ", "2020-03-01T10:00:00+2400", "20a0-03-01T10:00:00"})
        EXPECT_FALSE(parseInstantMs(text)) << '"' << text << '"';
}

TEST(Instant, ServiceTimeTextRoundTrips) {
    for (int64_t t : {0LL, 951782400LL, 1583020800LL, 1709251199LL, 4102444799LL}) {
        const std::string text = formatServiceTime(t);
        EXPECT_EQ(text.size(), 28u);
        EXPECT_EQ(parseInstantMs(text), t * 1000) << text;
        EXPECT_EQ(parseWallClockSeconds(formatWallClock(t)), t);
    }
    EXPECT_EQ(formatServiceTime(1583056800), "2020-03-01T10:00:00.000+0000");
}

// ---- JSON string texts ------------------------------------------------

TEST(JsonString, DecodesEscapesAndKeepsEverythingElse) {
    const struct {
        std::string raw, decoded;
    } cases[] = {
        {"plain", "plain"},
        {R"(a\"b)", "a\"b"},
        {R"(\\)", "\\"},
        {R"(\/\b\f\n\r\t)", "/\b\f\n\r\t"},
        {R"(\u0041\u0416)", "A\xD0\x96"},
        {R"(\ud83d\ude00)", "\xF0\x9F\x98\x80"},
        {R"(USB\RS-232)", R"(USB\RS-232)"},
        {"\\\xD0\xA1", "\\\xD0\xA1"},
        {"\xC0\xFF\x80", "\xC0\xFF\x80"},
        {"tail\\", "tail\\"},
        {R"(\u12)", R"(\u12)"},
        {R"(\u12G4)", R"(\u12G4)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(decodeJsonStringContent(c.raw, 0, c.raw.size()), c.decoded) << c.raw;
}

TEST(JsonString, FindsTheStringMemberExtent) {
    StringMember m;
    const std::string text = R"({"a":1, "x" : "q\"r\\"  ,"y":2})";
    ASSERT_TRUE(findStringMember(text, "x", m));
    EXPECT_EQ(text.substr(m.valueBegin, m.valueEnd - m.valueBegin), R"(q\"r\\)");
    EXPECT_FALSE(findStringMember(text, "a", m));             // not a string
    EXPECT_FALSE(findStringMember(text, "z", m));             // absent
    EXPECT_FALSE(findStringMember(R"({"x":"open)", "x", m));  // never closed
    EXPECT_FALSE(findStringMember(R"({"x":"ends\")", "x", m));
}

TEST(JsonString, QuotesControlBytesAndKeepsHighBytes) {
    EXPECT_EQ(jsonQuote("a\"b\\c\n\x01\xD0\x96\xFF"), "\"a\\\"b\\\\c\\n\\u0001\xD0\x96\xFF\"");
}

// ---- faults and query texts -------------------------------------------

TEST(FaultOption, ReadsEveryKindAndRefusesNonsense) {
    const struct {
        const char* text;
        bool ok;
        Fault::Kind kind;
        int64_t request, value;
    } cases[] = {
        {"1:status=503", true, Fault::Kind::Status, 1, 503},
        {"12:close=0", true, Fault::Kind::Close, 12, 0},
        {"3:delay=1500", true, Fault::Kind::Delay, 3, 1500},
        {"2:garbage", true, Fault::Kind::Garbage, 2, 0},
        {"0:status=500", false, {}, 0, 0},
        {"x:status=500", false, {}, 0, 0},
        {"1:status=5000", false, {}, 0, 0},
        {"1:status=", false, {}, 0, 0},
        {"1:close=-1", false, {}, 0, 0},
        {"1:reset=1", false, {}, 0, 0},
        {"1", false, {}, 0, 0},
    };
    for (const auto& c : cases) {
        Fault f;
        std::string error;
        ASSERT_EQ(parseFault(c.text, f, error), c.ok) << c.text;
        if (!c.ok) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        EXPECT_EQ(f.kind, c.kind) << c.text;
        EXPECT_EQ(f.request, c.request) << c.text;
        EXPECT_EQ(f.value, c.value) << c.text;
    }
}

TEST(QueryText, DecodesPercentButKeepsPlus) {
    std::string v;
    ASSERT_TRUE(queryValue("login=a%20b&password=p+w%2", "login", v));
    EXPECT_EQ(v, "a b");
    ASSERT_TRUE(queryValue("login=a%20b&password=p+w%2", "password", v));
    EXPECT_EQ(v, "p+w%2");
    ASSERT_TRUE(queryValue("password=&login=x", "password", v));
    EXPECT_EQ(v, "");
    EXPECT_FALSE(queryValue("", "login", v));
    EXPECT_FALSE(queryValue("loginx=1", "login", v));
    EXPECT_EQ(safeFileNamePart("a/../b c"), "a_.._b_c");
    EXPECT_EQ(safeFileNamePart(".."), "_");
    EXPECT_EQ(safeFileNamePart(""), "_");
}

// ---- data file --------------------------------------------------------

TEST(DataFile, RefusesBrokenEntriesWithTheirPlace) {
    const struct {
        const char* text;
        const char* mention;
    } cases[] = {
        {"[", "not valid JSON"},
        {R"({"accounts":[{"login":"a","password":"b","idUser":1,"idDealer":1}]})", "idSession"},
        {R"({"accounts":[{"login":"a","password":"b","idSession":"s","idUser":"1","idDealer":1}]})", "idUser"},
        {R"({"accounts":[{"login":"a","password":"b","idSession":"s","idUser":1,"idDealer":1,
            "registers":[{"kkmNum":"K","documents":[{"id":1,"docNo":1,"docKind":2,"docDt":"yesterday"}]}]}]})",
         "documents[0]"},
        {R"({"accounts":[{"login":"a","password":"b","idSession":"s","idUser":1,"idDealer":1},
                         {"login":"c","password":"d","idSession":"s","idUser":2,"idDealer":1}]})",
         "idSession used twice"},
    };
    for (const auto& c : cases) {
        try {
            parseDataSet(c.text);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(c.mention), std::string::npos) << e.what();
        }
    }
}

// ---- answers ----------------------------------------------------------

TEST(Login, AnswersTheAccountInTheFormTheImporterReads) {
    Service s(parseDataSet(kSmallData), ".");
    const Reply r = s.handle("GET", "/api/LoginSession", "/api/LoginSession?login=anna&password=p%2Bw", "");
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "{\"idSession\":\"S-1\",\"nameUser\":\"Анна\",\"idUser\":12,\"idDealer\":7,\"result\":0}");
    EXPECT_EQ(scanrules::stringAfterKey(r.body, "idSession"), "S-1");
    EXPECT_EQ(scanrules::stringAfterKey(r.body, "nameUser"), "Анна");
    EXPECT_EQ(scanrules::intAfterKey(r.body, "idUser"), 12);
    EXPECT_EQ(scanrules::intAfterKey(r.body, "idDealer"), 7);
}

TEST(Login, RefusesWrongOrMissingCredentialsWithoutASession) {
    Service s(parseDataSet(kSmallData), ".");
    for (const char* target : {"/api/LoginSession?login=anna&password=wrong", "/api/LoginSession?login=anna",
                               "/api/LoginSession", "/api/LoginSession?login=boris&password=p%2Bw",
                               "/api/LoginSession?login=anna&password=p%20w", "/api/LoginSession?login=Anna&password=p+w"}) {
        const Reply r = s.handle("GET", "/api/LoginSession", target, "");
        EXPECT_EQ(r.status, 401) << target;
        EXPECT_EQ(r.contentType, "application/problem+json");
        EXPECT_EQ(r.body.find("idSession"), std::string::npos);
        EXPECT_NE(r.body.find("\"status\":401"), std::string::npos);
    }
    // A raw '+' is a plus, not a blank; any base path will do.
    EXPECT_EQ(s.handle("GET", "/base/LoginSession", "/base/LoginSession?login=anna&password=p+w", "").status, 200);
    EXPECT_EQ(s.handle("GET", "/x/LoginSession", "/x/LoginSession?password=b&login=boris", "").status, 200);
}

TEST(Documents, FiltersByKindAndInclusiveRangeSortedByNumber) {
    Service s(parseDataSet(kSmallData), ".");
    const std::string from = "2020-03-01T10:00:00.000+0000";
    const struct {
        std::string from, to, kinds;
        std::vector<int64_t> docNos;
    } cases[] = {
        {from, "2020-03-01T12:00:00.000+0000", "2,5", {1, 4}},
        {from, "2026-12-08T08:15:00+0300", "2,5", {1, 4, 5}},
        {from, "2020-03-01T12:00:00.000+0000", "3,4", {3}},
        {from, "2020-03-01T12:00:00.000+0000", "129, 130", {2}},
        {from, "2020-03-01T12:00:00.000+0000", "", {}},
        // the bounds are instants: 14:59:59+0300 is just before the closing
        {from, "2020-03-01T14:59:59+0300", "2,5", {1}},
        {"2020-03-01T13:00:00+0300", "2020-03-01T15:00:00+0300", "2,5", {1, 4}},
        {"2020-03-01T10:00:00.001+0000", "2020-03-01T12:00:00.000+0000", "2,5", {4}},
        // empty or unreadable bounds match nothing
        {"", "2026-12-08T08:15:00+0300", "2,5", {}},
        {from, "", "2,5", {}},
        {from, "now", "2,5", {}},
        {"2020-03-01T12:00:00.000+0000", from, "2,5", {}},
    };
    for (const auto& c : cases) {
        const Reply r = s.dataPack(queryBody("S-1", c.from, c.to, "K1", c.kinds));
        ASSERT_EQ(r.status, 200) << r.body;
        EXPECT_TRUE(endsWith(r.body, "]}}")) << r.body;
        EXPECT_EQ(docNumbers(r.body), c.docNos) << c.from << " .. " << c.to << " kinds " << c.kinds;
    }
}

TEST(Documents, GivesOnlyTheSessionAccountsRegisters) {
    Service s(parseDataSet(kSmallData), ".");
    const std::string to = "2026-12-08T08:15:00+0300";
    EXPECT_TRUE(docNumbers(s.dataPack(queryBody("S-1", "2020-03-01T00:00:00.000+0000", to, "K2", "2,5")).body).empty());
    EXPECT_EQ(docNumbers(s.dataPack(queryBody("S-2", "2020-03-01T00:00:00.000+0000", to, "K2", "2,5")).body),
              std::vector<int64_t>{1});
}

TEST(Documents, AnswerTextsAreExact) {
    Service s(parseDataSet(kSmallData), ".");
    const std::string empty = "{ \"session\": { \"idSession\": \"S-1\",\"idDealer\":7, \"idUser\":12}, "
                              "\"params\": { \"ext\": {\"getDocumentsCommands\": []}}}";
    EXPECT_EQ(s.dataPack(empty).body, "{\"result\":0,\"data\":{\"kkmDocs\":[]}}");
    const Reply r = s.dataPack(queryBody("S-1", "2020-03-01T10:00:00.000+0000", "2020-03-01T12:00:00.000+0000",
                                         "K1", "2,5,129"));
    EXPECT_EQ(r.body,
              "{\"result\":0,\"data\":{\"kkmDocs\":["
              "{\"id\":11,\"docNo\":1,\"kkmNum\":\"K1\",\"docKind\":2,\"docDt\":\"2020-03-01T10:00:00.000+0000\","
              "\"body\":\"{\\\"t1042\\\":1,\\\"t1077\\\":\\\"x\\\"}\"},"
              "{\"id\":12,\"docNo\":2,\"kkmNum\":\"K1\",\"docKind\":129,\"docDt\":\"2020-03-01T10:30:00.000+0000\","
              "\"body\":\"{\\\"t1042\\\":2,\\\"t1055\\\":950,\\\"t1077\\\":\\\"y\\\"}\"},"
              "{\"id\":14,\"docNo\":4,\"kkmNum\":\"K1\",\"docKind\":5,\"docDt\":\"2020-03-01T12:00:00.000+0000\"}"
              "]}}");
    // A raw document goes out exactly as written.
    const Reply raw = s.dataPack(queryBody("S-1", "2020-03-02T10:00:00Z", "2020-03-02T10:00:00Z", "K1", "2"));
    EXPECT_EQ(scanrules::docsList(raw.body), "{\"id\":15,\"docNo\":5,\"docKind\":2}");
}

TEST(Documents, RefusesBadSessionsAndBadPacks) {
    Service s(parseDataSet(kSmallData), ".");
    const std::string to = "2026-12-08T08:15:00+0300";
    const struct {
        std::string body;
        int status;
    } cases[] = {
        {queryBody("S-9", "2020-03-01T00:00:00.000+0000", to, "K1", "2,5"), 401},
        {queryBody("", "2020-03-01T00:00:00.000+0000", to, "K1", "2,5"), 401},
        {"{ \"params\": { \"ext\": {\"getDocumentsCommands\": []}}}", 401},
        {"{ \"session\": { \"idSession\": \"S-1\"}, \"params\": {}}", 400},
        {"{ \"session\": { \"idSession\": \"S-1\"}, \"params\": { \"ext\": {}}}", 400},
        {"not json", 400},
        {"", 400},
    };
    for (const auto& c : cases) {
        const Reply r = s.dataPack(c.body);
        EXPECT_EQ(r.status, c.status) << c.body;
        EXPECT_EQ(r.contentType, "application/problem+json");
        EXPECT_EQ(r.body.find("kkmDocs"), std::string::npos);
    }
    EXPECT_EQ(s.handle("GET", "/api/WebDataPackPost", "/api/WebDataPackPost", "").status, 404);
    EXPECT_EQ(s.handle("POST", "/api/Other", "/api/Other", "").status, 404);
    EXPECT_EQ(s.handle("POST", "/api/WebDataPackPost/x", "/api/WebDataPackPost/x", "").status, 404);
}

// ---- goods upload -----------------------------------------------------

TEST(Goods, StoresTheDecodedBytesPerAccount) {
    TempDir dir;
    Service s(parseDataSet(kSmallData), dir.path);
    const struct {
        std::string sent, stored;
    } cases[] = {
        // quotes escaped by the sender, Windows-1251 bytes, a stray backslash
        {"<a b=\\\"1\\\">\xCF\xF0\xE8\xE2\xE5\xF2 USB\\RS</a>", "<a b=\"1\">\xCF\xF0\xE8\xE2\xE5\xF2 USB\\RS</a>"},
        {"<x>\xD0\x9C\xD1\x8B\xD0\xBB\xD0\xBE \\u0041\\n</x>", "<x>\xD0\x9C\xD1\x8B\xD0\xBB\xD0\xBE A\n</x>"},
        {"", ""},
    };
    for (const auto& c : cases) {
        const Reply r = s.dataPack(goodsBody("S-1", c.sent));
        ASSERT_EQ(r.status, 200) << r.body;
        EXPECT_EQ(r.body, "{\"result\":0,\"message\":\"goods accepted\",\"bytes\":" + std::to_string(c.stored.size()) + "}");
        EXPECT_EQ(readWholeFile(dir.path + "/goods-anna.xml"), c.stored);
    }
    // Nothing but the stored file is left behind.
    size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path)) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 1u);
}

TEST(Goods, RefusesAnUnknownSessionAndStoresNothing) {
    TempDir dir;
    Service s(parseDataSet(kSmallData), dir.path);
    EXPECT_EQ(s.dataPack(goodsBody("S-9", "<a/>")).status, 401);
    EXPECT_EQ(s.dataPack(goodsBody("S-1", "<a/>").substr(0, 100)).status, 400);  // cut short
    EXPECT_FALSE(std::filesystem::exists(dir.path + "/goods-anna.xml"));
}

// ---- generator --------------------------------------------------------

namespace {

GenOptions smallOptions() {
    GenOptions o;
    o.shifts = 4;
    o.checks = 13;
    o.goods = 3;
    o.cash = 2;
    o.openShift = true;
    o.seed = 42;
    return o;
}

std::string generatedText(const GenOptions& o) {
    std::ostringstream out;
    writeDataFile(o, out);
    return out.str();
}

}  // namespace

TEST(Generator, DocumentsAreConsecutiveTimedAndBalanced) {
    struct Case {
        const char* name;
        bool varied;
        int64_t driveChangeAfter;
        std::set<int> operations;
        std::set<int> methods;
        size_t otherMethodsAtMost;  // goods lines paid other than in full (4)
    };
    const std::vector<Case> cases = {
        {"varied", true, 0, {1, 2, 3, 4}, {1, 2, 3, 4, 5, 6, 7}, 1000},
        {"as a shop's register", false, 0, {1, 2, 3}, {1, 2, 3, 4, 5, 6, 7}, 6},
        {"with a fiscal drive change", false, 2, {1, 2, 3}, {1, 2, 3, 4, 5, 6, 7}, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GenOptions o = smallOptions();
        o.varied = c.varied;
        o.driveChangeAfter = c.driveChangeAfter;
        std::vector<GenDoc> docs;
        generateDocuments(o, [&](const GenDoc& d) { docs.push_back(d); });
        std::ostringstream goodsFile;
        writeGoodsFile(goodsFile, 0, o.seed);
        ASSERT_EQ(docs.size(), static_cast<size_t>(o.shifts * (2 + o.checks + o.cash) + 1));
        std::set<int> kinds, taxRates, methods, operations;
        std::set<int64_t> ids;
        std::set<GoodsLayout> layouts;
        std::map<int, int64_t> paymentTotals;
        size_t otherMethods = 0;
        const size_t perShift = static_cast<size_t>(2 + o.checks + o.cash);
        const size_t firstOfNewDrive = static_cast<size_t>(c.driveChangeAfter) * perShift;
        int64_t shiftNumber = 0;
        for (size_t i = 0; i < docs.size(); ++i) {
            const GenDoc& d = docs[i];
            // Numbers start again at 1 on a new fiscal drive; ids never repeat.
            const size_t place = c.driveChangeAfter > 0 && i >= firstOfNewDrive ? i - firstOfNewDrive : i;
            EXPECT_EQ(d.docNo, static_cast<int64_t>(place) + 1);
            EXPECT_TRUE(ids.insert(d.id).second) << d.id;
            if (i > 0) {
                EXPECT_GT(d.time, docs[i - 1].time);
            }
            // Every document of a shift carries its number.
            if (d.kind == 2) shiftNumber = c.driveChangeAfter > 0 && i >= firstOfNewDrive
                                               ? static_cast<int64_t>((i - firstOfNewDrive) / perShift) + 1
                                               : static_cast<int64_t>(i / perShift) + 1;
            EXPECT_EQ(d.shift, shiftNumber) << "document " << i;
            kinds.insert(d.kind);
            if (d.kind != 3 && d.kind != 4) continue;
            layouts.insert(d.layout);
            operations.insert(d.operationType);
            int64_t goodsTotal = 0, paid = 0;
            for (const GenGood& g : d.goods) {
                EXPECT_GE(g.price, 100);
                EXPECT_EQ(g.sum, g.price * g.quantityMilli / 1000);
                expectInCatalogue(goodsFile.str(), g.code, g.name, g.price);
                goodsTotal += g.sum;
                taxRates.insert(g.taxRate);
                methods.insert(g.paymentMethod);
                if (g.paymentMethod != 4) ++otherMethods;
            }
            for (int k = 0; k < 5; ++k) {
                paid += d.payments[k];
                paymentTotals[k] += d.payments[k];
            }
            EXPECT_EQ(paid, goodsTotal) << "check " << d.docNo;
        }
        EXPECT_EQ(kinds, (std::set<int>{2, 3, 4, 5, 129, 130}));
        EXPECT_EQ(layouts.size(), 2u);
        EXPECT_EQ(operations, c.operations);
        EXPECT_EQ(taxRates, (std::set<int>{1, 2, 3, 4, 5, 6}));
        EXPECT_EQ(methods, c.methods);
        EXPECT_LE(otherMethods, c.otherMethodsAtMost);
        for (int k = 0; k < 5; ++k) EXPECT_GT(paymentTotals[k], 0) << "payment kind " << k;
        EXPECT_EQ(docs.back().kind, 2);  // the open shift
    }
}

TEST(Generator, SameSeedSameFileOtherSeedOtherFile) {
    GenOptions o = smallOptions();
    const std::string a = generatedText(o);
    EXPECT_EQ(a, generatedText(o));
    o.seed = 43;
    EXPECT_NE(a, generatedText(o));
}

TEST(Generator, EveryValueSurvivesTheImportersScanning) {
    for (const int64_t goods : {1, 3}) {
        GenOptions o = smallOptions();
        o.goods = goods;
        Service s(parseDataSet(generatedText(o)), ".");
        const std::string sid = s.data().accounts.at(0).idSession;
        // Shift openings and closings, then each interval's checks and cash
        // documents, as the import asks for them.
        const std::string shifts = s.dataPack(queryBody(sid, "2020-03-01T00:00:00.000+0000",
                                                        "2026-12-08T08:15:00+0300", o.kkm, "2,5")).body;
        EXPECT_EQ(layoutcheck::checkAnswer(shifts), static_cast<size_t>(o.shifts * 2 + 1));
        const std::string list = scanrules::docsList(shifts);
        long pos = 0;
        std::string doc, opening;
        size_t checks = 0, cash = 0;
        while (pos != -1) {
            pos = scanrules::nextDoc(list, pos, doc);
            const long kind = scanrules::intAfterKey(doc, "docKind");
            if (kind == 2) opening = scanrules::stringAfterKey(doc, "docDt");
            if (kind != 5) continue;
            const std::string closing = scanrules::stringAfterKey(doc, "docDt");
            checks += layoutcheck::checkAnswer(s.dataPack(queryBody(sid, opening, closing, o.kkm, "3,4")).body);
            cash += layoutcheck::checkAnswer(s.dataPack(queryBody(sid, opening, closing, o.kkm, "129, 130")).body);
        }
        EXPECT_EQ(checks, static_cast<size_t>(o.shifts * o.checks));
        EXPECT_EQ(cash, static_cast<size_t>(o.shifts * o.cash));
    }
}

TEST(Generator, BodiesEndTheWayTheGoodsCutNeeds) {
    GenDoc d;
    d.kind = 3;
    d.shift = 2;
    d.docNo = 9;
    d.goods.push_back({"A-1", "Хлеб", 1000, 4800, 4800, 2, 4});
    d.payments[0] = 4800;
    d.layout = GoodsLayout::TrailingList;
    const std::string trailing = bodyText(d);
    EXPECT_TRUE(endsWith(trailing, "\"t1030\":\"Хлеб\"}]}")) << trailing;
    d.layout = GoodsLayout::Wrapped;
    const std::string wrapped = bodyText(d);
    EXPECT_NE(wrapped.find("\"t1058\":{\"t1059\":[{\"t1023\":\"1.000\","), std::string::npos) << wrapped;
    EXPECT_NE(wrapped.find("\"t1030\":\"Хлеб\"}]},\"t1031\":4800,"), std::string::npos) << wrapped;
    EXPECT_EQ(wrapped.find("tl1059"), std::string::npos);
}

// ---- demo data --------------------------------------------------------

TEST(DemoData, ShiftsChecksAndPaymentsComeOutWhole) {
    Service s(loadDataFile(std::string(KKM_DEMO_DIR) + "/cloud-data.json"), ".");
    ASSERT_EQ(s.data().accounts.size(), 1u);
    const Account& acc = s.data().accounts[0];
    ASSERT_EQ(acc.registers.size(), 1u);
    const std::string kkm = acc.registers[0].kkmNum;
    const std::string shifts = s.dataPack(queryBody(acc.idSession, "2020-03-01T00:00:00.000+0000",
                                                    "2026-12-08T08:15:00+0300", kkm, "2,5")).body;
    EXPECT_EQ(layoutcheck::checkAnswer(shifts), 7u);  // three closed shifts and one open

    const std::string checks = s.dataPack(queryBody(acc.idSession, "2020-03-01T00:00:00.000+0000",
                                                    "2026-12-08T08:15:00+0300", kkm, "3,4")).body;
    EXPECT_EQ(layoutcheck::checkAnswer(checks), 9u);
    EXPECT_NE(checks.find("tl1059"), std::string::npos);
    EXPECT_NE(checks.find("\\\"t1059\\\":[{"), std::string::npos);
    const std::string cash = s.dataPack(queryBody(acc.idSession, "2020-03-01T00:00:00.000+0000",
                                                  "2026-12-08T08:15:00+0300", kkm, "129, 130")).body;
    EXPECT_EQ(docNumbers(cash).size(), 2u);
    layoutcheck::checkAnswer(cash);

    // Every means of payment is used; goods and payments of each check agree;
    // every item is sold by its code in the demo's goods file.
    const std::string catalogue = readWholeFile(std::string(KKM_DEMO_DIR) + "/ExportData.xml");
    std::set<std::string> paidBy;
    for (const Document& d : acc.registers[0].docs) {
        if (d.docKind != 3 && d.docKind != 4) continue;
        const auto body = layoutcheck::OJson::parse(layoutcheck::OJson::parse(d.text)["body"].get<std::string>());
        int64_t goodsTotal = 0, paid = 0;
        for (const auto& g : *layoutcheck::goodsArray(body)) {
            goodsTotal += g["t1043"].get<int64_t>();
            expectInCatalogue(catalogue, g["t40385"].get<std::string>(), g["t1030"].get<std::string>(),
                              g["t1079"].get<int64_t>());
        }
        for (const char* tag : {"t1031", "t1081", "t1215", "t1216", "t1217"}) {
            paid += body[tag].get<int64_t>();
            if (body[tag].get<int64_t>() > 0) paidBy.insert(tag);
        }
        EXPECT_EQ(goodsTotal, paid) << d.docNo;
    }
    EXPECT_EQ(paidBy.size(), 5u);
}

TEST(DemoData, ConfigTemplateAndGoodsFileAreInPlace) {
    const std::string config = readWholeFile(std::string(KKM_DEMO_DIR) + "/config.xml");
    EXPECT_NE(config.find("basicURL=\"http://127.0.0.1:PORT/api/\""), std::string::npos);
    EXPECT_NE(config.find("lastDocDT=\"0\""), std::string::npos);
    EXPECT_NE(config.find("login=\"demo\" password=\"demo-pass\""), std::string::npos);
    EXPECT_NE(config.find("kkmNum=\"0001234567890123\""), std::string::npos);

    const std::string goods = readWholeFile(std::string(KKM_DEMO_DIR) + "/ExportData.xml");
    EXPECT_EQ(goods.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ExportData", 0), 0u);
    EXPECT_NE(goods.find("\n\t\t\t<Good "), std::string::npos);
    EXPECT_NE(goods.find('\\'), std::string::npos);
    EXPECT_NE(goods.find(" Name=\"Конфеты &quot;Птичье молоко&quot; 250 г\""), std::string::npos);
    size_t count = 0;
    for (size_t p = goods.find("<Good "); p != std::string::npos; p = goods.find("<Good ", p + 1)) ++count;
    EXPECT_EQ(count, 19u);
}
