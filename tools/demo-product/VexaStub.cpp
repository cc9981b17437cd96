// Stand-in Vexa.exe: answers "/copydll", "--readInitFile", "--closedown" and
// "/MINIMIZED" and records each call in vexa-calls.log beside itself.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <string>

#include "CallLog.h"

namespace {

std::wstring initFilePath() {
  wchar_t appData[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData))) return {};
  return std::wstring(appData) + L"\\Vexa\\init.xml";
}

std::wstring readInitFile() {
  std::wstring path = initFilePath();
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return L"readInitFile: no " + path;
  LARGE_INTEGER size{};
  GetFileSizeEx(file, &size);
  CloseHandle(file);
  return L"readInitFile: read " + std::to_wstring(size.QuadPart) + L" bytes from " + path;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::wstring args;
  bool readInit = false;
  for (int i = 1; argv && i < argc; ++i) {
    args += (i > 1 ? L" " : L"") + std::wstring(argv[i]);
    if (std::wstring(argv[i]) == L"--readInitFile") readInit = true;
  }
  appendCallLine(L"vexa-calls.log", L"Vexa.exe " + args);
  if (readInit) appendCallLine(L"vexa-calls.log", readInitFile());
  LocalFree(argv);
  return 0;
}
