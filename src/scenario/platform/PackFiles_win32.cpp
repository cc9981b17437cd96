#include <windows.h>

#include <vector>

#include "app/Log.h"
#include "app/Text.h"
#include "app/win32/Files.h"
#include "scenario/PackFiles.h"
#include "scenario/RecordingSink.h"

// Only the inline handle owner of Files.h is used here: this backend belongs
// to the portable library and must not depend on the Windows-only one.
namespace packfiles {

namespace {

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

class Win32Source : public PackFile {
 public:
  explicit Win32Source(HANDLE file) : file_(file) {}
  bool rewind() override {
    LARGE_INTEGER start{};
    return SetFilePointerEx(file_.get(), start, nullptr, FILE_BEGIN) != FALSE;
  }
  bool read(uint8_t* buffer, size_t capacity, size_t& got) override {
    DWORD n = 0;
    const DWORD want = capacity > 0x40000000 ? 0x40000000 : DWORD(capacity);
    const BOOL ok = ReadFile(file_.get(), buffer, want, &n, nullptr);
    got = ok ? n : 0;
    return ok != FALSE;
  }

 private:
  files::UniqueHandle file_;
};

class Win32FolderSink : public RecordingSink {
 public:
  Win32FolderSink(std::wstring destination, Log* log) : RecordingSink(log), destination_(std::move(destination)) {}

  bool beginEntry(const std::wstring& relativeName, uint64_t size) override {
    enter(destination_ + L"\\" + relativeName, size);
    const std::wstring folder = text::folderPart(path());
    if (const unsigned long made = createFolderTree(folder)) return failed(L"Can't create folder " + folder, made);
    if (!roomForEntry()) return false;
    // Whatever stands at the name (a link, a hard link, an older file) goes
    // as a name: the new file is created, never opened through it. A file
    // in use stays, and its error is the one told.
    SetFileAttributesW(path().c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileW(path().c_str())) {
      const DWORD code = GetLastError();
      if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) return failed(L"Can't replace file " + path(), code);
    }
    file_.reset(CreateFileW(path().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) return failed(L"Can't create file " + path());
    return true;
  }

  bool writeBytes(const uint8_t* data, size_t size) override {
    return writeAll(file_.get(), data, size) || failed(L"Can't write file " + path());
  }

  bool endEntry() override {
    HANDLE h = file_.release();
    return (h == nullptr || CloseHandle(h)) || failed(L"Can't write file " + path());
  }

 private:
  std::wstring destination_;
  files::UniqueHandle file_;
};

}  // namespace

bool isFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool isFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

unsigned long createFolderTree(const std::wstring& folder) {
  if (folder.empty()) return ERROR_PATH_NOT_FOUND;
  if (isFolder(folder)) return 0;
  DWORD last = 0;
  for (size_t i = 1; i <= folder.size(); ++i) {
    if (i < folder.size() && !isSeparator(folder[i])) continue;
    const std::wstring prefix = folder.substr(0, i);
    // Drive roots ("C:") and UNC server names cannot be created; skip them.
    if (prefix.back() == L':' || isSeparator(prefix.back()) || isFolder(prefix)) continue;
    if (!CreateDirectoryW(prefix.c_str(), nullptr)) {
      const DWORD code = GetLastError();
      if (code != ERROR_ALREADY_EXISTS || !isFolder(prefix)) last = code;
    }
  }
  if (isFolder(folder)) return 0;
  return last != 0 ? last : ERROR_ALREADY_EXISTS;
}

std::unique_ptr<PackFile> openPack(const std::wstring& path, Log* log) {
  // Read sharing only: while the pack is held, no process can change, rename
  // or delete it, and a writer that still has it open makes this fail.
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    if (log) log->error(L"Can't open " + path + L", " + Log::errorCodeText(GetLastError()));
    return nullptr;
  }
  return std::make_unique<Win32Source>(file);
}

std::unique_ptr<FolderSink> folderSink(const std::wstring& destination, Log* log) {
  return std::make_unique<Win32FolderSink>(destination, log);
}

bool freeSpace(const std::wstring& path, uint64_t& bytes) {
  std::wstring folder = path;
  // The folder may not exist yet: its nearest existing parent is on the same volume.
  while (!folder.empty() && !isFolder(folder)) {
    const size_t cut = folder.find_last_of(L"\\/");
    if (cut == std::wstring::npos) return false;
    folder.resize(cut);
    if (folder.size() == 2 && folder[1] == L':') folder += L'\\';
  }
  ULARGE_INTEGER available{};
  if (folder.empty() || !GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return false;
  bytes = available.QuadPart;
  return true;
}

unsigned long probeWrite(const std::wstring& folder) {
  // The folders this probe makes, deepest first, to take away again.
  std::vector<std::wstring> made;
  for (std::wstring f = folder; !f.empty() && !isFolder(f);) {
    made.push_back(f);
    const size_t cut = f.find_last_of(L"\\/");
    if (cut == std::wstring::npos || (cut == 2 && f[1] == L':')) break;
    f.resize(cut);
  }
  unsigned long code = createFolderTree(folder);
  if (code == 0) {
    const std::wstring probe = folder + L"\\~vexa-probe-" + std::to_wstring(GetCurrentProcessId()) + L".tmp";
    HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      code = GetLastError();
    } else {
      const char byte = 0;
      DWORD written = 0;
      if (!WriteFile(file, &byte, 1, &written, nullptr) || written != 1) code = GetLastError();
      CloseHandle(file);
      DeleteFileW(probe.c_str());
    }
    if (code == 0 && isFile(probe)) code = ERROR_ACCESS_DENIED;
  }
  for (const std::wstring& f : made) RemoveDirectoryW(f.c_str());
  return code;
}

std::wstring volumeOf(const std::wstring& path) {
  wchar_t root[MAX_PATH + 1] = {};
  if (GetVolumePathNameW(path.c_str(), root, MAX_PATH)) return root;
  return path.size() >= 3 && path[1] == L':' ? path.substr(0, 3) : path;
}

bool writeAll(void* file, const uint8_t* data, size_t size) {
  while (size != 0) {
    DWORD written = 0;
    const DWORD chunk = size > 0x40000000 ? 0x40000000 : DWORD(size);
    if (!WriteFile(file, data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

unsigned long lastSystemError() { return GetLastError(); }
bool isNoSpaceError(unsigned long code) { return code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL; }
unsigned long noSpaceError() { return ERROR_DISK_FULL; }
unsigned long genericWriteError() { return ERROR_GEN_FAILURE; }
std::wstring errorSuffix(unsigned long code) { return L", " + Log::errorCodeText(code); }

}  // namespace packfiles
