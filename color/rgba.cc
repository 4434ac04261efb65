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

// The image's colours as tight RGB8 rows (gray replicated, 16-bit samples
// reduced to their high byte, alpha dropped).
std::vector<uint8_t> rgb8Of(Image& image)
{
  std::vector<uint8_t> out((size_t)image.w * (size_t)image.h * 3);
  const bool wide = image.bps == 16;
  Image::iterator base(&image, false);
  uint8_t* d = out.data();
  for (int y = 0; y < image.h; ++y) {
    Image::iterator it = base.at(0, y);
    for (int x = 0; x < image.w; ++x, ++it) {
      *it;
      const bool colour = it.channels() >= 3;
      for (int c = 0; c < 3; ++c) {
        const int v = it.value[colour ? c : 0];
        *d++ = (uint8_t)(wide ? v >> 8 : v);
      }
    }
  }
  return out;
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

} // namespace

// Everything is built in new buffers and swapped in at the end, so that an
// allocation failure leaves the image as it was.
void rgbaFromImage(Image& image, Image& mask, bool invert)
{
  if (image.empty() || mask.empty()) {
    fprintf(stderr, "rgbaFromImage: image or mask without pixels\n");
    return;
  }
  if (!image.Type() || !mask.Type())
    return;
  const int iw = image.w, ih = image.h, mw = mask.w, mh = mask.h;
  // The image takes the mask's size when it is smaller in either direction;
  // otherwise the mask is brought to the image's.
  const bool scaleImage = iw < mw || ih < mh;
  const int W = scaleImage ? mw : iw, H = scaleImage ? mh : ih;
  const uint64_t size = bufferSize(4 * (uint64_t)W, H);
  uint8_t* out = size ? (uint8_t*)malloc(size) : nullptr;
  if (!out) {
    fprintf(stderr, "rgbaFromImage: out of memory\n");
    return;
  }
  try {
    // Colours: the image's own RGB8 rows, or a converted and resampled copy.
    std::vector<uint8_t> rgb;
    const uint8_t* src = image.getRawData();
    uint64_t srcStride = image.stride();
    if (!(image.spp == 3 && image.bps == 8)) {
      rgb = rgb8Of(image);
      src = rgb.data();
      srcStride = 3 * (uint64_t)iw;
    }
    if (scaleImage) {
      std::vector<uint8_t> scaled((size_t)W * (size_t)H * 3);
      resampleBytes(src, srcStride, iw, ih, scaled.data(), W, H, 3);
      rgb.swap(scaled);
      src = rgb.data();
      srcStride = 3 * (uint64_t)W;
    }

    // Alpha from the mask's luminance (16-bit masks by their high byte),
    // resampled to the image's size when the mask is smaller.
    std::vector<uint8_t> alpha((size_t)mw * (size_t)mh);
    Image::iterator base(&mask, false);
    const bool wide = mask.bps == 16;
    for (int y = 0; y < mh; ++y) {
      Image::iterator it = base.at(0, y);
      for (int x = 0; x < mw; ++x, ++it) {
        *it;
        const unsigned L = it.getL();
        const uint8_t a = (uint8_t)(wide ? L >> 8 : L);
        alpha[(size_t)y * mw + x] = invert ? (uint8_t)~a : a;
      }
    }
    if (mw != W || mh != H) {
      std::vector<uint8_t> scaled((size_t)W * (size_t)H);
      resampleBytes(alpha.data(), (uint64_t)mw, mw, mh, scaled.data(), W, H, 1);
      alpha.swap(scaled);
    }

    for (int y = 0; y < H; ++y) {
      const uint8_t* p = src + (uint64_t)y * srcStride;
      const uint8_t* a = alpha.data() + (size_t)y * W;
      uint8_t* d = out + (uint64_t)y * 4 * W;
      for (int x = 0; x < W; ++x, p += 3, d += 4) {
        d[0] = p[0];
        d[1] = p[1];
        d[2] = p[2];
        d[3] = a[x];
      }
    }
  } catch (const std::bad_alloc&) {
    free(out);
    fprintf(stderr, "rgbaFromImage: out of memory\n");
    return;
  }

  image.setRawData(out);
  image.w = W;
  image.h = H;
  image.spp = 4;
  image.bps = 8;
  image.rowStride = 0;
  if (scaleImage)
    image.setResolution((int)((int64_t)image.resX * W / iw), (int)((int64_t)image.resY * H / ih));
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
