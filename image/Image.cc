// The raster model: geometry, buffer ownership and lazy decoding.
#include "image/Image.hh"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

Image::Image()
  : pixelsDirty(false), metaDirty(false), resX(0), resY(0), codec(nullptr),
    data(nullptr), w(0), h(0), bps(0), spp(0), rowStride(0)
{
}

Image::Image(Image& other) : Image()
{
  operator=(other);
}

Image::~Image()
{
  delete codec;
  codec = nullptr;
  free(data);
  data = nullptr;
}

Image& Image::operator=(const Image& other)
{
  if (this == &other)
    return *this;

  const uint8_t* p = other.getRawData(); // may decode the source first
  const unsigned srcStride = other.stride();
  const uint64_t fill = other.stridefill();
  const uint64_t size = other.h > 0 ? fill * (uint64_t)other.h : 0;

  uint8_t* nd = data;
  if (!p) {
    // Nothing to copy: geometry only, and no uninitialised buffer.
    free(data);
    nd = nullptr;
  } else if (size) {
    nd = (uint8_t*)malloc(size);
    if (!nd)
      throw std::bad_alloc();
    for (int y = 0; y < other.h; ++y)
      memcpy(nd + (uint64_t)y * fill, p + (uint64_t)y * srcStride, fill);
    free(data);
  }

  data = nd;
  w = other.w;
  h = other.h;
  bps = other.bps;
  spp = other.spp;
  rowStride = 0;
  resX = other.resX;
  resY = other.resY;
  pixelsDirty = true;
  return *this;
}

void Image::copyMeta(const Image& other)
{
  w = other.w;
  h = other.h;
  bps = other.bps;
  spp = other.spp;
  rowStride = other.rowStride;
  resX = other.resX;
  resY = other.resY;
}

void Image::copyTransferOwnership(Image& other)
{
  if (this == &other)
    return;
  // Fetch first: a lazily decoding codec may still set the geometry.
  uint8_t* p = other.getRawData();
  copyMeta(other);
  other.data = nullptr;
  other.pixelsDirty = true;
  setRawData(p);
}

uint8_t* Image::getRawData() const
{
  if (!data && codec) {
    Image* self = const_cast<Image*>(this);
    codec->decodeNow(self);
    if (data)
      self->pixelsDirty = false;
  }
  return data;
}

uint8_t* Image::getRawDataEnd() const
{
  uint8_t* p = getRawData();
  if (!p)
    return p;
  return p + (uint64_t)stride() * (uint64_t)(h > 0 ? h : 0);
}

void Image::setRawData(uint8_t* p)
{
  if (data && data != p)
    free(data);
  data = p;
  pixelsDirty = true;
}

void Image::setRawDataWithoutDelete(uint8_t* p)
{
  data = p;
  pixelsDirty = true;
}

static uint64_t rowBytes(int w, int spp, int bps)
{
  const int64_t bits = (int64_t)spp * (int64_t)w * (int64_t)bps;
  if (bits < 0)
    throw std::overflow_error("stride overflow");
  const uint64_t bytes = ((uint64_t)bits + 7) / 8;
  if (bytes > 0xffffffffull)
    throw std::overflow_error("stride overflow");
  return bytes;
}

unsigned Image::stridefill() const
{
  return (unsigned)rowBytes(w, spp, bps);
}

bool Image::resize(int _w, int _h, unsigned _stride)
{
  // Validate everything before touching the image.
  const uint64_t fill = rowBytes(_w, spp, bps);
  if (_h < 0)
    throw std::overflow_error("negative height");
  if (_stride && _stride < fill)
    throw std::overflow_error("stride too small for fill");
  const unsigned newRowStride = (_stride == fill) ? 0 : _stride;
  const uint64_t rowLen = newRowStride ? newRowStride : fill;
  const uint64_t size = rowLen * (uint64_t)_h;

  const int oldW = w, oldH = h;
  const unsigned oldStride = rowStride;
  w = _w;
  h = _h;
  rowStride = newRowStride;
  if (size == 0)
    return true;

  uint8_t* nd = (uint8_t*)::realloc(data, size);
  if (!nd) {
    if ((int64_t)_w * _h == 0)
      return true;
    w = oldW;
    h = oldH;
    rowStride = oldStride;
    throw std::bad_alloc();
  }
  data = nd;
  pixelsDirty = true;
  return true;
}

void Image::restride(unsigned n)
{
  const unsigned fill = stridefill();
  if (n < fill)
    throw std::overflow_error("new stride too small for fill");
  const unsigned old = stride();
  if (n == old)
    return;
  uint8_t* p = getRawData();
  if (!p || h <= 0) {
    rowStride = (n == fill) ? 0 : n;
    return;
  }
  if (n > old) {
    resize(w, h, n);
    for (int y = h - 1; y >= 1; --y)
      memmove(data + (uint64_t)y * n, data + (uint64_t)y * old, fill);
  } else {
    for (int y = 1; y < h; ++y)
      memmove(data + (uint64_t)y * n, data + (uint64_t)y * old, fill);
    rowStride = (n == fill) ? 0 : n;
  }
  setRawData();
}

void Image::realloc()
{
  uint8_t* p = getRawData();
  if (!p)
    return;
  const uint64_t size = (uint64_t)stride() * (uint64_t)(h > 0 ? h : 0);
  uint8_t* copy = size ? (uint8_t*)malloc(size) : nullptr;
  if (!copy) {
    resize(w, h, 0);
    return;
  }
  memcpy(copy, p, size);
  setRawData(copy);
}

Image::type_t Image::Type() const
{
  switch (spp * bps) {
  case 1: return GRAY1;
  case 2: return GRAY2;
  case 4: return GRAY4;
  case 8: return GRAY8;
  case 16: return GRAY16;
  case 24: return RGB8;
  case 32: return RGBA8;
  case 48: return RGB16;
  default:
    fprintf(stderr, "unhandled spp/bps in image/Image.hh:265\n");
    return (type_t)0;
  }
}

void Image::setCodec(ImageCodec* c)
{
  if (c == codec)
    return;
  delete codec;
  codec = c;
  if (c) {
    pixelsDirty = false;
    metaDirty = false;
  }
}
