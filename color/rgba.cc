// RGBA8 images from an image and a mask: rgbaFromImage takes alpha from the
// mask's luminance, mask2rgba paints a one-bit mask in one colour.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

#include "color/ColorManagement.hh"
#include "image/Colorspace.hh"
#include "image/Image.hh"
#include "image/Scale.hh"

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

} // namespace

// The colours and the mask are brought to one size on copies where needed
// and the result is built in a new buffer swapped in at the end, so that a
// failure (out of memory) leaves the image as it was.
void rgbaFromImage(Image& image, Image& mask, bool invert)
{
  if (image.empty() || mask.empty()) {
    fprintf(stderr, "rgbaFromImage: image or mask without pixels\n");
    return;
  }
  uint8_t* out = nullptr;
  try {
    // The image takes the mask's size when it is smaller in either
    // direction; otherwise a copy of the mask is brought to the image's.
    const bool scaleImage = image.w < mask.w || image.h < mask.h;
    Image colours;
    const Image* src = &image;
    if (!(image.spp == 3 && image.bps == 8) || scaleImage) {
      colours = image;
      colorspace_by_name(colours, "rgb", 127);
      if (scaleImage)
        bilinear_scale(colours, mask.w, mask.h, true);
      src = &colours;
    }
    if (src->spp != 3 || src->bps != 8)
      return; // the conversion said why
    const int W = src->w, H = src->h;
    Image scaledMask;
    const Image* m = &mask;
    if (mask.w != W || mask.h != H) {
      scaledMask = mask;
      bilinear_scale(scaledMask, W, H, true);
      m = &scaledMask;
    }
    if (m->w != W || m->h != H)
      fprintf(stderr, "warning: imprecise scaling! %d %d %d %d\n", W, H, m->w, m->h);

    const uint64_t size = bufferSize(4 * (uint64_t)W, H);
    out = size ? (uint8_t*)malloc(size) : nullptr;
    if (!out)
      throw std::bad_alloc();
    // Rows pair up from their right ends; pixels the mask does not reach
    // stay opaque.
    const uint8_t* colour = src->getRawData();
    const uint64_t stride = src->stride();
    Image::const_iterator it(m, false);
    const bool wide = m->bps == 16;
    for (int y = 0; y < H; ++y) {
      const uint8_t* p = colour + (uint64_t)y * stride;
      uint8_t* d = out + (uint64_t)y * 4 * W;
      const int shift = m->w - W;
      for (int x = 0; x < W; ++x, p += 3, d += 4) {
        d[0] = p[0];
        d[1] = p[1];
        d[2] = p[2];
        const int mx = x + shift;
        if (y >= m->h || mx < 0 || mx >= m->w) {
          d[3] = 255;
          continue;
        }
        Image::const_iterator at = it.at(mx, y);
        *at;
        const unsigned L = at.getL();
        const uint8_t a = (uint8_t)(wide ? L >> 8 : L);
        d[3] = invert ? (uint8_t)~a : a;
      }
    }
    const int resX = src->resX, resY = src->resY;
    image.setRawData(out);
    image.w = W;
    image.h = H;
    image.spp = 4;
    image.bps = 8;
    image.rowStride = 0;
    image.setResolution(resX, resY);
  } catch (const std::exception& e) {
    free(out);
    fprintf(stderr, "rgbaFromImage: %s\n", e.what());
  }
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
