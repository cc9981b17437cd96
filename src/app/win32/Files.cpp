#include "app/win32/Files.h"

#include <objbase.h>

#include "app/Log.h"
#include "app/win32/PrivateFolder.h"

namespace files {

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool isFile(const std::wstring& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool isFolder(const std::wstring& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

uint64_t fileSize(const std::wstring& path) {
  UniqueHandle f(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!f || !GetFileSizeEx(f.get(), &size)) return 0;
  return static_cast<uint64_t>(size.QuadPart);
}

bool readWholeFile(const std::wstring& path, std::vector<char>& bytes) {
  bytes.clear();
  UniqueHandle f(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) return false;
  char buffer[65536];
  DWORD n = 0;
  while (ReadFile(f.get(), buffer, sizeof(buffer), &n, nullptr) && n > 0) bytes.insert(bytes.end(), buffer, buffer + n);
  return true;
}

bool writeWholeFile(const std::wstring& path, const void* data, size_t size) {
  UniqueHandle f(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) return false;
  DWORD written = 0;
  return size == 0 || (WriteFile(f.get(), data, static_cast<DWORD>(size), &written, nullptr) && written == size);
}

bool copyFile(const std::wstring& target, const std::wstring& source) {
  UniqueHandle in(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!in) return false;
  UniqueHandle out(CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out) return false;
  char buffer[4096];
  DWORD n = 0, written = 0;
  while (ReadFile(in.get(), buffer, sizeof(buffer), &n, nullptr) && n > 0) {
    if (!WriteFile(out.get(), buffer, n, &written, nullptr) || written != n) return false;
  }
  return true;
}

bool createFolderTree(const std::wstring& folder) {
  if (folder.empty()) return false;
  if (isFolder(folder)) return true;
  std::wstring path = folder;
  while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  size_t pos = path.find_last_of(L"\\/");
  if (pos != std::wstring::npos && pos > 0) {
    std::wstring parent = path.substr(0, pos);
    if (!(parent.size() == 2 && parent[1] == L':') && !isFolder(parent)) createFolderTree(parent);
  }
  if (CreateDirectoryW(path.c_str(), nullptr)) return true;
  // Another process may have made it meanwhile. If not, the caller's
  // last-error line must name why the creation failed, not the look-up's
  // "file not found".
  DWORD createError = GetLastError();
  if (isFolder(path)) return true;
  SetLastError(createError);
  return false;
}

bool isLink(const std::wstring& path) {
  const DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool removeLink(const std::wstring& path) {
  const DWORD a = GetFileAttributesW(path.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return true;
  // A folder link goes with RemoveDirectory, which never touches the target's
  // contents; a file link with DeleteFile, which deletes the link. Some
  // systems show a folder link as the other kind, so both are tried.
  if (a & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(path.c_str(), a & ~DWORD(FILE_ATTRIBUTE_READONLY));
  if ((a & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(path.c_str()) || DeleteFileW(path.c_str())
                                     : DeleteFileW(path.c_str()) || RemoveDirectoryW(path.c_str())) {
    return true;
  }
  return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

namespace {

// Walks the folder's entries without following links. onLink sees every
// link, onFile every plain file; folders are descended into and removed
// after their contents.
template <typename OnLink, typename OnFile>
void walk(const std::wstring& folder, OnLink onLink, OnFile onFile) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring path = folder + L"\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        onLink(path);
      } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        walk(path, onLink, onFile);
        RemoveDirectoryW(path.c_str());
      } else {
        onFile(path);
      }
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
}

}  // namespace

void deleteFolderTree(const std::wstring& folder) {
  if (isLink(folder)) {
    removeLink(folder);
    return;
  }
  walk(
      folder, [](const std::wstring& link) { removeLink(link); },
      [](const std::wstring& file) {
        SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(file.c_str());
      });
  RemoveDirectoryW(folder.c_str());
}

unsigned long makeFreshFolder(const std::wstring& path) {
  const DWORD a = GetFileAttributesW(path.c_str());
  if (a != INVALID_FILE_ATTRIBUTES) {
    if (a & FILE_ATTRIBUTE_REPARSE_POINT) {
      removeLink(path);
    } else if (a & FILE_ATTRIBUTE_DIRECTORY) {
      deleteFolderTree(path);
    } else {
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(path.c_str());
    }
  }
  std::wstring parent = path;
  while (!parent.empty() && (parent.back() == L'\\' || parent.back() == L'/')) parent.pop_back();
  const size_t cut = parent.find_last_of(L"\\/");
  if (cut != std::wstring::npos && cut > 0) createFolderTree(parent.substr(0, cut));
  // Made here or not at all: a folder that is back already is someone else's.
  return createPrivateFolder(path);
}

std::wstring newGuidText() {
  GUID guid;
  if (FAILED(CoCreateGuid(&guid))) return std::wstring();
  wchar_t text[64] = {};
  StringFromGUID2(guid, text, 64);
  std::wstring s = text;
  if (s.size() >= 2 && s.front() == L'{' && s.back() == L'}') s = s.substr(1, s.size() - 2);
  return s;
}

std::wstring uniqueFileName(const std::wstring& folder, const std::wstring& suffix, Log* log) {
  if (!isFolder(folder)) {
    if (log) log->info(L"Create dir " + folder);
    if (!createFolderTree(folder) && log) log->writeLastError();
  }
  std::wstring base = folder;
  if (base.empty() || (base.back() != L'\\')) base += L"\\";
  std::wstring path;
  do {
    path = base + newGuidText() + suffix;
  } while (exists(path));
  return path;
}

std::wstring tempFolder() {
  wchar_t buffer[MAX_PATH + 1] = {};
  DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
  return std::wstring(buffer, n);
}

std::wstring newTempFolder() {
  std::wstring path = tempFolder() + newGuidText();
  createFolderTree(path);
  return path + L"\\";
}

std::wstring tempFileName(const std::wstring& prefix) {
  wchar_t name[MAX_PATH] = {};
  if (!GetTempFileNameW(tempFolder().c_str(), prefix.c_str(), 0, name)) return std::wstring();
  return name;
}

std::vector<std::wstring> listFolder(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\*.*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    names.push_back(data.cFileName);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return names;
}

}  // namespace files
