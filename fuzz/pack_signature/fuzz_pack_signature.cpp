// A ".sig" file is read from the network: whatever its bytes, the reader
// either refuses them or gives back exactly what encodes to them, and the
// verifier never accepts without a valid signature.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "scenario/PackSignature.h"

namespace ps = pack_signature;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> bytes(data, data + size);
  ps::SignatureFile file;
  std::wstring why;
  if (ps::decode(bytes, file, why)) {
    if (ps::encode(file) != bytes) __builtin_trap();
  } else if (why.empty()) {
    __builtin_trap();
  }
  // Any fixed key: a fuzzer cannot forge a signature, so nothing passes.
  static const ps::PackVerifier verifier(std::string(64, '7'));
  static const uint8_t pack[] = "a pack";
  ebz::MemorySource source(pack, sizeof pack);
  if (verifier.verify(source, bytes, file.kind.empty() ? ps::kKindProduct : file.kind).accepted) __builtin_trap();
  return 0;
}
