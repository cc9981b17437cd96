#include <windows.h>

#include <vector>

#include "app/platform/LogFile.h"

namespace logfile {

std::wstring tempFolder() {
  std::vector<wchar_t> buffer(2048, 0);
  DWORD n = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
  if (n == 0 || n >= buffer.size()) return std::wstring();
  return std::wstring(buffer.data(), n);
}

Log::Stamp utcNow() {
  SYSTEMTIME t;
  GetSystemTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

std::string toAnsi(const std::wstring& line, size_t maxBytes) {
  if (line.empty()) return std::string();
  std::string out(maxBytes, '\0');
  int n = WideCharToMultiByte(CP_ACP, 0, line.c_str(), static_cast<int>(line.size()), &out[0],
                              static_cast<int>(maxBytes), nullptr, nullptr);
  if (n <= 0) return std::string();
  out.resize(n);
  return out;
}

namespace {
HANDLE openShared(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}
}  // namespace

void append(const std::wstring& path, const std::string& bytes) {
  HANDLE file = openShared(path);
  if (file == INVALID_HANDLE_VALUE) return;
  LARGE_INTEGER size;
  if (GetFileSizeEx(file, &size) && (size.QuadPart & ~0x3FFLL) > Log::kRestartAbove) {
    CloseHandle(file);
    DeleteFileW(path.c_str());
    file = openShared(path);
    if (file == INVALID_HANDLE_VALUE) return;
  }
  LARGE_INTEGER zero{};
  SetFilePointerEx(file, zero, nullptr, FILE_END);
  DWORD written = 0;
  if (!bytes.empty()) WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

int lastErrorCode() { return static_cast<int>(GetLastError()); }

void setLastErrorCode(int code) { SetLastError(static_cast<DWORD>(code)); }

std::wstring systemErrorText(int code) {
  wchar_t* buffer = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, static_cast<DWORD>(code), 1024,
                           reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text;
  if (n && buffer) text.assign(buffer, n);
  if (buffer) LocalFree(buffer);
  return text;
}

}  // namespace logfile
