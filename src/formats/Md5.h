#pragma once
// MD5 message digest (RFC 1321), incremental. Used for identifiers and
// integrity checks, not for security.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class Md5 {
 public:
  Md5();
  void update(const void* data, size_t size);
  // Pads, returns the digest and leaves the object ready for a new message.
  std::array<uint8_t, 16> finish();

 private:
  void transform(const uint8_t block[64]);

  uint32_t state_[4];
  uint64_t length_ = 0;  // bytes seen so far
  uint8_t buffer_[64];
};

// 32 lower-case hex digits.
std::string md5Hex(const void* data, size_t size);
std::string md5HexOf(const std::array<uint8_t, 16>& digest);
