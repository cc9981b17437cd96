// The statistics endpoint at the edges real installers reach: the longest
// queries, probes that are not events, and a database that cannot write.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "RunningServer.h"

namespace {

// A failed install on a Cyrillic profile with a long error list, as the
// installer would send it: about 20 KiB of address.
stats::StatParams longFailure(size_t atLeast) {
  stats::StatParams p{{L"mode", L"installFail"}, {L"installId", L"long-1"}, {L"version", L"v1"}};
  std::wstring errors;
  const std::wstring token = L"fne_C:\\Users\\\u041f\u043e\u043b\u044c\u0437\u043e\u0432\u0430\u0442\u0435\u043b\u044c\\"
                             L"AppData\\Roaming\\Vexa\\lib\\vexa-core.jar;";
  while (RunningServer::statPath({{L"mode", L"installFail"}, {L"installId", L"long-1"}, {L"version", L"v1"},
                                  {L"errors", errors}})
             .size() < atLeast) {
    errors += token;
  }
  p[L"errors"] = errors;
  return p;
}

// Writes raw bytes to the server and reads until it closes (bounded).
std::string rawExchange(int port, const std::string& bytes) {
  int sock = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (::connect(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::send(sock, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size())) {
    char buf[4096];
    for (int i = 0; i < 200; ++i) {
      pollfd p{sock, POLLIN, 0};
      if (::poll(&p, 1, 5000) <= 0) break;
      ssize_t n = ::recv(sock, buf, sizeof buf, 0);
      if (n <= 0) break;
      answer.append(buf, static_cast<size_t>(n));
    }
  }
  ::close(sock);
  return answer;
}

size_t countOf(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(StatisticsEndpoint, StoresTheLongestEventsAndRefusesLongerOnes) {
  RunningServer srv;
  ASSERT_NO_FATAL_FAILURE(srv.start());
  auto params = longFailure(20 * 1024);
  std::string path = RunningServer::statPath(params);
  ASSERT_GT(path.size(), 20u * 1024);
  ASSERT_LT(path.size(), HttpServer::kMaxRequestLine - 100);

  httplib::Client client("127.0.0.1", srv.port);
  auto res = client.Get(path);
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  auto rows = srv.events.query("SELECT errors, params FROM events");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["errors"], text::wideToUtf8(params[L"errors"]));
  EXPECT_EQ(rows[0]["params"], text::wideToUtf8(stats::joinParams(params)));

  auto tooLong = client.Get(RunningServer::statPath(longFailure(40 * 1024)));
  ASSERT_TRUE(tooLong);
  EXPECT_EQ(tooLong->status, 414);
  EXPECT_EQ(srv.rowCount(), 1);
}

// Long and short requests in one write on one kept-alive connection: each
// gets its own answer and nothing of one leaks into the next.
TEST(StatisticsEndpoint, KeepsLongRequestsApartOnOneConnection) {
  RunningServer srv;
  srv.put("fox.txt", "The quick brown fox");
  ASSERT_NO_FATAL_FAILURE(srv.start());
  std::string longPath = RunningServer::statPath(longFailure(12 * 1024));
  std::string shortPath = RunningServer::statPath({{L"mode", L"installFinish"}, {L"installId", L"short-1"}});
  std::string answer = rawExchange(srv.port, "GET " + longPath + " HTTP/1.1\r\nHost: x\r\n\r\n" +
                                              "GET /fox.txt HTTP/1.1\r\nHost: x\r\n\r\n" +
                                              "GET " + shortPath + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(countOf(answer, "HTTP/1.1 200 OK"), 3u) << answer.substr(0, 500);
  EXPECT_NE(answer.find("The quick brown fox"), std::string::npos);
  auto rows = srv.events.query("SELECT installId FROM events ORDER BY id");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0]["installId"], "long-1");
  EXPECT_EQ(rows[1]["installId"], "short-1");
}

TEST(StatisticsEndpoint, HeadIsNotAnEvent) {
  RunningServer srv;
  ASSERT_NO_FATAL_FAILURE(srv.start());
  httplib::Client client("127.0.0.1", srv.port);
  std::string path = RunningServer::statPath({{L"mode", L"installStart"}, {L"installId", L"probe"}});
  auto head = client.Head(path);
  ASSERT_TRUE(head);
  EXPECT_EQ(head->status, 200);
  EXPECT_EQ(srv.rowCount(), 0);
  auto get = client.Get(path);
  ASSERT_TRUE(get);
  EXPECT_EQ(srv.rowCount(), 1);
}

class UnwritableDatabase : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(srv_.answers.loadText(R"({"default": {"idState": "free", "tail": "<installer pid=\"d\"/>"}})"));
    ASSERT_NO_FATAL_FAILURE(srv_.start());
  }

  httplib::Result send(const wchar_t* mode) {
    httplib::Client client("127.0.0.1", srv_.port);
    client.set_read_timeout(10);
    auto p = longFailure(16 * 1024);
    p[L"mode"] = mode;
    return client.Get(RunningServer::statPath(p));
  }

  // The start answer still goes out whole; the other events, whose answer
  // the installer does not read, are told the truth.
  void expectAnsweredButNotStored() {
    auto start = send(L"installStart");
    ASSERT_TRUE(start);
    EXPECT_EQ(start->status, 200);
    auto body = nlohmann::json::parse(start->body, nullptr, false);
    ASSERT_FALSE(body.is_discarded()) << start->body;
    EXPECT_EQ(body["data"]["idState"], "free");
    auto finish = send(L"installFail");
    ASSERT_TRUE(finish);
    EXPECT_EQ(finish->status, 500);
    EXPECT_EQ(srv_.server().eventsNotStored(), 2);
    srv_.stop();
    EXPECT_NE(srv_.log.str().find("event installStart NOT STORED (1 since start)"), std::string::npos)
        << srv_.log.str();
  }

  RunningServer srv_;
};

TEST_F(UnwritableDatabase, FullDiskStillSendsTheStartAnswer) {
  auto pages = srv_.events.query("PRAGMA page_count");
  ASSERT_EQ(pages.size(), 1u);
  srv_.events.query("PRAGMA max_page_count = " + pages[0]["page_count"]);
  expectAnsweredButNotStored();
  EXPECT_EQ(srv_.rowCount(), 0);
}

TEST_F(UnwritableDatabase, LockTimeOutStillSendsTheStartAnswer) {
  srv_.events.setBusyTimeoutMs(100);
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(srv_.dbPath.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  expectAnsweredButNotStored();
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_EQ(srv_.rowCount(), 0);
}

}  // namespace
