#include "app/win32/NamedMutex.h"

namespace namedmutex {

Outcome outcomeOf(HANDLE handle, DWORD lastError) {
  if (!handle) return Outcome::kFailed;
  return lastError == ERROR_ALREADY_EXISTS ? Outcome::kExisted : Outcome::kCreated;
}

Outcome create(const std::wstring& name, HANDLE* held) {
  HANDLE handle = CreateMutexW(nullptr, FALSE, name.c_str());
  DWORD error = GetLastError();
  Outcome outcome = outcomeOf(handle, error);
  if (outcome != Outcome::kCreated && handle) CloseHandle(handle);
  *held = outcome == Outcome::kCreated ? handle : nullptr;
  SetLastError(error);
  return outcome;
}

}  // namespace namedmutex
