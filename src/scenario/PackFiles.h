#pragma once
// The file-system calls the pack reader and the folder command need, one
// small backend per platform (platform/PackFiles_win32.cpp, _posix.cpp).
#include <memory>
#include <string>

#include "scenario/EbzReader.h"
#include "scenario/Un8z.h"

class Log;

namespace packfiles {

#ifdef _WIN32
constexpr wchar_t kSeparator = L'\\';
#else
constexpr wchar_t kSeparator = L'/';
#endif

bool isFolder(const std::wstring& path);
bool isFile(const std::wstring& path);

// Creates the folder with every missing parent. 0 on success (also when it
// already exists as a folder), otherwise the system's error code.
unsigned long createFolderTree(const std::wstring& folder);

// The pack opened for reading, or null (with an ERROR line) when it cannot be opened.
std::unique_ptr<ebz::ByteSource> openPack(const std::wstring& path, Log* log);

// Writes entries below destination: each entry's folders are created, its
// file replaced and exactly its bytes written. Failures are logged.
std::unique_ptr<un8z::EntrySink> folderSink(const std::wstring& destination, Log* log);

}  // namespace packfiles
