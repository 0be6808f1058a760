// The service client against the simulated service over real loopback
// connections: what goes out on the wire and what is made of the answers.
#include <gtest/gtest.h>
#include <httplib.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "cloud/document_query.h"
#include "cloud/goods_upload.h"
#include "cloud/http_transport.h"
#include "cloud/session.h"
#include "config/settings.h"
#include "files/secret_mask.h"
#include "sim_process.h"
#include "captured_messages.h"
#include "test_files.h"

using kkmtest::SimProcess;

namespace {

const std::string kDemoData = std::string(KKM_SOURCE_DIR) + "/demo/cloud-data.json";
const std::string kSession = "a3f1c0de-5b7e-4d2b-9c3e-20241118d001";
const std::string kKkm = "0001234567890123";
const std::string kStampPattern = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d{4})";

class CloudClientTest : public ::testing::Test {
 protected:
  void SetUp() override { resetSettings(); }
  void TearDown() override { resetSettings(); }

  // Starts the service with the demo data (and `extra` options) and points
  // the settings at it.
  SimProcess& start(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--data", kDemoData, "--log-dir", logs.path(), "--state", logs.path()};
    args.insert(args.end(), extra.begin(), extra.end());
    sim = std::make_unique<SimProcess>(args);
    basicURL = sim->baseUrl();
    login = "demo";
    password = "demo-pass";
    addPasswordSecret(password);  // as reading the configuration does
    kkmNum = kKkm;
    return *sim;
  }

  void logIn() {
    CapturedMessages captured;
    std::string error;
    getLoginParams(error);
  }

  // The documents of a query, and its error in `error`.
  std::string query(const std::string& dateFrom, const std::string& dateTo, const std::string& kinds) {
    return getAllDocsByKind(dateFrom, dateTo, kinds, error);
  }

  std::string error;

  kkmtest::LoggedRequest request(int n) {
    auto r = kkmtest::readRequestLog(logs.path(), n);
    EXPECT_TRUE(r.has_value()) << "request " << n << " was not recorded";
    return r.value_or(kkmtest::LoggedRequest{});
  }

  ScopedTempDir logs;
  std::unique_ptr<SimProcess> sim;
};

// The session id is a credential: only debug mode shows it, and only debug
// mode has libcurl's trace, in which the password stands as ***.
TEST_F(CloudClientTest, LoginFillsTheSessionAndTracesIt) {
  start();
  for (const int debug : {1, 0}) {
    debugmode = debug;
    CapturedMessages captured;
    EXPECT_TRUE(getLoginParams(error));
    EXPECT_EQ("", error);
    EXPECT_EQ(kSession, idSession);
    EXPECT_EQ(1024, idUser);
    EXPECT_EQ(77, idDealer);
    EXPECT_EQ(" getLoginParams \n idSession " + (debug ? kSession : "***") + "\n nameUser " + nameUser +
                  "\n idUser 1024\n idDealer 77\n",
              captured.out());
    const std::string& trace = captured.err();
    if (debug) {
      EXPECT_NE(std::string::npos, trace.find("> GET /api/LoginSession?login=demo&password=*** HTTP/1.1\n")) << trace;
      EXPECT_NE(std::string::npos, trace.find("\n< HTTP/1.1 200 OK\n")) << trace;
    } else {
      EXPECT_EQ("", trace);
    }
    EXPECT_EQ(std::string::npos, trace.find("demo-pass")) << trace;
  }
  EXPECT_FALSE(nameUser.empty());

  const auto get = request(1);
  EXPECT_EQ("GET", get.method);
  EXPECT_EQ("/api/LoginSession?login=demo&password=demo-pass", get.target);
  EXPECT_FALSE(get.hasHeader("Authorization"));
  EXPECT_FALSE(get.hasHeader("User-Agent"));
  EXPECT_EQ("{ \"session\": { \"idSession\": \"" + kSession + "\",\"idDealer\":77, \"idUser\":1024}, ",
            makeSessionEnvelope());
}

TEST_F(CloudClientTest, LoginValuesArePercentEncoded) {
  start();
  login = "a&b c";
  password = "p=1?#\xE8";
  addPasswordSecret(password);
  CapturedMessages captured;
  EXPECT_FALSE(getLoginParams(error));
  const std::string& err = error;
  EXPECT_EQ("/api/LoginSession?login=a%26b%20c&password=p%3D1%3F%23%E8", request(1).target);
  // A refused login is said once, without the password.
  EXPECT_NE(std::string::npos, err.find("login to " + basicURL + "LoginSession failed: HTTP status 401")) << err;
  EXPECT_EQ(std::string::npos, err.find("p%3D1")) << err;
}

TEST_F(CloudClientTest, FailedLoginLeavesTheMissingValues) {
  start({"--fault", "1:status=500"});
  CapturedMessages captured;
  EXPECT_FALSE(getLoginParams(error));
  const std::string out = captured.out();
  const std::string& err = error;
  EXPECT_NE(std::string::npos, out.find(" idSession ***\n nameUser \n idUser -1\n idDealer -1\n")) << out;
  EXPECT_NE(std::string::npos, err.find("failed: HTTP status 500")) << err;
  EXPECT_EQ("{ \"session\": { \"idSession\": \"\",\"idDealer\":-1, \"idUser\":-1}, ", makeSessionEnvelope());
}

TEST_F(CloudClientTest, UnreachableServiceFailsTheLoginWithTheTransportReason) {
  {
    SimProcess gone({});  // learn a port nobody listens on any more
    basicURL = gone.baseUrl();
  }
  CapturedMessages captured;
  EXPECT_FALSE(getLoginParams(error));
  const std::string& err = error;
  EXPECT_NE(std::string::npos, err.find("LoginSession failed: ")) << err;
  EXPECT_EQ(std::string::npos, err.find("HTTP status")) << err;
  EXPECT_EQ(-1, idUser);
}

TEST_F(CloudClientTest, DocumentQueryBodyAndHeaders) {
  start();
  logIn();
  const std::string docs = query("2020-03-01T00:00:00.000+0000", "2030-01-01T00:00:00+0300", "129, 130");
  EXPECT_EQ("", error);
  EXPECT_EQ(0u, docs.find("{\"id\":")) << docs;

  const auto post = request(2);
  EXPECT_EQ("POST", post.method);
  EXPECT_EQ("/api/WebDataPackPost", post.target);
  EXPECT_EQ("application/xml, text/plain, application/problem+json", post.header("Accept"));
  EXPECT_EQ("application/x-www-form-urlencoded", post.header("Content-Type"));
  EXPECT_EQ("Linux C  libcurl", post.header("User-Agent"));
  EXPECT_FALSE(post.hasHeader("Expect"));
  const std::string want = R"(\{ "session": \{ "idSession": ")" + kSession +
                           R"(","idDealer":77, "idUser":1024\}, "params": \{ "ext": \{"getDocumentsCommands": \[)"
                           R"(\{"commandId":"command)" + kStampPattern + R"(", "commandDt":")" + kStampPattern +
                           R"(", "dateFrom":"2020-03-01T00:00:00.000\+0000", "dateTo":"2030-01-01T00:00:00\+0300", )"
                           R"("serialNumbers":\[")" + kKkm + R"("\], "kinds":\[129, 130\] , "sortBy":"docNo, docDt"\}\]\}\}\})";
  EXPECT_TRUE(std::regex_match(post.body, std::regex(want))) << post.body;
}

TEST_F(CloudClientTest, DocumentQueryWithTheFailedLoginEnvelopeAndOddValues) {
  start();
  idUser = idDealer = -1;
  kkmNum = "12\"34\\\t";  // a TAB is sent as \t, like every other character as it was received
  const std::string longDate(600, '9');  // no fixed limit on the command's length
  query(longDate, "", "2,5");
  const std::string body = request(1).body;
  EXPECT_EQ(0u, body.find("{ \"session\": { \"idSession\": \"\",\"idDealer\":-1, \"idUser\":-1}, \"params\"")) << body;
  EXPECT_NE(std::string::npos, body.find("\"serialNumbers\":[\"12\\\"34\\\\\\t\"]")) << body;
  EXPECT_NE(std::string::npos, body.find("\"dateFrom\":\"" + longDate + "\"")) << body;
  EXPECT_NE(std::string::npos, body.find("\"kinds\":[2,5] , ")) << body;
  // The session was refused: the query failed and says so.
  EXPECT_NE(std::string::npos, error.find("HTTP status 401")) << error;
}

// The bodies sent before any login succeeded, byte for byte (time stamps by pattern).
TEST_F(CloudClientTest, BodiesAfterAFailedLoginAreExact) {
  start();
  idUser = idDealer = -1;
  kkmNum = "0000000000012345";
  const std::string dateTo = "2026-12-08T08:15:00+0300";
  query("2020-03-01T00:00:00.000+0000", dateTo, "2,5");
  const std::string want =
      R"re(\{ "session": \{ "idSession": "","idDealer":-1, "idUser":-1\}, "params": \{ "ext": \{"getDocumentsCommands": \[)re"
      R"re(\{"commandId":"command()re" + kStampPattern + R"re()", "commandDt":"()re" + kStampPattern +
      R"re()", "dateFrom":"2020-03-01T00:00:00.000\+0000", "dateTo":"2026-12-08T08:15:00\+0300", )re"
      R"re("serialNumbers":\["0000000000012345"\], "kinds":\[2,5\] , "sortBy":"docNo, docDt"\}\]\}\}\})re";
  const std::string body = request(1).body;
  std::smatch m;
  ASSERT_TRUE(std::regex_match(body, m, std::regex(want))) << body;
  EXPECT_EQ(m[1].str(), m[2].str());  // one stamp serves as identifier and date
  EXPECT_EQ(355u - 2 * 24 + 2 * m[1].length(), body.size());

  std::string answer;
  send1CexportData("<a b=\"1\">x</a>", answer, error);
  EXPECT_EQ(R"({ "session": { "idSession": "","idDealer":-1, "idUser":-1},  "params": { "ext": { "import1cXmlTovars": "<a b=\"1\">x</a>"}}})",
            request(2).body);
}

TEST_F(CloudClientTest, DocumentQueryFailuresAreTold) {
  struct Case {
    std::string fault;
    std::string reasonPart;
  };
  const std::vector<Case> cases = {
      {"2:status=500", "HTTP status 500"},
      {"2:status=404", "HTTP status 404"},
      {"2:close=40", "failed: "},
      {"2:garbage", "the answer is not a JSON object"},
  };
  for (const auto& c : cases) {
    start({"--fault", c.fault});
    logIn();
    const std::string docs = query("2020-03-01T00:00:00.000+0000", "2030-01-01T00:00:00+0300", "3,4");
    EXPECT_NE(std::string::npos, error.find(c.reasonPart)) << c.fault << ": "
                                                                              << error;
    EXPECT_NE(std::string::npos, error.find("kinds 3,4")) << error;
    EXPECT_TRUE(serviceAnswer.empty());
  }
  // A good answer after a failed one clears the error.
  start();
  logIn();
  query("2020-03-01T00:00:00.000+0000", "2030-01-01T00:00:00+0300", "3,4");
  EXPECT_EQ("", error);
}

// A service that holds its answer: the request is given up when nothing
// arrives for the stall time (a minute unless shortened, as here) or when
// the whole request passes its time limit.
TEST_F(CloudClientTest, AHeldAnswerFailsTheRequest) {
  struct Case {
    const char* name;
    long stall;
    long timeLimit;
    const char* reason;
  };
  const Case cases[] = {
      {"past the time limit", 60, 1, "timed out"},
      {"stalled", 1, 60, "too slow"},
  };
  // The stall is told after a few seconds of no bytes (the library measures
  // over a window of seconds, and the request's own bytes count at first).
  start({"--fault", "1:delay=3000", "--fault", "2:delay=10000"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    setStallSeconds(c.stall);
    RequestOutcome outcome;
    EXPECT_EQ(-1, sendPostRequest(basicURL + "WebDataPackPost", "", "{}", 10, c.timeLimit, outcome));
    setStallSeconds(kStallSeconds);
    EXPECT_FALSE(outcome.completed);
    EXPECT_NE(std::string::npos, outcome.failureText().find(c.reason)) << outcome.failureText();
  }
}

TEST_F(CloudClientTest, TransportReportsStatusAndKeepsErrorBodies) {
  start({"--fault", "1:status=500"});
  RequestOutcome outcome;
  EXPECT_EQ(0, sendPostRequest(basicURL + "WebDataPackPost", "", "{}", 10, 60, outcome));
  EXPECT_EQ(500, outcome.httpStatus);
  EXPECT_FALSE(outcome.succeeded());
  EXPECT_NE(std::string::npos, serviceAnswer.find("\"status\":500")) << serviceAnswer;
}

// What no service answer may be is refused by the transport with a reason:
// an address of another scheme than http and https, and an answer whose
// announced length passes the cap (stopped at its header, before the body).
TEST_F(CloudClientTest, TransportRefusesWhatIsNoServiceAnswer) {
  httplib::Server server;
  server.Post("/huge", [](const httplib::Request&, httplib::Response& res) {
    res.set_content_provider(kMaxAnswerBytes + 1, "application/json",
                             [](std::size_t, std::size_t length, httplib::DataSink& sink) {
                               static const std::string chunk(64 * 1024, ' ');
                               return sink.write(chunk.data(), std::min(length, chunk.size()));
                             });
  });
  const int port = server.bind_to_any_port("127.0.0.1");
  std::thread serving([&] { server.listen_after_bind(); });
  ScopedTempDir dir;
  writeFileBytes(dir.file("WebDataPackPost"), "{\"answer\":\"from a file\"}");
  struct Case {
    const char* name;
    std::string url;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"a file:// address", "file://" + dir.file("WebDataPackPost"), "\"file\""},
      {"an answer announced past the cap", "http://127.0.0.1:" + std::to_string(port) + "/huge",
       "the answer is larger than 512 MB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    serviceAnswer.clear();
    RequestOutcome outcome;
    EXPECT_EQ(-1, sendPostRequest(c.url, "", "{}", 10, 60, outcome));
    EXPECT_FALSE(outcome.succeeded());
    EXPECT_NE(std::string::npos, outcome.failureText().find(c.reason)) << outcome.failureText();
    EXPECT_EQ(std::string::npos, serviceAnswer.find("from a file")) << serviceAnswer;
    EXPECT_LT(serviceAnswer.size(), 1024u * 1024u);
  }
  server.stop();
  serving.join();
}

TEST_F(CloudClientTest, TransportRefusesASecondRequestWhileOneIsUnderWay) {
  start();
  serviceAnswer = "kept";
  requestInProgress = true;
  RequestOutcome outcome;
  EXPECT_EQ(-1, sendPostRequest(basicURL + "WebDataPackPost", "", "{}", 10, 60, outcome));
  EXPECT_EQ(-1, sendGetRequest(basicURL + "LoginSession", "", outcome));
  requestInProgress = false;
  EXPECT_EQ("kept", serviceAnswer);
  EXPECT_EQ(0, kkmtest::countRequestLogs(logs.path()));
}

TEST_F(CloudClientTest, TlsIsVerifiedUnlessSwitchedOff) {
  ScopedTempDir certs;
  const std::string cert = certs.file("cert.pem"), key = certs.file("key.pem");
  ASSERT_TRUE(kkmtest::writeSelfSignedCertificate(cert, key, "localhost"));
  start({"--cert", cert, "--key", key});
  basicURL = "https://localhost:" + std::to_string(sim->port()) + "/api/";

  // The program reads caFile itself, so a name in any script will do.
  const std::string cyrillic = certs.file("\xD1\x81\xD0\xB5\xD1\x80\xD1\x82.pem");  // "серт.pem"
  writeFileBytes(cyrillic, readFileBytes(cert));
  struct Case {
    std::string caFile;
    bool verify;
    bool accepted;
    std::string says;  // part of the error when refused before asking
  };
  const std::vector<Case> cases = {
      {"", true, false, ""},        // a self-signed certificate is refused by default
      {cert, true, true, ""},       // ... trusted once named in caFile
      {cyrillic, true, true, ""},
      {"", false, true, ""},        // ... or with verification switched off
      {certs.file("absent.pem"), true, false, "cannot read caFile " + certs.file("absent.pem") + ": there is no such file"},
  };
  for (const auto& c : cases) {
    caFile = c.caFile;
    sslVerify = c.verify;
    idSession.clear();
    error.clear();
    CapturedMessages captured;
    EXPECT_EQ(c.accepted, getLoginParams(error)) << error;
    EXPECT_EQ(c.accepted, idSession == kSession) << "caFile=" << c.caFile << " verify=" << c.verify << "\n" << error;
    EXPECT_NE(std::string::npos, error.find(c.says)) << error;
    EXPECT_EQ("", captured.err());
  }
}

TEST_F(CloudClientTest, GoodsUploadSendsTheEscapedFileWhole) {
  start();
  logIn();
  std::string answer;
  const std::string goods = "<a b=\"1\">x\\y\t</a>";
  EXPECT_TRUE(send1CexportData(goods, answer, error)) << error;
  EXPECT_NE(std::string::npos, answer.find("goods accepted")) << answer;
  EXPECT_EQ("{ \"session\": { \"idSession\": \"" + kSession +
                "\",\"idDealer\":77, \"idUser\":1024},  \"params\": { \"ext\": { \"import1cXmlTovars\": "
                "\"<a b=\\\"1\\\">x\\\\y</a>\"}}}",
            request(2).body);
  // The service stored the goods exactly, less the TAB.
  EXPECT_EQ("<a b=\"1\">x\\y</a>", readFileBytes(logs.file("goods-demo.xml")));
}

TEST_F(CloudClientTest, GoodsUploadRefusedIsTold) {
  start({"--fault", "1:status=503"});
  std::string answer;
  EXPECT_FALSE(send1CexportData("<a/>", answer, error));
  EXPECT_NE(std::string::npos, answer.find("503")) << answer;
  EXPECT_NE(std::string::npos, error.find("WebDataPackPost failed: HTTP status 503")) << error;
}

}  // namespace
