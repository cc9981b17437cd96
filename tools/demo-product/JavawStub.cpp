// Stand-in jre\bin\javaw.exe: answers the two classes the installer runs.
// The architecture probe exits 32 (a 32-bit runtime); the product's version
// class exits with the product version.
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR cmdLine, int) {
  std::wstring args = cmdLine ? cmdLine : L"";
  if (args.find(L"ru.dravimol.core.JavaArch") != std::wstring::npos) return 32;
  if (args.find(L"org.ruze.vurudad2.core3.util.Constants") != std::wstring::npos) return 1100;
  return 1;
}
