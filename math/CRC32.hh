// CRC-32 as used by PNG chunks and zlib (reflected polynomial 0xEDB88320,
// initial and final value 0xFFFFFFFF).
#pragma once

#include <cstddef>
#include <cstdint>

extern const uint32_t crc32tab[256];

// Continues a CRC over n more bytes; start with crc 0.
uint32_t crc32Update(uint32_t crc, const void* data, size_t n);

inline uint32_t crc32Of(const void* data, size_t n)
{
  return crc32Update(0, data, n);
}
