#include "codecs/pdf_probe.hh"

#include <cstring>
#include <iostream>

PDFProbe::PDFProbe()
{
  registerCodec("pdf", this);
}

PDFProbe::~PDFProbe() {}

int PDFProbe::readImage(std::istream* stream, Image& image, const std::string& decompress)
{
  (void)image;
  (void)decompress;
  char head[5] = {};
  stream->read(head, sizeof head);
  const bool isPDF = stream->gcount() == (std::streamsize)sizeof head &&
                     memcmp(head, "%PDF-", sizeof head) == 0;
  stream->clear();
  stream->seekg(0);
  if (isPDF)
    std::cerr << "unsupported: reading PDF files" << std::endl;
  return 0;
}

bool PDFProbe::writeImage(std::ostream* stream, Image& image, int quality,
                          const std::string& compress)
{
  (void)stream;
  (void)image;
  (void)quality;
  (void)compress;
  std::cerr << "unsupported: writing PDF files" << std::endl;
  return false;
}
