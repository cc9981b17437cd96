// A stand-in for the installer's end: it sends the start event to the given
// address, waits until the event's thread is under way, and ends the process
// the way VexaSetup.exe does. A static object records in the marker file if
// it is torn down while that thread may still run.
//
// Usage: early_exit_probe <statistics address> <log path> <marker path>
#include <windows.h>

#include <string>

#include "app/Log.h"
#include "app/win32/ProcessEnd.h"
#include "context/win32/StatisticsEvents.h"
#include "context/win32/VexaInstallContext.h"
#include "pinstall/win32/PinstallContainerComposited.h"

namespace {

std::wstring markerPath;

struct StaticState {
  ~StaticState() {
    HANDLE f = CreateFileW(markerPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
  }
} staticState;

bool logHas(const Log& log, const char* text) {
  HANDLE f = CreateFileW(log.path().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  std::string content(1 << 16, '\0');
  DWORD n = 0;
  ReadFile(f, &content[0], static_cast<DWORD>(content.size()), &n, nullptr);
  CloseHandle(f);
  content.resize(n);
  return content.find(text) != std::string::npos;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) return 2;
  markerPath = argv[3];
  Log& log = *new Log(Log::atPath(argv[2]));
  auto* context = new VexaInstallContext(L"/installKey probe", &log);
  context->setOffers(new PinstallContainerComposited(*context, &log));
  context->statUrl = argv[1];
  stats::sendStartEvent(*context);
  for (int i = 0; i < 200 && !logHas(log, "+++++BEGIN thread sendStart"); ++i) Sleep(25);
  Sleep(300);  // the request is on the wire now
  log.info(L"probe ends");
  processend::endProcess(7);
}
