#pragma once
// Shared by the verifier (PackSignature.cpp) and the signer
// (PackSigning.cpp). The signer lives in a file of its own so that the
// installer, which only verifies, links none of libsodium's signing code.
#include <sodium.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "scenario/PackSignature.h"

namespace pack_signature::internal {

bool sodiumReady();
// 1..kMaxKindLength printable ASCII characters.
bool validKind(const std::string& kind);
// Reads the pack to its end: its length and the SHA-256 of each kBlockSize
// block. False on a read failure or a pack of more than kMaxBlocks blocks.
bool hashBlocks(ebz::ByteSource& pack, uint64_t& length, std::vector<std::array<uint8_t, kHashSize>>& hashes);

}  // namespace pack_signature::internal
