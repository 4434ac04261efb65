// Colour-space conversion: the single steps and the chain that strings them
// together for a requested samples-per-pixel / bits-per-sample target.
#include "image/Colorspace.hh"
#include "image/ColorspaceSteps.hh"
#include "image/PixelType.hh"
#include "image/Samples.hh"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>

#include "utility/Saturate.hh"

namespace colorspace_steps {

bool hasPixels(const Image& image)
{
  return image.w > 0 && image.h > 0 && image.getRawData();
}

// Tight row size of a w-pixel row of the given type, bounded like
// Image::stridefill.
uint64_t rowFill(int w, int spp, int bps)
{
  const uint64_t bytes = ((uint64_t)spp * (uint64_t)w * (uint64_t)bps + 7) / 8;
  if (bytes > 0xffffffffull)
    throw std::overflow_error("stride overflow");
  return bytes;
}

uint8_t* allocRows(uint64_t fill, int h)
{
  const uint64_t size = fill * (uint64_t)h;
  uint8_t* p = (uint8_t*)malloc(size ? size : 1);
  if (!p)
    throw std::bad_alloc();
  return p;
}

// After an in-place step that packed the rows tight at the start of the
// buffer: drop the surplus. A failing shrink keeps the larger buffer.
void settleTight(Image& image)
{
  image.rowStride = 0;
  const uint64_t size = (uint64_t)image.stridefill() * (uint64_t)image.h;
  if (size) {
    if (uint8_t* p = (uint8_t*)::realloc(image.data, size))
      image.data = p;
  }
  image.setRawData();
}

// Replaces the buffer with a fresh tight one of the new type.
void install(Image& image, uint8_t* p, int spp, int bps)
{
  image.spp = (uint8_t)spp;
  image.bps = (uint8_t)bps;
  image.rowStride = 0;
  image.setRawData(p);
}

void dropFourth(Image& image, int first)
{
  const int w = image.w, h = image.h;
  const uint64_t s = image.stride();
  uint8_t* data = image.data;
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = data + (uint64_t)y * s + first;
    uint8_t* d = data + (uint64_t)y * 3 * w;
    for (int x = 0; x < w; ++x, src += 4, d += 3) {
      const uint8_t r = src[0], g = src[1], b = src[2];
      d[0] = r; d[1] = g; d[2] = b;
    }
  }
  image.spp = 3;
  settleTight(image);
}

} // namespace colorspace_steps

using namespace colorspace_steps;

namespace {

using pixel_samples::load16;
using pixel_samples::store16;

// Gray samples of 1, 2 or 4 bits through `table` into samples of outBps
// bits (1, 2, 4 or 8), repeated outSpp times, in a fresh buffer.
void expandBits(Image& image, int outSpp, int outBps, const uint8_t* table)
{
  const int inBps = image.bps;
  const int w = image.w, h = image.h;
  const unsigned oldStride = image.stride();
  const uint64_t fill = rowFill(w, outSpp, outBps);
  uint8_t* out = allocRows(fill, h);
  const uint8_t* in = image.data;
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = in + (uint64_t)y * oldStride;
    uint8_t* d = out + (uint64_t)y * fill;
    if (outBps == 8) {
      for (int x = 0; x < w; ++x) {
        const uint8_t v = table[pixel_samples::packed(s, x, inBps)];
        for (int c = 0; c < outSpp; ++c)
          *d++ = v;
      }
    } else {
      memset(d, 0, fill);
      for (int x = 0; x < w; ++x)
        pixel_samples::orPacked(d, x, outBps, table[pixel_samples::packed(s, x, inBps)]);
    }
  }
  install(image, out, outSpp, outBps);
}

// 8-bit gray packed into N-bit samples, MSB first, in place; `level` maps
// the 8-bit value to the N-bit sample.
template <int N, typename F>
void packGray8(Image& image, F level)
{
  const int w = image.w, h = image.h;
  const unsigned oldStride = image.stride();
  const uint64_t fill = rowFill(w, 1, N);
  uint8_t* data = image.data;
  const int per = 8 / N;
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = data + (uint64_t)y * oldStride;
    uint8_t* d = data + (uint64_t)y * fill;
    int x = 0;
    // Output byte k is written after its source bytes k*per.. were read
    // and never lies past them, so packing forward in place is safe.
    for (uint64_t k = 0; k < fill; ++k) {
      unsigned byte = 0;
      for (int j = 0; j < per; ++j, ++x)
        if (x < w)
          byte |= (unsigned)level(s[x]) << (8 - N * (j + 1));
      d[k] = (uint8_t)byte;
    }
  }
  image.bps = N;
  settleTight(image);
}

} // namespace

const char* colorspace_name(const Image& image)
{
  switch (image.spp * image.bps) {
  case 1: return "gray1";
  case 2: return "gray2";
  case 4: return "gray4";
  case 8: return "gray8";
  case 16: return "gray16";
  case 24: return "rgb8";
  case 32: return "rgba8";
  case 48: return "rgb16";
  default: return "";
  }
}

void colorspace_16_to_8(Image& image)
{
  if (image.bps != 16 || !hasPixels(image))
    return;
  const unsigned oldStride = image.stride();
  const uint64_t fill = rowFill(image.w, image.spp, 8);
  uint8_t* data = image.data;
  for (int y = 0; y < image.h; ++y) {
    const uint8_t* s = data + (uint64_t)y * oldStride;
    uint8_t* d = data + (uint64_t)y * fill;
    for (uint64_t i = 0; i < fill; ++i)
      d[i] = (uint8_t)(load16(s + 2 * i) >> 8);
  }
  image.bps = 8;
  settleTight(image);
}

void colorspace_8_to_16(Image& image)
{
  if (image.bps != 8 || !hasPixels(image))
    return;
  const uint64_t oldStride = image.stride();
  const uint64_t newStride = 2 * oldStride;
  if (newStride > 0xffffffffull)
    throw std::overflow_error("stride overflow");
  const int h = image.h;
  uint8_t* p = (uint8_t*)::realloc(image.data, newStride * (uint64_t)h);
  if (!p)
    throw std::bad_alloc();
  image.data = p;
  // Backwards: every write lands at or after the byte it came from.
  for (int y = h - 1; y >= 0; --y) {
    const uint8_t* s = p + (uint64_t)y * oldStride;
    uint8_t* d = p + (uint64_t)y * newStride;
    for (int64_t i = (int64_t)oldStride - 1; i >= 0; --i)
      store16(d + 2 * i, (uint16_t)(s[i] * 257));
  }
  image.bps = 16;
  image.rowStride = newStride == image.stridefill() ? 0 : (unsigned)newStride;
  image.setRawData();
}

void colorspace_gray8_to_gray1(Image& image, uint8_t threshold)
{
  if (image.spp != 1 || image.bps != 8 || !hasPixels(image))
    return;
  packGray8<1>(image, [threshold](uint8_t v) { return v > threshold ? 1 : 0; });
}

void colorspace_gray8_to_gray2(Image& image)
{
  if (image.spp != 1 || image.bps != 8 || !hasPixels(image))
    return;
  packGray8<2>(image, [](uint8_t v) { return v >> 6; });
}

void colorspace_gray8_to_gray4(Image& image)
{
  if (image.spp != 1 || image.bps != 8 || !hasPixels(image))
    return;
  packGray8<4>(image, [](uint8_t v) { return v >> 4; });
}

void colorspace_gray1_to_gray2(Image& image)
{
  if (image.spp != 1 || image.bps != 1 || !hasPixels(image))
    return;
  static const uint8_t table[2] = {0, 3};
  expandBits(image, 1, 2, table);
}

void colorspace_gray1_to_gray4(Image& image)
{
  if (image.spp != 1 || image.bps != 1 || !hasPixels(image))
    return;
  static const uint8_t table[2] = {0, 15};
  expandBits(image, 1, 4, table);
}

static bool grayLevels(const Image& image, uint8_t table[16])
{
  if (image.spp != 1 || (image.bps != 1 && image.bps != 2 && image.bps != 4))
    return false;
  const int max = (1 << image.bps) - 1;
  for (int i = 0; i <= max; ++i)
    table[i] = (uint8_t)(i * 255 / max);
  return true;
}

void colorspace_grayX_to_gray8(Image& image)
{
  uint8_t table[16];
  if (!grayLevels(image, table) || !hasPixels(image))
    return;
  expandBits(image, 1, 8, table);
}

void colorspace_grayX_to_rgb8(Image& image)
{
  uint8_t table[16];
  if (!grayLevels(image, table) || !hasPixels(image))
    return;
  expandBits(image, 3, 8, table);
}

void colorspace_gray8_to_rgb8(Image& image)
{
  if (image.spp != 1 || image.bps != 8 || !hasPixels(image))
    return;
  const int w = image.w, h = image.h;
  const uint64_t s = image.stride();
  const uint64_t fill = rowFill(w, 3, 8);
  if (s <= fill) {
    // Filling backwards in place is safe only while no source row lies past
    // the target position of its first pixel, i.e. stride <= 3 w.
    uint8_t* p = (uint8_t*)::realloc(image.data, fill * (uint64_t)h);
    if (!p)
      throw std::bad_alloc();
    image.data = p;
    for (int y = h - 1; y >= 0; --y) {
      const uint8_t* src = p + (uint64_t)y * s;
      uint8_t* d = p + (uint64_t)y * fill;
      for (int x = w - 1; x >= 0; --x) {
        const uint8_t v = src[x];
        d[3 * x] = d[3 * x + 1] = d[3 * x + 2] = v;
      }
    }
    image.spp = 3;
    image.rowStride = 0;
    image.setRawData();
    return;
  }
  uint8_t* out = allocRows(fill, h);
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = image.data + (uint64_t)y * s;
    uint8_t* d = out + (uint64_t)y * fill;
    for (int x = 0; x < w; ++x)
      d[3 * x] = d[3 * x + 1] = d[3 * x + 2] = src[x];
  }
  install(image, out, 3, 8);
}

void colorspace_gray16_to_rgb16(Image& image)
{
  if (image.spp != 1 || image.bps != 16 || !hasPixels(image))
    return;
  const int w = image.w, h = image.h;
  const uint64_t s = image.stride();
  const uint64_t fill = rowFill(w, 3, 16);
  uint8_t* out = allocRows(fill, h);
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = image.data + (uint64_t)y * s;
    uint8_t* d = out + (uint64_t)y * fill;
    for (int x = 0; x < w; ++x) {
      memcpy(d + 6 * x, src + 2 * x, 2);
      memcpy(d + 6 * x + 2, src + 2 * x, 2);
      memcpy(d + 6 * x + 4, src + 2 * x, 2);
    }
  }
  install(image, out, 3, 16);
}

void colorspace_rgb8_to_gray8(Image& image, int bytesPerPixel, int wr, int wg, int wb)
{
  if ((bytesPerPixel != 3 && bytesPerPixel != 4) || image.spp != bytesPerPixel ||
      image.bps != 8 || !hasPixels(image))
    return;
  const int64_t sum = (int64_t)wr + wg + wb;
  if (sum == 0) {
    fprintf(stderr, "colorspace_rgb8_to_gray8: weights sum to 0\n");
    return;
  }
  const int w = image.w, h = image.h;
  const uint64_t s = image.stride();
  uint8_t* data = image.data;
  const int bpp = bytesPerPixel;
  if (wr >= 0 && wg >= 0 && wb >= 0 && sum <= 1024) {
    // Division by the weight sum as a multiply and shift, exact for every
    // dividend below 2^18 (255 * 1024 < 2^18).
    int l = 0;
    while ((1ll << l) < sum)
      ++l;
    const int shift = 18 + l;
    const uint64_t m = ((uint64_t)1 << shift) / (uint64_t)sum + 1;
    const uint32_t r = (uint32_t)wr, g = (uint32_t)wg, b = (uint32_t)wb;
    for (int y = 0; y < h; ++y) {
      const uint8_t* src = data + (uint64_t)y * s;
      uint8_t* d = data + (uint64_t)y * w;
      for (int x = 0; x < w; ++x, src += bpp) {
        const uint32_t n = src[0] * r + src[1] * g + src[2] * b;
        d[x] = (uint8_t)((n * m) >> shift);
      }
    }
  } else {
    for (int y = 0; y < h; ++y) {
      const uint8_t* src = data + (uint64_t)y * s;
      uint8_t* d = data + (uint64_t)y * w;
      for (int x = 0; x < w; ++x, src += bpp) {
        const int64_t v = ((int64_t)src[0] * wr + (int64_t)src[1] * wg + (int64_t)src[2] * wb) / sum;
        d[x] = (uint8_t)clamp_int<int64_t>(v, 0, 255);
      }
    }
  }
  image.spp = 1;
  settleTight(image);
}

void colorspace_rgb16_to_gray16(Image& image, int wr, int wg, int wb)
{
  if (image.spp != 3 || image.bps != 16 || !hasPixels(image))
    return;
  const int64_t sum = (int64_t)wr + wg + wb;
  if (sum == 0) {
    fprintf(stderr, "colorspace_rgb16_to_gray16: weights sum to 0\n");
    return;
  }
  const int w = image.w, h = image.h;
  const uint64_t s = image.stride();
  uint8_t* data = image.data;
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = data + (uint64_t)y * s;
    uint8_t* d = data + (uint64_t)y * 2 * w;
    for (int x = 0; x < w; ++x, src += 6) {
      const int64_t v = ((int64_t)load16(src) * wr + (int64_t)load16(src + 2) * wg +
                         (int64_t)load16(src + 4) * wb) / sum;
      store16(d + 2 * x, (uint16_t)clamp_int<int64_t>(v, 0, 65535));
    }
  }
  image.spp = 1;
  settleTight(image);
}

void colorspace_rgba8_to_rgb8(Image& image)
{
  if (image.spp != 4 || image.bps != 8 || !hasPixels(image))
    return;
  dropFourth(image, 0);
}

void colorspace_rgb8_to_rgba8(Image& image, uint8_t alpha)
{
  if (image.spp != 3 || image.bps != 8 || !hasPixels(image))
    return;
  const int w = image.w, h = image.h;
  const uint64_t s = image.stride();
  const uint64_t ns = s * 4 / 3;
  if (ns > 0xffffffffull)
    throw std::overflow_error("stride overflow");
  uint8_t* p = (uint8_t*)::realloc(image.data, ns * (uint64_t)h);
  if (!p)
    throw std::bad_alloc();
  image.data = p;
  // Backwards: a pixel's target lies at or after its source.
  for (int y = h - 1; y >= 0; --y) {
    const uint8_t* src = p + (uint64_t)y * s;
    uint8_t* d = p + (uint64_t)y * ns;
    for (int x = w - 1; x >= 0; --x) {
      const uint8_t r = src[3 * x], g = src[3 * x + 1], b = src[3 * x + 2];
      d[4 * x] = r; d[4 * x + 1] = g; d[4 * x + 2] = b; d[4 * x + 3] = alpha;
    }
  }
  image.spp = 4;
  image.rowStride = ns == image.stridefill() ? 0 : (unsigned)ns;
  image.setRawData();
}

void colorspace_gray8_threshold(Image& image, uint8_t threshold)
{
  if (image.spp != 1 || image.bps != 8 || !hasPixels(image))
    return;
  const uint64_t s = image.stride();
  for (int y = 0; y < image.h; ++y) {
    uint8_t* row = image.data + (uint64_t)y * s;
    for (int x = 0; x < image.w; ++x)
      row[x] = row[x] <= threshold ? 0 : 255;
  }
  image.setRawData();
}

void colorspace_gray8_denoise_neighbours(Image& image, bool full)
{
  if (image.spp != 1 || image.bps != 8 || !hasPixels(image))
    return;
  const int w = image.w, h = image.h;
  const uint64_t s = image.stride();
  std::vector<uint8_t> prev(w), cur(w);
  memcpy(cur.data(), image.data, w);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = image.data + (uint64_t)y * s;
    const uint8_t* next = y + 1 < h ? row + s : nullptr; // not yet changed
    for (int x = 0; x < w; ++x) {
      int sum = 0, count = 0;
      auto vote = [&](int v) { sum += v; ++count; };
      if (x > 0) vote(cur[x - 1]);
      if (y > 0) vote(prev[x]);
      if (x + 1 < w) vote(cur[x + 1]);
      if (next) vote(next[x]);
      if (full) {
        if (y > 0 && x > 0) vote(prev[x - 1]);
        if (y > 0 && x + 1 < w) vote(prev[x + 1]);
        if (next && x > 0) vote(next[x - 1]);
        if (next && x + 1 < w) vote(next[x + 1]);
      }
      if (!count)
        continue;
      if (full) {
        if (sum < 256)
          row[x] = 0;
        else if (sum >= (count - 1) * 255)
          row[x] = 255;
      } else {
        if (sum == 0)
          row[x] = 0;
        else if (sum == count * 255)
          row[x] = 255;
      }
    }
    prev.swap(cur);
    if (next)
      memcpy(cur.data(), next, w);
  }
  image.setRawData();
}

void realignImage(Image& image, unsigned stride)
{
  if (!hasPixels(image))
    return;
  const uint64_t fill = image.stridefill();
  if (stride < fill) {
    fprintf(stderr, "realignImage: stride %u below row size %llu\n", stride,
            (unsigned long long)fill);
    return;
  }
  const uint64_t old = image.stride();
  if (stride == old)
    return;
  const int h = image.h;
  if (stride > old) {
    image.resize(image.w, h, stride);
    for (int y = h - 1; y >= 1; --y)
      memmove(image.data + (uint64_t)y * stride, image.data + (uint64_t)y * old, old);
  } else {
    for (int y = 1; y < h; ++y)
      memmove(image.data + (uint64_t)y * stride, image.data + (uint64_t)y * old, stride);
    image.rowStride = stride == fill ? 0 : stride;
    if (uint8_t* p = (uint8_t*)::realloc(image.data, (uint64_t)stride * h))
      image.data = p;
  }
  image.setRawData();
}

bool colorspace_convert(Image& image, int spp, int bps, uint8_t threshold)
{
  const int tspp = spp, tbps = bps;
  if (!isPixelType(tspp, tbps)) {
    fprintf(stderr, "colorspace_convert: unsupported target spp: %d, bps: %d\n", tspp, tbps);
    return false;
  }

  if (!image.pixelsDirty && image.codec && tspp == 1 && tbps >= 8 && image.codec->toGray(image))
    return true;

  if (!hasPixels(image)) {
    image.spp = (uint8_t)tspp;
    image.bps = (uint8_t)tbps;
    image.rowStride = 0;
    return true;
  }
  if (!isPixelType(image.spp, image.bps)) {
    fprintf(stderr, "colorspace_convert: unsupported source spp: %d, bps: %d\n", (int)image.spp,
            (int)image.bps);
    return false;
  }

  if (image.bps == 1 && tbps == 2)
    colorspace_gray1_to_gray2(image);
  else if (image.bps == 1 && tbps == 4)
    colorspace_gray1_to_gray4(image);
  else if (image.bps < 8 && tbps >= 8)
    colorspace_grayX_to_gray8(image);

  if (image.bps < 8 && image.bps != tbps)
    colorspace_grayX_to_gray8(image);

  // Routes the single steps below would leave half done: gray16 to colour,
  // and RGBA8 to a 16-bit target.
  if (image.spp == 1 && image.bps == 16 && tspp >= 3) {
    if (tbps == 16)
      colorspace_gray16_to_rgb16(image);
    else
      colorspace_16_to_8(image);
  }
  if (image.spp == 4 && image.bps == 8 && tspp < 4 && tbps == 16)
    colorspace_rgba8_to_rgb8(image);

  if (image.bps == 8 && image.spp == 1 && tspp >= 3)
    colorspace_gray8_to_rgb8(image);
  if (image.bps == 8 && tbps == 16)
    colorspace_8_to_16(image);
  if (image.bps == 16 && tbps < 16)
    colorspace_16_to_8(image);
  if (image.spp == 4 && tspp < 4 && image.bps == 8) {
    if (tspp >= 3)
      colorspace_rgba8_to_rgb8(image);
    else
      colorspace_rgb8_to_gray8(image, 4, 30, 59, 11);
  }
  if (image.spp == 3 && tspp == 4 && image.bps == 8)
    colorspace_rgb8_to_rgba8(image, 255);
  if (image.spp == 3 && tspp == 1) {
    if (image.bps == 16)
      colorspace_rgb16_to_gray16(image, 30, 59, 11);
    else if (image.bps == 8)
      colorspace_rgb8_to_gray8(image, 3, 30, 59, 11);
  }
  if (tspp == 1 && image.bps > tbps && image.bps == 8) {
    if (tbps == 1)
      colorspace_gray8_to_gray1(image, threshold);
    else if (tbps == 2)
      colorspace_gray8_to_gray2(image);
    else if (tbps == 4)
      colorspace_gray8_to_gray4(image);
  }

  if (image.spp == tspp && image.bps == tbps)
    return true;
  // Every pair of the eight types is covered above; reaching this means a
  // step refused, and the pixels are left as they are in the type they are.
  fprintf(stderr,
          "Incomplete colorspace conversion. Requested: spp: %d, bps: %d - now at spp: %d, bps: %d\n",
          tspp, tbps, (int)image.spp, (int)image.bps);
  return false;
}

bool colorspace_by_name(Image& image, const std::string& name, uint8_t threshold)
{
  std::string n = name;
  for (char& c : n)
    c = (char)tolower((unsigned char)c);
  int spp = 0, bps = 0;
  if (n == "bw" || n == "bilevel" || n == "gray1") { spp = 1; bps = 1; }
  else if (n == "gray2") { spp = 1; bps = 2; }
  else if (n == "gray4") { spp = 1; bps = 4; }
  else if (n == "gray" || n == "gray8") { spp = 1; bps = 8; }
  else if (n == "gray16") { spp = 1; bps = 16; }
  else if (n == "rgb" || n == "rgb8") { spp = 3; bps = 8; }
  else if (n == "rgba" || n == "rgba8") { spp = 4; bps = 8; }
  else if (n == "rgb16") { spp = 3; bps = 16; }
  else {
    fprintf(stderr, "Requested colorspace conversion not yet implemented.\n");
    return false;
  }
  return colorspace_convert(image, spp, bps, threshold);
}
