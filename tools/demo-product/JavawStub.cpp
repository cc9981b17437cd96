// Stand-in jre\bin\javaw.exe: answers the two classes the installer runs.
// The architecture probe exits with the runtime's bitness (32 unless told
// otherwise); the product's version class exits with the product version.
#include <windows.h>

#include <string>

#include "RuntimeConfig.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR cmdLine, int) {
  std::wstring args = cmdLine ? cmdLine : L"";
  RuntimeConfig config = readRuntimeConfig();
  if (args.find(L"ru.dravimol.core.JavaArch") != std::wstring::npos) return config.arch;
  if (args.find(L"org.ruze.vurudad2.core3.util.Constants") != std::wstring::npos) return config.product;
  return 1;
}
