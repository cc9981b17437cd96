#pragma once
// What a stand-in runtime reports, read from "standin-runtime.txt" beside
// the program (lines "version=...", "arch=...", "product=..."), so tests
// can lay out runtimes of any version and architecture with the same two
// programs. Without the file: a 32-bit 1.8.0_251 runtime and product 1100.
#include <windows.h>

#include <cstdlib>
#include <string>

struct RuntimeConfig {
  std::string version = "1.8.0_251";
  int arch = 32;
  int product = 1100;
};

inline RuntimeConfig readRuntimeConfig() {
  RuntimeConfig config;
  wchar_t path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring file(path, n);
  size_t slash = file.find_last_of(L"\\/");
  file = (slash == std::wstring::npos ? std::wstring() : file.substr(0, slash + 1)) + L"standin-runtime.txt";
  // Plain file calls: iostreams would make each stand-in a megabyte.
  HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return config;
  char buffer[1024];
  DWORD got = 0;
  std::string content;
  if (ReadFile(handle, buffer, sizeof(buffer), &got, nullptr)) content.assign(buffer, got);
  CloseHandle(handle);
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::string line = content.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "version") config.version = value;
    if (key == "arch") config.arch = std::atoi(value.c_str());
    if (key == "product") config.product = std::atoi(value.c_str());
  }
  return config;
}
