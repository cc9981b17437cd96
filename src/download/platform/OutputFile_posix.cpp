#include "download/platform/OutputFile.h"

#include <cstdio>
#include <memory>

#include "app/Text.h"

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

bool readSmall(const std::wstring& path, size_t maxBytes, std::string* bytes) {
  FilePtr file(std::fopen(text::wideToUtf8(path).c_str(), "rb"));
  if (!file) return false;
  std::string read(maxBytes + 1, '\0');
  size_t count = std::fread(&read[0], 1, read.size(), file.get());
  if (count > maxBytes || std::ferror(file.get())) return false;
  read.resize(count);
  *bytes = std::move(read);
  return true;
}

bool replaceWith(const std::wstring& path, const std::string& bytes) {
  const std::string target = text::wideToUtf8(path);
  const std::string temporary = target + ".tmp";
  {
    FilePtr file(std::fopen(temporary.c_str(), "wb"));
    if (!file) return false;
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    if (std::fclose(file.release()) != 0 || !written) {
      std::remove(temporary.c_str());
      return false;
    }
  }
  if (std::rename(temporary.c_str(), target.c_str()) == 0) return true;
  std::remove(temporary.c_str());
  return false;
}

void removeFile(const std::wstring& path) { std::remove(text::wideToUtf8(path).c_str()); }

}  // namespace outputfile
}  // namespace download
