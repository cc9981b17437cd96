// Stand-in jre\bin\java.exe: reports a 32-bit 1.8.0_251 runtime the way the
// real launcher does (the version text goes to both streams, since callers
// differ in which one they capture).
#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::wcscmp(argv[i], L"-version") == 0) {
      const char* text =
          "java version \"1.8.0_251\"\n"
          "Java(TM) SE Runtime Environment (build 1.8.0_251-b08)\n"
          "Java HotSpot(TM) Client VM (build 25.251-b08, mixed mode)\n";
      std::fputs(text, stdout);
      std::fputs(text, stderr);
      return 0;
    }
  }
  std::fputs("stand-in runtime: only -version is understood\n", stderr);
  return 1;
}
