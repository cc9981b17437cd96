#include "download/platform/OutputFile.h"

#include <cstdio>

#include "app/Text.h"

namespace download {
namespace outputfile {

std::FILE* createTruncated(const std::wstring& path) {
  std::string narrow = text::wideToUtf8(path);
  std::remove(narrow.c_str());
  return std::fopen(narrow.c_str(), "w+b");
}

bool seekTo(std::FILE* file, long long position) {
  return fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0;
}

long long sizeOf(std::FILE* file) {
  if (fseeko(file, 0, SEEK_END) != 0) return -1;
  return static_cast<long long>(ftello(file));
}

}  // namespace outputfile
}  // namespace download
