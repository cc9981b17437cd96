#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

#include "FileSystem.h"
#include "app/Text.h"

namespace toolfs {

File open(const std::wstring& path, const char* mode) { return File(std::fopen(text::wideToUtf8(path).c_str(), mode)); }

bool fileSize(std::FILE* file, uint64_t& size) {
  struct stat st {};
  if (fstat(fileno(file), &st) != 0) return false;
  size = uint64_t(st.st_size);
  return true;
}

namespace {

bool walk(const std::string& root, const std::string& relative, std::vector<std::string>& out) {
  const std::string folder = relative.empty() ? root : root + "/" + relative;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
  if (!dir) return false;
  bool ok = true;
  while (dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string child = relative.empty() ? name : relative + "/" + name;
    struct stat st {};
    if (lstat((root + "/" + child).c_str(), &st) != 0) {
      ok = false;
    } else if (S_ISDIR(st.st_mode)) {
      ok = walk(root, child, out) && ok;
    } else if (S_ISREG(st.st_mode)) {
      out.push_back(child);
    }
  }
  return ok;
}

}  // namespace

bool listFiles(const std::wstring& root, std::vector<std::string>& utf8Names) {
  utf8Names.clear();
  const bool ok = walk(text::wideToUtf8(root), "", utf8Names);
  std::sort(utf8Names.begin(), utf8Names.end());
  return ok;
}

}  // namespace toolfs
