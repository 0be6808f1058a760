// cloud-sim as a separate process, over real loopback connections.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "scanner_rules.h"
#include "sim_process.h"
#include "store.h"

using kkmtest::SimProcess;

namespace {

const std::string kDemoData = std::string(KKM_DEMO_DIR) + "/cloud-data.json";
const std::string kSid = "a3f1c0de-5b7e-4d2b-9c3e-20241118d001";
const std::string kKkm = "0001234567890123";

struct HttpAnswer {
    bool complete = false;  // all Content-Length bytes arrived
    int status = 0;
    std::string head;
    long contentLength = -1;
    std::string body;
};

// One request over a fresh connection, read until the server closes it.
HttpAnswer httpExchange(int port, const std::string& request) {
    HttpAnswer a;
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return a;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval tv{15, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return a;
    }
    size_t sent = 0;
    while (sent < request.size()) {
        const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
    }
    std::string raw;
    char buf[65536];
    while (true) {
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        raw.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    const size_t split = raw.find("\r\n\r\n");
    if (split == std::string::npos) return a;
    a.head = raw.substr(0, split);
    a.body = raw.substr(split + 4);
    if (a.head.size() > 12) a.status = std::atoi(a.head.substr(9, 3).c_str());
    const size_t cl = a.head.find("Content-Length: ");
    if (cl != std::string::npos) a.contentLength = std::atol(a.head.c_str() + cl + 16);
    a.complete = a.contentLength >= 0 && a.body.size() == static_cast<size_t>(a.contentLength);
    return a;
}

// A POST as the importer's HTTP library sends it.
std::string post(int port, const std::string& body) {
    return "POST /api/WebDataPackPost HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
           "\r\nUser-Agent: Linux C  libcurl\r\nAccept: application/xml, text/plain, application/problem+json\r\n"
           "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

std::string get(int port, const std::string& target) {
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
           "\r\nAccept: */*\r\nConnection: close\r\n\r\n";
}

std::string queryBody(const std::string& sid, const std::string& kinds) {
    return "{ \"session\": { \"idSession\": \"" + sid +
           "\",\"idDealer\":77, \"idUser\":1024}, \"params\": { \"ext\": {\"getDocumentsCommands\": "
           "[{\"commandId\":\"command2026-12-08T08:15:00+0300\", \"commandDt\":\"2026-12-08T08:15:00+0300\", "
           "\"dateFrom\":\"2020-03-01T00:00:00.000+0000\", \"dateTo\":\"2026-12-08T08:15:00+0300\", "
           "\"serialNumbers\":[\"" + kKkm + "\"], \"kinds\":[" + kinds + "] , \"sortBy\":\"docNo, docDt\"}]}}}";
}

const std::string kLogin = "/api/LoginSession?login=demo&password=demo-pass";

class TempDir {
public:
    TempDir() : path(kkmtest::makeTempDir("cloud-sim-test-")) {}
    ~TempDir() { kkmtest::removeTree(path); }
    std::string path;
};

int runCli(const std::string& args) {
    const int rc = std::system((std::string("'") + kkmtest::defaultSimPath() + "' " + args).c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

}  // namespace

TEST(CloudSim, LoginAndDocumentQueryOverHttp) {
    SimProcess sim({"--data", kDemoData});
    const HttpAnswer ok = httpExchange(sim.port(), get(sim.port(), kLogin));
    ASSERT_TRUE(ok.complete) << ok.head;
    EXPECT_EQ(ok.status, 200);
    EXPECT_EQ(scanrules::stringAfterKey(ok.body, "idSession"), kSid);
    EXPECT_EQ(scanrules::intAfterKey(ok.body, "idUser"), 1024);
    EXPECT_EQ(scanrules::intAfterKey(ok.body, "idDealer"), 77);

    const HttpAnswer wrong = httpExchange(sim.port(), get(sim.port(), "/api/LoginSession?login=demo&password=x"));
    EXPECT_EQ(wrong.status, 401);
    EXPECT_NE(wrong.head.find("Content-Type: application/problem+json"), std::string::npos);
    EXPECT_EQ(wrong.body.find("idSession"), std::string::npos);

    const HttpAnswer shifts = httpExchange(sim.port(), post(sim.port(), queryBody(kSid, "2,5")));
    ASSERT_TRUE(shifts.complete);
    EXPECT_EQ(shifts.status, 200);
    EXPECT_EQ(shifts.body.substr(shifts.body.size() - 5), "\"}]}}");
    EXPECT_EQ(shifts.head.find("chunked"), std::string::npos);

    const HttpAnswer refused = httpExchange(sim.port(), post(sim.port(), queryBody("nobody", "2,5")));
    EXPECT_EQ(refused.status, 401);
    EXPECT_EQ(httpExchange(sim.port(), get(sim.port(), "/api/Nothing")).status, 404);
    EXPECT_EQ(sim.stop(), 0);
}

TEST(CloudSim, StoresALargeGoodsUploadByteForByte) {
    TempDir state;
    SimProcess sim({"--data", kDemoData, "--state", state.path});
    // Well above the few kilobytes at which form bodies get refused by
    // default, with Windows-1251 bytes and escaped quotes.
    std::string xml = "<?xml version=\"1.0\" encoding=\"windows-1251\"?><ExportData>";
    std::string sent = "<?xml version=\\\"1.0\\\" encoding=\\\"windows-1251\\\"?><ExportData>";
    for (int i = 0; i < 4000; ++i) {
        const std::string item = "<Good Code=\"" + std::to_string(i) + "\">\xD5\xEB\xE5\xE1 \xB9" +
                                 std::to_string(i) + "</Good>";
        xml += item;
        std::string escaped;
        for (char c : item) escaped += c == '"' ? std::string("\\\"") : std::string(1, c);
        sent += escaped;
    }
    xml += "</ExportData>";
    sent += "</ExportData>";
    const std::string body = "{ \"session\": { \"idSession\": \"" + kSid +
                             "\",\"idDealer\":77, \"idUser\":1024},  \"params\": { \"ext\": { \"import1cXmlTovars\": \"" +
                             sent + "\"}}}";
    ASSERT_GT(body.size(), 100000u);
    const HttpAnswer a = httpExchange(sim.port(), post(sim.port(), body));
    ASSERT_EQ(a.status, 200) << a.body;
    EXPECT_NE(a.body.find("\"bytes\":" + std::to_string(xml.size())), std::string::npos) << a.body;
    EXPECT_EQ(cloudsim::readWholeFile(state.path + "/goods-demo.xml"), xml);
}

TEST(CloudSim, RecordsEveryRequestAsReceived) {
    TempDir logs;
    SimProcess sim({"--data", kDemoData, "--log-dir", logs.path});
    httpExchange(sim.port(), get(sim.port(), kLogin));
    const std::string body = queryBody(kSid, "129, 130") + std::string("\xFF\x00z", 3);
    httpExchange(sim.port(), post(sim.port(), body));
    httpExchange(sim.port(), get(sim.port(), "/elsewhere?q=1"));
    ASSERT_EQ(kkmtest::countRequestLogs(logs.path), 3);

    const auto first = kkmtest::readRequestLog(logs.path, 1);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->requestLine, "GET " + kLogin + " HTTP/1.1");
    EXPECT_TRUE(first->body.empty());

    const auto second = kkmtest::readRequestLog(logs.path, 2);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->method, "POST");
    EXPECT_EQ(second->target, "/api/WebDataPackPost");
    EXPECT_EQ(second->header("content-type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(second->header("User-Agent"), "Linux C  libcurl");
    EXPECT_EQ(second->header("Accept"), "application/xml, text/plain, application/problem+json");
    EXPECT_FALSE(second->hasHeader("Expect"));
    EXPECT_FALSE(second->hasHeader("REMOTE_ADDR"));
    EXPECT_EQ(second->body, body);

    EXPECT_EQ(kkmtest::readRequestLog(logs.path, 3)->target, "/elsewhere?q=1");
    EXPECT_FALSE(kkmtest::readRequestLog(logs.path, 4));
}

TEST(CloudSim, InjectedFaultsHitOnlyTheirRequest) {
    SimProcess sim({"--data", kDemoData, "--fault", "2:status=503", "--fault", "3:close=10", "--fault",
                    "4:garbage", "--fault", "5:delay=400", "--fault", "6:close=0"});
    const int port = sim.port();
    const HttpAnswer normal = httpExchange(port, get(port, kLogin));
    ASSERT_TRUE(normal.complete);
    EXPECT_EQ(normal.status, 200);

    const HttpAnswer status = httpExchange(port, get(port, kLogin));
    EXPECT_TRUE(status.complete);
    EXPECT_EQ(status.status, 503);
    EXPECT_NE(status.head.find("application/problem+json"), std::string::npos);
    EXPECT_EQ(status.body, "{\"type\":\"about:blank\",\"title\":\"Service Unavailable\",\"status\":503,"
                           "\"detail\":\"injected fault\"}");

    const HttpAnswer cut = httpExchange(port, post(port, queryBody(kSid, "2,5")));
    EXPECT_EQ(cut.status, 200);
    EXPECT_FALSE(cut.complete);
    EXPECT_GT(cut.contentLength, 1000);
    EXPECT_EQ(cut.body, "{\"result\":");

    const HttpAnswer garbage = httpExchange(port, post(port, queryBody(kSid, "2,5")));
    EXPECT_TRUE(garbage.complete);
    EXPECT_EQ(garbage.status, 200);
    EXPECT_EQ(garbage.body.find("kkmDocs"), std::string::npos);
    EXPECT_FALSE(nlohmann::json::accept(garbage.body));

    const auto started = std::chrono::steady_clock::now();
    const HttpAnswer slow = httpExchange(port, get(port, kLogin));
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(400));
    EXPECT_TRUE(slow.complete);
    EXPECT_EQ(slow.body, normal.body);

    const HttpAnswer empty = httpExchange(port, get(port, kLogin));
    EXPECT_EQ(empty.status, 200);
    EXPECT_TRUE(empty.body.empty());
    EXPECT_EQ(empty.contentLength, static_cast<long>(normal.body.size()));

    EXPECT_EQ(httpExchange(port, get(port, kLogin)).body, normal.body);
}

TEST(CloudSim, ServesHttpsWithASelfSignedCertificate) {
    TempDir dir;
    const std::string cert = dir.path + "/cert.pem", key = dir.path + "/key.pem";
    ASSERT_TRUE(kkmtest::writeSelfSignedCertificate(cert, key, "some.other.host"));
    SimProcess sim({"--data", kDemoData, "--cert", cert, "--key", key});
    EXPECT_EQ(sim.baseUrl("https"), "https://127.0.0.1:" + std::to_string(sim.port()) + "/api/");
    httplib::SSLClient client("127.0.0.1", sim.port());
    client.enable_server_certificate_verification(false);
    const auto res = client.Get(kLogin.c_str());
    ASSERT_TRUE(res) << httplib::to_string(res.error());
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(scanrules::stringAfterKey(res->body, "idSession"), kSid);
}

TEST(CloudSim, RefusesToStartOnABrokenDataFile) {
    TempDir dir;
    std::ofstream(dir.path + "/bad.json") << "{\"accounts\":[{\"login\":1}]}";
    EXPECT_THROW(SimProcess({"--data", dir.path + "/bad.json"}), std::runtime_error);
    EXPECT_THROW(SimProcess({"--fault", "1:explode"}), std::runtime_error);
}

TEST(CloudSimCli, GeneratesDataTheServerLoads) {
    TempDir dir;
    const std::string out = dir.path + "/gen.json";
    ASSERT_EQ(runCli("generate --shifts 2 --checks 3 --goods 2 --cash 1 --open-shift --seed 5 "
                     "--kkm 42 --login u --password pw --start 2021-05-01T09:00:00 --out '" + out + "'"), 0);
    const cloudsim::DataSet data = cloudsim::loadDataFile(out);
    ASSERT_EQ(data.accounts.size(), 1u);
    EXPECT_EQ(data.accounts[0].login, "u");
    ASSERT_NE(data.accounts[0].findRegister("42"), nullptr);
    const auto& docs = data.accounts[0].findRegister("42")->docs;
    ASSERT_EQ(docs.size(), 2u * (2 + 3 + 1) + 1);
    EXPECT_EQ(docs.front().docDt, "2021-05-01T09:00:00.000+0000");

    EXPECT_NE(runCli("generate --checks x --out '" + out + "' 2>/dev/null"), 0);
    EXPECT_NE(runCli("generate --shifts 1 2>/dev/null"), 0);
    EXPECT_NE(runCli("nothing 2>/dev/null"), 0);
}

TEST(CloudSimCli, WritesAGoodsFileOfTheAskedSize) {
    TempDir dir;
    const std::string out = dir.path + "/goods.xml";
    ASSERT_EQ(runCli("goods --size-mb 2 --out '" + out + "'"), 0);
    const std::string text = cloudsim::readWholeFile(out);
    EXPECT_GE(text.size(), 2u * 1048576u);
    EXPECT_LT(text.size(), 2u * 1048576u + 4096u);
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ExportData", 0), 0u);
    EXPECT_EQ(text.substr(text.size() - 14), "</ExportData>\n");
    EXPECT_EQ(std::system(("xmllint --noout --schema '" KKM_SCHEMA_DIR "/EquipmentService_3_0_0_0.xsd' '" + out +
                           "' 2>/dev/null").c_str()),
              0);
    EXPECT_NE(runCli("goods --size-mb -1 --out '" + out + "' 2>/dev/null"), 0);
}
