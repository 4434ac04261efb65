// Cropping in place: rows are packed toward the start of the buffer.
#include "image/Crop.hh"

#include <cstdio>
#include <cstring>

void crop(Image& image, int x, int y, unsigned int w, unsigned int h)
{
  const int W = image.w, H = image.h;
  if (W <= 0 || H <= 0)
    return;

  // Done in 64 bits: a size smaller than the overhang means nothing of the
  // rectangle lies on the image.
  int64_t cx = x, cy = y, cw = w, ch = h;
  if (cx < 0) {
    cw += cx;
    cx = 0;
  }
  if (cy < 0) {
    ch += cy;
    cy = 0;
  }
  if (cw < 0 || ch < 0) {
    fprintf(stderr, "crop: rectangle %d,%d %ux%u outside the image\n", x, y, w, h);
    return;
  }
  if (cx > W - 1)
    cx = W - 1;
  if (cy > H - 1)
    cy = H - 1;
  if (cw > W - cx)
    cw = W - cx;
  if (ch > H - cy)
    ch = H - cy;

  if (cx == 0 && cy == 0 && cw == W && ch == H)
    return;
  if (!image.pixelsDirty && image.codec &&
      image.codec->crop(image, (unsigned)cx, (unsigned)cy, (unsigned)cw, (unsigned)ch))
    return;
  uint8_t* data = image.getRawData();
  if (!data)
    return;

  if (cx == 0 && cy == 0 && cw == W) {
    image.h = (int)ch;
    image.setRawData();
    return;
  }

  // Whole bytes per pixel: plain row moves. Sub-byte samples: each row
  // shifted by its bit offset; the same result as a round trip through 8-bit
  // gray, without the eightfold buffer.
  const int bpp = image.spp * image.bps;
  const uint64_t stride = image.stride();
  const uint64_t nfill = ((uint64_t)cw * bpp + 7) / 8;
  for (int64_t i = 0; i < ch; ++i) {
    const uint8_t* src = data + (uint64_t)(cy + i) * stride;
    uint8_t* dst = data + (uint64_t)i * nfill;
    if (bpp % 8 == 0) {
      memmove(dst, src + (uint64_t)cx * (bpp / 8), nfill);
      continue;
    }
    const uint64_t bit = (uint64_t)cx * bpp;
    src += bit / 8;
    const int shift = (int)(bit % 8);
    const uint64_t rowBits = (uint64_t)cw * bpp;
    const uint64_t srcBytes = (shift + rowBits + 7) / 8; // never past the row
    // The destination never lies past the source byte being read, so the
    // forward walk is safe in place.
    for (uint64_t k = 0; k < nfill; ++k) {
      const unsigned lo = src[k];
      const unsigned hi = k + 1 < srcBytes ? src[k + 1] : 0;
      dst[k] = (uint8_t)((lo << shift) | (hi >> (8 - shift)));
    }
    // Padding bits of the last byte cleared, as a fresh row would have them.
    if (rowBits % 8)
      dst[nfill - 1] &= (uint8_t)(0xff << (8 - rowBits % 8));
  }
  image.w = (int)cw;
  image.h = (int)ch;
  image.rowStride = 0;
  image.setRawData();
}

void fastAutoCrop(Image& image)
{
  if (image.w <= 0 || image.h <= 0)
    return;
  const uint8_t* data = image.getRawData();
  if (!data)
    return;
  const uint64_t stride = image.stride(), fill = image.stridefill();
  const uint8_t* last = data + (uint64_t)(image.h - 1) * stride;
  for (int y = image.h - 2; y >= 0; --y)
    if (memcmp(data + (uint64_t)y * stride, last, fill) != 0) {
      crop(image, 0, 0, image.w, y + 1);
      return;
    }
}
