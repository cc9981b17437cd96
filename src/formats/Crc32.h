#pragma once
// CRC-32 of the zip/Ethernet family: reflected polynomial 0xEDB88320,
// register preset to all ones, result complemented.
#include <cstddef>
#include <cstdint>

uint32_t crc32(const void* data, size_t size);
// Continues a running value: crc32Update(crc32(a), b) == crc32(a + b).
uint32_t crc32Update(uint32_t crc, const void* data, size_t size);
