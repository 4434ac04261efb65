// Edge-aware smoothing in one pass, in place: the left and upper neighbours
// a pixel sees are already smoothed, as the pass leaves them.
#include "filters/smooth.hh"

#include <cstdlib>
#include <utility>
#include <vector>

#include "filters/rows.hh"
#include "image/TypedIterators.hh"

namespace {

template <typename T>
struct smooth_template {
  void operator()(Image& image, unsigned r)
  {
    const int N = T::accu::samples;
    const int64_t M = T::accu::maxval;
    const int64_t w = image.w, h = image.h;
    // A border of 0 would reach outside the image: it acts as 1. Negative
    // arguments arrive as huge values and change nothing.
    if (r == 0)
      r = 1;
    if (h - (int64_t)r <= (int64_t)r || w - (int64_t)r <= (int64_t)r)
      return;
    const int64_t n = w * N;
    const int bits = image.bps;
    std::vector<int64_t> up(n), cur(n), down(n);
    read_row<T>(image, (int)r - 1, up.data());
    read_row<T>(image, (int)r, cur.data());
    for (int64_t y = r; y < h - (int64_t)r; ++y) {
      read_row<T>(image, (int)y + 1, down.data());
      for (int64_t x = r; x < w - (int64_t)r; ++x)
        for (int c = 0; c < N; ++c) {
          const int64_t k = x * N + c;
          const int64_t v = cur[k], l = cur[k - N], rt = cur[k + N], u = up[k], d = down[k];
          const int64_t m = (l + rt + u + d) / 4;
          const int64_t s = std::llabs(l - v) + std::llabs(rt - v) + std::llabs(u - v) + std::llabs(d - v);
          const int64_t wgt = std::min<int64_t>(2 * s, M);
          // 16-bit products pass 2^31: 64-bit arithmetic throughout.
          cur[k] = ((M - wgt) * m + wgt * v) / M;
          // Later pixels see what the image holds: sub-byte samples keep
          // only their top bits.
          if (bits < 8)
            cur[k] = (cur[k] >> (8 - bits)) * 255 / ((1 << bits) - 1);
        }
      write_row<T>(image, (int)y, cur.data());
      std::swap(up, cur);
      std::swap(cur, down);
    }
    image.setRawData();
  }
};

} // namespace

void smooth(Image& image, int r)
{
  if (image.getRawData() && !image.Type())
    return;
  codegen<smooth_template>(image, (unsigned)r);
}
