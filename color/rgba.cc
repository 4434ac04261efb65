// RGBA8 images from an image and a mask: rgbaFromImage takes alpha from the
// mask's luminance, mask2rgba paints a one-bit mask in one colour.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "color/Colorspace2.hh"
#include "image/Image.hh"

namespace {

// Buffer size of h rows of `row` bytes, or 0 when it does not fit the
// address space.
uint64_t bufferSize(uint64_t row, int h)
{
  if (h <= 0 || row == 0)
    return 0;
  if (row > (uint64_t)SIZE_MAX / (uint64_t)h)
    return 0;
  return row * (uint64_t)h;
}

// The image as tight RGB8 rows in a new buffer (gray replicated, 16-bit
// samples reduced to their high byte, alpha dropped).
bool toRGB8(Image& image)
{
  if (image.spp == 3 && image.bps == 8)
    return true;
  if (!image.Type())
    return false;
  const uint64_t size = bufferSize(3 * (uint64_t)image.w, image.h);
  uint8_t* out = size ? (uint8_t*)malloc(size) : nullptr;
  if (!out)
    return false;
  const bool wide = image.bps == 16;
  Image::iterator base(&image, false);
  uint8_t* d = out;
  for (int y = 0; y < image.h; ++y) {
    Image::iterator it = base.at(0, y);
    for (int x = 0; x < image.w; ++x, ++it) {
      *it;
      const int n = it.channels() >= 3 ? 3 : 1;
      for (int c = 0; c < 3; ++c) {
        const int v = it.value[n == 3 ? c : 0];
        *d++ = (uint8_t)(wide ? v >> 8 : v);
      }
    }
  }
  image.setRawData(out);
  image.spp = 3;
  image.bps = 8;
  image.rowStride = 0;
  return true;
}

// Bilinear resampling of `ch` interleaved byte channels, pixel centres
// aligned.
void resampleBytes(const uint8_t* src, uint64_t srcStride, int sw, int sh, uint8_t* dst,
                   int dw, int dh, int ch)
{
  std::vector<int> x0(dw), x1(dw);
  std::vector<float> fx(dw);
  for (int x = 0; x < dw; ++x) {
    float s = ((float)x + 0.5f) * sw / dw - 0.5f;
    if (s < 0)
      s = 0;
    x0[x] = (int)s;
    if (x0[x] > sw - 1)
      x0[x] = sw - 1;
    x1[x] = x0[x] + 1 < sw ? x0[x] + 1 : x0[x];
    fx[x] = s - x0[x];
  }
  for (int y = 0; y < dh; ++y) {
    float s = ((float)y + 0.5f) * sh / dh - 0.5f;
    if (s < 0)
      s = 0;
    int y0 = (int)s;
    if (y0 > sh - 1)
      y0 = sh - 1;
    const int y1 = y0 + 1 < sh ? y0 + 1 : y0;
    const float fy = s - y0;
    const uint8_t* r0 = src + (uint64_t)y0 * srcStride;
    const uint8_t* r1 = src + (uint64_t)y1 * srcStride;
    uint8_t* d = dst + (uint64_t)y * dw * ch;
    for (int x = 0; x < dw; ++x)
      for (int c = 0; c < ch; ++c) {
        const float top = r0[x0[x] * ch + c] * (1 - fx[x]) + r0[x1[x] * ch + c] * fx[x];
        const float bot = r1[x0[x] * ch + c] * (1 - fx[x]) + r1[x1[x] * ch + c] * fx[x];
        *d++ = (uint8_t)(top * (1 - fy) + bot * fy + 0.5f);
      }
  }
}

// Resamples an RGB8 image to w x h, scaling its resolution along.
bool scaleRGB8(Image& image, int w, int h)
{
  const uint64_t size = bufferSize(3 * (uint64_t)w, h);
  uint8_t* out = size ? (uint8_t*)malloc(size) : nullptr;
  if (!out)
    return false;
  resampleBytes(image.getRawData(), image.stride(), image.w, image.h, out, w, h, 3);
  const int ow = image.w, oh = image.h;
  image.setRawData(out);
  image.rowStride = 0;
  image.w = w;
  image.h = h;
  image.setResolution((int)((int64_t)image.resX * w / ow), (int)((int64_t)image.resY * h / oh));
  return true;
}

} // namespace

void rgbaFromImage(Image& image, Image& mask, bool invert)
{
  if (image.empty() || mask.empty()) {
    fprintf(stderr, "rgbaFromImage: image or mask without pixels\n");
    return;
  }
  if (!mask.Type())
    return;
  if (!toRGB8(image)) {
    fprintf(stderr, "rgbaFromImage: cannot convert the image to RGB\n");
    return;
  }
  const int mw = mask.w, mh = mask.h;
  if ((image.w < mw || image.h < mh) && !scaleRGB8(image, mw, mh)) {
    fprintf(stderr, "rgbaFromImage: out of memory\n");
    return;
  }
  const int W = image.w, H = image.h;

  // Alpha plane from the mask's luminance (16-bit masks by their high
  // byte), resampled to the image's size when the mask is smaller.
  std::vector<uint8_t> alpha;
  try {
    std::vector<uint8_t> lum((size_t)mw * (size_t)mh);
    Image::iterator base(&mask, false);
    const bool wide = mask.bps == 16;
    for (int y = 0; y < mh; ++y) {
      Image::iterator it = base.at(0, y);
      for (int x = 0; x < mw; ++x, ++it) {
        *it;
        const unsigned L = it.getL();
        const uint8_t a = (uint8_t)(wide ? L >> 8 : L);
        lum[(size_t)y * mw + x] = invert ? (uint8_t)~a : a;
      }
    }
    if (mw == W && mh == H) {
      alpha.swap(lum);
    } else {
      alpha.resize((size_t)W * (size_t)H);
      resampleBytes(lum.data(), (uint64_t)mw, mw, mh, alpha.data(), W, H, 1);
    }
  } catch (const std::bad_alloc&) {
    fprintf(stderr, "rgbaFromImage: out of memory\n");
    return;
  }

  // Widened in its own buffer, last pixel first, so no source byte is
  // overwritten before it is read; rows padded by more than a quarter go
  // to a new buffer instead.
  const uint64_t S = image.stride();
  const uint64_t S4 = 4 * (uint64_t)W;
  const uint64_t size = bufferSize(S4, H);
  if (!size) {
    fprintf(stderr, "rgbaFromImage: image too large\n");
    return;
  }
  uint8_t* src = image.getRawData();
  uint8_t* dst;
  if (S <= S4) {
    dst = (uint8_t*)realloc(src, size);
    src = dst;
  } else {
    dst = (uint8_t*)malloc(size);
  }
  if (!dst) {
    fprintf(stderr, "rgbaFromImage: out of memory\n");
    return;
  }
  for (int y = H - 1; y >= 0; --y)
    for (int x = W - 1; x >= 0; --x) {
      uint8_t* d = dst + y * S4 + 4 * (uint64_t)x;
      const uint8_t* p = src + y * S + 3 * (uint64_t)x;
      d[3] = alpha[(size_t)y * W + x];
      d[2] = p[2];
      d[1] = p[1];
      d[0] = p[0];
    }
  if (dst != src)
    free(src);
  image.data = dst;
  image.spp = 4;
  image.bps = 8;
  image.rowStride = 0;
  image.setRawData();
}

void mask2rgba(Image& image, unsigned char r, unsigned char g, unsigned char b)
{
  if (image.spp != 1 || image.bps != 1) {
    fprintf(stderr, "no 1 bit mask\n");
    return;
  }
  const uint8_t* bits = image.getRawData();
  if (!bits || image.w <= 0 || image.h <= 0)
    return;
  const uint64_t size = bufferSize(4 * (uint64_t)image.w, image.h);
  uint8_t* out = size ? (uint8_t*)malloc(size) : nullptr;
  if (!out) {
    fprintf(stderr, "mask2rgba: out of memory\n");
    return;
  }
  const uint64_t stride = image.stride();
  uint8_t* d = out;
  for (int y = 0; y < image.h; ++y) {
    const uint8_t* row = bits + (uint64_t)y * stride;
    for (int x = 0; x < image.w; ++x, d += 4) {
      d[0] = r;
      d[1] = g;
      d[2] = b;
      d[3] = (row[x >> 3] >> (7 - (x & 7))) & 1 ? 255 : 0;
    }
  }
  image.setRawData(out);
  image.spp = 4;
  image.bps = 8;
  image.rowStride = 0;
}
