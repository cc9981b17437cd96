// A child for the process tests: "hang" never ends; "print <bytes>" writes
// that many bytes to standard output (more than a pipe holds, if asked)
// and exits 0.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "hang") == 0) {
    Sleep(INFINITE);
  }
  if (argc >= 3 && std::strcmp(argv[1], "print") == 0) {
    std::string text = "java version \"1.8.0_251\"\n";
    const size_t total = static_cast<size_t>(std::atol(argv[2]));
    while (text.size() < total) text += "filler line of a talkative child\n";
    text.resize(total);
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    size_t done = 0;
    while (done < text.size()) {
      DWORD n = 0;
      if (!WriteFile(out, text.data() + done, static_cast<DWORD>(text.size() - done), &n, nullptr) || !n) return 2;
      done += n;
    }
    return 0;
  }
  return 1;
}
