// Stand-in for the PDF codec's registry entry until PDF reading exists: it
// recognises PDF data and declines it cleanly, so the other codecs are
// probed as usual and a PDF file fails with one clear line.
#pragma once

#include "codecs/ImageCodec.hh"

class PDFProbe : public ImageCodec {
public:
  PDFProbe();
  ~PDFProbe() override;

  std::string getID() override { return "PDF"; }
  using ImageCodec::readImage;
  int readImage(std::istream* stream, Image& image, const std::string& decompress) override;
  bool writeImage(std::ostream* stream, Image& image, int quality,
                  const std::string& compress) override;
};
