#pragma once
// The tool's few file-system needs, one backend per platform.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace toolfs {

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// "rb" or "wb".
File open(const std::wstring& path, const char* mode);

// The size of an open file, beyond 2 GiB too.
bool fileSize(std::FILE* file, uint64_t& size);

// Every regular file below root, as names relative to it joined with "/",
// sorted so the same folder always makes the same entry order. Symbolic
// links are not followed. False when root cannot be read.
bool listFiles(const std::wstring& root, std::vector<std::string>& utf8Names);

}  // namespace toolfs
