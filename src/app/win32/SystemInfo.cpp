#include "app/win32/SystemInfo.h"

#include <windows.h>

namespace sysinfo {
namespace {
// GetVersionEx lies to programs without a manifest entry for newer systems;
// RtlGetVersion does not.
OSVERSIONINFOW realVersion() {
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof(info);
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  auto fn = ntdll ? reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")))
                  : nullptr;
  if (!fn || fn(&info) != 0) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExW(&info);
#pragma GCC diagnostic pop
  }
  return info;
}
}  // namespace

int osMajorVersion() { return static_cast<int>(realVersion().dwMajorVersion); }

std::wstring osVersionText() {
  OSVERSIONINFOW v = realVersion();
  return std::to_wstring(v.dwMajorVersion) + L"." + std::to_wstring(v.dwMinorVersion) + L"." +
         std::to_wstring(v.dwBuildNumber);
}

std::string userNameAnsi() {
  char name[128] = {};
  DWORD size = sizeof(name);
  if (!GetUserNameA(name, &size)) return std::string();
  return std::string(name);
}

int userDefaultLanguage() { return static_cast<int>(GetUserDefaultLangID()); }

}  // namespace sysinfo
