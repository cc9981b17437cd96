// The commands that change files through the shell.
#include "app/Log.h"
#include "app/win32/Files.h"
#include "scenario/Commands.h"
#include "scenario/PackFiles.h"
#include "scenario/win32/ShellFileOperation.h"

void DeleteCommand::execute(wchar_t* result, size_t resultSize, Log* log) {
  if (refuseCutArgument(result, resultSize, log)) return;
  if (log) log->info(L"Delete " + argument());
  // A link goes as a link, so that what it points to is never reached.
  if (files::isLink(argument())) {
    if (!files::removeLink(argument())) setResult(result, resultSize, std::to_wstring(GetLastError()));
    return;
  }
  if (files::isFolder(argument())) {
    // A folder goes by the walk that never descends into a link, not by the
    // shell's, which on some systems follows one.
    files::deleteFolderTree(argument());
    if (files::exists(argument())) {
      setResult(result, resultSize, std::to_wstring(ERROR_DIR_NOT_EMPTY));
      if (log) log->info(L"Error delete file, err: " + std::to_wstring(ERROR_DIR_NOT_EMPTY));
    }
    return;
  }
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
