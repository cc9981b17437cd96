// Stand-in jre\bin\java.exe: reports its runtime the way the real launcher
// does, on standard error only.
#include <cstdio>
#include <cwchar>

#include "RuntimeConfig.h"

int wmain(int argc, wchar_t** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::wcscmp(argv[i], L"-version") == 0) {
      RuntimeConfig config = readRuntimeConfig();
      std::fprintf(stderr,
                   "java version \"%s\"\n"
                   "Java(TM) SE Runtime Environment (build %s-b08)\n"
                   "Java HotSpot(TM) Client VM (build 25.251-b08, mixed mode)\n",
                   config.version.c_str(), config.version.c_str());
      return 0;
    }
  }
  std::fputs("stand-in runtime: only -version is understood\n", stderr);
  return 1;
}
