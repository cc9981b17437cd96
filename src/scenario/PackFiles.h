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

// A pack held open for reading. On Windows nobody else may write, rename or
// delete the file while it is held, so the bytes that were verified are the
// bytes that get unpacked (or run): verify, rewind(), then use the same object.
class PackFile : public ebz::ByteSource {
 public:
  // Back to the first byte; false when the system cannot seek.
  virtual bool rewind() = 0;
};

// The pack opened for reading, or null (with an ERROR line) when it cannot be
// opened (also while another process holds it open for writing).
std::unique_ptr<PackFile> openPack(const std::wstring& path, Log* log);

// Writes entries below destination: each entry's folders are created, its
// file replaced and exactly its bytes written. Failures are logged.
std::unique_ptr<un8z::EntrySink> folderSink(const std::wstring& destination, Log* log);

}  // namespace packfiles
