#pragma once
// The 64-bit block cipher that guards ".ebz" packs: 16 rounds, key bytes used
// cyclically over the subkeys, each block read as two big-endian halves.
// An object is immutable after construction; any thread may use it.
#include <cstddef>
#include <cstdint>

class Blowfish {
 public:
  // keyLength 1..56 bytes is the cipher's range; a zero-length key is
  // accepted and behaves as a single zero byte so nothing divides by zero.
  Blowfish(const uint8_t* key, size_t keyLength);

  void encryptBlock(uint8_t block[8]) const;
  void decryptBlock(uint8_t block[8]) const;

  // Electronic-codebook over whole blocks. A trailing part shorter than a
  // block is left as it is.
  void encryptEcb(uint8_t* data, size_t size) const;
  void decryptEcb(uint8_t* data, size_t size) const;

 private:
  uint32_t f(uint32_t x) const;
  void encryptHalves(uint32_t& left, uint32_t& right) const;
  void decryptHalves(uint32_t& left, uint32_t& right) const;

  uint32_t p_[18];
  uint32_t s_[4][256];
};
