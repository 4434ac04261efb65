// Reading and writing single samples in a row of pixels: 16-bit samples in
// host order at any alignment, and samples of 1, 2 or 4 bits packed most
// significant first.
#pragma once

#include <cstdint>
#include <cstring>

namespace pixel_samples {

// Through memcpy: rows need not be 2-byte aligned.
inline uint16_t load16(const uint8_t* p)
{
  uint16_t v;
  memcpy(&v, p, 2);
  return v;
}
inline void store16(uint8_t* p, uint16_t v) { memcpy(p, &v, 2); }

// Sample i of a row of packed samples of bps (1, 2 or 4) bits.
inline int packed(const uint8_t* row, int64_t i, int bps)
{
  const int64_t bit = i * bps;
  return (row[bit >> 3] >> (8 - bps - (int)(bit & 7))) & ((1 << bps) - 1);
}

// ORs v into sample i of a row of packed samples (the sample starts 0).
inline void orPacked(uint8_t* row, int64_t i, int bps, int v)
{
  const int64_t bit = i * bps;
  row[bit >> 3] |= (uint8_t)(v << (8 - bps - (int)(bit & 7)));
}

// Sample i of a row of samples of any of the core depths (1..16 bits).
inline int raw(const uint8_t* row, int64_t i, int bps)
{
  switch (bps) {
  case 16: return load16(row + 2 * i);
  case 8: return row[i];
  default: return packed(row, i, bps);
  }
}

} // namespace pixel_samples
