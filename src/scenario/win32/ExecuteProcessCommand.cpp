#include "app/win32/Processes.h"
#include "scenario/Commands.h"

void ExecuteProcessCommand::execute(wchar_t* result, size_t resultSize, Log* log) {
  if (refuseCutArgument(result, resultSize, log)) return;
  setResult(result, resultSize, std::to_wstring(processes::executeAndWait(false, log, argument(), nullptr, nullptr)));
}
