// pack_verify_bench [MiB=1536] [--limit-mib N=64]
//
// Makes a pack file of the given size in the temporary folder (sparse: its
// bytes do not matter to the hash, only that every one is read), signs it
// with a fresh key, then verifies it the way the installer does: one open
// handle, the ".sig" checked as the bytes stream past. Prints the time and
// the process's peak working set (resident memory natively), and exits with
// 1 when the pack is not accepted or the peak passes the limit.
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#include <winioctl.h>
#else
#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#endif

#include "app/Text.h"
#include "scenario/PackFiles.h"
#include "scenario/PackSignature.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace ps = pack_signature;

double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

#ifdef _WIN32
std::wstring scratchPath() {
  wchar_t folder[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, folder);
  return std::wstring(folder) + L"pack_verify_bench.ebz";
}

bool makeSparseFile(const std::wstring& path, long long bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD ignored = 0;
  DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
  LARGE_INTEGER size;
  size.QuadPart = bytes;
  const bool ok = SetFilePointerEx(file, size, nullptr, FILE_BEGIN) && SetEndOfFile(file);
  CloseHandle(file);
  return ok;
}

void removeFile(const std::wstring& path) { DeleteFileW(path.c_str()); }

long long peakBytes() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) ? (long long)counters.PeakWorkingSetSize
                                                                                : -1;
}
const char* kPeakName = "peak working set";
#else
std::wstring scratchPath() {
  const char* tmp = std::getenv("TMPDIR");
  return text::utf8ToWide(std::string(tmp ? tmp : "/tmp") + "/pack_verify_bench.ebz");
}

bool makeSparseFile(const std::wstring& path, long long bytes) {
  const int fd = ::open(text::wideToUtf8(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  const bool ok = ::ftruncate(fd, bytes) == 0;
  return ::close(fd) == 0 && ok;
}

void removeFile(const std::wstring& path) { ::unlink(text::wideToUtf8(path).c_str()); }

long long peakBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtoll(line.c_str() + 6, nullptr, 10) * 1024;
  }
  return -1;
}
const char* kPeakName = "peak resident memory";
#endif

}  // namespace

int main(int argc, char** argv) {
  long long mib = 1536;
  long long limitMib = 64;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--limit-mib" && i + 1 < argc) {
      limitMib = std::atoll(argv[++i]);
    } else if (arg.find_first_not_of("0123456789") == std::string::npos) {
      mib = std::atoll(arg.c_str());
    } else {
      std::fputs("usage: pack_verify_bench [MiB=1536] [--limit-mib N=64]\n", stderr);
      return 64;
    }
  }
  const std::wstring path = scratchPath();
  if (!makeSparseFile(path, mib << 20)) {
    std::fprintf(stderr, "cannot make %s\n", text::wideToUtf8(path).c_str());
    return 1;
  }
  std::array<uint8_t, ps::kPublicKeySize> publicKey{};
  std::array<uint8_t, ps::kSecretKeySize> secretKey{};
  std::vector<uint8_t> signature;
  auto start = Clock::now();
  {
    auto pack = packfiles::openPack(path, nullptr);
    if (!pack || !ps::makeKeyPair(publicKey, secretKey) ||
        !ps::sign(*pack, ps::kKindProduct, 1796000000, secretKey, signature)) {
      std::fputs("cannot sign the pack\n", stderr);
      removeFile(path);
      return 1;
    }
  }
  const double signSeconds = seconds(start);

  const ps::PackVerifier verifier(ps::toHex(publicKey.data(), publicKey.size()));
  start = Clock::now();
  ps::Verdict verdict;
  {
    auto pack = packfiles::openPack(path, nullptr);
    if (pack) verdict = verifier.verify(*pack, signature, ps::kKindProduct);
    else verdict.reason = L"the pack cannot be opened";
  }
  const double verifySeconds = seconds(start);
  removeFile(path);
  const long long peak = peakBytes();

  std::printf("pack: %lld MiB; signed in %.1f s, verified in %.1f s (%.0f MB/s)\n", mib, signSeconds, verifySeconds,
              double(mib << 20) / 1e6 / (verifySeconds > 0 ? verifySeconds : 1e-9));
  std::printf("verdict: %s%s\n", verdict.accepted ? "accepted" : "REFUSED: ",
              text::wideToUtf8(verdict.reason).c_str());
  std::printf("%s: %.1f MiB (limit %lld MiB)\n", kPeakName, double(peak) / (1 << 20), limitMib);
  const bool ok = verdict.accepted && peak >= 0 && peak <= (limitMib << 20);
  std::printf("%s\n", ok ? "ok" : "FAILED");
  return ok ? 0 : 1;
}
