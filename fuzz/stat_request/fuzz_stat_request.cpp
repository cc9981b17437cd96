// Feeds arbitrary text to the statistics decoder, both as the hex parameter
// and, enciphered by the encoder, as the deciphered parameter text; whatever
// decodes must encode back to the same request.
#include <cstddef>
#include <cstdint>
#include <string>

#include "context/StatRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  stats::decodeParam(input);

  auto params = stats::decodeParam(stats::encipherToHex(input));
  if (params) {
    std::wstring joined = stats::joinParams(*params);  // pure ASCII once encoded
    std::string again = stats::encipherToHex(std::string(joined.begin(), joined.end()));
    if (!stats::decodeParam(again)) __builtin_trap();
  }
  return 0;
}
