// Serpentine Floyd-Steinberg dithering. The float/double mix of the level
// computation is kept as it is: outputs are compared exactly.
#include "filters/dither.hh"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "filters/rows.hh"
#include "image/TypedIterators.hh"

namespace {

template <typename T>
struct FloydSteinberg_template {
  void operator()(Image& image, int shades)
  {
    const int N = T::accu::samples;
    const int C = N == 4 ? 3 : N; // colour channels; alpha is not dithered
    const float M = T::accu::maxval;
    const float E = T::accu::maxval == 65535 ? 16383 : 63;
    const int w = image.w, h = image.h;
    const float f = (float)(shades - 1) / M;

    std::vector<float> current((size_t)w * C, 0.0f), next((size_t)w * C, 0.0f);
    std::vector<int32_t> row((size_t)w * N);
    for (int y = 0; y < h; ++y) {
      std::swap(current, next);
      std::fill(next.begin(), next.end(), 0.0f);
      read_row<T>(image, y, row.data());
      const int d = (y % 2 == 0) ? 1 : -1;
      for (int i = 0, x = d > 0 ? 0 : w - 1; i < w; ++i, x += d)
        for (int c = 0; c < C; ++c) {
          const int k = x * C + c;
          const float v = (float)row[(size_t)x * N + c];
          const float e = current[k];
          const float t = (e + v) * f;
          const double q = std::floor((double)t + 0.5);
          float level = (float)(q / (double)f);
          level = level > M ? M : (level < 0.0f ? 0.0f : level);
          const int out = (int)((double)level + 0.5);
          float err = (v + e) - (float)out;
          if (std::fabs(err) > E)
            err = err < 0 ? -E : E;
          next[k] += (err * 5.0f) * 0.0625;
          if (x + d >= 0 && x + d < w) {
            current[k + d * C] += (err * 7.0f) * 0.0625;
            next[k + d * C] += (err * 1.0f) * 0.0625;
          }
          if (x - d >= 0 && x - d < w)
            next[k - d * C] += (err * 3.0f) * 0.0625;
          row[(size_t)x * N + c] = out;
        }
      write_row<T>(image, y, row.data());
    }
    image.setRawData();
  }
};

} // namespace

void FloydSteinberg(Image& image, int shades)
{
  // One shade would divide by a zero step; fewer make no sense.
  if (shades < 2) {
    fprintf(stderr, "FloydSteinberg: %d shades, need at least 2\n", shades);
    return;
  }
  if (image.getRawData() && !image.Type())
    return;
  codegen<FloydSteinberg_template>(image, shades);
}
