// ebz_unpack_bench [MiB=64] [--preset N] [--runs N]
// EBZ_BENCH_SHAPE=<input block>,<count>,<decoded block>,<count> tries other
// hand-over sizes than the reader's defaults. EBZ_BENCH_KEEP=<folder> keeps
// the built pack there and reuses it on later runs of the same size and preset.
//
// Builds a pack of the given size from mixed content (text-like, random,
// zeros), then compares, run for run:
//   - our unpack: the UnEbz command's reader and POSIX sink writing files;
//   - liblzma alone: the same deciphered LZMA stream decoded into memory.
// Each side runs in a fresh child process, one after the other, so both start
// from the same cold heap and page tables, and a neighbour's burst falls on
// one pair rather than on one side's best. The figure is the median of the
// pairs' ratios; the best of each side is printed beside it.
// Throughput is unpacked megabytes (10^6 bytes) per second, by wall clock and
// by CPU time. Our unpack decodes on its calling thread and reads and writes
// on two helpers: its process CPU counts all three, and the decoding thread's
// own CPU shows whether anything but decoding is left on it. On a loaded
// machine the wall clock favours the three threads over liblzma's one; the
// figures are fair only on an otherwise idle machine.
#include <lzma.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "app/Text.h"
#include "formats/Blowfish.h"
#include "scenario/EbzReader.h"
#include "scenario/EbzWriter.h"
#include "scenario/PackFiles.h"

namespace {

using Clock = std::chrono::steady_clock;
const ebz::EbzWriter::Key kKey = {'B', 'e', 'n', 'c', 'h', 'K', 'e', 'y', '0', '1'};

double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// CPU seconds of this process: on a shared, loaded machine wall time mostly
// measures the neighbours, so both figures are reported.
double cpuSeconds(clockid_t clock = CLOCK_PROCESS_CPUTIME_ID) {
  timespec t{};
  clock_gettime(clock, &t);
  return double(t.tv_sec) + t.tv_nsec / 1e9;
}

long vmHwmKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

// Content in three kinds, roughly a third each by size.
std::string makeContent(int kind, size_t size, std::mt19937_64& rng) {
  std::string s;
  s.reserve(size);
  if (kind == 0) {
    static const char* const kWords[] = {"install", "vexa", "stream", "video", "packet", "client", "torrent",
                                         "player", "window", "folder", "runtime", "java", "network", "peer",
                                         "download", "the", "and", "of", "to", "a"};
    while (s.size() < size) {
      s += kWords[rng() % 20];
      s += (rng() % 12 == 0) ? "\n" : " ";
    }
    s.resize(size);
  } else if (kind == 1) {
    while (s.size() < size) {
      const uint64_t v = rng();
      s.append(reinterpret_cast<const char*>(&v), std::min<size_t>(8, size - s.size()));
    }
  } else {
    s.assign(size, '\0');
  }
  return s;
}

bool buildPack(const std::string& path, size_t totalBytes, uint32_t preset, size_t& unpackedBytes) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return false;
  std::mt19937_64 rng(42);
  ebz::EbzWriter writer(kKey, [&](const uint8_t* d, size_t n) { return std::fwrite(d, 1, n, out) == n; }, preset);
  unpackedBytes = 0;
  for (int i = 0; unpackedBytes < totalBytes; ++i) {
    const size_t size = std::min<size_t>(totalBytes - unpackedBytes, (64 << 10) + rng() % (4 << 20));
    const std::string data = makeContent(i % 3, size, rng);
    const std::string name = "dir" + std::to_string(i % 7) + "/file" + std::to_string(i) + ".bin";
    writer.beginEntry(name, data.size());
    writer.write(data.data(), data.size());
    unpackedBytes += data.size();
  }
  const bool ok = writer.finish();
  return std::fclose(out) == 0 && ok;
}

// The children print "<wall s> <cpu s> <decoding thread cpu s> <VmHWM kB>
// <result>". Our unpack decodes on the calling thread; reading and writing run
// on helpers.
int childUnpack(const char* pack, const char* folder) {
  const auto start = Clock::now();
  const double cpuStart = cpuSeconds();
  const double threadStart = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
  auto source = packfiles::openPack(text::utf8ToWide(pack), nullptr);
  auto sink = packfiles::folderSink(text::utf8ToWide(folder), nullptr);
  ebz::PipelineShape shape;
  if (const char* s = std::getenv("EBZ_BENCH_SHAPE")) {
    std::sscanf(s, "%zu,%zu,%zu,%zu", &shape.inputBlockSize, &shape.inputBlocks, &shape.decodedBlockSize,
                &shape.decodedBlocks);
  }
  ebz::EbzReader reader(packfiles::kSeparator, shape);
  const int result = source ? reader.unpack(*source, *sink, nullptr) : 2;
  const double threadCpu = cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - threadStart;
  std::printf("%.6f %.6f %.6f %ld %d\n", seconds(start), cpuSeconds() - cpuStart, threadCpu, vmHwmKb(), result);
  return result;
}

// Reading and deciphering the pack into memory is not timed: only decoding.
int childAlone(const char* pack) {
  std::ifstream in(pack, std::ios::binary);
  std::vector<uint8_t> stream((std::istreambuf_iterator<char>(in)), {});
  if (stream.size() < ebz::kKeyLength) return 2;
  stream.erase(stream.begin(), stream.begin() + ebz::kKeyLength);
  Blowfish(kKey.data(), kKey.size()).decryptEcb(stream.data(), stream.size());
  std::vector<uint8_t> out(64 << 10);
  lzma_stream strm = LZMA_STREAM_INIT;
  const auto start = Clock::now();
  const double cpuStart = cpuSeconds();
  if (lzma_alone_decoder(&strm, UINT64_MAX) != LZMA_OK) return 2;
  strm.next_in = stream.data();
  strm.avail_in = stream.size();
  lzma_ret ret = LZMA_OK;
  while (ret == LZMA_OK) {
    strm.next_out = out.data();
    strm.avail_out = out.size();
    ret = lzma_code(&strm, LZMA_FINISH);
  }
  const double wall = seconds(start), cpu = cpuSeconds() - cpuStart;
  lzma_end(&strm);
  const int result = ret == LZMA_STREAM_END ? 0 : 1;
  std::printf("%.6f %.6f %.6f %ld %d\n", wall, cpu, cpu, vmHwmKb(), result);
  return result;
}

struct ChildRun {
  double wall = 0, cpu = 0, decoderCpu = 0;
  long hwmKb = 0;
};

bool runChild(const std::string& self, const char* mode, const std::string& pack, const std::string& folder,
              ChildRun& run) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    execl(self.c_str(), self.c_str(), mode, pack.c_str(), folder.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  char buffer[128] = {};
  const ssize_t n = read(fds[0], buffer, sizeof buffer - 1);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  int result = -1;
  return n > 0 &&
         std::sscanf(buffer, "%lf %lf %lf %ld %d", &run.wall, &run.cpu, &run.decoderCpu, &run.hwmKb, &result) == 5 &&
         result == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--child-unpack") == 0) return childUnpack(argv[2], argv[3]);
  if (argc == 4 && std::strcmp(argv[1], "--child-alone") == 0) return childAlone(argv[2]);
  size_t mib = 64;
  uint32_t preset = LZMA_PRESET_DEFAULT;
  int runs = 7;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--preset") == 0 && i + 1 < argc) {
      preset = uint32_t(std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else {
      mib = size_t(std::max(1, std::atoi(argv[i])));
    }
  }
  char work[] = "/tmp/ebzbenchXXXXXX";
  if (!mkdtemp(work)) return 1;
  const char* keep = std::getenv("EBZ_BENCH_KEEP");
  const std::string pack = (keep ? std::string(keep) : std::string(work)) + "/bench-" + std::to_string(mib) +
                           "MiB-preset" + std::to_string(preset) + ".ebz";
  const size_t unpacked = mib << 20;
  const auto packStart = Clock::now();
  size_t built = 0;
  if (!(keep && access(pack.c_str(), R_OK) == 0)) {
    if (!buildPack(pack, unpacked, preset, built) || built != unpacked) {
      std::fprintf(stderr, "can't build the pack\n");
      return 1;
    }
  }
  std::ifstream in(pack, std::ios::binary | std::ios::ate);
  std::printf("pack: %zu MiB unpacked, %.1f MiB on disk, preset %u, ready in %.1f s\n", unpacked >> 20,
              double(in.tellg()) / 1048576.0, preset, seconds(packStart));

  char self[4096] = {};
  if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return 1;
  ChildRun bestOurs{1e9, 1e9, 1e9, 0}, bestAlone{1e9, 1e9, 1e9, 0};
  std::vector<double> wallRatios, cpuRatios;
  long peakKb = 0;
  for (int run = 0; run < runs; ++run) {
    ChildRun ours, alone;
    const std::string folder = std::string(work) + "/out" + std::to_string(run);
    if (!runChild(self, "--child-unpack", pack, folder, ours)) {
      std::fprintf(stderr, "unpack failed\n");
      return 1;
    }
    std::system(("rm -rf '" + folder + "'").c_str());
    if (!runChild(self, "--child-alone", pack, folder, alone)) {
      std::fprintf(stderr, "liblzma decode failed\n");
      return 1;
    }
    wallRatios.push_back(alone.wall / ours.wall);
    cpuRatios.push_back(alone.cpu / ours.cpu);
    peakKb = std::max(peakKb, ours.hwmKb);
    bestOurs.wall = std::min(bestOurs.wall, ours.wall);
    bestOurs.cpu = std::min(bestOurs.cpu, ours.cpu);
    bestOurs.decoderCpu = std::min(bestOurs.decoderCpu, ours.decoderCpu);
    bestAlone.wall = std::min(bestAlone.wall, alone.wall);
    bestAlone.cpu = std::min(bestAlone.cpu, alone.cpu);
  }
  const double mb = unpacked / 1e6;
  const auto [lowest, highest] = std::minmax_element(wallRatios.begin(), wallRatios.end());
  std::printf("best of %d runs each                 wall MB/s   CPU MB/s\n", runs);
  std::printf("our unpack (decipher, decode, write) %8.1f   %8.1f\n", mb / bestOurs.wall, mb / bestOurs.cpu);
  std::printf("  of which the decoding thread                  %8.1f\n", mb / bestOurs.decoderCpu);
  std::printf("liblzma alone, into memory           %8.1f   %8.1f\n", mb / bestAlone.wall, mb / bestAlone.cpu);
  std::printf("ratio of the bests                   %8.2f   %8.2f\n", bestAlone.wall / bestOurs.wall,
              bestAlone.cpu / bestOurs.cpu);
  std::printf("ratio, median of %d pairs (goal >= 1.0 by wall clock): %.2f (pairs %.2f to %.2f), CPU %.2f\n",
              runs, median(wallRatios), *lowest, *highest, median(cpuRatios));
  std::printf("peak resident memory of the unpack (VmHWM): %.1f MiB\n", peakKb / 1024.0);
  std::system(("rm -rf '" + std::string(work) + "'").c_str());
  return 0;
}
