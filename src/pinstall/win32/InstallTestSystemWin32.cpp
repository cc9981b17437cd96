#include "pinstall/win32/InstallTestSystemWin32.h"

#include <windows.h>
#include <shlobj.h>

#include "app/win32/Registry.h"

namespace pinstall {
namespace {

HKEY rootHandle(RegRoot root) {
  switch (root) {
    case RegRoot::kClassesRoot: return HKEY_CLASSES_ROOT;
    case RegRoot::kLocalMachine: return HKEY_LOCAL_MACHINE;
    case RegRoot::kUsers: return HKEY_USERS;
    case RegRoot::kCurrentUser: break;
  }
  return HKEY_CURRENT_USER;
}

REGSAM viewFlag(RegView view) { return view == RegView::k64 ? KEY_WOW64_64KEY : 0; }

// Switches file-system redirection off for this thread where the system has
// the switch (32-bit programs on 64-bit Windows), and restores it.
class RedirectionOff {
 public:
  RedirectionOff() {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    disable_ = reinterpret_cast<Disable>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64DisableWow64FsRedirection")));
    revert_ = reinterpret_cast<Revert>(reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64RevertWow64FsRedirection")));
    if (disable_ && revert_) switchedOff_ = disable_(&previous_) != FALSE;
  }
  ~RedirectionOff() {
    if (switchedOff_) revert_(previous_);
  }
  RedirectionOff(const RedirectionOff&) = delete;
  RedirectionOff& operator=(const RedirectionOff&) = delete;

 private:
  using Disable = BOOL(WINAPI*)(PVOID*);
  using Revert = BOOL(WINAPI*)(PVOID);
  Disable disable_ = nullptr;
  Revert revert_ = nullptr;
  PVOID previous_ = nullptr;
  bool switchedOff_ = false;
};

}  // namespace

std::wstring InstallTestSystemWin32::regText(RegRoot root, const std::wstring& subKey, const std::wstring& name,
                                             RegView view) {
  registry::RegKey key = registry::RegKey::openRead(rootHandle(root), subKey, viewFlag(view));
  if (!key) return std::wstring();
  wchar_t data[512] = {};  // 1024 bytes
  DWORD size = sizeof(data);
  DWORD type = 0;
  if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
      ERROR_SUCCESS)
    return std::wstring();
  if (type != REG_SZ && type != REG_MULTI_SZ && type != REG_EXPAND_SZ && type != REG_BINARY) return std::wstring();
  // The data need not be terminated; what is read stops at the first NUL.
  std::wstring value(data, size / sizeof(wchar_t));
  size_t nul = value.find(L'\0');
  if (nul != std::wstring::npos) value.resize(nul);
  if (type == REG_EXPAND_SZ && !value.empty()) {
    wchar_t expanded[4096] = {};
    DWORD n = ExpandEnvironmentStringsW(value.c_str(), expanded, 4096);
    // A value whose expansion does not fit is still there: keep its text as
    // stored rather than report it missing.
    if (n != 0 && n <= 4096) value.assign(expanded);
  }
  return value;
}

uint32_t InstallTestSystemWin32::regDword(RegRoot root, const std::wstring& subKey, const std::wstring& name,
                                          RegView view) {
  registry::RegKey key = registry::RegKey::openRead(rootHandle(root), subKey, viewFlag(view));
  return key ? registry::readDword(key.get(), name) : 0;
}

bool InstallTestSystemWin32::regKeyOpens(RegRoot root, const std::wstring& subKey) {
  return static_cast<bool>(registry::RegKey::openRead(rootHandle(root), subKey));
}

PathKind InstallTestSystemWin32::pathKind(const std::wstring& path) {
  RedirectionOff redirection;
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::kMissing;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::kFolder : PathKind::kFile;
}

std::wstring InstallTestSystemWin32::placeholderFolder(const std::wstring& name) {
  wchar_t folder[MAX_PATH] = {};
  if (name == L"localappdata") {
    if (SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder) != S_OK) return {};
    return folder;
  }
  if (name == L"windir") {
    UINT n = GetWindowsDirectoryW(folder, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(folder, n) : std::wstring();
  }
  return std::wstring();
}

bool InstallTestSystemWin32::versionAtLeast(int major, int minor, int servicePackMajor) {
  OSVERSIONINFOEXW version{};
  version.dwOSVersionInfoSize = sizeof(version);
  version.dwMajorVersion = static_cast<DWORD>(major);
  version.dwMinorVersion = static_cast<DWORD>(minor);
  version.wServicePackMajor = static_cast<WORD>(servicePackMajor);
  DWORDLONG mask = VerSetConditionMask(
      VerSetConditionMask(VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL), VER_MINORVERSION,
                          VER_GREATER_EQUAL),
      VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
  return VerifyVersionInfoW(&version, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR, mask) != FALSE;
}

InstallTestSystem& windowsInstallTestSystem() {
  static InstallTestSystemWin32 system;
  return system;
}

}  // namespace pinstall
