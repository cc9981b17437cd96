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
std::FILE* openForReading(const std::wstring& path);
// Creates the file empty, or empties it, for writing.
std::FILE* createForWriting(const std::wstring& path);
// Renames from over to in one step, replacing any file there.
bool renameOver(const std::wstring& from, const std::wstring& to);
void removeFile(const std::wstring& path);
}  // namespace outputfile
}  // namespace download
