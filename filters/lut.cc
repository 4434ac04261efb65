// Lookup tables applied row by row, no per-pixel calls.
#include "filters/lut.hh"

#include <cmath>
#include <cstring>
#include <vector>

void lut_table_from(uint8_t* table, const int64_t* values, size_t count)
{
  for (size_t i = 0; i < 256; ++i)
    table[i] = i < count ? (uint8_t)(values[i] & 0xff) : (uint8_t)i;
}

void lut_table16(const uint8_t* t, uint16_t* out)
{
  for (uint32_t v = 0; v < 65536; ++v) {
    const double a = v * 255.0 / 65535.0;
    const double lo = std::floor(a), hi = std::ceil(a);
    const uint32_t f = (uint32_t)((a - lo) * 256.0);
    const uint32_t tl = t[(int)lo], th = t[(int)hi];
    out[v] = (uint16_t)((th * 257 * f + (256 - f) * tl * 257) >> 8);
  }
}

void lut(Image& image, const uint8_t* r, const uint8_t* g, const uint8_t* b, Image* src)
{
  // A call without its first table has nothing to map with.
  if (!r)
    return;
  if (src == &image)
    src = nullptr;

  const Image& in = src ? *src : image;
  const uint8_t* inData = in.getRawData();
  if (!inData || in.w <= 0 || in.h <= 0)
    return;
  const int bps = in.bps, spp = in.spp;
  if ((bps != 8 && bps != 16) || spp < 1 || spp > 4)
    return;

  Image fresh;
  if (src) {
    // Built aside so that a failed allocation leaves the image as it was.
    fresh.copyMeta(*src);
    fresh.rowStride = 0;
    fresh.resize(src->w, src->h, 0);
  }
  Image& out = src ? fresh : image;
  uint8_t* outData = out.getRawData();
  const uint64_t inStride = in.stride(), outStride = out.stride();
  const int w = in.w;

  // Colour samples per pixel; the fourth sample of RGBA is alpha.
  const int colours = spp == 4 ? 3 : spp;
  const bool perChannel = g && b && colours == 3;
  const uint8_t* tables8[3] = {r, perChannel ? g : r, perChannel ? b : r};

  if (bps == 8) {
    for (int y = 0; y < in.h; ++y) {
      const uint8_t* s = inData + (uint64_t)y * inStride;
      uint8_t* d = outData + (uint64_t)y * outStride;
      if (spp == 1) {
        for (int x = 0; x < w; ++x)
          d[x] = r[s[x]];
      } else {
        for (int x = 0; x < w; ++x, s += spp, d += spp) {
          for (int c = 0; c < colours; ++c)
            d[c] = tables8[c][s[c]];
          if (spp == 4)
            d[3] = s[3];
        }
      }
    }
  } else {
    std::vector<uint16_t> t16((size_t)(perChannel ? 3 : 1) * 65536);
    for (int c = 0; c < (perChannel ? 3 : 1); ++c)
      lut_table16(tables8[c], &t16[(size_t)c * 65536]);
    const uint16_t* tables16[3] = {&t16[0], &t16[perChannel ? 65536 : 0],
                                   &t16[perChannel ? 2 * 65536 : 0]};
    // Rows of any stride: 16-bit samples need not be aligned.
    for (int y = 0; y < in.h; ++y) {
      const uint8_t* s = inData + (uint64_t)y * inStride;
      uint8_t* d = outData + (uint64_t)y * outStride;
      for (int x = 0; x < w; ++x, s += 2 * spp, d += 2 * spp) {
        uint16_t px[4];
        memcpy(px, s, 2 * spp);
        for (int c = 0; c < colours; ++c)
          px[c] = tables16[c][px[c]];
        memcpy(d, px, 2 * spp);
      }
    }
  }

  if (src)
    image.copyTransferOwnership(fresh);
  image.setRawData();
}
