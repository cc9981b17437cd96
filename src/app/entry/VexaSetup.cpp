// Entry point of VexaSetup.exe (being filled in: start-up roads follow).
#include <windows.h>

#include "app/Log.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  Log log(L"VexaInstall.log");
  log.info(L"---START---");
  return 0;
}
