// Colour-mode classification and automatic inversion.
#include "filters/color_mode.hh"

#include <cstdint>

#include "image/TypedIterators.hh"
#include "image/Tonal.hh"

namespace {

struct ModeCounts {
  uint64_t colour = 0, dark = 0, mid = 0, light = 0;
};

template <typename T>
struct autoColor_template {
  ModeCounts operator()(Image& image)
  {
    typedef typename T::accu A;
    const bool wide = A::maxval == 65535;
    const int64_t darkBelow = wide ? 13108 : 52, midBelow = wide ? 52428 : 204;
    const int64_t colourLimit = wide ? 859032780LL : 13260;
    ModeCounts n;
    for (int y = 0; y < image.h; ++y) {
      T it = T(image).at(0, y);
      for (int x = 0; x < image.w; ++x, ++it) {
        const A a = *it;
        const int64_t r = a.v[0];
        if (A::samples >= 3) {
          const int64_t g = a.v[1 % A::samples], b = a.v[2 % A::samples];
          const int64_t L = (11 * r + 16 * g + 5 * b) >> 5;
          const int64_t spread = (L > r ? L - r : r - L) + (L > g ? L - g : g - L) + (L > b ? L - b : b - L);
          if (spread * L >= colourLimit) {
            ++n.colour;
            continue;
          }
        }
        // Colour pixels that are not colourful enough are classed by red.
        if (r < darkBelow)
          ++n.dark;
        else if (r < midBelow)
          ++n.mid;
        else
          ++n.light;
      }
    }
    return n;
  }
};

template <typename T>
struct count_not_white_template {
  uint64_t operator()(Image& image)
  {
    typedef typename T::accu A;
    uint64_t count = 0;
    for (int y = 0; y < image.h; ++y) {
      T it = T(image).at(0, y);
      for (int x = 0; x < image.w; ++x, ++it) {
        const A a = *it;
        if (A::samples >= 3) {
          const int64_t l = 11 * (int64_t)a.v[0] + 16 * (int64_t)a.v[1 % A::samples] +
                            5 * (int64_t)a.v[2 % A::samples];
          count += l < (int64_t)A::maxval * 32;
        } else {
          count += a.v[0] < A::maxval;
        }
      }
    }
    return count;
  }
};

} // namespace

const char* autoColor(Image& image, double colorPct, double grayPct)
{
  if (!image.getRawData() || image.bps < 8 || image.w <= 0 || image.h <= 0)
    return nullptr;
  const ModeCounts n = codegen_return<ModeCounts, autoColor_template>(image);
  const double total = (double)((uint64_t)image.w * (uint64_t)image.h);
  if (n.colour / total > colorPct / 100)
    return nullptr;
  if (n.mid / total > grayPct / 100)
    return "gray";
  return "bw";
}

void autoInvert(Image& image)
{
  if (image.w <= 0 || image.h <= 0 || !image.getRawData())
    return;
  const uint64_t count = codegen_return<uint64_t, count_not_white_template>(image);
  if (count > (uint64_t)image.w * (uint64_t)image.h / 2)
    invert(image);
}
