// The native build is for tests: commands that act through Windows
// facilities report "not supported" (50) and change nothing.
#include "app/Log.h"
#include "scenario/Commands.h"

namespace {

void notSupported(const Command& command, wchar_t* result, size_t resultSize, Log* log) {
  const std::wstring code = L"50";
  if (result != nullptr && resultSize > code.size()) code.copy(result, code.size() + 1);
  if (result != nullptr && resultSize > code.size()) result[code.size()] = L'\0';
  if (log) log->error(command.getName() + L" is not supported on this platform");
}

}  // namespace

void ExecuteProcessCommand::execute(wchar_t* r, size_t n, Log* log) { notSupported(*this, r, n, log); }
void DeleteCommand::execute(wchar_t* r, size_t n, Log* log) { notSupported(*this, r, n, log); }
void CopyCommand::execute(wchar_t* r, size_t n, Log* log) { notSupported(*this, r, n, log); }
void ExtractUtilsJarCommand::execute(wchar_t* r, size_t n, Log* log) { notSupported(*this, r, n, log); }
void AddUninstallInfoCommand::execute(wchar_t* r, size_t n, Log* log) { notSupported(*this, r, n, log); }
void FirewallAdd::execute(wchar_t* r, size_t n, Log* log) { notSupported(*this, r, n, log); }
