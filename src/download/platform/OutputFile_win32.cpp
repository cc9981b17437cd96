#include "download/platform/OutputFile.h"

#include <windows.h>

#include <cstdio>
#include <memory>

namespace download {
namespace outputfile {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file) std::fclose(file);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

std::FILE* createTruncated(const std::wstring& path) {
  _wremove(path.c_str());
  return _wfopen(path.c_str(), L"w+b");
}

std::FILE* openExisting(const std::wstring& path) { return _wfopen(path.c_str(), L"r+b"); }

bool seekTo(std::FILE* file, long long position) { return _fseeki64(file, position, SEEK_SET) == 0; }

long long sizeOf(std::FILE* file) {
  if (_fseeki64(file, 0, SEEK_END) != 0) return -1;
  return _ftelli64(file);
}

bool readSmall(const std::wstring& path, size_t maxBytes, std::string* bytes) {
  FilePtr file(_wfopen(path.c_str(), L"rb"));
  if (!file) return false;
  std::string read(maxBytes + 1, '\0');
  size_t count = std::fread(&read[0], 1, read.size(), file.get());
  if (count > maxBytes || std::ferror(file.get())) return false;
  read.resize(count);
  *bytes = std::move(read);
  return true;
}

bool replaceWith(const std::wstring& path, const std::string& bytes) {
  const std::wstring temporary = path + L".tmp";
  {
    FilePtr file(_wfopen(temporary.c_str(), L"wb"));
    if (!file) return false;
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    if (std::fclose(file.release()) != 0 || !written) {
      DeleteFileW(temporary.c_str());
      return false;
    }
  }
  if (MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  DeleteFileW(temporary.c_str());
  return false;
}

void removeFile(const std::wstring& path) { DeleteFileW(path.c_str()); }

}  // namespace outputfile
}  // namespace download
