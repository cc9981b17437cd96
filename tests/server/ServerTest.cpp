// vexa-server in-process on an ephemeral 127.0.0.1 port, driven over HTTP.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <random>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "ByteRange.h"
#include "TestFiles.h"
#include "VexaServer.h"
#include "app/Text.h"
#include "context/StatRequest.h"
#include "formats/Md5.h"

using testfiles::ScratchDir;

namespace {

const char kConfig[] = R"({
  "default": {"idState": "free", "initxml": "<item title=\"Default\"/>", "tail": "<installer pid=\"d\"/>",
              "campaigns": [{"pinstall": "demo", "options": {"main": "/S"}}]},
  "installKeys": {"promo": {"idState": "busy", "tail": "<installer pid=\"p\"/>"}}
})";

std::string randomBytes(size_t n) {
  std::mt19937 gen(1234);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(gen());
  return s;
}

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = testfiles::narrow(scratch_.path()) + "/content";
    outside_ = testfiles::narrow(scratch_.path()) + "/outside";
    ::mkdir(root_.c_str(), 0700);
    ::mkdir(outside_.c_str(), 0700);
    ::mkdir((root_ + "/sub").c_str(), 0700);
    pack_ = randomBytes(100000);
    put(root_ + "/Vexa.ebz", pack_);
    put(root_ + "/java.json", R"({"minVersion":"1.8.0_251"})");
    put(root_ + "/empty.bin", "");
    put(root_ + "/sub/fox.txt", "The quick brown fox jumps over the lazy dog");
    put(outside_ + "/secret", "secret");
    ASSERT_EQ(::symlink((outside_ + "/secret").c_str(), (root_ + "/escape").c_str()), 0);
    ASSERT_EQ(::symlink(outside_.c_str(), (root_ + "/escapedir").c_str()), 0);
    ASSERT_EQ(::symlink((root_ + "/sub/fox.txt").c_str(), (root_ + "/fox-link").c_str()), 0);
    ASSERT_TRUE(events_.open(testfiles::narrow(scratch_.path()) + "/events.sqlite")) << events_.error();
  }

  void start(bool withConfig = true, ServerSettings settings = ServerSettings()) {
    if (withConfig) {
      ASSERT_TRUE(answers_.loadText(kConfig)) << answers_.error();
    }
    content_ = std::make_unique<ContentStore>(root_);
    server_ = std::make_unique<VexaServer>(*content_, events_, answers_, log_, settings);
    port_ = server_->bind("127.0.0.1", 0);
    ASSERT_GT(port_, 0);
    thread_ = std::thread([this] { server_->run(); });
    for (int i = 0; i < 500 && !server_->running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(server_->running());
  }

  void TearDown() override { stop(); }

  // The request log is written after each answer has gone out; read it only
  // once the server has stopped.
  void stop() {
    if (server_) server_->stop();
    if (thread_.joinable()) thread_.join();
  }

  static void put(const std::string& path, const std::string& bytes) {
    testfiles::writeFile(text::utf8ToWide(path), bytes);
  }

  httplib::Result get(const std::string& path, const std::string& range = "") {
    httplib::Client client("127.0.0.1", port_);
    httplib::Headers headers;
    if (!range.empty()) headers.emplace("Range", range);
    return client.Get(path.c_str(), headers);
  }

  std::string statPath(const stats::StatParams& params) {
    std::string url = text::wideToUtf8(stats::buildRequestUrl(L"/installer2.html", params));
    return url;
  }

  long rowCount() { return std::stol(events_.query("SELECT COUNT(*) AS n FROM events")[0]["n"]); }

  ScratchDir scratch_;
  std::string root_, outside_, pack_;
  EventStore events_;
  StartAnswer answers_;
  std::ostringstream log_;
  std::unique_ptr<ContentStore> content_;
  std::unique_ptr<VexaServer> server_;
  std::thread thread_;
  int port_ = 0;
};

TEST_F(ServerTest, AnswersByteRanges) {
  start();
  struct Case {
    const char* range;
    size_t first, length;
  } cases[] = {
      {"bytes=0-99", 0, 100},          {"bytes=1000-1999", 1000, 1000}, {"bytes=-100", 99900, 100},
      {"bytes=99900-", 99900, 100},     {"bytes=99990-200000", 99990, 10}, {"bytes=-500000", 0, 100000},
      {"bytes=99999-99999", 99999, 1},
  };
  for (const auto& c : cases) {
    auto res = get("/Vexa.ebz", c.range);
    ASSERT_TRUE(res) << "Error: " << httplib::to_string(res.error());
    EXPECT_EQ(res->status, 206) << c.range;
    EXPECT_EQ(res->body, pack_.substr(c.first, c.length)) << c.range;
    EXPECT_EQ(res->get_header_value("Content-Length"), std::to_string(c.length)) << c.range;
    EXPECT_EQ(res->get_header_value("Content-Range"), "bytes " + std::to_string(c.first) + "-" +
                                                          std::to_string(c.first + c.length - 1) + "/100000")
        << c.range;
    EXPECT_EQ(res->get_header_value("Accept-Ranges"), "bytes");
  }

  stop();
  // Each ranged answer names its part in the request log.
  EXPECT_NE(log_.str().find(" GET /Vexa.ebz 206 1000 range 1000-1999"), std::string::npos) << log_.str();
  EXPECT_NE(log_.str().find(" GET /Vexa.ebz 206 1 range 99999-99999"), std::string::npos) << log_.str();
  start();

  auto whole = get("/Vexa.ebz");
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->status, 200);
  EXPECT_EQ(whole->body, pack_);
  EXPECT_EQ(whole->get_header_value("Content-Length"), "100000");
  EXPECT_FALSE(whole->has_header("Content-Range"));

  for (const char* bad : {"bytes=100000-", "bytes=200000-300000"}) {
    auto res = get("/Vexa.ebz", bad);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 416) << bad;
    EXPECT_EQ(res->get_header_value("Content-Range"), "bytes */100000") << bad;
    EXPECT_TRUE(res->body.empty()) << bad;
  }
  auto emptyRange = get("/empty.bin", "bytes=0-");
  ASSERT_TRUE(emptyRange);
  EXPECT_EQ(emptyRange->status, 416);
}

TEST_F(ServerTest, ARateLimitSlowsEachTransferOnItsOwn) {
  ServerSettings settings;
  settings.rateBytesPerSecond = 200000;
  start(true, settings);
  // Two transfers at once each take their own half second for 100000 bytes.
  auto before = std::chrono::steady_clock::now();
  std::thread other([&] { EXPECT_EQ(get("/Vexa.ebz")->body, pack_); });
  auto res = get("/Vexa.ebz", "bytes=0-49999");
  other.join();
  auto took = std::chrono::steady_clock::now() - before;
  ASSERT_TRUE(res);
  EXPECT_EQ(res->body, pack_.substr(0, 50000));
  EXPECT_GE(took, std::chrono::milliseconds(450));
  EXPECT_LT(took, std::chrono::milliseconds(1500));
}

TEST_F(ServerTest, HeadAnswersHeadersWithoutBody) {
  start();
  httplib::Client client("127.0.0.1", port_);
  auto res = client.Head("/Vexa.ebz");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->get_header_value("Content-Length"), "100000");
  EXPECT_EQ(res->get_header_value("Content-MD5"), md5Hex(pack_.data(), pack_.size()));
  EXPECT_TRUE(res->body.empty());
}

TEST_F(ServerTest, ServesDetachedSignaturesLikeAnyFile) {
  // 64 raw bytes with NULs, high bytes and a CR LF: nothing may be translated.
  std::string signature = randomBytes(60) + std::string("\0\xff\r\n", 4);
  put(root_ + "/Vexa.ebz.sig", signature);
  start();
  auto res = get("/Vexa.ebz.sig");
  ASSERT_TRUE(res) << "Error: " << httplib::to_string(res.error());
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->body, signature);
  EXPECT_EQ(res->get_header_value("Content-Length"), "64");
  auto missing = get("/appdata.ebz.sig");
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->status, 404);
}

TEST_F(ServerTest, SendsHexDigestOfWholeFile) {
  start();
  auto fox = get("/sub/fox.txt");
  ASSERT_TRUE(fox);
  EXPECT_EQ(fox->get_header_value("Content-MD5"), "9e107d9d372bb6826bd81d3542a419d6");
  auto empty = get("/empty.bin");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->status, 200);
  EXPECT_EQ(empty->get_header_value("Content-MD5"), "d41d8cd98f00b204e9800998ecf8427e");
  // A range carries the digest of the whole file, not of the part.
  auto part = get("/Vexa.ebz", "bytes=10-20");
  ASSERT_TRUE(part);
  EXPECT_EQ(part->get_header_value("Content-MD5"), md5Hex(pack_.data(), pack_.size()));
  auto json = get("/java.json");
  ASSERT_TRUE(json);
  EXPECT_EQ(json->get_header_value("Content-MD5"), md5Hex(json->body.data(), json->body.size()));
  EXPECT_EQ(json->get_header_value("Content-Type"), "application/json");

  // A replaced file is hashed again even though the path is the same.
  put(root_ + "/sub/fox.txt", "The quick brown fox jumps over the lazy dog.");
  auto changed = get("/sub/fox.txt");
  ASSERT_TRUE(changed);
  EXPECT_EQ(changed->get_header_value("Content-MD5"), "e4d909c290d0fb1ca068ffaddf22cbd0");
}

TEST_F(ServerTest, RefusesPathsOutsideTheContentFolder) {
  start();
  for (const char* path : {"/../outside/secret", "/%2e%2e/outside/secret", "/sub/%2E%2E/%2E%2E/outside/secret",
                           "/..%2foutside%2fsecret", "/..%5coutside%5csecret", "//etc/passwd", "/escape",
                           "/escapedir/secret", "/sub", "/missing", "/Vexa.ebz%00.txt"}) {
    auto res = get(path);
    ASSERT_TRUE(res) << path;
    EXPECT_EQ(res->status, 404) << path;
    EXPECT_EQ(res->body.find("secret"), std::string::npos) << path;
  }
  // An escaped line break in a path or a value stays on one log line.
  get("/a%0d%0aforged%20200");
  get(text::wideToUtf8(stats::buildRequestUrl(L"/installer2.html", {{L"mode", L"x\nforged"}})));
  stop();
  std::istringstream lines(log_.str());
  for (std::string line; std::getline(lines, line);) {
    EXPECT_TRUE(line.size() > 4 && std::isdigit(static_cast<unsigned char>(line[0])) && line[4] == '-') << line;
  }
  start();
  auto inside = get("/fox-link");
  ASSERT_TRUE(inside);
  EXPECT_EQ(inside->status, 200);
}

TEST_F(ServerTest, StoresAnEventBuiltByTheInstallersEncoder) {
  start();
  stats::StatParams params{{L"mode", L"installFail"},
                           {L"installId", L"0A1B2C3D-0000-4000-8000-123456789ABC"},
                           {L"i_user_id", L"11111111-2222-3333-4444-555555555555"},
                           {L"s_user_id", L""},
                           {L"pid", L"p1"},
                           {L"cid", L"c\u0436"},
                           {L"sid", L"s 1"},
                           {L"version", L"vwOct__1_2020_11_45_38"},
                           {L"os", L"6.1.7601"},
                           {L"installKey", L"promo"},
                           {L"errors", L"fne_C:\\Vexa\\Vexa.exe;vexa8z_timeout;"},
                           {L"trace", L"{\"main\":\"1200\"}"},
                           {L"appId", L"1"}};
  auto res = get(statPath(params));
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_TRUE(res->body.empty());

  auto rows = events_.query("SELECT * FROM events");
  ASSERT_EQ(rows.size(), 1u);
  auto& row = rows[0];
  EXPECT_EQ(row["client"], "127.0.0.1");
  EXPECT_EQ(row["mode"], "installFail");
  EXPECT_EQ(row["installId"], "0A1B2C3D-0000-4000-8000-123456789ABC");
  EXPECT_EQ(row["i_user_id"], "11111111-2222-3333-4444-555555555555");
  EXPECT_EQ(row["s_user_id"], "");
  EXPECT_EQ(row["pid"], "p1");
  EXPECT_EQ(row["cid"], "c\xD0\xB6");
  EXPECT_EQ(row["sid"], "s 1");
  EXPECT_EQ(row["version"], "vwOct__1_2020_11_45_38");
  EXPECT_EQ(row["os"], "6.1.7601");
  EXPECT_EQ(row["installKey"], "promo");
  EXPECT_EQ(row["errors"], "fne_C:\\Vexa\\Vexa.exe;vexa8z_timeout;");
  EXPECT_EQ(row["trace"], "{\"main\":\"1200\"}");
  EXPECT_EQ(row["params"], text::wideToUtf8(stats::joinParams(params)));
  EXPECT_EQ(row["received"].size(), 23u);
  stop();
  EXPECT_NE(log_.str().find("event installFail"), std::string::npos) << log_.str();
}

TEST_F(ServerTest, RefusesMalformedParamsWithoutStoring) {
  start();
  std::string good = stats::encipherToHex("mode=installStart");
  for (const std::string& path : std::vector<std::string>{"/installer2.html", "/installer2.html?param=", "/installer2.html?param=" + good.substr(1),
        "/installer2.html?param=00112233445566778899aabbccddeeff", "/installer2.html?param=zz" + good.substr(2),
        "/installer2.html?param=" + stats::encipherToHex("mode=%ZZ"),
        "/installer2.html?param=" + stats::encipherToHex("mode")}) {
    auto res = get(path);
    ASSERT_TRUE(res) << path;
    EXPECT_EQ(res->status, 400) << path;
  }
  EXPECT_EQ(rowCount(), 0);
}

TEST_F(ServerTest, StoresConcurrentEventsFromManyThreads) {
  start();
  constexpr int kThreads = 8, kEach = 25;
  std::atomic<int> ok{0};
  std::vector<std::thread> clients;
  for (int t = 0; t < kThreads; ++t) {
    clients.emplace_back([&, t] {
      httplib::Client client("127.0.0.1", port_);
      for (int i = 0; i < kEach; ++i) {
        stats::StatParams p{{L"mode", L"installFinish"}, {L"installId", std::to_wstring(t * 1000 + i)}};
        auto res = client.Get(statPath(p).c_str());
        if (res && res->status == 200) ++ok;
      }
    });
  }
  for (auto& c : clients) c.join();
  EXPECT_EQ(ok.load(), kThreads * kEach);
  EXPECT_EQ(rowCount(), kThreads * kEach);
  auto distinct = events_.query("SELECT COUNT(DISTINCT installId) AS n FROM events");
  EXPECT_EQ(distinct[0]["n"], std::to_string(kThreads * kEach));
}

TEST_F(ServerTest, AnswersStartEventsFromConfigByInstallKey) {
  start();
  auto answer = [&](const std::wstring& mode, const std::wstring& key) {
    auto res = get(statPath({{L"mode", mode}, {L"installKey", key}}));
    EXPECT_TRUE(res);
    return res ? res->body : std::string();
  };
  auto promo = nlohmann::json::parse(answer(L"installStart", L"promo"));
  EXPECT_EQ(promo["data"]["idState"], "busy");
  EXPECT_FALSE(promo["data"].contains("campaigns"));
  auto promoData = nlohmann::json::parse(promo["data"]["installData"].get<std::string>());
  EXPECT_EQ(promoData, nlohmann::json({{"tail", "<installer pid=\"p\"/>"}}));

  for (const wchar_t* key : {L"other", L""}) {
    auto fallback = nlohmann::json::parse(answer(L"reinstallStart", key));
    EXPECT_EQ(fallback["data"]["idState"], "free");
    ASSERT_TRUE(fallback["data"]["installData"].is_string());
    auto data = nlohmann::json::parse(fallback["data"]["installData"].get<std::string>());
    EXPECT_EQ(data["initxml"], "<item title=\"Default\"/>");
    EXPECT_EQ(data["tail"], "<installer pid=\"d\"/>");
    EXPECT_EQ(fallback["data"]["campaigns"][0]["pinstall"], "demo");
  }
  EXPECT_EQ(answer(L"installFinish", L"promo"), "");
  EXPECT_EQ(answer(L"restart", L""), "");
}

TEST_F(ServerTest, AnswersEmptyDataWithoutConfig) {
  start(false);
  auto res = get(statPath({{L"mode", L"installStart"}}));
  ASSERT_TRUE(res);
  EXPECT_EQ(res->body, R"({"data":{}})");
  EXPECT_EQ(rowCount(), 1);
}

TEST(StartAnswerConfig, RefusesConfigsOfTheWrongShape) {
  for (const char* bad : {"", "[]", "{", R"({"default": []})", R"({"default": {"idState": 1}})",
                          R"({"default": {"campaigns": {}}})", R"({"installKeys": []})",
                          R"({"installKeys": {"k": {"tail": ["x"]}}})", R"({"default": {"packMirrors": "http://m"}})",
                          R"({"default": {"packMirrors": ["http://m", 1]}})", R"({"default": {"packMirrors": [""]}})"}) {
    StartAnswer answers;
    EXPECT_FALSE(answers.loadText(bad)) << bad;
    EXPECT_FALSE(answers.error().empty()) << bad;
  }
}

TEST(ByteRangeParse, IgnoresWhatItCannotServeAsOnePart) {
  for (const char* whole : {"", "items=0-1", "bytes=0-1,5-6", "bytes=abc", "bytes=5-1", "bytes=-", "bytes=1"}) {
    EXPECT_EQ(ByteRange::parse(whole, 100).kind, ByteRange::Kind::Whole) << whole;
  }
  EXPECT_EQ(ByteRange::parse("bytes=-0", 100).kind, ByteRange::Kind::Unsatisfiable);
  EXPECT_EQ(ByteRange::parse("bytes=-5", 0).kind, ByteRange::Kind::Unsatisfiable);
  auto r = ByteRange::parse("bytes= 5 - 9 ", 100);
  EXPECT_EQ(r.kind, ByteRange::Kind::Partial);
  EXPECT_EQ(r.first, 5u);
  EXPECT_EQ(r.last, 9u);
}

}  // namespace

namespace {

// Binds 127.0.0.1:port as an ordinary server does (SO_REUSEADDR).
bool ordinaryServerCanBind(int port) {
  int sock = ::socket(AF_INET, SOCK_STREAM, 0);
  int yes = 1;
  ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool bound = ::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(sock);
  return bound;
}

}  // namespace

TEST_F(ServerTest, ThePortIsItsAloneAndFreeForTheNextServerOnceItStops) {
  start();
  ContentStore content(root_);
  VexaServer second(content, events_, answers_, log_, ServerSettings());
  EXPECT_EQ(second.bind("127.0.0.1", port_), -1) << "two servers on one port share its requests";

  // A connection the server closes as it stops lingers on the port.
  int client = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port_));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::string request = "GET /java.json HTTP/1.1\r\nHost: x\r\nConnection: keep-alive\r\n\r\n";
  ASSERT_EQ(::send(client, request.data(), request.size(), 0), ssize_t(request.size()));
  char answer[512];
  ASSERT_GT(::recv(client, answer, sizeof answer, 0), 0);
  stop();
  while (::recv(client, answer, sizeof answer, 0) > 0) {
  }
  ::close(client);
  EXPECT_TRUE(ordinaryServerCanBind(port_));
}
