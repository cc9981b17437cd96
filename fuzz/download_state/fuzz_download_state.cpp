// Feeds arbitrary bytes to the download state reader: whatever it accepts
// must be a consistent state that writes back to the very same text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "download/DownloadState.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  download::DownloadState state;
  if (!download::DownloadState::parse(text, &state)) return 0;
  if (!state.isValid() || state.bytesHeld() > state.content.length) __builtin_trap();
  download::DownloadState again;
  if (!download::DownloadState::parse(state.serialize(), &again)) __builtin_trap();
  if (!(again.content == state.content) || again.chunks != state.chunks) __builtin_trap();
  return 0;
}
