#include "app/win32/SingleInstance.h"

#include "app/Log.h"
#include "app/win32/NamedMutex.h"

bool SingleInstance::create() {
  if (handle_) return true;
  namedmutex::Outcome outcome = namedmutex::create(name_, &handle_);
  lastError_ = GetLastError();
  if (outcome != namedmutex::Outcome::kCreated) {
    if (log_) {
      log_->error(L"can't create mutex " + name_);
      if (outcome == namedmutex::Outcome::kFailed) log_->writeLastError();
    }
    return false;
  }
  if (log_) log_->info(L"Mutex is created " + name_);
  return true;
}

void SingleInstance::release() {
  if (!handle_) return;
  if (log_) log_->info(L"release mutex " + name_);
  CloseHandle(handle_);
  handle_ = nullptr;
}
