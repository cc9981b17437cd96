#include "app/win32/ShellFolders.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include "app/win32/Registry.h"

namespace shellfolders {
namespace {
std::wstring known(int csidl) {
  wchar_t path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return std::wstring();
  return path;
}
}  // namespace

std::wstring roamingAppData() { return known(CSIDL_APPDATA); }
std::wstring desktop() { return known(CSIDL_DESKTOPDIRECTORY); }
std::wstring startMenu() { return known(CSIDL_STARTMENU); }
std::wstring programFiles() { return known(CSIDL_PROGRAM_FILES); }

std::wstring documents() {
  return registry::readText(HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                            L"Personal");
}

bool largestFixedDrive(std::wstring& root, uint64_t& freeMiB) {
  DWORD mask = GetLogicalDrives();
  bool found = false;
  for (int i = 0; i < 26; ++i) {
    if (!(mask & (1u << i))) continue;
    wchar_t drive[4] = {static_cast<wchar_t>(L'A' + i), L':', L'\\', 0};
    if (GetDriveTypeW(drive) != DRIVE_FIXED) continue;
    ULARGE_INTEGER available{}, total{}, freeTotal{};
    if (!GetDiskFreeSpaceExW(drive, &available, &total, &freeTotal)) continue;
    uint64_t mib = available.QuadPart / 1048576ull;
    if (!found || mib > freeMiB) {
      found = true;
      freeMiB = mib;
      root = drive;
    }
  }
  return found;
}

bool createShortcut(const std::wstring& linkFile, const std::wstring& target, const std::wstring& arguments,
                    const std::wstring& workingFolder, const std::wstring& description) {
  IShellLinkW* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&link))))
    return false;
  link->SetPath(target.c_str());
  link->SetArguments(arguments.c_str());
  link->SetWorkingDirectory(workingFolder.c_str());
  link->SetDescription(description.c_str());
  IPersistFile* file = nullptr;
  bool ok = false;
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    ok = SUCCEEDED(file->Save(linkFile.c_str(), TRUE));
    file->Release();
  }
  link->Release();
  return ok;
}

}  // namespace shellfolders
