// Byte order: values of fixed width read from and written to bytes in a
// stated order, and samples reversed in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

namespace byteorder {

inline uint16_t loadBE16(const unsigned char* p) { return (uint16_t)(p[0] << 8 | p[1]); }
inline uint32_t loadBE32(const unsigned char* p)
{
  return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}
inline uint16_t loadLE16(const unsigned char* p) { return (uint16_t)(p[1] << 8 | p[0]); }
inline uint32_t loadLE32(const unsigned char* p)
{
  return (uint32_t)p[3] << 24 | (uint32_t)p[2] << 16 | (uint32_t)p[1] << 8 | p[0];
}

inline void storeBE16(unsigned char* p, uint16_t v)
{
  p[0] = (unsigned char)(v >> 8);
  p[1] = (unsigned char)v;
}
inline void storeBE32(unsigned char* p, uint32_t v)
{
  p[0] = (unsigned char)(v >> 24);
  p[1] = (unsigned char)(v >> 16);
  p[2] = (unsigned char)(v >> 8);
  p[3] = (unsigned char)v;
}

// Reverses the n bytes at p: one value to the other byte order.
inline void reverse(unsigned char* p, int n)
{
  for (int i = 0, j = n - 1; i < j; ++i, --j)
    std::swap(p[i], p[j]);
}

// Every whole sample of `bytes` (2, 4 or 8) bytes among the n at p to the
// other byte order; a trailing part sample stays.
inline void reverseSamples(unsigned char* p, uint64_t n, int bytes)
{
  if (bytes == 2) {
    for (uint64_t i = 0; i + 1 < n; i += 2)
      std::swap(p[i], p[i + 1]);
  } else if (bytes == 4) {
    for (uint64_t i = 0; i + 3 < n; i += 4) {
      std::swap(p[i], p[i + 3]);
      std::swap(p[i + 1], p[i + 2]);
    }
  } else if (bytes == 8) {
    for (uint64_t i = 0; i + 7 < n; i += 8)
      for (int k = 0; k < 4; ++k)
        std::swap(p[i + k], p[i + 7 - k]);
  }
}

} // namespace byteorder
