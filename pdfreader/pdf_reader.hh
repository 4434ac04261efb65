// Reading PDF pages: the codec attached to an image read from a PDF
// document. A document is opened once for a job, whatever number of its
// pages are read: its bytes are read once, the PDF reading script (PDF.bcz
// in the resource directory) parses them once in a private script state,
// and one poppler document draws every page. The page count and every
// page's reader share it; it goes when the last of them does (a document
// counted but not yet read is held until its pages are).
//
// A page is drawn once, when it is read: its format (8-bit gray when every
// pixel drawn is gray, else 8-bit RGB) comes from that drawing, so the
// image never shows a format its pixels do not have. Counting pages draws
// nothing. poppler also counts the pages of documents the script cannot
// read (encrypted object streams).
#pragma once

#include <cstdint>
#include <istream>
#include <memory>
#include <string>

#include "image/ImageCodec.hh"

namespace pdfreader {
class PopplerDocument;
class OpenDocument;
}

class PDFReader : public ImageCodec {
public:
  // Reads page `page` (from 0) of the open document; deletes the stream it
  // was read from when it goes (unless it is standard input).
  PDFReader(std::istream* stream, std::shared_ptr<pdfreader::OpenDocument> document, int page);
  ~PDFReader() override;
  PDFReader(const PDFReader&) = delete;
  PDFReader& operator=(const PDFReader&) = delete;

  std::string getID() override { return "PDF"; }
  // The PDF codec's writer: an untouched page written as PDF comes here.
  bool writeImage(std::ostream* stream, Image& image, int quality,
                  const std::string& compress) override;
  void decodeNow(Image* image) override;

  // The registry's reading entry: 0 when the input is not a PDF document
  // the script or poppler can open (the stream cleared and rewound, still
  // the caller's), else minus the page count with a reader attached to the
  // image, which holds the page drawn (when poppler cannot draw it, its
  // pixels come white on first access; a stopped drawing is tried again
  // then).
  // With "count" among the options, the page count (positive), nothing
  // attached and the stream still the caller's.
  static int open(std::istream* stream, Image& image, const std::string& decompress,
                  int index);

  // Where the script is looked for: the resource directory's PDF.bcz.
  static std::string scriptPath();

  // Times a document's bytes were read from its input since the program
  // started (once per document opened).
  static int documentsOpened();

  // How pages are drawn when read: at 300 dpi, and no page larger than
  // the pixels poppler takes. The fuzz target draws small pages (fewer
  // dpi, fewer pixels) to keep its runs short.
  static int readDpi;
  static int64_t readMaxPixels; // 0: poppler's own bound

  std::istream* stream; // owned
  std::shared_ptr<pdfreader::OpenDocument> document;
  int page; // counted from 0; the script counts from 1
  int dpi = 300;
  bool nativeRaster = false;

  // What the page is: set before the image sees it.
  std::shared_ptr<pdfreader::PopplerDocument> poppler;
  int pageW = 0, pageH = 0;
  bool gray = false;

private:
  bool renderNatively(Image& image);
  bool failed = false;
};
