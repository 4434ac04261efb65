// hOCR pages as positioned text: the line model, the tolerant tag scanner
// with column grouping and reading order, and the drawing of lines into an
// invisible PDF text layer and into plain text, HTML or RTF.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <set>
#include <string>
#include <vector>

class PDFCodec;

struct BBox {
  float x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  bool valid() const { return x2 > x1 && y2 > y1; }
  void unite(const BBox& other);
  bool operator==(const BBox& o) const
  {
    return x1 == o.x1 && y1 == o.y1 && x2 == o.x2 && y2 == o.y2;
  }
};

// Bits: 1 bold, 2 italic, 4 underlined.
typedef int Style;
enum { style_bold = 1, style_italic = 2, style_underline = 4 };
std::ostream& printStyle(std::ostream& s, Style style);

struct Span {
  BBox box;
  Style style = 0;
  std::string text; // UTF-8
};

struct Textline;
struct textline_sorter {
  bool operator()(const Textline* a, const Textline* b) const;
};
typedef std::multiset<Textline*, textline_sorter> TextlineSet;

struct Textline {
  explicit Textline(TextlineSet* owner) : owner(owner) {}

  // Appends a span; a span that goes back to the left hands the line to its
  // owner and continues in a new current line.
  void push_back(Textline*& current, Span span);
  // Draws into the PDF writer's current page (when given) and the side
  // stream (when given) in format "txt", "html" or "rtf".
  void draw(PDFCodec* pdf, int resX, int resY, std::ostream* txt, const std::string& txtFormat,
            bool sloppy);

  TextlineSet* owner;
  BBox box;
  std::vector<Span> spans;
  float fontSize = 0;
};
std::ostream& operator<<(std::ostream& s, const Textline& line);

// Text helpers of the scanner.
std::string tagName(const std::string& s);
std::string lowercaseStr(const std::string& s);
std::string peelWhitespaceStr(const std::string& s, bool leading);
std::string sanitizeStr(const std::string& s);
// Character references decoded once, left to right.
std::string decodeEntities(const std::string& s);

// Returns true once the input is consumed. Resolutions of 0 or less are
// taken as 72 dpi.
bool hocr2pdf(std::istream& hocr, PDFCodec* pdf, unsigned resX, unsigned resY, std::ostream* txt,
              const std::string& txtFormat, int page, std::string leadText = "",
              std::string trailText = "");
