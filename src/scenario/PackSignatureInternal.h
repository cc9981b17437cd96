#pragma once
// Shared by the verifier (PackSignature.cpp) and the signer
// (PackSigning.cpp). The signer lives in a file of its own so that the
// installer, which only verifies, links none of libsodium's signing code.
#include <sodium.h>

#include <cstdint>
#include <string>

#include "scenario/PackSignature.h"

namespace pack_signature::internal {

bool sodiumReady();
// 1..kMaxKindLength printable ASCII characters.
bool validKind(const std::string& kind);
// Starts the state and feeds it the signed prefix, then the pack to its end.
bool hashMessage(crypto_sign_state& state, const std::string& kind, uint64_t signedAt, ebz::ByteSource& pack);

}  // namespace pack_signature::internal
