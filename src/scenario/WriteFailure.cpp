#include "scenario/WriteFailure.h"

#include "app/Log.h"
#include "app/Text.h"

namespace packfiles {

failure::Failure failureOfWrite(const WriteFault& fault) {
  const std::wstring folder = text::folderPart(fault.path);
  if (fault.noSpace) {
    uint64_t available = fault.available;
    if (!fault.needed) freeSpace(folder, available);
    // Without the entry's size, at least one byte more than there is.
    return failure::diskSpace(volumeOf(folder), fault.needed ? fault.needed : available + 1, available);
  }
  return failure::notWritable(folder.empty() ? fault.path : folder, Log::systemText(fault.code));
}

}  // namespace packfiles
