#include "math/CRC32.hh"

namespace {

struct Table {
  uint32_t v[256];
  constexpr Table() : v()
  {
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k)
        c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      v[n] = c;
    }
  }
};

constexpr Table table;

} // namespace

const uint32_t crc32tab[256] = {
#define R(i) table.v[i], table.v[i + 1], table.v[i + 2], table.v[i + 3]
#define R16(i) R(i), R(i + 4), R(i + 8), R(i + 12)
  R16(0), R16(16), R16(32), R16(48), R16(64), R16(80), R16(96), R16(112),
  R16(128), R16(144), R16(160), R16(176), R16(192), R16(208), R16(224), R16(240),
#undef R16
#undef R
};

uint32_t crc32Update(uint32_t crc, const void* data, size_t n)
{
  const uint8_t* p = (const uint8_t*)data;
  crc = ~crc;
  while (n--)
    crc = crc32tab[(crc ^ *p++) & 0xff] ^ (crc >> 8);
  return ~crc;
}
