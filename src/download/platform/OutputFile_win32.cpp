#include "download/platform/OutputFile.h"

#include <cstdio>

namespace download {
namespace outputfile {

std::FILE* createTruncated(const std::wstring& path) {
  _wremove(path.c_str());
  return _wfopen(path.c_str(), L"w+b");
}

bool seekTo(std::FILE* file, long long position) { return _fseeki64(file, position, SEEK_SET) == 0; }

long long sizeOf(std::FILE* file) {
  if (_fseeki64(file, 0, SEEK_END) != 0) return -1;
  return _ftelli64(file);
}

}  // namespace outputfile
}  // namespace download
