// The raster every part of the engine works on: w x h pixels of spp samples
// of bps bits, a malloc-owned buffer and an optional attached codec that
// decodes the pixels on first access.
#pragma once

#include <cstdint>
#include <string>

#include "image/ImageCodec.hh"

class Image {
public:
  typedef enum {
    GRAY1 = 1,
    GRAY2,
    GRAY4,
    GRAY8,
    GRAY16,
    RGB8,
    RGBA8,
    RGB16,
  } type_t;

  class iterator;
  class const_iterator;

  // Fields, in this order; public by design, codecs and operations read
  // and set them directly.
  uint8_t pixelsDirty; // pixels differ from what the codec holds
  uint8_t metaDirty;   // resolution differs from what the codec holds
  int resX, resY;      // dots per inch, 0 = not given
  std::string decoderId;
  ImageCodec* codec;   // owned
  uint8_t* data;       // owned, system allocator
  int w, h;
  uint8_t bps, spp;
  unsigned rowStride;  // 0 = tight rows of stridefill() bytes

  Image();
  Image(Image& other);
  ~Image();

  Image& operator=(const Image& other);

  void copyMeta(const Image& other);
  void copyTransferOwnership(Image& other);

  uint8_t* getRawData() const;
  uint8_t* getRawDataEnd() const;
  void setRawData() { pixelsDirty = true; }
  void setRawData(uint8_t* p);
  void setRawDataWithoutDelete(uint8_t* p);

  // Sets the geometry for the current bps/spp and reallocates. Throws
  // std::overflow_error on an impossible geometry and std::bad_alloc when
  // memory runs out; the image is unchanged in both cases.
  bool resize(int w, int h, unsigned stride = 0);
  void restride(unsigned stride);
  void realloc();

  // Bytes of pixel data in one row; throws "stride overflow" past 32 bits.
  unsigned stridefill() const;
  unsigned stride() const { return rowStride ? rowStride : stridefill(); }
  type_t Type() const;

  // True when there is nothing to work on: no size or no pixels.
  bool empty() const { return w <= 0 || h <= 0 || !getRawData(); }

  ImageCodec* getCodec() { return codec; }
  void setCodec(ImageCodec* c);
  void setDecoderID(const std::string& id) { decoderId = id; }
  const std::string& getDecoderID() const { return decoderId; }

  int width() const { return w; }
  int height() const { return h; }
  int bitsPerSample() const { return bps; }
  int samplesPerPixel() const { return spp; }
  int bitsPerPixel() const { return bps * spp; }
  int resolutionX() const { return resX; }
  int resolutionY() const { return resY; }
  void setResolution(int x, int y)
  {
    if (x != resX || y != resY)
      metaDirty = true;
    resX = x;
    resY = y;
  }
  void setResolutionX(int x) { setResolution(x, resY); }
  void setResolutionY(int y) { setResolution(resX, y); }
};

#include "image/ImageIterator.hh"
