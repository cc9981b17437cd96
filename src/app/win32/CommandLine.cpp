#include "app/win32/CommandLine.h"

#include <windows.h>
#include <shellapi.h>

#include "app/win32/ModulePaths.h"

namespace commandline {

std::vector<std::wstring> split(const std::wstring& commandLine) {
  std::wstring copy = commandLine.substr(0, kCommandLineBuffer - 1);
  std::vector<std::wstring> tokens;
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(copy.c_str(), &count);
  if (!argv) return tokens;
  for (int i = 0; i < count; ++i) tokens.emplace_back(argv[i]);
  LocalFree(argv);
  return tokens;
}

OptionTable parse(const std::wstring& commandLine) {
  return OptionTable::fromTokens(split(commandLine), win::moduleShortPath());
}

}  // namespace commandline
