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

// Why a folder sink stopped: the system's error code (the space check gives
// the disk-full code), the path it was writing, and for a lack of space the
// bytes the entry needed and the bytes the volume had free.
struct WriteFault {
  unsigned long code = 0;
  bool noSpace = false;
  std::wstring path;
  uint64_t needed = 0;
  uint64_t available = 0;
  explicit operator bool() const { return code != 0; }
};

class FolderSink : public un8z::EntrySink {
 public:
  // Empty until a call failed.
  virtual const WriteFault& fault() const = 0;
};

// Writes entries below destination: each entry's folders are created, its
// file replaced and exactly its bytes written. An entry larger than the
// volume's free space is refused before its file is made, so a full disk
// leaves no file cut short. Failures are logged with the system's sentence.
std::unique_ptr<FolderSink> folderSink(const std::wstring& destination, Log* log);

// Free bytes for this user on the volume of path (or of its nearest existing
// parent); false when the system cannot tell.
bool freeSpace(const std::wstring& path, uint64_t& bytes);
// Makes the folder (with its parents) when missing, writes and removes a
// probe file in it, and removes again the folders it made. 0 when the folder
// can be written, else the system's error code.
unsigned long probeWrite(const std::wstring& folder);

// The volume's root as the person knows it ("C:\"), or the path itself.
std::wstring volumeOf(const std::wstring& path);

}  // namespace packfiles
