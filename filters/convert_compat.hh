// Pixel-type conversions the binarisers need (to "rgb8", "gray8", "gray1"),
// following the conversion chain's rules: sub-byte gray stretched to 0..255,
// 16-bit samples keep their high byte, colour to gray by 30/59/11.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "image/Image.hh"

namespace filters_detail {

inline void convert_to(Image& image, int spp, int bps, uint8_t threshold = 127)
{
  const uint8_t* src = image.getRawData();
  if (!src || image.w <= 0 || image.h <= 0) {
    image.spp = (uint8_t)spp;
    image.bps = (uint8_t)bps;
    image.rowStride = 0;
    return;
  }
  if (image.spp == spp && image.bps == bps && image.rowStride == 0)
    return;
  const int w = image.w, h = image.h, sspp = image.spp, sbps = image.bps;
  const uint64_t sstride = image.stride();
  Image out;
  out.spp = (uint8_t)spp;
  out.bps = (uint8_t)bps;
  out.resize(w, h, 0);
  const uint64_t ostride = out.stride();
  uint8_t* dst = out.data;
  memset(dst, 0, ostride * (uint64_t)h);
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = src + (uint64_t)y * sstride;
    uint8_t* d = dst + (uint64_t)y * ostride;
    for (int x = 0; x < w; ++x) {
      int rgb[3];
      bool colour = sspp >= 3;
      if (sbps < 8) {
        const int per = 8 / sbps, mask = (1 << sbps) - 1;
        const int raw = (s[x / per] >> (8 - sbps - (x % per) * sbps)) & mask;
        rgb[0] = rgb[1] = rgb[2] = raw * 255 / mask;
      } else {
        const int bytes = sbps / 8;
        for (int c = 0; c < 3; ++c) {
          const int k = colour ? c : 0;
          const uint8_t* p = s + ((uint64_t)x * sspp + k) * bytes;
          if (bytes == 2) {
            uint16_t v;
            memcpy(&v, p, 2);
            rgb[c] = v >> 8;
          } else {
            rgb[c] = *p;
          }
        }
      }
      const int gray = colour ? (30 * rgb[0] + 59 * rgb[1] + 11 * rgb[2]) / 100 : rgb[0];
      if (spp == 3) {
        d[3 * x] = (uint8_t)rgb[0];
        d[3 * x + 1] = (uint8_t)rgb[1];
        d[3 * x + 2] = (uint8_t)rgb[2];
      } else if (bps == 8) {
        d[x] = (uint8_t)gray;
      } else if (gray > threshold) {
        d[x / 8] |= (uint8_t)(0x80 >> (x % 8));
      }
    }
  }
  image.setRawData(out.data);
  out.data = nullptr;
  image.spp = (uint8_t)spp;
  image.bps = (uint8_t)bps;
  image.rowStride = 0;
}

} // namespace filters_detail
