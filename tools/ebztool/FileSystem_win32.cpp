#include <windows.h>
#include <io.h>

#include <algorithm>

#include "FileSystem.h"
#include "app/Text.h"

namespace toolfs {

File open(const std::wstring& path, const char* mode) {
  return File(_wfopen(path.c_str(), std::string(mode).find('w') != std::string::npos ? L"wb" : L"rb"));
}

bool fileSize(std::FILE* file, uint64_t& size) {
  const __int64 length = _filelengthi64(_fileno(file));
  if (length < 0) return false;
  size = uint64_t(length);
  return true;
}

namespace {

struct FindCloser {
  void operator()(HANDLE h) const { FindClose(h); }
};

bool walk(const std::wstring& root, const std::wstring& relative, std::vector<std::string>& out) {
  const std::wstring pattern = (relative.empty() ? root : root + L"\\" + relative) + L"\\*";
  WIN32_FIND_DATAW data;
  HANDLE found = FindFirstFileW(pattern.c_str(), &data);
  if (found == INVALID_HANDLE_VALUE) return false;
  std::unique_ptr<void, FindCloser> guard(found);
  bool ok = true;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
    const std::wstring child = relative.empty() ? name : relative + L"\\" + name;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ok = walk(root, child, out) && ok;
    } else {
      std::string utf8 = text::wideToUtf8(child);
      std::replace(utf8.begin(), utf8.end(), '\\', '/');
      out.push_back(utf8);
    }
  } while (FindNextFileW(found, &data));
  return ok;
}

}  // namespace

bool listFiles(const std::wstring& root, std::vector<std::string>& utf8Names) {
  utf8Names.clear();
  const bool ok = walk(root, L"", utf8Names);
  std::sort(utf8Names.begin(), utf8Names.end());
  return ok;
}

}  // namespace toolfs
