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

namespace {

unsigned long shellLaunch(const std::wstring& program, const std::wstring& verb, const std::wstring& parameters) {
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpVerb = verb.c_str();
  info.lpFile = program.c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExW(&info)) {
    DWORD error = GetLastError();
    return error ? error : ERROR_GEN_FAILURE;
  }
  if (info.hProcess) CloseHandle(info.hProcess);
  return 0;
}

}  // namespace

Outcome relaunchElevated(Log* log, const std::wstring& parameters, bool silent, const Launcher& launcher) {
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
    if (!admin) {
      if (log) log->warning(L"Not an administrator: installing needs administrator rights");
      if (!silent) MessageBoxW(nullptr, L"Для установки нужны права администратора", nullptr, MB_ICONWARNING);
    }
  }
  const wchar_t* verb = (oldSystem && admin) ? L"open" : L"runas";
  // A file's path: it never ends in a separator, so plain quotes hold it.
  std::wstring params = parameters + L" /logPath \"" + (log ? log->path() : std::wstring()) + L"\"";
  if (log) {
    log->info(L"execute server args:");
    log->info(params);
  }
  Outcome outcome;
  outcome.error = launcher ? launcher(program, verb, params) : shellLaunch(program, verb, params);
  outcome.started = outcome.error == 0;
  if (outcome.started) return outcome;
  if (outcome.error == ERROR_CANCELLED) {
    if (log) log->warning(L"User did not allow elevation, error code=" + std::to_wstring(outcome.error));
  } else {
    std::wstring text = L"Error: " + std::to_wstring(outcome.error);
    if (log) log->warning(text);
    if (!silent) MessageBoxW(nullptr, text.c_str(), nullptr, MB_OK);
  }
  return outcome;
}

}  // namespace elevation
