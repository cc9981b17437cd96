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

std::FILE* openExisting(const std::wstring& path) { return std::fopen(text::wideToUtf8(path).c_str(), "r+b"); }

bool seekTo(std::FILE* file, long long position) {
  return fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0;
}

long long sizeOf(std::FILE* file) {
  if (fseeko(file, 0, SEEK_END) != 0) return -1;
  return static_cast<long long>(ftello(file));
}

std::FILE* openForReading(const std::wstring& path) { return std::fopen(text::wideToUtf8(path).c_str(), "rb"); }

std::FILE* createForWriting(const std::wstring& path) { return std::fopen(text::wideToUtf8(path).c_str(), "wb"); }

bool renameOver(const std::wstring& from, const std::wstring& to) {
  return std::rename(text::wideToUtf8(from).c_str(), text::wideToUtf8(to).c_str()) == 0;
}

void removeFile(const std::wstring& path) { std::remove(text::wideToUtf8(path).c_str()); }

}  // namespace outputfile
}  // namespace download
