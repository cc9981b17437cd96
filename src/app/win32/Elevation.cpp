#include "app/win32/Elevation.h"

#include <windows.h>
#include <shellapi.h>

#include "app/Log.h"
#include "app/Text.h"
#include "app/win32/Files.h"
#include "app/win32/ModulePaths.h"
#include "app/win32/SystemInfo.h"

namespace elevation {

bool isAdministrator() {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID admins = nullptr;
  if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                &admins))
    return false;
  BOOL member = FALSE;
  bool ok = CheckTokenMembership(nullptr, admins, &member) != 0;
  FreeSid(admins);
  return ok && member;
}

bool relaunchElevated(Log* log, const std::wstring& parameters) {
  std::wstring program = win::moduleShortPath();
  if (program.empty()) program = win::moduleLongPath();
  const bool oldSystem = sysinfo::osMajorVersion() < 6;
  bool admin = false;
  if (oldSystem) {
    // Old systems have no elevation prompt: run a copy from a fresh folder.
    std::wstring tmp = files::tempFileName(L"tmp");
    if (!tmp.empty()) {
      DeleteFileW(tmp.c_str());
      CreateDirectoryW(tmp.c_str(), nullptr);
      std::wstring copy = tmp + L"\\" + text::fileNamePart(program);
      if (files::copyFile(copy, program)) program = copy;
    }
    admin = isAdministrator();
    if (!admin) MessageBoxW(nullptr, L"Для установки нужны права администратора", nullptr, MB_ICONWARNING);
  }
  const wchar_t* verb = (oldSystem && admin) ? L"open" : L"runas";
  std::wstring params = parameters + L" /logPath \"" + (log ? log->path() : std::wstring()) + L"\"";
  if (log) {
    log->info(L"execute server args:");
    log->info(params);
  }
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpVerb = verb;
  info.lpFile = program.c_str();
  info.lpParameters = params.c_str();
  info.nShow = SW_SHOWNORMAL;
  if (ShellExecuteExW(&info)) {
    if (info.hProcess) CloseHandle(info.hProcess);
    return true;
  }
  DWORD error = GetLastError();
  if (error == ERROR_CANCELLED) {
    if (log) log->warning(L"User did not allow elevation, error code=" + std::to_wstring(error));
  } else {
    std::wstring text = L"Error: " + std::to_wstring(error);
    MessageBoxW(nullptr, text.c_str(), nullptr, MB_OK);
    if (log) log->warning(text);
  }
  return false;
}

}  // namespace elevation
