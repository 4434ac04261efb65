// Mirroring in place, row by row, without a second buffer.
#include "image/Flip.hh"
#include "image/PixelType.hh"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

template <int B>
void mirrorPixels(uint8_t* row, int w)
{
  uint8_t* l = row;
  uint8_t* r = row + (int64_t)(w - 1) * B;
  uint8_t t[B];
  for (; l < r; l += B, r -= B) {
    memcpy(t, l, B);
    memcpy(l, r, B);
    memcpy(r, t, B);
  }
}

void mirrorRows(Image& image, uint8_t* data, unsigned stride, int bytes)
{
  for (int y = 0; y < image.h; ++y) {
    uint8_t* row = data + (uint64_t)y * stride;
    switch (bytes) {
    case 1: std::reverse(row, row + image.w); break;
    case 2: mirrorPixels<2>(row, image.w); break;
    case 3: mirrorPixels<3>(row, image.w); break;
    case 4: mirrorPixels<4>(row, image.w); break;
    case 6: mirrorPixels<6>(row, image.w); break;
    }
  }
}

// Sub-byte samples: bytes swapped end for end through a table that reverses
// the samples inside a byte, then the row shifted left over the padding bits
// that the reversal brought to its start.
void mirrorBits(Image& image, uint8_t* data, unsigned stride, int bps)
{
  uint8_t table[256];
  const int per = 8 / bps, mask = (1 << bps) - 1;
  for (int v = 0; v < 256; ++v) {
    int r = 0;
    for (int i = 0; i < per; ++i)
      r |= ((v >> (i * bps)) & mask) << ((per - 1 - i) * bps);
    table[v] = (uint8_t)r;
  }
  const uint64_t n = image.stridefill();
  const int pad = (int)(n * 8 - (uint64_t)image.w * bps);
  for (int y = 0; y < image.h; ++y) {
    uint8_t* row = data + (uint64_t)y * stride;
    for (uint64_t i = 0; i < n / 2; ++i) {
      const uint8_t a = row[i];
      row[i] = table[row[n - 1 - i]];
      row[n - 1 - i] = table[a];
    }
    if (n & 1)
      row[n / 2] = table[row[n / 2]];
    if (pad) {
      for (uint64_t i = 0; i + 1 < n; ++i)
        row[i] = (uint8_t)((row[i] << pad) | (row[i + 1] >> (8 - pad)));
      row[n - 1] = (uint8_t)(row[n - 1] << pad);
    }
  }
}

} // namespace

void flipX(Image& image)
{
  if (image.w <= 0 || image.h <= 0)
    return;
  if (!image.pixelsDirty && image.codec && image.codec->flipX(image))
    return;
  uint8_t* data = image.getRawData();
  if (!data)
    return;
  const int bpp = image.spp * image.bps;
  if (!isMovableDepth(bpp)) {
    fprintf(stderr, "flipX: unsupported depth.\n");
    return;
  }
  const unsigned stride = image.stride();
  if (bpp >= 8)
    mirrorRows(image, data, stride, bpp / 8);
  else
    mirrorBits(image, data, stride, bpp);
  image.setRawData();
}

void flipY(Image& image)
{
  if (image.w <= 0 || image.h <= 0)
    return;
  if (!image.pixelsDirty && image.codec && image.codec->flipY(image))
    return;
  uint8_t* data = image.getRawData();
  if (!data)
    return;
  const uint64_t stride = image.stride();
  for (int y = 0; y < image.h / 2; ++y) {
    uint8_t* a = data + (uint64_t)y * stride;
    uint8_t* b = data + (uint64_t)(image.h - 1 - y) * stride;
    std::swap_ranges(a, a + stride, b);
  }
  image.setRawData();
}
