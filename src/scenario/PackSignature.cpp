#include "scenario/PackSignature.h"

#include <algorithm>
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

void putLittle(std::vector<uint8_t>& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

uint64_t getLittle(const uint8_t* at, int bytes) {
  uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | at[i];
  return value;
}

uint64_t blocksFor(uint64_t length) { return length / kBlockSize + (length % kBlockSize != 0); }

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

bool hashBlocks(ebz::ByteSource& pack, uint64_t& length, std::vector<std::array<uint8_t, kHashSize>>& hashes) {
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kStreamBufferSize]);
  crypto_hash_sha256_state block;
  uint64_t inBlock = 0;
  length = 0;
  hashes.clear();
  crypto_hash_sha256_init(&block);
  for (;;) {
    size_t got = 0;
    if (!pack.read(buffer.get(), kStreamBufferSize, got)) return false;
    if (got == 0) break;
    for (size_t at = 0; at < got;) {
      const size_t take = size_t(std::min<uint64_t>(got - at, kBlockSize - inBlock));
      crypto_hash_sha256_update(&block, buffer.get() + at, take);
      at += take;
      inBlock += take;
      length += take;
      if (inBlock == kBlockSize) {
        hashes.emplace_back();
        crypto_hash_sha256_final(&block, hashes.back().data());
        crypto_hash_sha256_init(&block);
        inBlock = 0;
      }
    }
  }
  if (inBlock != 0) {
    hashes.emplace_back();
    crypto_hash_sha256_final(&block, hashes.back().data());
  }
  return hashes.size() <= kMaxBlocks;
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

std::vector<uint8_t> signedPart(const SignatureFile& file) {
  std::vector<uint8_t> out(kMagic, kMagic + kMagicLength);
  out.push_back(uint8_t(file.kind.size()));
  out.insert(out.end(), file.kind.begin(), file.kind.end());
  putLittle(out, file.signedAt, 8);
  putLittle(out, file.packLength, 8);
  putLittle(out, kBlockSize, 4);
  for (const auto& hash : file.blockHashes) out.insert(out.end(), hash.begin(), hash.end());
  return out;
}

std::vector<uint8_t> encode(const SignatureFile& file) {
  std::vector<uint8_t> out = signedPart(file);
  out.insert(out.end(), file.signature.begin(), file.signature.end());
  return out;
}

bool decode(const std::vector<uint8_t>& bytes, SignatureFile& out, std::wstring& why) {
  if (bytes.size() >= kMagicLength && std::memcmp(bytes.data(), kOldMagic, kMagicLength) == 0) {
    why = L"the signature file has the first layout (VXPKSIG1), which is judged only after the whole pack has "
          L"been used; sign the pack again with the current ebztool";
    return false;
  }
  if (bytes.size() < kMagicLength + 1 || std::memcmp(bytes.data(), kMagic, kMagicLength) != 0) {
    why = L"the signature file is not of this installer's format";
    return false;
  }
  const size_t kindLength = bytes[kMagicLength];
  const size_t fixed = kMagicLength + 1 + kindLength + 8 + 8 + 4;
  if (kindLength == 0 || kindLength > kMaxKindLength || bytes.size() < fixed + kSignatureSize) {
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
  const uint64_t signedAt = getLittle(at, 8);
  const uint64_t length = getLittle(at + 8, 8);
  const uint64_t blockSize = getLittle(at + 16, 4);
  at += 20;
  if (blockSize != kBlockSize) {
    why = L"the signature file's block size is " + std::to_wstring(blockSize) + L", not " +
          std::to_wstring(kBlockSize);
    return false;
  }
  const uint64_t blocks = blocksFor(length);
  if (blocks > kMaxBlocks || bytes.size() != fixed + blocks * kHashSize + kSignatureSize) {
    why = L"the signature file has " + std::to_wstring(bytes.size()) + L" bytes, which does not fit its layout";
    return false;
  }
  out.kind = std::move(kind);
  out.signedAt = signedAt;
  out.packLength = length;
  out.blockHashes.resize(size_t(blocks));
  for (auto& hash : out.blockHashes) {
    std::memcpy(hash.data(), at, kHashSize);
    at += kHashSize;
  }
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
  SignatureFile file;
  crypto_hash_sha256_state block;
  uint64_t fed = 0;       // pack bytes fed so far
  uint64_t inBlock = 0;   // of them, in the block being hashed
  size_t blocksDone = 0;  // blocks that matched
  std::wstring failure;   // set at the first byte that cannot be the signed pack's
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
  auto state = std::make_unique<State>();
  std::wstring why;
  if (!decode(signatureFile, state->file, why)) {
    early_ = {false, why};
    return;
  }
  if (!sodiumReady()) {
    early_ = {false, L"the signature library cannot start"};
    return;
  }
  // The whole file is judged before any pack byte: what it says about the
  // pack (its kind, time, length and hashes) is trusted only when signed.
  const std::vector<uint8_t> message = signedPart(state->file);
  if (crypto_sign_verify_detached(state->file.signature.data(), message.data(), message.size(),
                                  verifier.key_.data()) != 0) {
    early_ = {false, L"the signature does not match the pack and the built-in key"};
    return;
  }
  if (state->file.kind != kind) {
    early_ = {false, L"the signature is for a " + wide(state->file.kind) + L" pack, not " + wide(kind)};
    return;
  }
  if (state->file.signedAt < verifier.minSignedAt_) {
    early_ = {false, L"the pack was signed at " + std::to_wstring(state->file.signedAt) + L", before the minimum " +
                         std::to_wstring(verifier.minSignedAt_)};
    return;
  }
  crypto_hash_sha256_init(&state->block);
  state_ = std::move(state);
}

StreamingCheck::~StreamingCheck() = default;

namespace {

bool blockMatches(crypto_hash_sha256_state& block, const std::array<uint8_t, kHashSize>& expected) {
  std::array<uint8_t, kHashSize> hash;
  crypto_hash_sha256_final(&block, hash.data());
  crypto_hash_sha256_init(&block);
  return sodium_memcmp(hash.data(), expected.data(), kHashSize) == 0;
}

}  // namespace

void StreamingCheck::update(const uint8_t* data, size_t size) {
  if (!state_ || !state_->failure.empty()) return;
  State& state = *state_;
  if (size > state.file.packLength - state.fed) {
    state.failure = L"the pack is longer than the " + std::to_wstring(state.file.packLength) + L" bytes signed";
    return;
  }
  while (size != 0) {
    const size_t take = size_t(std::min<uint64_t>(size, kBlockSize - state.inBlock));
    crypto_hash_sha256_update(&state.block, data, take);
    data += take;
    size -= take;
    state.fed += take;
    state.inBlock += take;
    if (state.inBlock == kBlockSize) {
      state.inBlock = 0;
      if (!blockMatches(state.block, state.file.blockHashes[state.blocksDone])) {
        state.failure = L"block " + std::to_wstring(state.blocksDone) + L" of the pack does not match its signed hash";
        return;
      }
      ++state.blocksDone;
    }
  }
}

bool StreamingCheck::refused() const {
  if (!verifier_.enabled_) return false;
  return !state_ || !state_->failure.empty();
}

void StreamingCheck::endOfPack() {
  if (!state_ || !state_->failure.empty()) return;
  State& state = *state_;
  if (state.fed != state.file.packLength) {
    state.failure = L"the pack has " + std::to_wstring(state.fed) + L" bytes, not the " +
                    std::to_wstring(state.file.packLength) + L" signed";
    return;
  }
  if (state.inBlock != 0) {
    state.inBlock = 0;
    if (!blockMatches(state.block, state.file.blockHashes[state.blocksDone])) {
      state.failure = L"block " + std::to_wstring(state.blocksDone) + L" of the pack does not match its signed hash";
      return;
    }
    ++state.blocksDone;
  }
}

Verdict StreamingCheck::finish(bool readWhole) {
  if (!state_) return early_;
  endOfPack();
  std::unique_ptr<State> state = std::move(state_);
  if (!state->failure.empty()) return {false, state->failure};
  if (!readWhole) return {false, L"the pack cannot be read"};
  return {true, {}};
}

VerifiedSource::VerifiedSource(ebz::ByteSource& source, StreamingCheck& check) : source_(source), check_(check) {}

bool VerifiedSource::fillBlock() {
  block_.resize(kBlockSize);
  size_t have = 0;
  while (have < block_.size()) {
    size_t got = 0;
    if (!source_.read(block_.data() + have, block_.size() - have, got)) return false;
    if (got == 0) {
      ended_ = true;
      break;
    }
    check_.update(block_.data() + have, got);
    have += got;
  }
  block_.resize(have);
  if (ended_) check_.endOfPack();
  offset_ = 0;
  if (check_.refused()) {
    refused_ = true;
    block_.clear();
    return false;
  }
  return true;
}

bool VerifiedSource::read(uint8_t* buffer, size_t capacity, size_t& got) {
  got = 0;
  if (refused_ || check_.refused()) {
    refused_ = true;
    return false;
  }
  if (check_.passesEverything()) {
    if (!source_.read(buffer, capacity, got)) return false;
    check_.update(buffer, got);
    return true;
  }
  if (offset_ == block_.size()) {
    if (ended_) return true;
    if (!fillBlock()) return false;
  }
  got = std::min(capacity, block_.size() - offset_);
  std::memcpy(buffer, block_.data() + offset_, got);
  offset_ += got;
  return true;
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
    if (check.refused()) return check.finish();
  }
}

const PackVerifier& builtInVerifier() {
  static const PackVerifier verifier(VEXA_PACK_PUBLIC_KEY, VEXA_PACK_MIN_SIGNED);
  return verifier;
}

}  // namespace pack_signature
