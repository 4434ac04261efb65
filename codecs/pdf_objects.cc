// The PDF object model and file skeleton: numbering, object and stream
// framing, page tree, catalog, cross-reference table, trailer, and the
// document context that writes them in order.
#include "codecs/Resolution.hh"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <locale>
#include <string>
#include <utility>
#include <vector>

#include "codecs/PDF.hh"
#include "codecs/ZlibEncoder.hh"

PDFObject::PDFObject(PDFXref& xref) : xref(xref)
{
  xref.objects.push_back(this);
  objectNumber = xref.objBase + (uint32_t)xref.objects.size();
}

void PDFObject::write(std::ostream& s)
{
  const std::streamoff pos = s.tellp();
  offset = pos < 0 ? 0 : (uint64_t)pos;
  s << objectNumber << " " << generation << " obj\n";
  writeImpl(s);
  s << "\nendobj\n";
  while (!followers.empty()) {
    PDFObject* next = followers.front();
    followers.erase(followers.begin());
    next->write(s);
  }
}

std::string PDFObject::indirectRef() const
{
  return std::to_string(objectNumber) + " " + std::to_string(generation) + " R";
}

void PDFNumber::writeImpl(std::ostream& s)
{
  s << value;
}

void PDFStream::writeImpl(std::ostream& s)
{
  s << "<<";
  writeStreamTagsImpl(s);
  s << "/Length " << length.indirectRef() << ">>stream\n";
  const std::streamoff start = s.tellp();
  writeStreamImpl(s);
  s.flush();
  const std::streamoff end = s.tellp();
  s << "\nendstream ";
  length.value = start >= 0 && end >= start ? (uint64_t)(end - start) : 0;
  followers.push_back(&length);
}

void PDFDocumentInfo::writeImpl(std::ostream& s)
{
  s << "<</Creator(" << pdfEscapeString(creator) << ")/Producer(Talveri PDF2)>>";
}

void PDFPages::writeImpl(std::ostream& s)
{
  s << "<</Type/Pages/Count " << (uint64_t)pages.size() + prevPageCount << "/Kids[";
  const char* sep = "";
  if (pagesRef > 0) {
    s << pagesRef << " 0 R";
    sep = " ";
  }
  for (PDFPage* page : pages) {
    s << sep << page->indirectRef();
    sep = " ";
  }
  if (pagesRef < 0)
    s << sep << -(int64_t)pagesRef << " 0 R";
  s << "]>>";
}

void PDFCatalog::writeImpl(std::ostream& s)
{
  s << "<</Type/Catalog/Pages " << pageTree.indirectRef() << ">>";
}

void PDFXref::write(std::ostream& s)
{
  const std::streamoff pos = s.tellp();
  xrefOffset = pos < 0 ? 0 : (uint64_t)pos;
  s << "xref\n";
  if (objBase == 0)
    s << 0 << " " << objects.size() + 1 << "\n" << "0000000000 65535 f \n";
  else
    s << objBase + 1 << " " << objects.size() << "\n";
  char entry[32];
  for (const PDFObject* object : objects) {
    snprintf(entry, sizeof entry, "%010u %05u n \n", (unsigned)(uint32_t)object->offset,
             (unsigned)object->generation);
    s << entry;
  }
}

void PDFTrailer::write(std::ostream& s)
{
  s << "trailer<</Size " << (uint64_t)xref.objBase + xref.objects.size() + 1;
  s << "/Root " << root.indirectRef();
  if (prevXref != 0)
    s << "/Prev " << prevXref;
  if (info)
    s << "/Info " << info->indirectRef();
  if (!id1.empty() || !id2.empty()) {
    s << "/ID[";
    for (const std::string* id : {&id1, &id2})
      if (!id->empty()) {
        s << "<";
        EncodeHex(s, id->data(), id->size());
        s << ">";
      }
    s << "]";
  }
  s << ">>\n" << "startxref\n" << xref.xrefOffset << "\n%%EOF" << "\n";
  s.flush();
}

std::ostream& operator<<(std::ostream& s, PDFObject& object)
{
  object.write(s);
  return s;
}

std::ostream& operator<<(std::ostream& s, PDFXref& xref)
{
  xref.write(s);
  return s;
}

std::ostream& operator<<(std::ostream& s, PDFTrailer& trailer)
{
  trailer.write(s);
  return s;
}

template <typename T>
static void encodeHex(std::ostream& s, const T* data, uint64_t n)
{
  static const char digits[] = "0123456789abcdef";
  char buffer[256];
  size_t used = 0;
  for (uint64_t i = 0; i < n; ++i) {
    if (used + 3 > sizeof buffer) {
      s.write(buffer, (std::streamsize)used);
      used = 0;
    }
    if (i != 0 && i % 40 == 0)
      buffer[used++] = '\n';
    const unsigned char b = (unsigned char)data[i];
    buffer[used++] = digits[b >> 4];
    buffer[used++] = digits[b & 15];
  }
  s.write(buffer, (std::streamsize)used);
}

void writeStreamText(std::ostream& s, const std::string& text, const std::string& filter)
{
  if (filter.empty()) {
    s.write(text.data(), (std::streamsize)text.size());
  } else {
    ZlibEncoder encoder(&s, 9);
    encoder.write(text.data(), (uint64_t)text.size());
    encoder.finish();
  }
  if (!s.good()) {
    std::cerr << "PDFCodec: invalid stream!" << std::endl;
    s.clear();
  }
}

void EncodeHex(std::ostream& s, const unsigned char* data, uint64_t n)
{
  encodeHex(s, data, n);
}

void EncodeHex(std::ostream& s, const char* data, uint64_t n)
{
  encodeHex(s, data, n);
}

void EncodeASCII85(std::ostream& s, const unsigned char* data, uint64_t n)
{
  std::string out;
  out.reserve((size_t)(n / 4 * 5 + n / 320 + 16));
  int column = 0;
  auto put = [&](char c) {
    out += c;
    if (++column == 80) {
      out += '\n';
      column = 0;
    }
  };
  for (uint64_t i = 0; i < n; i += 4) {
    const uint64_t k = n - i < 4 ? n - i : 4;
    uint32_t v = 0;
    for (uint64_t j = 0; j < 4; ++j)
      v = v << 8 | (j < k ? data[i + j] : 0);
    if (v == 0 && k == 4) {
      put('z');
      continue;
    }
    char digits[5];
    for (int d = 4; d >= 0; --d) {
      digits[d] = (char)(v % 85 + 33);
      v /= 85;
    }
    for (uint64_t d = 0; d < k + 1; ++d)
      put(digits[d]);
  }
  if (column == 79)
    out += '\n';
  out += "~>";
  s.write(out.data(), (std::streamsize)out.size());
}

std::string pdfEscapeString(const std::string& text)
{
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '(' || c == ')' || c == '\\')
      out += '\\';
    out += c;
  }
  return out;
}

std::string pdfEscapeName(const std::string& name)
{
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (char ch : name) {
    const unsigned char c = (unsigned char)ch;
    const bool regular = c > 32 && c < 127 && c != '#' &&
                         std::string("()<>[]{}/%").find((char)c) == std::string::npos;
    if (regular) {
      out += (char)c;
    } else {
      out += '#';
      out += digits[c >> 4];
      out += digits[c & 15];
    }
  }
  return out;
}

quantize::quantize(double value, int precision)
{
  // PDF readers accept reals up to about the single-precision range.
  const double limit = 3.4e38;
  if (std::isnan(value))
    value = 0;
  else if (value > limit)
    value = limit;
  else if (value < -limit)
    value = -limit;
  if (precision < 0)
    precision = 0;
  if (precision > 17)
    precision = 17;
  char buffer[64];
  const std::to_chars_result r =
    std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, precision);
  text.assign(buffer, r.ec == std::errc() ? r.ptr : buffer);
  if (text.empty())
    text = "0";
  if (precision > 0) {
    while (text.size() > 1 && text.back() == '0')
      text.pop_back();
    if (text.size() > 1 && text.back() == '.')
      text.pop_back();
  }
}

std::ostream& operator<<(std::ostream& s, const quantize& q)
{
  return s << q.text;
}

namespace {

// A number as poppler's lexer reads it: the digits after the point are added
// one by one, each times a scale that is itself a product of 0.1s.
double readLikePoppler(const std::string& text)
{
  double v = 0;
  size_t i = 0;
  for (; i < text.size() && text[i] != '.'; ++i)
    v = v * 10 + (text[i] - '0');
  double scale = 0.1;
  for (++i; i < text.size(); ++i) {
    v = v + scale * (text[i] - '0');
    scale *= 0.1;
  }
  return v;
}

// A number as mupdf reads it: the nearest float.
float readLikeMupdf(const std::string& text)
{
  float f = 0;
  std::from_chars(text.data(), text.data() + text.size(), f);
  return f;
}

// Resolutions and the whole pixels a size is at them.
using PixelsAt = std::vector<std::pair<int, double>>;

// Whether `text` gives back the pixels at each resolution: pdftoppm rounds
// up side * dpi / 72, our reader rounds it up less a millionth (pixelsAt),
// mupdf rounds up its single-precision product less a thousandth (a float
// holds that up to 16,384 pixels; beyond, its rounding is its own). With
// `onPixels` the side also lies on the whole pixel within half of that
// millionth, so that our reader copies an image of that size as it is.
bool readsBack(const std::string& text, const PixelsAt& at, bool onPixels)
{
  const double p = readLikePoppler(text);
  const float f = readLikeMupdf(text);
  for (const auto& [dpi, pixels] : at) {
    const double x = p * dpi / 72.0;
    if (std::ceil(x) != pixels || pixelsAt(p, dpi) != pixels)
      return false;
    if (onPixels && std::fabs(x - pixels) > kPixelSlack / 2)
      return false;
    const float zoom = (float)dpi / 72.0f;
    const float y = f * zoom;
    if (pixels <= 16384 && std::ceil(y - 0.001f) != (float)pixels)
      return false;
  }
  return true;
}

// The positive value rounded to `digits` decimals, times 10^digits.
int64_t scaledDecimals(double value, int digits)
{
  char buffer[64];
  const std::to_chars_result r =
    std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, digits);
  int64_t m = 0;
  for (const char* c = buffer; c < r.ptr; ++c)
    if (*c >= '0' && *c <= '9')
      m = m * 10 + (*c - '0');
  return m;
}

// m / 10^digits as quantize writes it: no trailing zeros, no bare point.
std::string decimalText(int64_t m, int digits)
{
  std::string s = std::to_string(m);
  if (s.size() <= (size_t)digits)
    s.insert(0, (size_t)digits + 1 - s.size(), '0');
  s.insert(s.size() - (size_t)digits, ".");
  while (s.back() == '0')
    s.pop_back();
  if (s.back() == '.')
    s.pop_back();
  return s;
}

} // namespace

std::string sizeText(double points)
{
  std::string two = quantize(points, kSizeDigits).str();
  if (!(points > 0 && points < 1e6))
    return two;
  PixelsAt at;
  for (int dpi = 1; dpi <= kSizeMaxDpi; ++dpi) {
    const double x = points * dpi / 72.0;
    const double n = std::round(x);
    if (n >= 1 && std::fabs(x - n) <= 1e-12 * n)
      at.emplace_back(dpi, n);
  }
  if (at.empty() || readsBack(two, at, true))
    return two;
  // The exact size to more digits, or a unit of the last digit below it.
  for (const bool onPixels : {true, false})
    for (int digits = kSizeDigits; digits <= 10; ++digits) {
      const int64_t m = scaledDecimals(points, digits);
      for (const int64_t c : {m, m - 1}) {
        if (c <= 0)
          continue;
        std::string text = decimalText(c, digits);
        if (readsBack(text, at, onPixels))
          return text;
      }
    }
  return two;
}

std::streamsize PDFCountingBuf::xsputn(const char* p, std::streamsize n)
{
  const std::streamsize written = target->sputn(p, n);
  if (written > 0)
    count += (uint64_t)written;
  if (written != n)
    failed = true;
  return written;
}

PDFCountingBuf::int_type PDFCountingBuf::overflow(int_type c)
{
  if (traits_type::eq_int_type(c, traits_type::eof()))
    return traits_type::not_eof(c);
  if (traits_type::eq_int_type(target->sputc(traits_type::to_char_type(c)), traits_type::eof())) {
    failed = true;
    return traits_type::eof();
  }
  ++count;
  return c;
}

PDFCountingBuf::pos_type PDFCountingBuf::seekoff(off_type off, std::ios_base::seekdir dir,
                                                 std::ios_base::openmode which)
{
  if (off == 0 && dir == std::ios_base::cur && (which & std::ios_base::out))
    return pos_type((off_type)count);
  return pos_type(off_type(-1));
}

int PDFCountingBuf::sync()
{
  if (target->pubsync() != 0)
    failed = true;
  return failed ? -1 : 0;
}

static uint64_t startPosition(std::ostream* output, bool append)
{
  if (!append)
    return 0;
  // An update continues the existing file: offsets count from its start.
  output->seekp(0, std::ios_base::end);
  const std::streamoff end = output->tellp();
  if (end < 0) {
    output->clear();
    return 0;
  }
  return (uint64_t)end;
}

PDFContext::PDFContext(std::ostream* output, const char* creator, const std::string& id1,
                       const std::string& id2, unsigned prevXref, unsigned objBase, int pagesRef,
                       unsigned pageCount)
  : output(output), xref(objBase), info(xref, creator ? creator : ""),
    pageTree(xref, pagesRef, pageCount), catalog(xref, pageTree),
    trailer(xref, catalog, &info, id1, id2, prevXref),
    buf(new PDFCountingBuf(output->rdbuf(), startPosition(output, prevXref != 0))),
    counted(buf.get())
{
  counted.imbue(std::locale::classic());
  if (prevXref == 0)
    counted << "%PDF-1.5\n%\xc9\xcc\n";
  info.write(counted);
}

bool PDFContext::good()
{
  return !buf->failed && !counted.bad() && !output->fail();
}

void PDFContext::beginPage(double width, double height)
{
  if (currentPage)
    currentPage->write(counted);
  currentPage = new PDFPage(xref, pageTree, width, height);
  pages.push_back(currentPage);
}

bool PDFContext::finish()
{
  if (finished)
    return good();
  finished = true;
  if (currentPage)
    currentPage->write(counted);
  for (auto& font : fonts)
    font.second->write(counted);
  pageTree.write(counted);
  catalog.write(counted);
  xref.write(counted);
  trailer.write(counted);
  output->flush();
  const bool ok = good();
  for (PDFPage* page : pages)
    delete page;
  pages.clear();
  currentPage = nullptr;
  for (auto& font : fonts)
    delete font.second;
  fonts.clear();
  for (PDFObject* image : images)
    delete image;
  images.clear();
  return ok;
}

PDFContext::~PDFContext()
{
  finish();
}
