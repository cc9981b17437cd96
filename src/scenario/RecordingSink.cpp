#include "scenario/RecordingSink.h"

#include "app/Log.h"
#include "app/Text.h"

namespace packfiles {

void RecordingSink::enter(std::wstring path, uint64_t size) {
  path_ = std::move(path);
  size_ = size;
}

bool RecordingSink::roomForEntry() {
  uint64_t available = 0;
  if (size_ == 0 || !freeSpace(text::folderPart(path_), available) || size_ <= available) return true;
  fault_.noSpace = true;
  fault_.needed = size_;
  fault_.available = available;
  return failed(L"Can't write file " + path_ + L": it needs " + std::to_wstring(size_) + L" bytes, the volume has " +
                    std::to_wstring(available) + L" free",
                noSpaceError());
}

bool RecordingSink::failed(const std::wstring& message) { return failed(message, lastSystemError()); }

bool RecordingSink::failed(const std::wstring& message, unsigned long code) {
  fault_.code = code ? code : genericWriteError();
  if (isNoSpaceError(code)) fault_.noSpace = true;
  fault_.path = path_;
  if (fault_.noSpace && !fault_.needed) {
    fault_.needed = size_;
    freeSpace(text::folderPart(path_), fault_.available);
  }
  if (log_) log_->error(message + errorSuffix(code));
  return false;
}

}  // namespace packfiles
