#include "scenario/PackSignatureInternal.h"

namespace pack_signature {

bool makeKeyPair(std::array<uint8_t, kPublicKeySize>& publicKey, std::array<uint8_t, kSecretKeySize>& secretKey) {
  return internal::sodiumReady() && crypto_sign_keypair(publicKey.data(), secretKey.data()) == 0;
}

bool sign(ebz::ByteSource& pack, const std::string& kind, uint64_t signedAt,
          const std::array<uint8_t, kSecretKeySize>& secretKey, std::vector<uint8_t>& signatureFile) {
  if (!internal::validKind(kind) || !internal::sodiumReady()) return false;
  SignatureFile file;
  file.kind = kind;
  file.signedAt = signedAt;
  if (!internal::hashBlocks(pack, file.packLength, file.blockHashes)) return false;
  const std::vector<uint8_t> message = signedPart(file);
  if (crypto_sign_detached(file.signature.data(), nullptr, message.data(), message.size(), secretKey.data()) != 0) {
    return false;
  }
  signatureFile = encode(file);
  return true;
}

}  // namespace pack_signature
