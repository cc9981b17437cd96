// Stand-in partner installer. It records its command line and exits with
// the code its caller chose:
//   /exit=<n>     exit code (default 0)
//   /sleepms=<n>  stay running that long first (at most a minute)
// The record goes to the file named by VEXA_PARTNER_CALLS, else to
// "partner-calls.log" in the temporary folder: the installer deletes the
// folder this program runs from.
#include <windows.h>

#include <cwchar>
#include <string>

#include "CallLog.h"

namespace {

long switchValue(const std::wstring& line, const wchar_t* name, long fallback) {
  size_t pos = line.find(name);
  if (pos == std::wstring::npos) return fallback;
  return std::wcstol(line.c_str() + pos + std::wcslen(name), nullptr, 10);
}

std::wstring recordPath() {
  wchar_t buffer[MAX_PATH] = {};
  DWORD n = GetEnvironmentVariableW(L"VEXA_PARTNER_CALLS", buffer, MAX_PATH);
  if (n > 0 && n < MAX_PATH) return buffer;
  n = GetTempPathW(MAX_PATH, buffer);
  return std::wstring(buffer, n < MAX_PATH ? n : 0) + L"partner-calls.log";
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR cmdLine, int) {
  std::wstring line = cmdLine ? cmdLine : L"";
  appendCallLineTo(recordPath(), L"PartnerSetup.exe " + line);
  long sleepMs = switchValue(line, L"/sleepms=", 0);
  if (sleepMs > 0) Sleep(static_cast<DWORD>(sleepMs < 60000 ? sleepMs : 60000));
  return static_cast<int>(switchValue(line, L"/exit=", 0));
}
