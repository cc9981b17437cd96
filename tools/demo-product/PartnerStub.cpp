// Stand-in partner installer: records its command line and succeeds.
#include <windows.h>

#include "CallLog.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR cmdLine, int) {
  appendCallLine(L"partner-calls.log", L"PartnerSetup.exe " + std::wstring(cmdLine ? cmdLine : L""));
  return 0;
}
