#include "formats/Crc32.h"

#include <array>

namespace {

std::array<uint32_t, 256> makeTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
    table[i] = c;
  }
  return table;
}

}  // namespace

uint32_t crc32Update(uint32_t crc, const void* data, size_t size) {
  static const std::array<uint32_t, 256> table = makeTable();
  const auto* p = static_cast<const uint8_t*>(data);
  uint32_t c = ~crc;
  for (size_t i = 0; i < size; ++i) c = table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
  return ~c;
}

uint32_t crc32(const void* data, size_t size) { return crc32Update(0, data, size); }
