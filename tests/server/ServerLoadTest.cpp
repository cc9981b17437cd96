// vexa-server under the load real installers put on it: many slow ranged
// transfers held open at once, statistics requests among them.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "RunningServer.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

struct Transfer {
  int status = 0;
  double firstByte = -1;  // seconds from the connect to the answer's head; -1: no answer
};

// One ranged GET read at about bytesPerSecond through a small receive
// buffer, so the server's worker stays busy sending; dropped after holdFor.
Transfer slowRangedGet(int port, const std::string& path, uint64_t first, uint64_t last, double bytesPerSecond,
                       double holdFor) {
  Transfer t;
  httplib::Client client("127.0.0.1", port);
  client.set_connection_timeout(5);
  client.set_read_timeout(10);
  client.set_socket_options([](socket_t sock) {
    int size = 64 * 1024;
    ::setsockopt(sock, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  });
  httplib::Headers headers{{"Range", "bytes=" + std::to_string(first) + "-" + std::to_string(last)}};
  auto start = Clock::now();
  double received = 0;
  client.Get(
      path.c_str(), headers,
      [&](const httplib::Response& res) {
        t.firstByte = secondsSince(start);
        t.status = res.status;
        return true;
      },
      [&](const char*, size_t n) {
        received += static_cast<double>(n);
        double ahead = received / bytesPerSecond - secondsSince(start);
        if (ahead > 0) std::this_thread::sleep_for(std::chrono::duration<double>(ahead));
        return secondsSince(start) < holdFor;
      });
  return t;
}

// Three installers' worth of load: each opens 12 ranged transfers at once
// (4 runtime parts, 4 + 4 pack parts), and their statistics events arrive
// while the transfers run. With too few workers the 9th connection waits
// for a transfer to end, far past the installer's patience.
TEST(ServerLoad, AnswersThreeInstallersTransfersAndEventsWithinASecond) {
  RunningServer srv;
  // Parts of 16 MiB: more than the socket buffers hold, so each transfer
  // keeps its worker busy for as long as it runs. Sparse files.
  constexpr uint64_t kSize = 64u << 20;
  for (const char* name : {"jre_packed.ebz", "Vexa.ebz", "appdata.ebz"}) {
    srv.put(name, "");
    ASSERT_EQ(::truncate((srv.root + "/" + name).c_str(), static_cast<off_t>(kSize)), 0);
  }
  ASSERT_NO_FATAL_FAILURE(srv.start());
  // Digests are worked out once per file; keep that out of the timing.
  for (const char* name : {"/jre_packed.ebz", "/Vexa.ebz", "/appdata.ebz"}) {
    httplib::Client warm("127.0.0.1", srv.port);
    ASSERT_TRUE(warm.Head(name));
  }

  constexpr int kInstallers = 3;
  const char* files[] = {"/jre_packed.ebz", "/Vexa.ebz", "/appdata.ebz"};
  std::vector<Transfer> transfers(kInstallers * 12);
  std::vector<std::thread> threads;
  for (int i = 0; i < kInstallers * 12; ++i) {
    const char* file = files[(i % 12) / 4];
    uint64_t part = kSize / 4, first = (i % 4) * part;
    threads.emplace_back([&, i, file, first, part] {
      transfers[i] = slowRangedGet(srv.port, file, first, first + part - 1, 1 << 20, 1.5);
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::mutex eventLock;
  std::vector<std::pair<int, double>> events;  // status, seconds
  for (int installer = 0; installer < kInstallers; ++installer) {
    threads.emplace_back([&, installer] {
      for (const wchar_t* mode : {L"installStart", L"installFinish"}) {
        httplib::Client client("127.0.0.1", srv.port);
        client.set_read_timeout(10);
        auto start = Clock::now();
        auto res = client.Get(RunningServer::statPath({{L"mode", mode}, {L"installId", std::to_wstring(installer)}}));
        std::lock_guard<std::mutex> guard(eventLock);
        events.emplace_back(res ? res->status : 0, secondsSince(start));
      }
    });
  }
  for (auto& t : threads) t.join();

  for (size_t i = 0; i < transfers.size(); ++i) {
    EXPECT_EQ(transfers[i].status, 206) << "transfer " << i;
    EXPECT_GE(transfers[i].firstByte, 0) << "transfer " << i;
    EXPECT_LT(transfers[i].firstByte, 1.0) << "transfer " << i;
  }
  ASSERT_EQ(events.size(), 2u * kInstallers);
  for (const auto& [status, seconds] : events) {
    EXPECT_EQ(status, 200);
    EXPECT_LT(seconds, 1.0);
  }
  EXPECT_EQ(srv.rowCount(), 2 * kInstallers);
}

// Time from the connect to the answer's head of a ranged GET whose body is
// not read; -1 when no answer came.
double headOfRangedGet(int port, const std::string& path, const std::string& range, std::string& md5) {
  httplib::Client client("127.0.0.1", port);
  client.set_read_timeout(30);
  auto start = Clock::now();
  double seconds = -1;
  httplib::Headers headers{{"Range", range}};
  client.Get(
      path.c_str(), headers,
      [&](const httplib::Response& res) {
        seconds = secondsSince(start);
        md5 = res.get_header_value("Content-MD5");
        return false;
      },
      [](const char*, size_t) { return false; });
  return seconds;
}

// The installer starts 4 ranged transfers of a freshly changed pack at once;
// the pack is read for its digest once, however the requests interleave.
// (How long the reading takes depends on the machine's load, so it is not
// timed here.)
TEST(ServerLoad, ReadsAChangedPackForItsDigestOnceWhateverTheRequestsAtOnce) {
  RunningServer srv;
  const std::string pack = srv.root + "/Vexa.ebz";
  auto grow = [&](off_t size) {
    // Sparse: the test measures the hashing, not the disk.
    ASSERT_EQ(::truncate(pack.c_str(), size), 0);
  };
  srv.put("Vexa.ebz", "");
  ASSERT_NO_FATAL_FAILURE(grow(off_t(400) << 20));
  ASSERT_NO_FATAL_FAILURE(srv.start());

  for (int round = 0; round < 2; ++round) {
    long before = srv.content().digestsWorkedOut();
    std::vector<double> seconds(4);
    std::vector<std::string> digests(4);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
      std::string range = "bytes=" + std::to_string(i * (100 << 20)) + "-" + std::to_string((i + 1) * (100 << 20) - 1);
      threads.emplace_back([&, i, range] { seconds[i] = headOfRangedGet(srv.port, "/Vexa.ebz", range, digests[i]); });
    }
    for (auto& t : threads) t.join();
    for (int i = 0; i < 4; ++i) {
      EXPECT_GE(seconds[i], 0) << "round " << round << ", request " << i;
      EXPECT_EQ(digests[i].size(), 32u) << "round " << round << ", request " << i;
      EXPECT_EQ(digests[i], digests[0]);
    }
    EXPECT_EQ(srv.content().digestsWorkedOut() - before, 1) << "round " << round;
    // The pack changes: one more byte, a new modification time.
    ASSERT_NO_FATAL_FAILURE(grow((off_t(400) << 20) + 1));
  }
}

}  // namespace

namespace {

// A raw loopback connection, for requests no well-behaved client sends.
struct RawClient {
  int fd = -1;
  explicit RawClient(int port) {
    fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      ::close(fd);
      fd = -1;
    }
    timeval wait{5, 0};
    if (fd >= 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  }
  ~RawClient() {
    if (fd >= 0) ::close(fd);
  }
  bool send(const std::string& bytes) { return fd >= 0 && ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) >= 0; }
  // The server closed the connection (a clean end or a reset), without a word.
  bool closedUnanswered() {
    char byte;
    ssize_t n = ::recv(fd, &byte, 1, MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
  }
  // What arrives until the server closes or 5 s pass.
  std::string answer() {
    std::string got;
    char buffer[4096];
    ssize_t n;
    while (fd >= 0 && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) got.append(buffer, static_cast<size_t>(n));
    return got;
  }
};

}  // namespace

TEST(ServerLimits, OversizedHeadsAndBodiesAreRefusedUnread) {
  RunningServer srv;
  srv.put("java.json", "{}");
  ASSERT_NO_FATAL_FAILURE(srv.start());
  RawClient fat(srv.port);
  std::string head = "GET /java.json HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  while (head.size() <= HttpServer::kMaxHeadBytes) head += "X-Pad: " + std::string(1000, 'a') + "\r\n";
  ASSERT_TRUE(fat.send(head + "\r\n"));
  EXPECT_EQ(fat.answer().rfind("HTTP/1.1 431 ", 0), 0u);

  RawClient heavy(srv.port);
  ASSERT_TRUE(heavy.send("POST /installer2.html HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 300000000\r\n\r\n"));
  EXPECT_EQ(heavy.answer().rfind("HTTP/1.1 413 ", 0), 0u);
}

// A client that announced a body too large and goes on sending it gets the
// whole 413 answer: the server reads and drops what keeps arriving for a
// while before it closes. Closing on unread bytes would reset the
// connection, and a client's stack may drop the answer with it (Windows
// does); here the reset shows as the client's next writes failing.
TEST(ServerLimits, AnEarly413ArrivesWholeWhileTheClientKeepsSendingItsBody) {
  RunningServer srv;
  ASSERT_NO_FATAL_FAILURE(srv.start());
  RawClient heavy(srv.port);
  timeval wait{3, 0};
  ::setsockopt(heavy.fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
  ASSERT_TRUE(heavy.send("POST /installer2.html HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 300000000\r\n\r\n"));
  // The refusal comes at once, before a byte of the body was sent.
  std::string answer;
  char buffer[4096];
  ssize_t n;
  while (answer.find("\r\n\r\n") == std::string::npos && (n = ::recv(heavy.fd, buffer, sizeof buffer, 0)) > 0) {
    answer.append(buffer, static_cast<size_t>(n));
  }
  // Half a MiB in pieces over a fifth of a second: within what the server
  // is ready to drop.
  const std::string chunk(64 * 1024, 'b');
  int sent = 0;
  for (int i = 0; i < 8; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
    if (!heavy.send(chunk)) break;
    ++sent;
  }
  EXPECT_EQ(sent, 8) << "the connection was reset under the client: " << std::strerror(errno);
  answer += heavy.answer();
  ASSERT_EQ(answer.rfind("HTTP/1.1 413 ", 0), 0u) << answer;
  size_t end = answer.find("\r\n\r\n");
  ASSERT_NE(end, std::string::npos) << answer;
  std::string head = answer.substr(0, end);
  size_t at = head.find("Content-Length: ");
  ASSERT_NE(at, std::string::npos) << head;
  EXPECT_EQ(answer.size() - end - 4, std::stoul(head.substr(at + 16))) << answer;
}

TEST(ServerLimits, ClientsTricklingTheirRequestsNeitherStarveOthersNorStay) {
  RunningServer srv;
  srv.put("java.json", "{}");
  ServerSettings settings;
  settings.threads = 4;
  settings.requestDeadlineMs = 2000;
  ASSERT_NO_FATAL_FAILURE(srv.start(settings));
  std::vector<std::unique_ptr<RawClient>> slow;
  for (int i = 0; i < 64; ++i) {
    slow.push_back(std::make_unique<RawClient>(srv.port));
    ASSERT_TRUE(slow.back()->send("GET /java.json HTTP/1.1\r\n"));
  }
  std::atomic<bool> trickle{true};
  std::thread trickler([&] {
    while (trickle) {
      for (auto& c : slow) c->send("X");
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
  });
  httplib::Client client("127.0.0.1", srv.port);
  client.set_connection_timeout(5);
  client.set_read_timeout(5);
  for (int i = 0; i < 5; ++i) {
    auto start = Clock::now();
    auto res = client.Get("/java.json");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_LT(secondsSince(start), 1.0) << "request " << i << " waited for a worker";
  }
  // Past the deadline the tricklers have been dropped.
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  trickle = false;
  trickler.join();
  for (auto& c : slow) EXPECT_TRUE(c->closedUnanswered());
}
