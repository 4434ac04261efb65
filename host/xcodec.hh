// The script classes "Codec" and "PDFCodec": several images as the pages of
// one file through the codec registry, and a document written page by page
// (PDF images, text and hOCR text layers, or the text of hOCR pages as
// plain text, HTML or RTF).
#pragma once

#include <iosfwd>
#include <memory>
#include <string>

#include "bind/LuaWrapper.hh"

class FileOut;
class ImageCodec;
class PDFCodec;
class XImage;

class XCodec {
public:
  // A "name:" prefix picks the codec and is not part of the file's name;
  // else the extension does. A file that cannot be opened, or a format
  // without a multi-page writer, leaves an object whose writes fail. The
  // pages go to a file beside `file`, which stays as it was until the
  // writer is finished.
  explicit XCodec(const std::string& file);
  // Completes the file as its codec requires, then closes it and puts it
  // under its name; a writer without a page, or one whose output failed,
  // leaves the old file alone. Never throws.
  ~XCodec();
  XCodec(const XCodec&) = delete;
  XCodec& operator=(const XCodec&) = delete;

  // Appends one page; false without a writer or when the codec fails.
  bool writeMultiImage(XImage& image, int quality, const std::string& compression, int index);

private:
  std::unique_ptr<FileOut> stream;
  std::unique_ptr<ImageCodec> writer;
  int pages = 0;       // written whole
  bool broken = false; // a page failed after bytes of it went out
};

namespace tolm {
// Whole-file reads and writes for scripts (Codec.readImage/writeImage).
int readImage(const std::string& file, XImage& image, const std::string& decompress, int index);
// Why the last read found nothing, when a codec knew ("" otherwise), and
// the page it is about (counted from 1) when it is about one page.
int readFailure(lua_State* L);
bool writeImage(const std::string& file, XImage& image, int quality = 80,
                const std::string& compression = "");
} // namespace tolm

class XPDFCodec {
public:
  // file "-" is standard output (never closed here). prevXref != 0 appends
  // to the existing file as an incremental update. format "pdf" makes the
  // PDF writer; "rtf" and "html" write their document head; other formats
  // ("txt") write nothing up front. Throws std::runtime_error "error
  // opening file" when the output cannot be opened.
  XPDFCodec(const std::string& file, const std::string& format, const std::string& creator,
            const std::string& id1 = "", const std::string& id2 = "", unsigned prevXref = 0,
            unsigned objBase = 0, unsigned pagesRef = 0, unsigned pageCount = 0);
  // Finishes the document: the RTF or HTML tail, or the rest of the PDF
  // file. Write failures are reported on stderr; never throws.
  ~XPDFCodec();
  XPDFCodec(const XPDFCodec&) = delete;
  XPDFCodec& operator=(const XPDFCodec&) = delete;

  // Finishes the document as delete does and tells whether it is now in
  // place, whole; false when a write failed (the old file stays). Asked
  // again, or after discard, gives the same answer; delete then does
  // nothing more.
  bool close();
  // Gives the document up: the file stays as it was (none is made) and
  // nothing more is written. For a job whose document is not to be kept
  // (a failure, a stop, no pages after all).
  void discard();

  // These do nothing without a PDF writer (text formats).
  void beginPage(double width, double height);
  // False once the output refused bytes (a full disk, a failing stream):
  // the image goes out at once, so the failure shows at the page that did
  // not fit.
  bool showImage(XImage& image, double x, double y, double w, double h, int quality,
                 const std::string& compression);
  void beginText();
  void textTo(int x, int y);
  void showText(const std::string& font, const std::string& text, int size);
  void endText();

  // One hOCR page: an invisible text layer on the current PDF page, or the
  // page's text in the document's format.
  bool hocr2pdf(const std::string& hocr, int resX, int resY, int page = 1);

private:
  void open(const std::string& file, const std::string& creator, const std::string& id1,
            const std::string& id2, unsigned prevXref, unsigned objBase, unsigned pagesRef,
            unsigned pageCount);

  std::ostream* out = nullptr; // owned unless it is std::cout
  std::string format;
  bool outputFailed() const;

  std::unique_ptr<std::streambuf> watch; // between a file's stream and its buffer
  std::unique_ptr<PDFCodec> writer;
  bool failed = false; // a write failed and the script was told so
  bool closed = false;   // close() or discard() ran
  bool whole = false;    // close() put the document in place
};

TOLM_SCRIPT_CLASS(XCodec, "Codec")
TOLM_SCRIPT_CLASS(XPDFCodec, "PDFCodec")

// Entries of the classes, after the module declared them: readImage and
// writeImage on the class table of "Codec" (right after its declaration),
// then the entries of each class.
void exportCodecFunctions(lua_State* L);
void exportCodecClass(lua_State* L);
void exportPDFCodecClass(lua_State* L);
