// Load generator for vexa-server on the loopback interface.
//   vexa-bench-load stats <port> <events> <connections> [tag]
//   vexa-bench-load rate  <port> <events per second> <seconds> <connections> <tag>
//   vexa-bench-load pack  <port> <path> <size> <connections> <rounds>
//   vexa-bench-load installers <port> <installers> <file size> <seconds>
//   vexa-bench-load slow <port> <slow clients> <seconds>
// Every run is bounded by its counts and by a 60-second deadline.
#include <httplib.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <chrono>
#include <mutex>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/Text.h"
#include "context/StatRequest.h"

namespace {

using Clock = std::chrono::steady_clock;
const auto kDeadline = std::chrono::seconds(60);

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The statistics request of event i (starts and finishes in turn) of the
// install installId, as an installer sends it.
std::string eventPath(int i, const std::string& installId) {
  stats::StatParams p{{L"mode", i % 2 ? L"installFinish" : L"installStart"},
                      {L"installId", text::utf8ToWide(installId)},
                      {L"installKey", L"bench"},
                      {L"i_user_id", L"11111111-2222-3333-4444-555555555555"},
                      {L"version", L"vwOct__1_2020_11_45_38"},
                      {L"os", L"6.1.7601"},
                      {L"trace", L"{\"main\":\"1000\"}"}};
  return text::wideToUtf8(stats::buildRequestUrl(L"/installer2.html", p));
}

// tag keeps the requests of one run apart from another's: a repeated
// request is stored once.
int benchStats(int port, int events, int connections, const std::string& tag) {
  // Requests are made up front so the figure is the server's, not the encoder's.
  std::vector<std::string> paths;
  paths.reserve(events);
  for (int i = 0; i < events; ++i) {
    paths.push_back(eventPath(i, tag + "-" + std::to_string(i)));
  }
  std::atomic<int> next{0}, ok{0}, failed{0};
  auto start = Clock::now();
  std::vector<std::thread> threads;
  for (int c = 0; c < connections; ++c) {
    threads.emplace_back([&] {
      httplib::Client client("127.0.0.1", port);
      client.set_keep_alive(true);
      client.set_tcp_nodelay(true);
      for (int i = next++; i < events && Clock::now() - start < kDeadline; i = next++) {
        auto res = client.Get(paths[i].c_str());
        (res && res->status == 200 ? ok : failed)++;
      }
    });
  }
  for (auto& t : threads) t.join();
  double s = secondsSince(start);
  std::printf("stats: %d events stored in %.2f s over %d connections: %.0f events/s (%d failed)\n", ok.load(), s,
              connections, ok.load() / s, failed.load());
  return failed.load() == 0 ? 0 : 1;
}

// An offered load, the same whatever the server does with it: events are
// due at a fixed rate, spread over the connections, and each one's latency
// runs from the moment it was due, so a server that falls behind shows it
// in the figure rather than slowing the load down. Prints one line:
//   rate: offered <n>/s for <s> s: <stored>/s answered 200, p50 <ms> ms, p99 <ms> ms, <failed> failed
int benchRate(int port, int perSecond, int seconds, int connections, const std::string& tag) {
  const int events = perSecond * seconds;
  std::vector<std::string> paths;
  paths.reserve(events);
  for (int i = 0; i < events; ++i) {
    paths.push_back(eventPath(i, tag + "-" + std::to_string(i / 2)));
  }
  std::vector<double> latencies(static_cast<size_t>(events), -1);
  std::atomic<int> next{0}, ok{0}, failed{0};
  auto start = Clock::now() + std::chrono::milliseconds(100);
  std::vector<std::thread> threads;
  for (int c = 0; c < connections; ++c) {
    threads.emplace_back([&] {
      httplib::Client client("127.0.0.1", port);
      client.set_keep_alive(true);
      client.set_tcp_nodelay(true);
      client.set_read_timeout(30);
      for (int i = next++; i < events; i = next++) {
        auto due = start + std::chrono::microseconds(static_cast<long long>(i) * 1000000 / perSecond);
        std::this_thread::sleep_until(due);
        if (Clock::now() - start > kDeadline) {
          ++failed;
          continue;
        }
        auto res = client.Get(paths[i].c_str());
        latencies[static_cast<size_t>(i)] = std::chrono::duration<double>(Clock::now() - due).count();
        (res && res->status == 200 ? ok : failed)++;
      }
    });
  }
  for (auto& t : threads) t.join();
  double took = std::chrono::duration<double>(Clock::now() - start).count();
  std::vector<double> answered;
  for (double l : latencies) {
    if (l >= 0) answered.push_back(l);
  }
  std::sort(answered.begin(), answered.end());
  auto percentile = [&](double q) {
    if (answered.empty()) return -1.0;
    size_t at = std::min(answered.size() - 1, static_cast<size_t>(q * static_cast<double>(answered.size())));
    return answered[at] * 1000;
  };
  std::printf("rate: offered %d/s for %d s: %.0f/s answered 200, p50 %.1f ms, p99 %.1f ms, %d failed\n", perSecond,
              seconds, ok.load() / took, percentile(0.50), percentile(0.99), failed.load());
  return failed.load() == 0 ? 0 : 1;
}

int benchPack(int port, const std::string& path, long long size, int connections, int rounds) {
  std::atomic<long long> bytes{0};
  std::atomic<int> failed{0};
  auto start = Clock::now();
  for (int r = 0; r < rounds && Clock::now() - start < kDeadline; ++r) {
    std::vector<std::thread> threads;
    long long part = size / connections;
    for (int c = 0; c < connections; ++c) {
      long long first = c * part;
      long long last = c == connections - 1 ? size - 1 : first + part - 1;
      threads.emplace_back([&, first, last] {
        httplib::Client client("127.0.0.1", port);
        httplib::Headers h{{"Range", "bytes=" + std::to_string(first) + "-" + std::to_string(last)}};
        long long got = 0;
        auto res = client.Get(path.c_str(), h, [&](const char*, size_t n) {
          got += static_cast<long long>(n);
          return true;
        });
        if (!res || res->status != 206 || got != last - first + 1) ++failed;
        bytes += got;
      });
    }
    for (auto& t : threads) t.join();
  }
  double s = secondsSince(start);
  std::printf("pack: %.1f MiB in %.2f s over %d ranged connections: %.1f MiB/s (%d failed)\n",
              bytes.load() / 1048576.0, s, connections, bytes.load() / 1048576.0 / s, failed.load());
  return failed.load() == 0 ? 0 : 1;
}

// One installer's transfer of a pack part: a ranged GET read at 1 MiB/s
// through a small receive buffer, as over a user's line, for holdFor
// seconds. The part is larger than the socket buffers take, so the server's
// worker stays busy sending all along. Returns the time to the answer's
// head, or -1; ok tells whether a 206 came and the bytes kept coming.
double slowTransfer(int port, const std::string& path, long long first, long long last, double holdFor, bool& ok) {
  constexpr double kRate = 1 << 20;
  httplib::Client client("127.0.0.1", port);
  client.set_connection_timeout(10);
  client.set_read_timeout(30);
  client.set_socket_options([](socket_t sock) {
    int size = 64 * 1024;
    ::setsockopt(sock, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  });
  httplib::Headers h{{"Range", "bytes=" + std::to_string(first) + "-" + std::to_string(last)}};
  auto start = Clock::now();
  double firstByte = -1;
  int status = 0;
  long long got = 0;
  client.Get(
      path.c_str(), h,
      [&](const httplib::Response& res) {
        firstByte = secondsSince(start);
        status = res.status;
        return true;
      },
      [&](const char*, size_t n) {
        got += static_cast<long long>(n);
        double ahead = static_cast<double>(got) / kRate - secondsSince(start);
        if (ahead > 0) std::this_thread::sleep_for(std::chrono::duration<double>(ahead));
        return secondsSince(start) < holdFor;
      });
  ok = status == 206 && got >= static_cast<long long>((holdFor - 1) * kRate);
  return firstByte;
}

// Several installers at once, each with the 12 transfers one installer opens
// (4 parts each of the runtime and the two packs, all of the same size) and
// its statistics events sent one after another while its transfers run.
int benchInstallers(int port, int installers, long long fileSize, int seconds) {
  const long long part = fileSize / 4;
  const char* files[] = {"/jre_packed.ebz", "/Vexa.ebz", "/appdata.ebz"};
  std::mutex lock;
  double slowestFirstByte = 0, slowestEvent = 0;
  int cutShort = 0;
  std::atomic<int> transfersLeft{installers * 12}, stored{0}, failed{0};
  auto start = Clock::now();
  std::vector<std::thread> threads;
  for (int n = 0; n < installers; ++n) {
    for (int t = 0; t < 12; ++t) {
      threads.emplace_back([&, t] {
        bool ok = false;
        double firstByte = slowTransfer(port, files[t / 4], (t % 4) * part, (t % 4 + 1) * part - 1, seconds, ok);
        std::lock_guard<std::mutex> guard(lock);
        if (firstByte < 0 || !ok) ++cutShort;
        slowestFirstByte = std::max(slowestFirstByte, firstByte < 0 ? 1e9 : firstByte);
        --transfersLeft;
      });
    }
    threads.emplace_back([&, n] {
      httplib::Client client("127.0.0.1", port);
      client.set_keep_alive(true);
      client.set_tcp_nodelay(true);
      for (int i = 0; transfersLeft > 0 && Clock::now() - start < kDeadline; ++i) {
        stats::StatParams p{{L"mode", i == 0 ? L"installStart" : L"installFinish"},
                            {L"installId", L"installer-" + std::to_wstring(n) + L"-" + std::to_wstring(i)},
                            {L"version", L"vwOct__1_2020_11_45_38"},
                            {L"trace", L"{\"main\":\"1000\"}"}};
        auto sent = Clock::now();
        auto res = client.Get(text::wideToUtf8(stats::buildRequestUrl(L"/installer2.html", p)).c_str());
        double took = secondsSince(sent);
        (res && res->status == 200 ? stored : failed)++;
        std::lock_guard<std::mutex> guard(lock);
        slowestEvent = std::max(slowestEvent, took);
      }
    });
  }
  for (auto& t : threads) t.join();
  double s = secondsSince(start);
  std::printf("installers: %d x 12 ranged transfers at 1 MiB/s for %d s: slowest time to first byte %.3f s "
              "(goal under 1 s), %d cut short\n",
              installers, seconds, slowestFirstByte, cutShort);
  std::printf("installers: %d events stored in %.2f s while the transfers ran: %.0f events/s, slowest answer %.3f s "
              "(%d failed)\n",
              stored.load(), s, stored.load() / s, slowestEvent, failed.load());
  return cutShort == 0 && failed.load() == 0 && slowestFirstByte < 1.0 ? 0 : 1;
}

// Slow clients that open a connection and send their request a byte every
// 3 seconds, as a hostile or badly broken client would; meanwhile one client
// makes ordinary statistics requests one after another. Prints how long the
// ordinary requests took and how many slow connections the server dropped.
int benchSlowClients(int port, int slowClients, int seconds) {
  std::vector<int> sockets;
  for (int i = 0; i < slowClients; ++i) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      if (fd >= 0) ::close(fd);
      continue;
    }
    sockets.push_back(fd);
  }
  const std::string request = "GET /java.json HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: trickle\r\n\r\n";
  std::atomic<bool> running{true};
  auto start = Clock::now();
  std::thread trickler([&] {
    for (size_t at = 0; running && at < request.size(); ++at) {
      for (int fd : sockets) ::send(fd, &request[at], 1, MSG_NOSIGNAL | MSG_DONTWAIT);
      for (int step = 0; step < 30 && running; ++step) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  std::vector<double> took;
  int failed = 0;
  httplib::Client client("127.0.0.1", port);
  client.set_connection_timeout(10);
  client.set_read_timeout(10);
  for (int i = 0; secondsSince(start) < seconds; ++i) {
    stats::StatParams p{{L"mode", L"installStart"}, {L"installId", L"normal-" + std::to_wstring(i)},
                        {L"version", L"vwOct__1_2020_11_45_38"}};
    auto sent = Clock::now();
    auto res = client.Get(text::wideToUtf8(stats::buildRequestUrl(L"/installer2.html", p)).c_str());
    took.push_back(secondsSince(sent));
    if (!res || res->status != 200) ++failed;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  running = false;
  trickler.join();
  int dropped = 0;
  for (int fd : sockets) {
    char byte;
    ssize_t n = ::recv(fd, &byte, 1, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) ++dropped;
    ::close(fd);
  }
  std::sort(took.begin(), took.end());
  double slowest = took.empty() ? -1 : took.back();
  double median = took.empty() ? -1 : took[took.size() / 2];
  std::printf("slow clients: %zu connections sending a byte every 3 s for %d s; %zu ordinary requests meanwhile: "
              "median %.3f s, slowest %.3f s (goal under 1 s), %d failed; slow connections dropped by the server: "
              "%d of %zu\n",
              sockets.size(), seconds, took.size(), median, slowest, failed, dropped, sockets.size());
  return failed == 0 && slowest >= 0 && slowest < 1.0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "stats" && (argc == 5 || argc == 6)) {
    return benchStats(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), argc == 6 ? argv[5] : "bench");
  }
  if (mode == "rate" && argc == 7) {
    return benchRate(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]), argv[6]);
  }
  if (mode == "pack" && argc == 7) {
    return benchPack(std::atoi(argv[2]), argv[3], std::atoll(argv[4]), std::atoi(argv[5]), std::atoi(argv[6]));
  }
  if (mode == "installers" && argc == 6) {
    return benchInstallers(std::atoi(argv[2]), std::atoi(argv[3]), std::atoll(argv[4]), std::atoi(argv[5]));
  }
  if (mode == "slow" && argc == 5) return benchSlowClients(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));
  std::fprintf(stderr, "usage: vexa-bench-load stats <port> <events> <connections> [tag]\n"
                       "       vexa-bench-load rate <port> <events per second> <seconds> <connections> <tag>\n"
                       "       vexa-bench-load pack <port> <path> <size> <connections> <rounds>\n"
                       "       vexa-bench-load installers <port> <installers> <file size> <seconds>\n"
                       "       vexa-bench-load slow <port> <slow clients> <seconds>\n");
  return 2;
}
