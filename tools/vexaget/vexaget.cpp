// vexaget <url> <output path or folder\> [--threads N] [--md5 HEX] [--min-size N] [--follow-redirects]
// Downloads with the installer's own downloader and prints its progress.
// Exit code 0 on success, 1 on failure, 2 on a bad command line.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <mutex>
#include <string>

#include "app/Log.h"
#include "download/win32/Downloads.h"

namespace {

constexpr int kTimeoutMs = 3600 * 1000;

class PrintingListener : public download::IDownloadListener {
 public:
  void onProgress(float percent, const std::wstring&, int) override {
    std::lock_guard<std::mutex> guard(lock_);
    std::wprintf(L"progress %.1f%%\n", percent);
    std::fflush(stdout);
  }
  void onComplete(const std::wstring&, int) override {
    std::lock_guard<std::mutex> guard(lock_);
    std::wprintf(L"complete\n");
  }
  void onFailed(const std::wstring&, int, const std::wstring& message) override {
    std::lock_guard<std::mutex> guard(lock_);
    std::fwprintf(stderr, L"failed: %ls\n", message.c_str());
  }
  void onError(const std::wstring&, int, const std::wstring& message) override {
    std::lock_guard<std::mutex> guard(lock_);
    std::fwprintf(stderr, L"error: %ls\n", message.c_str());
  }

 private:
  std::mutex lock_;
};

int usage() {
  std::fwprintf(stderr,
                L"usage: vexaget <url> <output path or folder\\> [--threads N] [--md5 HEX] [--min-size N] "
                L"[--follow-redirects]\n");
  return 2;
}

bool parseNumber(const wchar_t* text, unsigned long* value) {
  wchar_t* end = nullptr;
  *value = std::wcstoul(text, &end, 10);
  return end != text && *end == L'\0';
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return usage();
  std::wstring url = argv[1];
  std::wstring path = argv[2];
  unsigned long threads = 1;
  unsigned long minSize = 0;
  std::wstring md5;
  bool follow = false;
  for (int i = 3; i < argc; ++i) {
    std::wstring option = argv[i];
    bool hasValue = i + 1 < argc;
    if (option == L"--threads" && hasValue) {
      if (!parseNumber(argv[++i], &threads) || threads == 0 || threads > 64) return usage();
    } else if (option == L"--md5" && hasValue) {
      md5 = argv[++i];
    } else if (option == L"--min-size" && hasValue) {
      if (!parseNumber(argv[++i], &minSize)) return usage();
    } else if (option == L"--follow-redirects") {
      follow = true;
    } else {
      return usage();
    }
  }

  Log log(L"vexaget.log");
  PrintingListener listener;
  ULONGLONG started = GetTickCount64();
  std::wstring saved = download::downloadToFile(&listener, L"vexaget", url, path, 0, static_cast<int>(threads),
                                                &log, kTimeoutMs, static_cast<uint32_t>(minSize), md5, follow);
  // Measured here so that a benchmark does not count Wine's start-up.
  std::wprintf(L"elapsed_ms %llu\n", static_cast<unsigned long long>(GetTickCount64() - started));
  if (saved.empty()) {
    std::fwprintf(stderr, L"download failed; see %ls\n", log.path().c_str());
    return 1;
  }
  std::wprintf(L"saved %ls\n", saved.c_str());
  return 0;
}
