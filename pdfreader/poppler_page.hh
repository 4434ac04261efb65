// Drawing PDF pages into Images with poppler: the path taken when the PDF
// reading script does not draw the page itself. poppler also answers what
// the page's image will be (size, gray or colour) before it is drawn, and
// counts pages where the script cannot (encrypted object streams).
#pragma once

#include <istream>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

class Image;

class PDFDoc;
class Page;

namespace pdfreader {

// Writes the line on standard error unless it was said before for the same
// document (an identity of the document's bytes; "" for none).
void sayOnce(const std::string& document, const std::string& line);

// Reads the whole stream from position 0; false on a read error, an empty
// stream or one longer than poppler takes.
bool readAll(std::istream& in, std::vector<char>& out);

// A document held in memory for poppler, for as long as its pages are
// wanted.
class PopplerDocument {
public:
  enum Status { Open, Unreadable, NeedsPassword };

  // Takes the bytes; a document that needs a user password stays locked.
  explicit PopplerDocument(std::vector<char> bytes);
  ~PopplerDocument();
  PopplerDocument(const PopplerDocument&) = delete;
  PopplerDocument& operator=(const PopplerDocument&) = delete;

  Status status() const { return state; }
  // The pages poppler can open, in order; page numbers below count these.
  int pages() const;
  // The pages the document says it has (its page tree's /Count, bounded).
  int promisedPages() const { return promised; }
  // Says the line unless it was said before for this document.
  void say(const std::string& line) const;
  // One of poppler's lines while it works on this document: the first few
  // distinct ones are said, the rest counted and their number said when
  // the document goes.
  void popplerSays(const std::string& line) const;
  // The document as poppler reads it.
  const std::vector<char>& data() const { return bytes; }

  // The bitmap size of page `page` (from 1) at dpi, rounded as poppler
  // sizes its own bitmap, with the page's rotation applied. False for a
  // page that does not exist or whose size is out of range (one line).
  bool pageSize(int page, int dpi, int& w, int& h) const;
  // What a page's pixels become: 8-bit gray when every pixel drawn is
  // gray, else 8-bit RGB (Decide); or the one given.
  enum Format { Decide, Gray, RGB };
  // Draws the page on white, once: the image becomes w x h (pageSize) at
  // resolution dpi in `format`. False (one line) when poppler cannot draw
  // it or the drawing was stopped; the image is then left as it was.
  bool draw(int page, int dpi, Format format, Image& image) const;
  // Pages drawn by poppler since the program started.
  static int64_t drawings();

private:
  // poppler's number of page `page` (from 1) of ours; 0 for none.
  int pageNumber(int page) const;
  Page* openPage(int page) const;

  std::vector<char> bytes;
  std::unique_ptr<PDFDoc> doc;
  Status state = Unreadable;
  std::string key;
  std::vector<int> usable;
  int promised = 0;
  mutable std::set<std::string> said;
  mutable int shown = 0;
  mutable int64_t unsaid = 0;
};

// Reads the document from `in` and draws page `page` (counted from 1) at
// `dpi` as 8-bit RGB of the page's crop box with its rotation applied. On
// failure prints one line and leaves the image without pixels.
bool renderPage(std::istream& in, Image& image, int page, int dpi);

} // namespace pdfreader
