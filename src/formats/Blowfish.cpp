#include "formats/Blowfish.h"

#include <cstring>

#include "formats/BlowfishTables.h"

namespace {

uint32_t loadBigEndian(const uint8_t* b) {
  return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | uint32_t(b[3]);
}

void storeBigEndian(uint32_t v, uint8_t* b) {
  b[0] = uint8_t(v >> 24);
  b[1] = uint8_t(v >> 16);
  b[2] = uint8_t(v >> 8);
  b[3] = uint8_t(v);
}

}  // namespace

Blowfish::Blowfish(const uint8_t* key, size_t keyLength) {
  static const uint8_t kZero = 0;
  if (key == nullptr || keyLength == 0) {
    key = &kZero;
    keyLength = 1;
  }
  std::memcpy(s_, blowfish_tables::kInitialS, sizeof(s_));
  size_t k = 0;
  for (int i = 0; i < 18; ++i) {
    uint32_t word = 0;
    for (int j = 0; j < 4; ++j) {
      word = (word << 8) | key[k];
      k = (k + 1) % keyLength;
    }
    p_[i] = blowfish_tables::kInitialP[i] ^ word;
  }
  uint32_t left = 0, right = 0;
  for (int i = 0; i < 18; i += 2) {
    encryptHalves(left, right);
    p_[i] = left;
    p_[i + 1] = right;
  }
  for (auto& box : s_) {
    for (int i = 0; i < 256; i += 2) {
      encryptHalves(left, right);
      box[i] = left;
      box[i + 1] = right;
    }
  }
}

inline uint32_t Blowfish::f(uint32_t x) const {
  return ((s_[0][x >> 24] + s_[1][(x >> 16) & 0xFF]) ^ s_[2][(x >> 8) & 0xFF]) + s_[3][x & 0xFF];
}

void Blowfish::encryptHalves(uint32_t& left, uint32_t& right) const {
  uint32_t l = left, r = right;
  for (int i = 0; i < 16; i += 2) {
    l ^= p_[i];
    r ^= f(l);
    r ^= p_[i + 1];
    l ^= f(r);
  }
  l ^= p_[16];
  r ^= p_[17];
  left = r;
  right = l;
}

void Blowfish::decryptHalves(uint32_t& left, uint32_t& right) const {
  uint32_t l = left, r = right;
  for (int i = 17; i > 1; i -= 2) {
    l ^= p_[i];
    r ^= f(l);
    r ^= p_[i - 1];
    l ^= f(r);
  }
  l ^= p_[1];
  r ^= p_[0];
  left = r;
  right = l;
}

void Blowfish::encryptBlock(uint8_t block[8]) const {
  uint32_t l = loadBigEndian(block), r = loadBigEndian(block + 4);
  encryptHalves(l, r);
  storeBigEndian(l, block);
  storeBigEndian(r, block + 4);
}

void Blowfish::decryptBlock(uint8_t block[8]) const {
  uint32_t l = loadBigEndian(block), r = loadBigEndian(block + 4);
  decryptHalves(l, r);
  storeBigEndian(l, block);
  storeBigEndian(r, block + 4);
}

void Blowfish::encryptEcb(uint8_t* data, size_t size) const {
  for (size_t i = 0; i + 8 <= size; i += 8) encryptBlock(data + i);
}

void Blowfish::decryptEcb(uint8_t* data, size_t size) const {
  for (size_t i = 0; i + 8 <= size; i += 8) decryptBlock(data + i);
}
