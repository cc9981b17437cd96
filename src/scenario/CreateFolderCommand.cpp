#include "app/Log.h"
#include "scenario/Commands.h"
#include "scenario/PackFiles.h"

void CreateFolderCommand::execute(wchar_t* result, size_t resultSize, Log* log) {
  if (refuseCutArgument(result, resultSize, log)) return;
  const std::wstring& path = argument();
  if (log) log->info(L"Create directory " + path);
  if (packfiles::isFolder(path)) {
    if (log) log->info(L"Folder exist already");
    return;
  }
  const unsigned long code = packfiles::createFolderTree(path);
  if (code != 0) {
    const std::wstring text = std::to_wstring(code);
    setResult(result, resultSize, text);
    if (log) log->error(L"Can't create folder '" + path + L"', " + Log::errorCodeText(code));
  }
}
