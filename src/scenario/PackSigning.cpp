// Key pairs and signatures for the pack tool. Apart from the verifier so that
// the installer, which only verifies, links none of it: key generation,
// randomness and the signing tables would add about 50 KiB to its download.
#include <sodium.h>

#include "scenario/PackSignature.h"

namespace pack_signature {

namespace {

bool sodiumReady() {
  // sodium_init is safe to call from several threads and more than once.
  static const bool ready = sodium_init() >= 0;
  return ready;
}

}  // namespace

bool makeKeyPair(std::array<uint8_t, kPublicKeySize>& publicKey, std::array<uint8_t, kSecretKeySize>& secretKey) {
  return sodiumReady() && crypto_sign_keypair(publicKey.data(), secretKey.data()) == 0;
}

bool sign(const std::vector<uint8_t>& pack, const std::array<uint8_t, kSecretKeySize>& secretKey,
          std::array<uint8_t, kSignatureSize>& signature) {
  return sodiumReady() &&
         crypto_sign_detached(signature.data(), nullptr, pack.data(), pack.size(), secretKey.data()) == 0;
}

}  // namespace pack_signature
