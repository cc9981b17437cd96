#include "scenario/PackSignature.h"

#include <cstring>
#include <memory>

#include "BuildConfig.h"
#include "scenario/PackSignatureInternal.h"

namespace pack_signature {

namespace {

constexpr size_t kStreamBufferSize = 64 * 1024;

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::wstring wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

bool parseSeconds(const std::string& text, uint64_t& out) {
  if (text.empty() || text.size() > 19) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + uint64_t(c - '0');
  }
  out = value;
  return true;
}

}  // namespace

namespace internal {

bool sodiumReady() {
  // sodium_init is safe to call from several threads and more than once.
  static const bool ready = sodium_init() >= 0;
  return ready;
}

bool validKind(const std::string& kind) {
  if (kind.empty() || kind.size() > kMaxKindLength) return false;
  for (char c : kind) {
    if (c < 0x21 || c > 0x7e) return false;
  }
  return true;
}

bool hashMessage(crypto_sign_state& state, const std::string& kind, uint64_t signedAt, ebz::ByteSource& pack) {
  const std::vector<uint8_t> prefix = signedPrefix(kind, signedAt);
  if (crypto_sign_init(&state) != 0 || crypto_sign_update(&state, prefix.data(), prefix.size()) != 0) return false;
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kStreamBufferSize]);
  for (;;) {
    size_t got = 0;
    if (!pack.read(buffer.get(), kStreamBufferSize, got)) return false;
    if (got == 0) return true;
    if (crypto_sign_update(&state, buffer.get(), got) != 0) return false;
  }
}

}  // namespace internal

using internal::sodiumReady;
using internal::validKind;

std::string toHex(const uint8_t* data, size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  text.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    text += digits[data[i] >> 4];
    text += digits[data[i] & 15];
  }
  return text;
}

bool fromHex(const std::string& text, std::vector<uint8_t>& out) {
  if (text.size() % 2 != 0) return false;
  std::vector<uint8_t> bytes;
  bytes.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = hexDigit(text[i]);
    const int low = hexDigit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes.push_back(uint8_t(high * 16 + low));
  }
  out = std::move(bytes);
  return true;
}

std::vector<uint8_t> signedPrefix(const std::string& kind, uint64_t signedAt) {
  std::vector<uint8_t> out(kMagic, kMagic + kMagicLength);
  out.push_back(uint8_t(kind.size()));
  out.insert(out.end(), kind.begin(), kind.end());
  for (int i = 0; i < 8; ++i) out.push_back(uint8_t(signedAt >> (8 * i)));
  return out;
}

std::vector<uint8_t> encode(const SignatureFile& file) {
  std::vector<uint8_t> out = signedPrefix(file.kind, file.signedAt);
  out.insert(out.end(), file.signature.begin(), file.signature.end());
  return out;
}

bool decode(const std::vector<uint8_t>& bytes, SignatureFile& out, std::wstring& why) {
  if (bytes.size() < kMagicLength + 1 || std::memcmp(bytes.data(), kMagic, kMagicLength) != 0) {
    why = L"the signature file is not of this installer's format";
    return false;
  }
  const size_t kindLength = bytes[kMagicLength];
  const size_t expected = kMagicLength + 1 + kindLength + 8 + kSignatureSize;
  if (kindLength == 0 || kindLength > kMaxKindLength || bytes.size() != expected) {
    why = L"the signature file has " + std::to_wstring(bytes.size()) + L" bytes, which does not fit its layout";
    return false;
  }
  const uint8_t* at = bytes.data() + kMagicLength + 1;
  std::string kind(at, at + kindLength);
  if (!validKind(kind)) {
    why = L"the signature file names no valid kind";
    return false;
  }
  at += kindLength;
  uint64_t signedAt = 0;
  for (int i = 7; i >= 0; --i) signedAt = (signedAt << 8) | at[i];
  at += 8;
  out.kind = std::move(kind);
  out.signedAt = signedAt;
  std::memcpy(out.signature.data(), at, kSignatureSize);
  return true;
}

PackVerifier::PackVerifier(const std::string& keyHex, const std::string& minSignedAt) : enabled_(!keyHex.empty()) {
  std::vector<uint8_t> bytes;
  const bool minimumValid = minSignedAt.empty() || parseSeconds(minSignedAt, minSignedAt_);
  if (enabled_ && minimumValid && fromHex(keyHex, bytes) && bytes.size() == kPublicKeySize) {
    std::copy(bytes.begin(), bytes.end(), key_.begin());
    settingsValid_ = true;
  }
}

struct StreamingCheck::State {
  crypto_sign_state sign;
  std::array<uint8_t, kSignatureSize> signature;
  bool hashed = true;
};

StreamingCheck::StreamingCheck(const PackVerifier& verifier, const std::vector<uint8_t>& signatureFile,
                               const std::string& kind)
    : verifier_(verifier) {
  if (!verifier.enabled_) {
    early_ = {true, {}};
    return;
  }
  if (!verifier.settingsValid_) {
    early_ = {false, L"the built-in public key or signing minimum is not valid"};
    return;
  }
  if (signatureFile.empty()) {
    early_ = {false, L"no signature could be fetched"};
    return;
  }
  SignatureFile file;
  std::wstring why;
  if (!decode(signatureFile, file, why)) {
    early_ = {false, why};
    return;
  }
  // Both are inside the signed message, so refusing on them before reading
  // the pack is safe: a forged value could not have verified either.
  if (file.kind != kind) {
    early_ = {false, L"the signature is for a " + wide(file.kind) + L" pack, not " + wide(kind)};
    return;
  }
  if (file.signedAt < verifier.minSignedAt_) {
    early_ = {false, L"the pack was signed at " + std::to_wstring(file.signedAt) + L", before the minimum " +
                         std::to_wstring(verifier.minSignedAt_)};
    return;
  }
  if (!sodiumReady()) {
    early_ = {false, L"the signature library cannot start"};
    return;
  }
  auto state = std::make_unique<State>();
  const std::vector<uint8_t> prefix = signedPrefix(file.kind, file.signedAt);
  if (crypto_sign_init(&state->sign) != 0 || crypto_sign_update(&state->sign, prefix.data(), prefix.size()) != 0) {
    early_ = {false, L"the pack cannot be read"};
    return;
  }
  state->signature = file.signature;
  state_ = std::move(state);
}

StreamingCheck::~StreamingCheck() = default;

void StreamingCheck::update(const uint8_t* data, size_t size) {
  if (state_ && size != 0 && crypto_sign_update(&state_->sign, data, size) != 0) state_->hashed = false;
}

Verdict StreamingCheck::finish(bool readWhole) {
  if (!state_) return early_;
  std::unique_ptr<State> state = std::move(state_);
  if (!readWhole || !state->hashed) return {false, L"the pack cannot be read"};
  if (crypto_sign_final_verify(&state->sign, state->signature.data(), verifier_.key_.data()) != 0) {
    return {false, L"the signature does not match the pack and the built-in key"};
  }
  return {true, {}};
}

Verdict PackVerifier::verify(ebz::ByteSource& pack, const std::vector<uint8_t>& signatureFile,
                             const std::string& kind) const {
  StreamingCheck check(*this, signatureFile, kind);
  if (!check.needsBytes()) return check.finish();
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kStreamBufferSize]);
  for (;;) {
    size_t got = 0;
    if (!pack.read(buffer.get(), kStreamBufferSize, got)) return check.finish(false);
    if (got == 0) return check.finish();
    check.update(buffer.get(), got);
  }
}

const PackVerifier& builtInVerifier() {
  static const PackVerifier verifier(VEXA_PACK_PUBLIC_KEY, VEXA_PACK_MIN_SIGNED);
  return verifier;
}

}  // namespace pack_signature
