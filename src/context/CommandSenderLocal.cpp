#include "context/CommandSenderLocal.h"

#include "app/Log.h"

bool CommandSenderLocal::send(Command& command, wchar_t* result, size_t resultSize) {
  if (result != nullptr && resultSize >= 2) {
    result[0] = L'0';
    result[1] = L'\0';
  }
  std::wstring description;
  command.describe(description);
  if (log_) {
    log_->info(L"Start execute command in CommandSenderLocal");
    log_->info(description);
  }
  command.execute(result, resultSize, log_);
  if (log_) {
    log_->info(std::wstring(L"End execute command in CommandSenderLocal, result=") +
               (result != nullptr && resultSize != 0 ? result : L""));
  }
  return true;
}
