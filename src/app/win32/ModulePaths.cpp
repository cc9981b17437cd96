#include "app/win32/ModulePaths.h"

#include <windows.h>

namespace win {

std::wstring moduleLongPath() {
  wchar_t buffer[1000] = {};
  DWORD n = GetModuleFileNameW(nullptr, buffer, 1000);
  return std::wstring(buffer, n);
}

std::wstring shortPathOf(const std::wstring& path) {
  wchar_t buffer[MAX_PATH] = {};
  DWORD n = GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::wstring();
  return std::wstring(buffer, n);
}

std::wstring moduleShortPath() { return shortPathOf(moduleLongPath()); }

}  // namespace win
