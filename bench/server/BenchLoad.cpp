// Load generator for vexa-server on the loopback interface.
//   vexa-bench-load stats <port> <events> <connections>
//   vexa-bench-load pack  <port> <path> <size> <connections> <rounds>
// Every run is bounded by its counts and by a 60-second deadline.
#include <httplib.h>

#include <atomic>
#include <chrono>
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

int benchStats(int port, int events, int connections) {
  // Requests are made up front so the figure is the server's, not the encoder's.
  std::vector<std::string> paths;
  paths.reserve(events);
  for (int i = 0; i < events; ++i) {
    stats::StatParams p{{L"mode", i % 2 ? L"installFinish" : L"installStart"},
                        {L"installId", L"bench-" + std::to_wstring(i)},
                        {L"i_user_id", L"11111111-2222-3333-4444-555555555555"},
                        {L"version", L"vwOct__1_2020_11_45_38"},
                        {L"os", L"6.1.7601"},
                        {L"trace", L"{\"main\":\"1000\"}"}};
    paths.push_back(text::wideToUtf8(stats::buildRequestUrl(L"/installer2.html", p)));
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

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "stats" && argc == 5) return benchStats(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));
  if (mode == "pack" && argc == 7) {
    return benchPack(std::atoi(argv[2]), argv[3], std::atoll(argv[4]), std::atoi(argv[5]), std::atoi(argv[6]));
  }
  std::fprintf(stderr, "usage: vexa-bench-load stats <port> <events> <connections>\n"
                       "       vexa-bench-load pack <port> <path> <size> <connections> <rounds>\n");
  return 2;
}
