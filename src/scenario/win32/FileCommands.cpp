// The commands that change files through the shell.
#include "app/Log.h"
#include "scenario/Commands.h"
#include "scenario/PackFiles.h"
#include "scenario/win32/ShellFileOperation.h"

void DeleteCommand::execute(wchar_t* result, size_t resultSize, Log* log) {
  if (refuseCutArgument(result, resultSize, log)) return;
  if (log) log->info(L"Delete " + argument());
  const int code = shellfiles::deletePath(argument(), kShellFlags);
  if (code != 0) {
    setResult(result, resultSize, std::to_wstring(code));
    if (log) log->info(L"Error delete file, err: " + std::to_wstring(code));
  }
}

void CopyCommand::execute(wchar_t* result, size_t resultSize, Log* log) {
  std::wstring source, destination;
  if (!splitPaths(source, destination, result, resultSize, log)) return;
  if (log) log->info(L"Copy '" + source + L"' to '" + destination + L"'");
  packfiles::createFolderTree(destination);
  const int code = shellfiles::copyPaths(source, destination, kShellFlags);
  if (code != 0) {
    setResult(result, resultSize, std::to_wstring(code));
    if (log) log->info(L"Error copy file, err: " + std::to_wstring(code));
  }
}
