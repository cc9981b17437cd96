#include "download/platform/OutputFile.h"

#include <windows.h>

#include <cstdio>

namespace download {
namespace outputfile {

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

std::FILE* openForReading(const std::wstring& path) { return _wfopen(path.c_str(), L"rb"); }

std::FILE* createForWriting(const std::wstring& path) { return _wfopen(path.c_str(), L"wb"); }

bool renameOver(const std::wstring& from, const std::wstring& to) {
  return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

void removeFile(const std::wstring& path) { DeleteFileW(path.c_str()); }

}  // namespace outputfile
}  // namespace download
