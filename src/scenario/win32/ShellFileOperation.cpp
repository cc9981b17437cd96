#include "scenario/win32/ShellFileOperation.h"

#include <windows.h>
#include <shellapi.h>

namespace shellfiles {

namespace {

// The operation takes lists ending in a double NUL.
std::wstring doubleTerminated(const std::wstring& path) { return path + std::wstring(2, L'\0'); }

// An operation the user or a hook aborted returns 0 but did not do its work.
int outcome(int code, const SHFILEOPSTRUCTW& op) {
  if (code == 0 && op.fAnyOperationsAborted) return ERROR_CANCELLED;
  return code;
}

}  // namespace

int deletePath(const std::wstring& path, unsigned flags) {
  const std::wstring from = doubleTerminated(path);
  SHFILEOPSTRUCTW op{};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FILEOP_FLAGS(flags);
  return outcome(SHFileOperationW(&op), op);
}

int copyPaths(const std::wstring& source, const std::wstring& destination, unsigned flags) {
  const std::wstring from = doubleTerminated(source), to = doubleTerminated(destination);
  SHFILEOPSTRUCTW op{};
  op.wFunc = FO_COPY;
  op.pFrom = from.c_str();
  op.pTo = to.c_str();
  op.fFlags = FILEOP_FLAGS(flags);
  return outcome(SHFileOperationW(&op), op);
}

}  // namespace shellfiles
