#include "scenario/PackSignature.h"

#include <sodium.h>

#include "BuildConfig.h"
#include "scenario/PackFiles.h"

namespace pack_signature {

namespace {

bool sodiumReady() {
  // sodium_init is safe to call from several threads and more than once.
  static const bool ready = sodium_init() >= 0;
  return ready;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool readAll(const std::wstring& path, std::vector<uint8_t>& out) {
  std::unique_ptr<ebz::ByteSource> source = packfiles::openPack(path, nullptr);
  if (!source) return false;
  uint8_t buffer[1 << 16];
  for (;;) {
    size_t got = 0;
    if (!source->read(buffer, sizeof buffer, got)) return false;
    if (got == 0) return true;
    out.insert(out.end(), buffer, buffer + got);
  }
}

}  // namespace

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

PackVerifier::PackVerifier(const std::string& keyHex) : enabled_(!keyHex.empty()) {
  std::vector<uint8_t> bytes;
  if (enabled_ && fromHex(keyHex, bytes) && bytes.size() == kPublicKeySize) {
    std::copy(bytes.begin(), bytes.end(), key_.begin());
    keyValid_ = true;
  }
}

Verdict PackVerifier::verify(const std::vector<uint8_t>& pack, const std::vector<uint8_t>& signature) const {
  if (!enabled_) return {true, {}};
  if (!keyValid_) return {false, L"the built-in public key is not 64 hex digits"};
  if (signature.empty()) return {false, L"no signature could be fetched"};
  if (signature.size() != kSignatureSize) {
    return {false, L"the signature has " + std::to_wstring(signature.size()) + L" bytes, not 64"};
  }
  if (!sodiumReady()) return {false, L"the signature library cannot start"};
  if (crypto_sign_verify_detached(signature.data(), pack.data(), pack.size(), key_.data()) != 0) {
    return {false, L"the signature does not match the pack and the built-in key"};
  }
  return {true, {}};
}

Verdict PackVerifier::verifyFile(const std::wstring& packPath, const std::vector<uint8_t>& signature) const {
  if (!enabled_) return {true, {}};
  std::vector<uint8_t> pack;
  if (!readAll(packPath, pack)) return {false, L"the pack cannot be read"};
  return verify(pack, signature);
}

const PackVerifier& builtInVerifier() {
  static const PackVerifier verifier(VEXA_PACK_PUBLIC_KEY);
  return verifier;
}

}  // namespace pack_signature
