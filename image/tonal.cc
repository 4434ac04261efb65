// Tonal helpers as functors over the typed iterators.
#include "image/Tonal.hh"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "image/Samples.hh"
#include "image/TypedIterators.hh"
#include "utility/Saturate.hh"

namespace {

// Colour channels of an accumulator: alpha (the fourth) is left alone.
template <typename A>
constexpr int colourChannels()
{
  return A::samples < 3 ? A::samples : 3;
}

template <typename T>
struct invert_template {
  void operator()(Image& image)
  {
    typedef typename T::accu A;
    T it(image);
    for (int y = 0; y < image.h; ++y) {
      T p = it.at(0, y);
      for (int x = 0; x < image.w; ++x, ++p) {
        A a = *p;
        for (int i = 0; i < colourChannels<A>(); ++i)
          a.v[i] = A::maxval - a.v[i];
        p.set(a);
      }
    }
    image.setRawData();
  }
};

// Applies a table over the accumulator's levels (0..maxval) to every colour
// channel.
template <typename T>
void applyTable(Image& image, const std::vector<int32_t>& table)
{
  typedef typename T::accu A;
  T it(image);
  for (int y = 0; y < image.h; ++y) {
    T p = it.at(0, y);
    for (int x = 0; x < image.w; ++x, ++p) {
      A a = *p;
      for (int i = 0; i < colourChannels<A>(); ++i)
        a.v[i] = table[(size_t)a.v[i]];
      p.set(a);
    }
  }
  image.setRawData();
}

template <typename T>
struct normalize_template {
  void operator()(Image& image, uint8_t low, uint8_t high)
  {
    typedef typename T::accu A;
    const bool wide = A::maxval > 255;
    int lo = low, hi = high;
    if (!lo || !hi) {
      uint64_t hist[256] = {0};
      T it(image);
      for (int y = 0; y < image.h; ++y) {
        T p = it.at(0, y);
        for (int x = 0; x < image.w; ++x, ++p) {
          const int64_t v = (*p).v[0];
          ++hist[wide ? v >> 8 : v];
        }
      }
      const uint64_t total = (uint64_t)image.w * (uint64_t)image.h;
      if (!lo) {
        uint64_t cum = 0;
        for (lo = 0; lo < 255; ++lo) {
          cum += hist[lo];
          if (cum * 1000 > total * 5)
            break;
        }
      }
      if (!hi) {
        uint64_t cum = 0;
        for (hi = 255; hi > 0; --hi) {
          cum += hist[hi];
          if (cum * 100 > total)
            break;
        }
      }
    }
    if (hi <= lo || (lo == 0 && hi == 255))
      return;
    const int64_t max = A::maxval;
    const int64_t l = wide ? lo * 256 : lo, h = wide ? hi * 256 + 255 : hi;
    std::vector<int32_t> table((size_t)max + 1);
    for (int64_t v = 0; v <= max; ++v) {
      const int64_t o = (v - l) * max / (h - l);
      table[(size_t)v] = (int32_t)(o < 0 ? 0 : o > max ? max : o);
    }
    applyTable<T>(image, table);
  }
};

template <typename T>
struct bcg_template {
  void operator()(Image& image, double brightness, double contrast, double gamma)
  {
    typedef typename T::accu A;
    const int64_t max = A::maxval;
    std::vector<int32_t> table((size_t)max + 1);
    for (int64_t i = 0; i <= max; ++i) {
      double v = (double)i / (double)max;
      v = v + brightness;
      v = (v - 0.5) * (1 + contrast) + 0.5;
      v = v < 0 ? 0 : v > 1 ? 1 : v;
      if (gamma != 1)
        v = pow(v, 1 / gamma);
      const int64_t o = saturate_cast<int64_t>(v * (double)max + 0.5);
      table[(size_t)i] = (int32_t)(o > max ? max : o);
    }
    applyTable<T>(image, table);
  }
};

// Something to work on whose samples histogram() can read.
bool workable(const Image& image)
{
  return image.w > 0 && image.h > 0 && image.Type() && image.getRawData();
}

} // namespace

void invert(Image& image)
{
  // Without alpha every sample is a colour sample, and maxval - v is the
  // complement of its bits whatever the depth or byte order: whole bytes
  // flip at once, the pad bits at the end of a row stay as they are.
  if ((image.spp == 1 || image.spp == 3) && workable(image)) {
    const uint64_t bits = (uint64_t)image.w * image.spp * image.bps;
    const uint64_t full = bits / 8;
    const unsigned rest = (unsigned)(bits % 8);
    const uint8_t tail = (uint8_t)(0xff00u >> rest);
    const uint64_t stride = image.stride();
    uint8_t* row = image.getRawData();
    for (int y = 0; y < image.h; ++y, row += stride) {
      uint64_t i = 0;
      for (; i + 8 <= full; i += 8) {
        uint64_t v;
        memcpy(&v, row + i, 8);
        v = ~v;
        memcpy(row + i, &v, 8);
      }
      for (; i < full; ++i)
        row[i] = (uint8_t)~row[i];
      if (rest)
        row[full] ^= tail;
    }
    image.setRawData();
    return;
  }
  codegen<invert_template>(image);
}

std::vector<std::vector<uint32_t>> histogram(Image& image, int bins)
{
  std::vector<std::vector<uint32_t>> result;
  if (bins < 1 || bins > 65536) {
    fprintf(stderr, "histogram: bins %d outside 1..65536\n", bins);
    return result;
  }
  if (!workable(image))
    return result;
  const int spp = image.spp, bps = image.bps;
  result.assign(spp, std::vector<uint32_t>(bins, 0));
  const uint64_t stride = image.stride();
  const int64_t n = (int64_t)image.w * spp;
  for (int y = 0; y < image.h; ++y) {
    const uint8_t* row = image.data + (uint64_t)y * stride;
    for (int64_t i = 0; i < n; ++i)
      ++result[i % spp][((uint64_t)pixel_samples::raw(row, i, bps) * (uint64_t)bins) >> bps];
  }
  return result;
}

void normalize(Image& image, uint8_t low, uint8_t high)
{
  codegen<normalize_template>(image, low, high);
}

void brightness_contrast_gamma(Image& image, double brightness, double contrast, double gamma)
{
  if (!std::isfinite(brightness) || !std::isfinite(contrast) || !std::isfinite(gamma) ||
      gamma <= 0) {
    fprintf(stderr, "brightness_contrast_gamma: invalid arguments %g, %g, %g\n", brightness,
            contrast, gamma);
    return;
  }
  if (brightness == 0 && contrast == 0 && gamma == 1)
    return;
  codegen<bcg_template>(image, brightness, contrast, gamma);
}
