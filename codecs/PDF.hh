// The streaming PDF 1.5 writer: the object model, the file skeleton
// (header, information, page tree, catalog, cross-reference table,
// trailer), pages with their content streams, image XObjects, and the PDF
// codec that drives them. Every object is written once it is complete and
// never revisited; only numbers and offsets stay until the table is written.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "image/ImageCodec.hh"
#include "image/Image.hh"

class PDFObject;
class PDFPage;
class PDFContentStream;
class PDFFont;

class PDFXref {
public:
  explicit PDFXref(uint32_t objBase = 0) : objBase(objBase) {}
  void write(std::ostream& s);

  uint32_t objBase;
  std::vector<PDFObject*> objects; // not owned; index i is number objBase + i + 1
  uint64_t xrefOffset = 0;
  uint32_t imageCount = 0;
  uint32_t fontCount = 0;

  // True the first time a cause is named: the writer says each of its
  // diagnostics once per document, however often the cause comes back.
  bool firstTime(const std::string& cause) { return told.insert(cause).second; }
  std::set<std::string> told;
};

class PDFObject {
public:
  explicit PDFObject(PDFXref& xref);
  virtual ~PDFObject() {}
  PDFObject(const PDFObject&) = delete;
  PDFObject& operator=(const PDFObject&) = delete;

  virtual void writeImpl(std::ostream& s) = 0;
  virtual std::string resourceName() const { return std::string(); }
  virtual std::string resourceType() const { return std::string(); }

  void write(std::ostream& s);
  std::string indirectRef() const;

  PDFXref& xref;
  uint32_t objectNumber;
  uint32_t generation = 0;
  uint64_t offset = 0;
  std::vector<PDFObject*> followers; // not owned
};

class PDFNumber : public PDFObject {
public:
  explicit PDFNumber(PDFXref& xref, uint64_t value = 0) : PDFObject(xref), value(value) {}
  void writeImpl(std::ostream& s) override;
  uint64_t value;
};

class PDFStream : public PDFObject {
public:
  explicit PDFStream(PDFXref& xref) : PDFObject(xref), length(xref) {}
  void writeImpl(std::ostream& s) override;
  virtual void writeStreamTagsImpl(std::ostream& s) { (void)s; }
  virtual void writeStreamImpl(std::ostream& s) { (void)s; }

  PDFNumber length; // number = the stream's + 1
};

class PDFDocumentInfo : public PDFObject {
public:
  PDFDocumentInfo(PDFXref& xref, const std::string& creator)
    : PDFObject(xref), creator(creator) {}
  void writeImpl(std::ostream& s) override;
  std::string creator;
};

class PDFPages : public PDFObject {
public:
  PDFPages(PDFXref& xref, int pagesRef, uint32_t prevPageCount)
    : PDFObject(xref), pagesRef(pagesRef), prevPageCount(prevPageCount) {}
  void writeImpl(std::ostream& s) override;

  int32_t pagesRef;
  uint32_t prevPageCount;
  std::vector<PDFPage*> pages; // not owned
};

class PDFCatalog : public PDFObject {
public:
  PDFCatalog(PDFXref& xref, PDFPages& pageTree) : PDFObject(xref), pageTree(pageTree) {}
  void writeImpl(std::ostream& s) override;
  PDFPages& pageTree;
};

class PDFTrailer {
public:
  PDFTrailer(PDFXref& xref, PDFObject& root, PDFDocumentInfo* info, const std::string& id1,
             const std::string& id2, uint32_t prevXref)
    : xref(xref), root(root), info(info), id1(id1), id2(id2), prevXref(prevXref) {}
  void write(std::ostream& s);

  PDFXref& xref;
  PDFObject& root;
  PDFDocumentInfo* info;
  std::string id1, id2;
  uint32_t prevXref;
};

class PDFContentStream : public PDFStream {
public:
  PDFContentStream(PDFXref& xref, PDFPage& ownerPage)
    : PDFStream(xref), ownerPage(ownerPage) {}
  void writeStreamTagsImpl(std::ostream& s) override;
  void writeStreamImpl(std::ostream& s) override;
  // Path coordinates come with the origin at the top left.
  void translateY(double& y) const;

  void beginText(int renderMode);
  void textTo(double x, double y);
  void showText(PDFFont& font, const std::string& text, double size,
                const std::vector<int>* kerning);
  void endText();

  PDFPage& ownerPage;
  std::string filter = "/FlateDecode";
  std::ostringstream operators;
  // Text state: last position (PDF user space), font size and name.
  double lastX = 0, lastY = 0, fontSize = 0;
  std::string fontName;
  int textRenderMode = 0; // the page's current Tr, 0 (fill) at its start
  uint8_t procSet = 0; // 1 gray/bilevel image, 2 colour image, 4 text
};

class PDFPage : public PDFObject {
public:
  PDFPage(PDFXref& xref, PDFPages& parent, double width, double height);
  void writeImpl(std::ostream& s) override;
  void addResource(const PDFObject* object);

  PDFPages& parent;
  double width, height;
  PDFContentStream content; // page number + 1, its length + 2
  std::vector<const PDFObject*> fontResources, otherResources; // without duplicates
};

// The ICC-based colour space: the embedded sRGB profile.
class PDFColorspace : public PDFStream {
public:
  explicit PDFColorspace(PDFXref& xref) : PDFStream(xref) {}
  void writeStreamTagsImpl(std::ostream& s) override;
  void writeStreamImpl(std::ostream& s) override;
};

// The codes of a font that differ from WinAnsiEncoding.
class PDFFontEncoding : public PDFObject {
public:
  explicit PDFFontEncoding(PDFXref& xref) : PDFObject(xref) {}
  void writeImpl(std::ostream& s) override;
  std::map<uint8_t, uint32_t> codes;
};

class PDFToUnicode : public PDFStream {
public:
  PDFToUnicode(PDFXref& xref, PDFFontEncoding& encoding) : PDFStream(xref), encoding(encoding) {}
  void writeStreamTagsImpl(std::ostream& s) override;
  void writeStreamImpl(std::ostream& s) override;
  std::string filter = "/FlateDecode";
  PDFFontEncoding& encoding;
};

// A standard Type 1 font (never embedded) with the one-byte codes given to
// the code points it showed; a code once given stays for the document.
class PDFFont : public PDFObject {
public:
  PDFFont(PDFXref& xref, const std::string& name);
  ~PDFFont() override;
  void writeImpl(std::ostream& s) override;
  std::string resourceName() const override { return "/F" + std::to_string(number); }
  std::string resourceType() const override { return "/Font"; }
  // 0 when no code is left.
  uint8_t getMappedCode(uint32_t codePoint);

  PDFFontEncoding* encoding = nullptr; // owned, made when written
  PDFToUnicode* toUnicode = nullptr;   // owned, made when written
  std::string name;
  uint32_t number;
  bool used[256] = {};
  std::map<uint32_t, uint8_t> codeMap;
};

class PDFXObject : public PDFStream {
public:
  // The image must stay alive and unchanged until the object is written.
  PDFXObject(PDFXref& xref, Image& image, const std::string& options, int quality);
  ~PDFXObject() override;
  std::string resourceName() const override { return "/I" + std::to_string(index); }
  std::string resourceType() const override { return "/XObject"; }
  void writeStreamTagsImpl(std::ostream& s) override;
  void writeStreamImpl(std::ostream& s) override;

  uint32_t index;
  Image converted;
  Image* source;
  std::string options;
  std::string filterName;
  int quality;
  int predictor = 1;
  PDFColorspace* colorSpace = nullptr; // owned
};

// Counts what passes through to the target buffer, so positions are known
// on streams that cannot tell them (pipes). A failed write is sticky.
class PDFCountingBuf : public std::streambuf {
public:
  PDFCountingBuf(std::streambuf* target, uint64_t base) : target(target), count(base) {}
  uint64_t position() const { return count; }
  bool failed = false;

protected:
  std::streamsize xsputn(const char* p, std::streamsize n) override;
  int_type overflow(int_type c) override;
  pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode which) override;
  int sync() override;

private:
  std::streambuf* target;
  uint64_t count;
};

class PDFContext {
public:
  PDFContext(std::ostream* output, const char* creator, const std::string& id1,
             const std::string& id2, unsigned prevXref, unsigned objBase, int pagesRef,
             unsigned pageCount);
  // Finishes the file unless finish() did.
  ~PDFContext();
  PDFContext(const PDFContext&) = delete;
  PDFContext& operator=(const PDFContext&) = delete;

  void beginPage(double width, double height);
  PDFFont& getFont(const std::string& name);
  // Writes the rest of the file; false when any write failed. Once only.
  bool finish();
  // The stream every object is written to (counts positions).
  std::ostream& out() { return counted; }
  // False once any write to the output failed.
  bool good();

  std::ostream* output;
  PDFXref xref;
  PDFDocumentInfo info;
  PDFPages pageTree;
  PDFCatalog catalog;
  PDFTrailer trailer;
  std::vector<PDFPage*> pages; // owned
  PDFPage* currentPage = nullptr;
  std::map<std::string, PDFFont*> fonts; // owned
  std::vector<PDFObject*> images;          // owned

private:
  std::unique_ptr<PDFCountingBuf> buf;
  std::ostream counted;
  bool finished = false;
};

class PDFCodec : public ImageCodec {
public:
  enum filling_rule_t { fill_non_zero = 1, fill_even_odd = 2 };

  PDFCodec(); // the registry prototype
  PDFCodec(std::ostream* out, const char* creator, const std::string& id1 = "",
           const std::string& id2 = "", unsigned prevXref = 0, unsigned objBase = 0,
           int pagesRef = 0, unsigned pageCount = 0);
  ~PDFCodec() override;

  std::string getID() override { return "PDF"; }
  // Reading runs a script, which the codecs do not link: the reader above
  // them installs readHook. Without it PDF input is declined.
  int readImage(std::istream* stream, Image& image, const std::string& decompress,
                int index) override;
  using ImageCodec::readImage;
  typedef int (*ReadHook)(std::istream* stream, Image& image, const std::string& decompress,
                          int index);
  static inline ReadHook readHook = nullptr;
  // Whether the stream holds a PDF header ("%PDF-") where poppler looks for
  // one: within its first kilobyte (bytes before it are not the
  // document's). The stream is left cleared at its start.
  static bool hasHeader(std::istream& stream);
  // The file the registry reads while it tries the codecs on it ("" for a
  // stream it was handed): the reader keeps a document it has open for the
  // next page of the same file.
  static inline std::string readingFile;
  bool writeImage(std::ostream* stream, Image& image, int quality,
                  const std::string& compress) override;

  void beginPage(double width, double height);
  // False (nothing written) for an image without pixels or without a page.
  bool showImage(Image& image, double x, double y, double w, double h, int quality = 75,
                 const std::string& options = "");
  void moveTo(double x, double y);
  void addLineTo(double x, double y);
  void addCurveTo(double x1, double y1, double x2, double y2, double x3, double y3);
  void closePath();
  void showPath(filling_rule_t rule);
  void setFillColor(double r, double g, double b);
  void setLineWidth(double width);
  void setLineDash(double phase, const double* dashes, int n);
  void setLineDash(double phase, const std::vector<double>& dashes);

  // Text: points from the top-left corner; text in UTF-8; kerning in
  // thousandths of the size, one per glyph, subtracted after it.
  void beginText(int renderMode = 0);
  void textTo(double x, double y);
  void showText(const std::string& font, const std::string& text, double size,
                const std::vector<int>* kerning = nullptr);
  void endText();

  // Finishes the document; false when any write failed. Also done by the
  // destructor.
  bool finish();

  PDFContext* context = nullptr; // owned; null in the prototype

private:
  // The current page's content stream, or null with a diagnostic.
  PDFContentStream* page(const char* what);
  bool failed = false;
};

// The number text of every operator: fixed point, trailing zeros dropped.
class quantize {
public:
  quantize(double value, int precision);
  operator std::string() const { return text; }
  const std::string& str() const { return text; }
  std::string text;
};
std::ostream& operator<<(std::ostream& s, const quantize& q);

// Digits of page sizes and image placements. A page of whole pixels at a
// resolution that divides 7200 is a whole number of hundredths of a point
// (3504 px at 300 dpi is 840.96 pt), so two digits give its size exactly,
// where one digit (841) makes the page a row taller drawn at that
// resolution, and the image on it resampled.
constexpr int kSizeDigits = 2;

// Resolutions up to which a size that is whole pixels must read back as
// those pixels.
constexpr int kSizeMaxDpi = 2400;

// The text of a page side or an image's size in points. Readers size a page
// by rounding up side x dpi / 72, and their arithmetic can put a side that is
// whole pixels a hair above them: poppler reads "50.16" as
// 50.160000000000004, so 834 x 209 px at 300 dpi (200.16 x 50.16 pt) would be
// drawn 834 x 210. A side that is whole pixels at some resolution up to
// kSizeMaxDpi keeps its two decimals where poppler's, mupdf's and our own
// reader's arithmetic give those pixels back at every such resolution; else
// it takes the fewest more digits that do, a hair below the exact size and
// still on the whole pixel within half a millionth, so that an image of that
// size lands on whole pixels ("50.15999999"). Any other size is
// quantize(points, kSizeDigits).
std::string sizeText(double points);

std::ostream& operator<<(std::ostream& s, PDFObject& object);
std::ostream& operator<<(std::ostream& s, PDFXref& xref);
std::ostream& operator<<(std::ostream& s, PDFTrailer& trailer);

// Lower-case hex digits, a line feed before every 40th byte after the first.
void EncodeHex(std::ostream& s, const unsigned char* data, uint64_t n);
void EncodeHex(std::ostream& s, const char* data, uint64_t n);
// ASCII base-85 with "z" for zero groups, lines of 80, ending with "~>".
void EncodeASCII85(std::ostream& s, const unsigned char* data, uint64_t n);

// A stream's data as it stands, or deflated when `filter` is not empty; a
// failed output prints "PDFCodec: invalid stream!" and is cleared (the
// counting buffer keeps the failure for the finish).
void writeStreamText(std::ostream& s, const std::string& text, const std::string& filter);

// Text for a literal string body: "(", ")" and "\" escaped.
std::string pdfEscapeString(const std::string& text);
// A name's characters after "/": bytes outside the regular printable set
// as #xx.
std::string pdfEscapeName(const std::string& name);
