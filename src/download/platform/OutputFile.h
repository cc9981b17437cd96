#pragma once
// The file calls of FileDownloadOutput that differ by platform: wide paths on
// Windows, UTF-8 paths elsewhere.
#include <cstdio>
#include <string>

namespace download {
namespace outputfile {
// Deletes any file at path, then creates it empty for reading and writing.
std::FILE* createTruncated(const std::wstring& path);
// Opens an existing file for reading and writing, keeping its bytes.
std::FILE* openExisting(const std::wstring& path);
// Moves to an absolute position; false when that fails.
bool seekTo(std::FILE* file, long long position);
// Size of the file in bytes; -1 on failure.
long long sizeOf(std::FILE* file);
// The whole file when it exists and holds at most maxBytes.
bool readSmall(const std::wstring& path, size_t maxBytes, std::string* bytes);
// Writes bytes to a file beside path and renames it over path, so that a
// reader finds the old or the new content, never a mix.
bool replaceWith(const std::wstring& path, const std::string& bytes);
void removeFile(const std::wstring& path);
}  // namespace outputfile
}  // namespace download
