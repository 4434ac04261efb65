// Empty-page test: binarise a copy, count black pixels inside the margins.
#include "filters/empty_page.hh"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "filters/optimize2bw.hh"
#include "image/Colorspace.hh"

namespace Norvel {
// Set bits of each byte value.
static const struct PopCount {
  uint8_t n[256];
  PopCount()
  {
    for (int b = 0; b < 256; ++b)
      n[b] = (uint8_t)__builtin_popcount(b);
  }
  uint8_t operator[](int b) const { return n[b]; }
} popcount;
} // namespace Norvel

bool detect_empty_page(Image& image, double percent, int marginX, int marginY, int* setPixels)
{
  if (setPixels)
    *setPixels = 0;
  if (image.w <= 0 || image.h <= 0 || !image.getRawData() || !image.Type())
    return false;

  Image copy;
  const Image* work = &image;
  if (!(image.spp == 1 && image.bps == 1)) {
    copy = image;
    if (image.spp == 1 && image.bps < 8) {
      colorspace_by_name(copy, "gray1", 127);
    } else {
      colorspace_by_name(copy, "gray8", 127);
      optimize2bw(copy, 0, 0, 128, 0, 1, 2.1);
      colorspace_gray8_to_gray1(copy, 127);
    }
    work = &copy;
  }

  // Negative margins would reach outside the rows.
  marginX = std::max(marginX, 0);
  marginY = std::max(marginY, 0);
  const int w = work->w, h = work->h;
  const int64_t fill = work->stridefill();
  const uint64_t stride = work->stride();
  const uint8_t* data = work->getRawData();
  // The unused low bits of a row's last byte are no pixels, whatever the
  // conversion left in them: count them as white.
  const uint8_t pad = (w % 8) ? (uint8_t)(0xff >> (w % 8)) : 0;
  const int64_t b0 = marginX / 8, b1 = fill - marginX / 8;
  uint64_t count = 0;
  for (int64_t y = marginY; y < (int64_t)h - marginY; ++y) {
    const uint8_t* row = data + (uint64_t)y * stride;
    for (int64_t b = b0; b < b1; ++b) {
      const uint8_t byte = b == fill - 1 ? (uint8_t)(row[b] | pad) : row[b];
      count += 8 - Norvel::popcount[byte];
    }
  }

  const double share = count * 100.0 / ((double)w * (double)h);
  if (setPixels)
    *setPixels = count > (uint64_t)INT_MAX ? INT_MAX : (int)count;
  return percent > share;
}
