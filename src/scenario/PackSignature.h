#pragma once
// Checks a downloaded pack against its detached Ed25519 signature and the
// public key built into the installer. Without a key every pack is accepted,
// so builds for servers that do not sign their packs behave as before.
//
// Threading: a verifier holds only its key; verify() may run on several
// threads at once.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

class Log;

namespace pack_signature {

constexpr size_t kPublicKeySize = 32;
constexpr size_t kSecretKeySize = 64;
constexpr size_t kSignatureSize = 64;
// Appended to a pack's address to fetch its signature.
constexpr const wchar_t* kSignatureSuffix = L".sig";
// The download error message of a refused pack ("vexa8z_signature;").
constexpr const wchar_t* kRefusedToken = L"signature";

struct Verdict {
  bool accepted = false;
  std::wstring reason;  // why the pack was refused; empty when accepted
};

class PackVerifier {
 public:
  // keyHex: 64 hex digits, or empty for "no key configured". Any other text
  // is a broken build setting: such a verifier refuses every pack rather than
  // silently installing unchecked ones.
  explicit PackVerifier(const std::string& keyHex);

  bool enabled() const { return enabled_; }

  // signature: the ".sig" file's bytes, empty when it could not be fetched.
  Verdict verify(const std::vector<uint8_t>& pack, const std::vector<uint8_t>& signature) const;
  // The same for a pack on disk.
  Verdict verifyFile(const std::wstring& packPath, const std::vector<uint8_t>& signature) const;

 private:
  bool enabled_ = false;
  bool keyValid_ = false;
  std::array<uint8_t, kPublicKeySize> key_{};
};

// The verifier for the key this installer was built with.
const PackVerifier& builtInVerifier();

// Hex of bytes (lower case) and back; fromHex fails on odd length or a non-hex digit.
std::string toHex(const uint8_t* data, size_t size);
bool fromHex(const std::string& text, std::vector<uint8_t>& out);

// Key pair and signing for the pack tool. False when libsodium cannot start.
bool makeKeyPair(std::array<uint8_t, kPublicKeySize>& publicKey, std::array<uint8_t, kSecretKeySize>& secretKey);
bool sign(const std::vector<uint8_t>& pack, const std::array<uint8_t, kSecretKeySize>& secretKey,
          std::array<uint8_t, kSignatureSize>& signature);

}  // namespace pack_signature
