// Stand-in uninstall.exe: records that it was called; removes nothing.
#include <windows.h>

#include "CallLog.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR cmdLine, int) {
  appendCallLine(L"vexa-calls.log", L"uninstall.exe " + std::wstring(cmdLine ? cmdLine : L""));
  return 0;
}
