#include "app/win32/SingleInstance.h"

#include "app/Log.h"

bool SingleInstance::create() {
  if (handle_) return true;
  handle_ = CreateMutexW(nullptr, FALSE, name_.c_str());
  lastError_ = GetLastError();
  if (lastError_ == ERROR_ALREADY_EXISTS) {
    if (log_) log_->error(L"can't create mutex " + name_);
    if (handle_) CloseHandle(handle_);
    handle_ = nullptr;
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
