#include <windows.h>

#include "app/Log.h"
#include "app/Text.h"
#include "app/win32/Files.h"
#include "scenario/PackFiles.h"

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

class Win32FolderSink : public un8z::EntrySink {
 public:
  Win32FolderSink(std::wstring destination, Log* log) : destination_(std::move(destination)), log_(log) {}

  bool beginEntry(const std::wstring& relativeName, uint64_t) override {
    path_ = destination_ + L"\\" + relativeName;
    const std::wstring folder = text::folderPart(path_);
    if (createFolderTree(folder) != 0) return failed(L"Can't create folder " + folder);
    file_.reset(CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) return failed(L"Can't create file " + path_);
    return true;
  }

  bool writeBytes(const uint8_t* data, size_t size) override {
    while (size != 0) {
      DWORD written = 0;
      const DWORD chunk = size > 0x40000000 ? 0x40000000 : DWORD(size);
      if (!WriteFile(file_.get(), data, chunk, &written, nullptr) || written == 0) {
        return failed(L"Can't write file " + path_);
      }
      data += written;
      size -= written;
    }
    return true;
  }

  bool endEntry() override {
    HANDLE h = file_.release();
    return (h == nullptr || CloseHandle(h)) || failed(L"Can't write file " + path_);
  }

 private:
  bool failed(const std::wstring& message) {
    const DWORD code = GetLastError();
    if (log_) log_->error(message + L", error code=" + std::to_wstring(code));
    return false;
  }

  std::wstring destination_;
  Log* log_;
  std::wstring path_;
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
    if (log) log->error(L"Can't open " + path + L", error code=" + std::to_wstring(GetLastError()));
    return nullptr;
  }
  return std::make_unique<Win32Source>(file);
}

std::unique_ptr<un8z::EntrySink> folderSink(const std::wstring& destination, Log* log) {
  return std::make_unique<Win32FolderSink>(destination, log);
}

}  // namespace packfiles
