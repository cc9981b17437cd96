// hold-mutex.exe <name> <seconds>: owns a named mutex for a while, so a demo
// or test can start the installer while "another installer" runs. Exits 0
// after the time, 1 when the mutex already existed.
#include <windows.h>

#include <cwchar>
#include <cstdlib>

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  HANDLE mutex = CreateMutexW(nullptr, FALSE, argv[1]);
  if (mutex == nullptr) return 2;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return 1;
  }
  Sleep(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)) * 1000);
  CloseHandle(mutex);
  return 0;
}
