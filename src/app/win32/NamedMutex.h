#pragma once
// Named mutexes that tell processes of this installer apart.
#include <windows.h>

#include <string>

namespace namedmutex {

enum class Outcome { kCreated, kExisted, kFailed };

// Only a handle without ERROR_ALREADY_EXISTS makes the name ours. A mutex
// that an elevated installer holds answers a non-elevated one with no handle
// and ERROR_ACCESS_DENIED: that is another holder too, not a fresh mutex.
Outcome outcomeOf(HANDLE handle, DWORD lastError);

// Creates the named mutex (not owned) and reports what happened. The handle
// is kept in *held only when the outcome is kCreated; otherwise any handle
// is closed and *held is null. The thread's last error is the creation's.
Outcome create(const std::wstring& name, HANDLE* held);

}  // namespace namedmutex
