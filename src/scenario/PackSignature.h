#pragma once
// Checks a downloaded pack against its ".sig" file and the public key built
// into the installer. Without a key every pack is accepted, so builds for
// servers that do not sign their packs behave as before.
//
// A ".sig" file says what it signs: the kind of pack it is for and when it
// was signed, so a signed pack of one kind cannot be served as another, and a
// build can refuse packs signed before a given time (an old pack served as
// new). Layout, all of it read from the network and checked before use:
//   0      8  "VXPKSIG1"
//   8      1  n, the kind's length (1..kMaxKindLength)
//   9      n  the kind, ASCII ("vexa8z", "appdata8z", "jreEbz", "partner")
//   9+n    8  signing time, seconds since 1970-01-01 UTC, little-endian
//   17+n  64  Ed25519ph signature (libsodium's crypto_sign_final_create) of
//             bytes 0..17+n-1 followed by every byte of the pack
// The pack is hashed as it streams past, so memory stays flat whatever its size.
//
// Threading: a verifier holds only its settings; verify() may run on several
// threads at once.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "scenario/EbzReader.h"

class Log;

namespace pack_signature {

constexpr size_t kPublicKeySize = 32;
constexpr size_t kSecretKeySize = 64;
constexpr size_t kSignatureSize = 64;
constexpr size_t kMaxKindLength = 32;
constexpr char kMagic[] = "VXPKSIG1";
constexpr size_t kMagicLength = 8;
// Appended to a pack's address to fetch its signature.
constexpr const wchar_t* kSignatureSuffix = L".sig";
// The download error message of a refused pack ("vexa8z_signature;").
constexpr const wchar_t* kRefusedToken = L"signature";

// The kinds the installer asks for.
constexpr const char* kKindProduct = "vexa8z";
constexpr const char* kKindAppdata = "appdata8z";
constexpr const char* kKindRuntime = "jreEbz";
constexpr const char* kKindPartner = "partner";

struct SignatureFile {
  std::string kind;
  uint64_t signedAt = 0;  // seconds since 1970-01-01 UTC
  std::array<uint8_t, kSignatureSize> signature{};
};

// The bytes that precede the pack in the signed message (the file's first 17+n bytes).
std::vector<uint8_t> signedPrefix(const std::string& kind, uint64_t signedAt);
std::vector<uint8_t> encode(const SignatureFile& file);
// False, with why, for anything but one well-formed file.
bool decode(const std::vector<uint8_t>& bytes, SignatureFile& out, std::wstring& why);

struct Verdict {
  bool accepted = false;
  std::wstring reason;  // why the pack was refused; empty when accepted
};

class PackVerifier {
 public:
  // keyHex: 64 hex digits, or empty for "no key configured". minSignedAt:
  // "" for no minimum, else decimal seconds since 1970. Any other text is a
  // broken build setting: such a verifier refuses every pack rather than
  // silently installing unchecked ones.
  explicit PackVerifier(const std::string& keyHex, const std::string& minSignedAt = std::string());

  bool enabled() const { return enabled_; }

  // Reads pack from where it stands to its end. signatureFile: the ".sig"
  // file's bytes, empty when it could not be fetched. kind: what the caller
  // is about to unpack or run.
  Verdict verify(ebz::ByteSource& pack, const std::vector<uint8_t>& signatureFile, const std::string& kind) const;

 private:
  friend class StreamingCheck;
  bool enabled_ = false;
  bool settingsValid_ = false;
  uint64_t minSignedAt_ = 0;
  std::array<uint8_t, kPublicKeySize> key_{};
};

// One pack's check fed by a reader that has its own use for the bytes (the
// unpack), so the pack is read once. The signature file is judged first:
// it says what the pack bytes are hashed after. Feed every byte of the pack
// in order, then finish().
class StreamingCheck {
 public:
  StreamingCheck(const PackVerifier& verifier, const std::vector<uint8_t>& signatureFile, const std::string& kind);
  ~StreamingCheck();
  StreamingCheck(const StreamingCheck&) = delete;
  StreamingCheck& operator=(const StreamingCheck&) = delete;

  // False when the verdict is already a refusal, whatever the bytes.
  bool needsBytes() const { return state_ != nullptr; }
  void update(const uint8_t* data, size_t size);
  // The verdict on the bytes fed; a refusal when the caller could not read
  // them all (readWhole false).
  Verdict finish(bool readWhole = true);

 private:
  struct State;
  const PackVerifier& verifier_;
  std::unique_ptr<State> state_;
  Verdict early_;
};

// The verifier for the key and minimum this installer was built with.
const PackVerifier& builtInVerifier();

// Hex of bytes (lower case) and back; fromHex fails on odd length or a non-hex digit.
std::string toHex(const uint8_t* data, size_t size);
bool fromHex(const std::string& text, std::vector<uint8_t>& out);

// Key pair and signing for the pack tool and tests. False when libsodium
// cannot start, the kind is not 1..kMaxKindLength printable ASCII
// characters, or the pack cannot be read.
bool makeKeyPair(std::array<uint8_t, kPublicKeySize>& publicKey, std::array<uint8_t, kSecretKeySize>& secretKey);
bool sign(ebz::ByteSource& pack, const std::string& kind, uint64_t signedAt,
          const std::array<uint8_t, kSecretKeySize>& secretKey, std::vector<uint8_t>& signatureFile);

}  // namespace pack_signature
