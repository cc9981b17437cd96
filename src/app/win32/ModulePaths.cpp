#include "app/win32/ModulePaths.h"

#include <windows.h>

#include <vector>

namespace win {

std::wstring moduleLongPath() {
  wchar_t buffer[1000] = {};
  DWORD n = GetModuleFileNameW(nullptr, buffer, 1000);
  return longPathOf(std::wstring(buffer, n));
}

std::wstring shortPathOf(const std::wstring& path) {
  wchar_t buffer[MAX_PATH] = {};
  DWORD n = GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::wstring();
  return std::wstring(buffer, n);
}

std::wstring longPathOf(const std::wstring& path) {
  if (path.empty()) return path;
  std::vector<wchar_t> buffer(1024, 0);
  DWORD n = GetLongPathNameW(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  if (n >= buffer.size()) {
    buffer.assign(n + 1, 0);
    n = GetLongPathNameW(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  }
  if (n == 0 || n >= buffer.size()) return path;
  return std::wstring(buffer.data(), n);
}

std::wstring moduleShortPath() { return shortPathOf(moduleLongPath()); }

}  // namespace win
