// The PNG codec: reads gray, gray + alpha, RGB, RGBA (8 and 16 bits, gray
// also 1, 2 and 4 bits) and 8-bit palette files, interlaced or not, and the
// CgBI variant; writes every pixel type with its resolution.
#pragma once

#include "image/ImageCodec.hh"

class PNG2Codec : public ImageCodec {
public:
  // The default constructor registers the instance (the static prototype).
  PNG2Codec();
  ~PNG2Codec() override;

  std::string getID() override { return "PNG"; }
  using ImageCodec::readImage;
  int readImage(std::istream* stream, Image& image, const std::string& decompress) override;
  bool writeImage(std::ostream* stream, Image& image, int quality,
                  const std::string& compress) override;
};
