// The codec interface as the image core sees it: an attached codec still
// holds the encoded source and may perform some operations on it directly.
#pragma once

class Image;

class ImageCodec {
public:
  virtual ~ImageCodec() {}

  // Fills the image's buffer and geometry from the encoded source.
  virtual void decodeNow(Image* image) { (void)image; }

  // Operations on still-encoded data; true = done, the caller touches no
  // pixels. Offered only while the image's pixels are unchanged.
  virtual bool flipX(Image& image) { (void)image; return false; }
  virtual bool flipY(Image& image) { (void)image; return false; }
  virtual bool rotate(Image& image, double angle) { (void)image; (void)angle; return false; }
  virtual bool crop(Image& image, unsigned x, unsigned y, unsigned w, unsigned h)
  { (void)image; (void)x; (void)y; (void)w; (void)h; return false; }
  virtual bool toGray(Image& image) { (void)image; return false; }
  // sx, sy are factors, or the new width and height when fixed is true.
  virtual bool scale(Image& image, double sx, double sy, bool fixed)
  { (void)image; (void)sx; (void)sy; (void)fixed; return false; }
};
