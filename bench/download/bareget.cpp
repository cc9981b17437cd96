// bareget <url> <output file>: the shortest WinINet download there is, as the
// yardstick of the download benchmark. One GET with the installer's request
// flags, 8 KiB InternetReadFile reads written straight to the file; prints
// "elapsed_ms <n>" (the download only, not the program's start).
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <string>

#include "download/win32/HttpConnection.h"

namespace {

struct Handle {
  HINTERNET h;
  explicit Handle(HINTERNET handle) : h(handle) {}
  ~Handle() {
    if (h) InternetCloseHandle(h);
  }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fwprintf(stderr, L"usage: bareget <url> <output file>\n");
    return 2;
  }
  ULONGLONG started = GetTickCount64();
  wchar_t host[1024] = {0};
  wchar_t path[4096] = {0};
  URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = 1024;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = 4096;
  if (!InternetCrackUrlW(argv[1], 0, 0, &parts)) return 1;
  Handle root(InternetOpenW(download::HttpConnection::kAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  Handle connection(root.h ? InternetConnectW(root.h, host, parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0)
                           : nullptr);
  Handle request(connection.h ? HttpOpenRequestW(connection.h, L"GET", path, L"HTTP/1.1", nullptr, nullptr,
                                                 download::HttpConnection::kPlainFlags, 0)
                              : nullptr);
  if (!request.h || !HttpSendRequestW(request.h, nullptr, 0, nullptr, 0)) {
    std::fwprintf(stderr, L"request failed: %lu\n", GetLastError());
    return 1;
  }
  std::FILE* out = _wfopen(argv[2], L"wb");
  if (!out) return 1;
  char buffer[8192];
  DWORD count = 0;
  unsigned long long total = 0;
  while (InternetReadFile(request.h, buffer, sizeof buffer, &count) && count > 0) {
    std::fwrite(buffer, 1, count, out);
    total += count;
  }
  std::fclose(out);
  std::wprintf(L"elapsed_ms %llu\n", static_cast<unsigned long long>(GetTickCount64() - started));
  std::wprintf(L"bytes %llu\n", total);
  return 0;
}
