// The TIFF codec: reads any page of a TIFF file (strips or tiles, chunky
// or planar, uncompressed, CCITT, LZW, deflate, PackBits, predictor 2,
// palettes, IEEE float samples) and writes single pages, multi-page files
// and pages appended to an existing file. Also the byte-order-aware field
// routines shared by both halves.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "image/ImageCodec.hh"

class TIFF2Codec : public ImageCodec {
public:
  // The default constructor registers the instance (the static prototype).
  TIFF2Codec();
  // A write instance on stream; registers nothing.
  explicit TIFF2Codec(std::ostream* stream);
  ~TIFF2Codec() override;

  std::string getID() override { return "TIF"; }
  using ImageCodec::readImage;
  int readImage(std::istream* stream, Image& image, const std::string& decompress,
                int index) override;
  bool writeImage(std::ostream* stream, Image& image, int quality,
                  const std::string& compress) override;
  ImageCodec* instanciateForWrite(std::ostream* stream, const std::string& compress) override;
  bool Write(Image& image, int quality, const std::string& compress, int index) override;

  // 0 on failure; the page count when index is 0, else 1. forAppend: decode
  // nothing, leave the stream after the last IFD's next-IFD field and
  // return the page count.
  int readImageImpl(std::istream* stream, Image& image, const std::string& decompress, int index,
                    bool forAppend);
  bool writeImageImpl(std::ostream* stream, const Image& image, int quality,
                      const std::string& compress, int index);

protected:
  std::ostream* stream;
  // Output that cannot seek: pages are built here and copied to `target`
  // when the writer is deleted.
  std::unique_ptr<std::stringstream> memory;
  std::ostream* target = nullptr;
  // Byte order of the file on `stream` once known (-1: not yet): the pages
  // of one file share it.
  int fileBigEndian = -1;
  // Made to append to an existing file: every page is a later page.
  bool appending = false;
};

// Field input and output. bigEndian: the file is "MM". Failed streams throw
// std::runtime_error "read error" / "write error".
int typeSize(int type);

template <typename T> T tiffRead(std::istream* s, bool bigEndian, int size = 0);
std::vector<double> tiffReadArray(std::istream* s, bool bigEndian, int type, uint32_t count);
std::vector<std::string> tiffReadStrArray(std::istream* s, bool bigEndian, int type,
                                          uint32_t count);
// At the start of an IFD: skips it and seeks to the next one. Returns its
// offset, 0 at the last IFD or when the seek fails.
unsigned seekNextIFD(std::istream* s, bool bigEndian, bool unused = false);

template <typename T>
std::streamoff tiffWrite(std::ostream* s, bool bigEndian, const T& value, int size = 0);
std::streamoff tiffWriteArray(std::ostream* s, bool bigEndian, int type,
                              const std::vector<double>& values);
