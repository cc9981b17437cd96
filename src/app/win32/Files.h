#pragma once
// File and folder helpers shared by the installer's parts.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

class Log;

namespace files {

// Owns a HANDLE from CreateFile & co. and closes it.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE h) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& o) noexcept : h_(o.h_) { o.h_ = nullptr; }
  UniqueHandle& operator=(UniqueHandle&& o) noexcept {
    if (this != &o) { reset(); h_ = o.h_; o.h_ = nullptr; }
    return *this;
  }
  HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }
  HANDLE release() { HANDLE h = h_; h_ = nullptr; return h; }
  void reset(HANDLE h = nullptr) {
    if (h_) CloseHandle(h_);
    h_ = (h == INVALID_HANDLE_VALUE) ? nullptr : h;
  }

 private:
  HANDLE h_ = nullptr;
};

bool exists(const std::wstring& path);
bool isFile(const std::wstring& path);
bool isFolder(const std::wstring& path);
// 0 when the file cannot be opened.
uint64_t fileSize(const std::wstring& path);
// The whole file; false when it cannot be opened.
bool readWholeFile(const std::wstring& path, std::vector<char>& bytes);
bool writeWholeFile(const std::wstring& path, const void* data, size_t size);
// Copies in 4096-byte blocks, replacing the target.
bool copyFile(const std::wstring& target, const std::wstring& source);
// Creates the folder and every missing parent; true when it exists afterwards.
bool createFolderTree(const std::wstring& folder);
// A reparse point: a symbolic link, junction or mount point, to a file or a
// folder. The installer's folders can be written by other processes of the
// user, so anything found there may be a link planted to steer an elevated
// delete or write elsewhere: such entries are removed as the links they are
// and never descended into.
bool isLink(const std::wstring& path);
// Removes the link itself, never what it points to; true when it is gone.
bool removeLink(const std::wstring& path);
// Removes everything below the folder, then the folder. Links met on the way
// (the folder itself included) are removed as links: their targets are left.
void deleteFolderTree(const std::wstring& folder);
// Makes path an empty folder of this run's own making: whatever is there (a
// link, a file or a folder tree) is removed first, links as links, and the
// folder is created anew with the private access of PrivateFolder.h. 0 on
// success, else the system's error code (also when something else made the
// path again meanwhile).
unsigned long makeFreshFolder(const std::wstring& path);
// A new GUID as text without braces (upper-case hexadecimal with hyphens).
std::wstring newGuidText();
// folder + "\" + GUID + suffix, not yet taken; creates the folder when missing.
std::wstring uniqueFileName(const std::wstring& folder, const std::wstring& suffix, Log* log);
// The user's temporary folder + a new GUID + "\", created.
std::wstring newTempFolder();
std::wstring tempFolder();
// A fresh temporary file name (GetTempFileName) with the given prefix.
std::wstring tempFileName(const std::wstring& prefix);
// Names of the entries matching folder\*.* in the order the system gives them
// (a link is listed by its own name; nothing is read through it).
std::vector<std::wstring> listFolder(const std::wstring& folder);

}  // namespace files
