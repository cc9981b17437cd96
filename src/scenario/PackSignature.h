#pragma once
// Checks a downloaded pack against its ".sig" file and the public key built
// into the installer. Without a key every pack is accepted, so builds for
// servers that do not sign their packs behave as before.
//
// A ".sig" file says what it signs: the kind of pack it is for and when it
// was signed, so a signed pack of one kind cannot be served as another, and a
// build can refuse packs signed before a given time (an old pack served as
// new). It also carries the SHA-256 of each 1 MiB block of the pack, so the
// signature is checked before the first pack byte is read, and each block
// against its hash before any of it is used: a pack that is not the signed
// one is refused at its first wrong block, before anything of it is decoded.
// Layout, all of it read from the network and checked before use:
//   0      8  "VXPKSIG2"
//   8      1  n, the kind's length (1..kMaxKindLength)
//   9      n  the kind, ASCII ("vexa8z", "appdata8z", "jreEbz", "partner")
//   9+n    8  signing time, seconds since 1970-01-01 UTC, little-endian
//   17+n   8  L, the pack's length in bytes, little-endian
//   25+n   4  B, the block size, little-endian: 1048576 (no other is taken)
//   29+n  32k SHA-256 of each block of the pack in order, k = ceil(L / B)
//             (the last block may be short; none for an empty pack; at most
//             kMaxBlocks)
//   29+n+32k 64  Ed25519 signature (libsodium's crypto_sign_detached) of
//             every byte before it
// Files of the first layout ("VXPKSIG1", a signature over the whole pack that
// could only be judged after the pack had been read) are refused with a
// reason that says to sign the pack again.
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
constexpr char kMagic[] = "VXPKSIG2";
constexpr char kOldMagic[] = "VXPKSIG1";
constexpr size_t kMagicLength = 8;
constexpr size_t kHashSize = 32;
constexpr uint32_t kBlockSize = 1u << 20;
// 64 GiB of pack, a 2 MiB ".sig" file: far past any pack, small enough to hold.
constexpr uint64_t kMaxBlocks = 1u << 16;
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
  uint64_t packLength = 0;
  std::vector<std::array<uint8_t, kHashSize>> blockHashes;
  std::array<uint8_t, kSignatureSize> signature{};
};

// The signed bytes: the file up to its signature.
std::vector<uint8_t> signedPart(const SignatureFile& file);
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
// unpack), so the pack is read once. The signature file is judged whole
// (signature included) when the check is made; then feed every byte of the
// pack in order, and finish().
class StreamingCheck {
 public:
  StreamingCheck(const PackVerifier& verifier, const std::vector<uint8_t>& signatureFile, const std::string& kind);
  ~StreamingCheck();
  StreamingCheck(const StreamingCheck&) = delete;
  StreamingCheck& operator=(const StreamingCheck&) = delete;

  // False when the verdict is already a refusal, whatever the bytes.
  bool needsBytes() const { return state_ != nullptr; }
  void update(const uint8_t* data, size_t size);
  // True once a byte fed does not match the signed hashes (or lies past the
  // signed length): nothing fed from its block on may be used.
  bool refused() const;
  // True when no key is built in: nothing is checked, bytes pass unjudged.
  bool passesEverything() const { return !verifier_.enabled_; }
  // Judges a short last block; call when the pack has no more bytes.
  void endOfPack();
  // The verdict on the bytes fed; a refusal when the caller could not read
  // them all (readWhole false).
  Verdict finish(bool readWhole = true);

 private:
  struct State;
  const PackVerifier& verifier_;
  std::unique_ptr<State> state_;
  Verdict early_;
};

// Hands on the bytes of a pack only once the block they belong to has been
// read whole and matched its signed hash: what comes out of it has been
// verified. Without a key built in it hands bytes on as they come. A read
// fails (returns false) once a block is refused or the source fails;
// refused() tells which.
class VerifiedSource : public ebz::ByteSource {
 public:
  VerifiedSource(ebz::ByteSource& source, StreamingCheck& check);
  bool read(uint8_t* buffer, size_t capacity, size_t& got) override;
  bool refused() const { return refused_; }

 private:
  bool fillBlock();

  ebz::ByteSource& source_;
  StreamingCheck& check_;
  std::vector<uint8_t> block_;
  size_t offset_ = 0;  // next byte of block_ to hand out
  bool ended_ = false;
  bool refused_ = false;
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
