#include "app/Log.h"
#include "app/Text.h"
#include "context/SystemCommands.h"
#include "context/win32/FirewallAuthorization.h"

void FirewallAdd::execute(wchar_t* result, size_t resultSize, Log* log) {
  if (refuseCutArgument(result, resultSize, log)) return;
  const std::wstring& path = argument();
  const std::wstring fileName = text::fileNamePart(path);
  if (log) log->info(L"Firewall add, fileName: " + fileName + L" path:" + path);
  const long status = firewall::authorizeApplication(path, fileName, objects_.manager, objects_.application);
  setResult(result, resultSize, std::to_wstring(status));
}
