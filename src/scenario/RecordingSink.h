#pragma once
// What every folder sink shares: the fault that stopped it, with its ERROR
// line and the system's words, and the refusal of an entry larger than its
// volume's free space before its file is made, so a full disk leaves no file
// cut short.
#include <cstdint>
#include <string>

#include "scenario/PackFiles.h"

namespace packfiles {

class RecordingSink : public FolderSink {
 public:
  explicit RecordingSink(Log* log) : log_(log) {}
  const WriteFault& fault() const override { return fault_; }

 protected:
  // The entry written from now on, at path, with the size the pack gives it.
  void enter(std::wstring path, uint64_t size);
  const std::wstring& path() const { return path_; }

  // False, with the fault noted and logged, when the entry is larger than
  // what the volume of its folder has free.
  bool roomForEntry();

  // Notes code (the system's last error when not given) as the fault of the
  // entry and logs message with the system's words for it. Always false.
  bool failed(const std::wstring& message);
  bool failed(const std::wstring& message, unsigned long code);

 private:
  Log* log_;
  std::wstring path_;
  uint64_t size_ = 0;
  WriteFault fault_;
};

// The system's words for errors, given by each platform's backend.
unsigned long lastSystemError();
bool isNoSpaceError(unsigned long code);
unsigned long noSpaceError();
unsigned long genericWriteError();
// ", errno=28" or ", There is not enough space on the disk. (112)": what
// follows a failed call's line in the log.
std::wstring errorSuffix(unsigned long code);

#ifdef _WIN32
// All of data written to the file handle; false when the system refused
// (its last error tells why).
bool writeAll(void* file, const uint8_t* data, size_t size);
#endif

}  // namespace packfiles
