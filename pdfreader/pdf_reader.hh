// Reading PDF pages: the codec attached to an image read from a PDF
// document. The PDF reading script (PDF.bcz in the resource directory) runs
// in a private script state per reader; it opens the document from an
// "istream" object, counts the pages and may draw them itself, else poppler
// draws the page on first access to the pixels. poppler holds the document
// from the start: it answers the page's size and whether it is gray, so the
// image has its real geometry and format before it is drawn, and it counts
// the pages of documents the script cannot read (encrypted object streams).
#pragma once

#include <istream>
#include <memory>
#include <string>

#include "bind/Handles.hh"
#include "image/ImageCodec.hh"
#include "lua/lua.h"

namespace pdfreader {
class PopplerDocument;
}

class PDFReader : public ImageCodec {
public:
  // Takes the state, the document table, a reference to the "istream"
  // object and the input stream, which it deletes last (unless it is
  // standard input).
  PDFReader(std::istream* stream, lua_State* state, LuaWrapper::LuaTable document,
            int istreamRef, int page);
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
  // the caller's), else minus the page count with a reader attached to an
  // image without pixels but with the page's size, format and resolution.
  static int open(std::istream* stream, Image& image, const std::string& decompress,
                  int index);

  // Where the script is looked for: the resource directory's PDF.bcz.
  static std::string scriptPath();

  lua_State* luaState;
  std::istream* stream;        // owned
  LuaWrapper::LuaTable document;
  int istreamRef;              // registry reference to the script's istream
  int page;                    // counted from 0; the script counts from 1
  int dpi = 300;
  bool nativeRaster = false;

  // What the page becomes when drawn: set before the image sees it.
  std::unique_ptr<pdfreader::PopplerDocument> poppler;
  int pageW = 0, pageH = 0;
  bool gray = false;

private:
  bool renderNatively(Image& image);
  bool failed = false;
};
