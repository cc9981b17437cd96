#pragma once
// The file calls of FileDownloadOutput that differ by platform: wide paths on
// Windows, UTF-8 paths elsewhere.
#include <cstdio>
#include <string>

namespace download {
namespace outputfile {
// Deletes any file at path, then creates it empty for reading and writing.
std::FILE* createTruncated(const std::wstring& path);
// Moves to an absolute position; false when that fails.
bool seekTo(std::FILE* file, long long position);
// Size of the file in bytes; -1 on failure.
long long sizeOf(std::FILE* file);
}  // namespace outputfile
}  // namespace download
