// PDF text: the text operators of a page, the standard fonts with their
// one-byte codes, /Differences encodings, widths and ToUnicode maps.
#include <cstdio>
#include <iostream>

#include "codecs/PDF.hh"
#include "codecs/PDFFonts.hh"
#include "utility/UTF8.hh"

namespace {

uint8_t defaultCode(uint32_t codePoint)
{
  return codePoint < unicode_map_size ? unicode_map[codePoint].code : 0;
}

std::string hex4(uint32_t value, bool upper)
{
  char buffer[16];
  snprintf(buffer, sizeof buffer, upper ? "%04X" : "%04x", value);
  return buffer;
}

} // namespace

PDFFont::PDFFont(PDFXref& xref, const std::string& name)
  : PDFObject(xref), name(name), number(++xref.fontCount)
{
}

PDFFont::~PDFFont()
{
  delete toUnicode;
  delete encoding;
}

uint8_t PDFFont::getMappedCode(uint32_t codePoint)
{
  auto it = codeMap.find(codePoint);
  if (it != codeMap.end())
    return it->second;
  const uint8_t c = defaultCode(codePoint);
  if (c != 0) {
    if (!used[c]) {
      used[c] = true;
      codeMap[codePoint] = c;
      return c;
    }
    if (xref.firstTime("remapped"))
      std::cerr << "default mapping already remapped, in use" << std::endl;
  }
  auto take = [&](int code) {
    used[code] = true;
    codeMap[codePoint] = (uint8_t)code;
    return (uint8_t)code;
  };
  for (int code = 1; code <= 31; ++code)
    if (!used[code])
      return take(code);
  for (int code = 254; code >= 126; --code)
    if (!used[code])
      return take(code);
  for (int code = 33; code <= 125; ++code)
    if (!used[code])
      return take(code);
  if (xref.firstTime("all used"))
    std::cerr << "failed to find free codepoint, all used!" << std::endl;
  return 0;
}

void PDFFont::writeImpl(std::ostream& s)
{
  for (const auto& pair : codeMap)
    if (pair.second != defaultCode(pair.first)) {
      if (!encoding)
        encoding = new PDFFontEncoding(xref);
      if (!toUnicode)
        toUnicode = new PDFToUnicode(xref, *encoding);
      encoding->codes[pair.second] = pair.first;
    }
  s << "<</Type/Font/Subtype/Type1/BaseFont/" << pdfEscapeName(name) << "/Encoding";
  if (!encoding) {
    s << "/WinAnsiEncoding>>";
    return;
  }
  s << " " << encoding->indirectRef() << "/ToUnicode " << toUnicode->indirectRef();
  font_metrics metrics;
  if (!standardFontMetrics(name, metrics))
    std::cerr << "unknown font widths: " << name << std::endl;
  std::map<uint8_t, unsigned> widths;
  for (const auto& pair : codeMap)
    widths[pair.second] = glyphWidth(metrics, pair.first);
  const int first = widths.begin()->first, last = widths.rbegin()->first;
  s << "/FirstChar " << first << "/LastChar " << last << "/Widths[";
  for (int code = first; code <= last; ++code) {
    auto it = widths.find((uint8_t)code);
    s << (code == first ? "" : " ") << (it == widths.end() ? 600u : it->second);
  }
  s << "]>>";
  followers.push_back(encoding);
  followers.push_back(toUnicode);
}

void PDFFontEncoding::writeImpl(std::ostream& s)
{
  s << "<</Type/Encoding/BaseEncoding/WinAnsiEncoding/Differences[";
  int previous = -2;
  uint32_t firstNameless = 0;
  size_t nameless = 0;
  for (const auto& pair : codes) {
    if (pair.first != previous + 1)
      s << (previous == -2 ? "" : " ") << (int)pair.first;
    previous = pair.first;
    const uint32_t u = pair.second;
    const char* name = u < unicode_map_size ? unicode_map[u].name : nullptr;
    if (name) {
      s << "/" << name;
    } else {
      if (nameless++ == 0)
        firstNameless = u;
      s << "/u" << hex4(u, true);
    }
  }
  s << "]>>";
  // Said once per document: a page of text in another script has hundreds.
  if (nameless > 0 && xref.firstTime("glyph name")) {
    std::cerr << "Adobe glyph name missing for: 0x" << std::hex << firstNameless << std::dec
              << ": " << EncodeUtf8(std::vector<uint32_t>{firstNameless});
    if (nameless > 1)
      std::cerr << " and " << nameless - 1 << " more";
    std::cerr << std::endl;
  }
}

void PDFToUnicode::writeStreamTagsImpl(std::ostream& s)
{
  if (!filter.empty())
    s << "/Filter" << filter;
}

void PDFToUnicode::writeStreamImpl(std::ostream& s)
{
  std::ostringstream m;
  m << "<<\n/CIDInit\n/ProcSet findresource begin 12 dict begin begincmap\n/CIDSystemInfo\n<<\n"
       "/Registry (EE)\n/Ordering(UCS)\n/Supplement 0\n>> def\n/CMapName /EE def\n"
       "1 begincodespacerange\n<00> <ff>\nendcodespacerange\n"
    << encoding.codes.size() << " beginbfrange\n";
  char code[8];
  for (const auto& pair : encoding.codes) {
    snprintf(code, sizeof code, "%02x", pair.first);
    uint32_t u = pair.second;
    // Destinations are UTF-16BE: beyond the basic plane a surrogate pair.
    std::string target;
    if (u > 0xFFFF && u <= 0x10FFFF) {
      u -= 0x10000;
      target = hex4(0xD800 + (u >> 10), false) + hex4(0xDC00 + (u & 0x3FF), false);
    } else {
      target = hex4(u, false);
    }
    m << "<" << code << "> <" << code << "> <" << target << ">\n";
  }
  m << "endbfrange\nendcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n>>\n";
  const std::string text = m.str();
  writeStreamText(s, text, filter);
}

void PDFContentStream::beginText(int renderMode)
{
  procSet |= 4;
  lastX = lastY = fontSize = 0;
  fontName.clear();
  operators << "BT\n";
  // The mode belongs to the graphics state and outlives ET: an invisible
  // text layer must not hide the text shown after it.
  if (renderMode != textRenderMode) {
    operators << renderMode << " Tr\n";
    textRenderMode = renderMode;
  }
}

void PDFContentStream::textTo(double x, double y)
{
  translateY(y);
  operators << quantize(x - lastX, 1) << " " << quantize(y - lastY, 1) << " Td\n";
  lastX = x;
  lastY = y;
}

void PDFContentStream::showText(PDFFont& font, const std::string& text, double size,
                                const std::vector<int>* kerning)
{
  ownerPage.addResource(&font);
  if (font.resourceName() != fontName || size != fontSize) {
    fontName = font.resourceName();
    fontSize = size;
    operators << fontName << " " << quantize(size, 1) << " Tf\n";
  }
  size_t malformed = 0;
  const std::vector<uint32_t> codePoints = DecodeUtf8(text.data(), text.size(), &malformed);
  if (malformed > 0 && xref.firstTime("utf-8"))
    std::cerr << "PDFCodec: text that is not UTF-8, its bad bytes shown as U+FFFD" << std::endl;
  const double leading = size * 1.5;
  bool arrayOpen = false, stringOpen = false, leadingWritten = false;
  std::string out;
  auto closeAll = [&](const char* after) {
    if (stringOpen)
      out += ')';
    if (stringOpen || arrayOpen)
      out += std::string(kerning ? "]TJ" : "Tj") + after;
    stringOpen = arrayOpen = false;
  };
  for (size_t i = 0; i < codePoints.size(); ++i) {
    const uint32_t u = codePoints[i];
    if (u == 10) {
      closeAll(" ");
      operators << out;
      out.clear();
      if (!leadingWritten) {
        operators << leading << " TL ";
        leadingWritten = true;
      }
      operators << "T*\n";
    } else {
      const uint8_t code = font.getMappedCode(u);
      if (code == 0) {
        if (xref.firstTime("unmapped"))
          std::cerr << "Failed to map codepoint: " << std::hex << u << std::dec << std::endl;
        continue;
      }
      if (kerning && !arrayOpen) {
        out += '[';
        arrayOpen = true;
      }
      if (!stringOpen) {
        out += '(';
        stringOpen = true;
      }
      switch (code) {
      case '(': case ')': case '\\': out += '\\'; out += (char)code; break;
      case 8: out += "\\b"; break;
      case 9: out += "\\t"; break;
      case 10: out += "\\n"; break;
      case 12: out += "\\f"; break;
      case 13: out += "\\r"; break;
      default: out += (char)code;
      }
    }
    if (kerning && i < kerning->size() && (*kerning)[i] != 0) {
      if (!arrayOpen) { // a number outside an array is no operand TJ takes
        out += '[';
        arrayOpen = true;
      }
      if (stringOpen)
        out += ')';
      stringOpen = false;
      out += std::to_string((*kerning)[i]);
    }
  }
  closeAll("\n");
  operators << out;
}

void PDFContentStream::endText()
{
  operators << "ET\n";
}

PDFFont& PDFContext::getFont(const std::string& name)
{
  PDFFont*& font = fonts[name];
  if (!font)
    font = new PDFFont(xref, name);
  return *font;
}

void PDFCodec::beginText(int renderMode)
{
  if (PDFContentStream* c = page("beginText"))
    c->beginText(renderMode);
}

void PDFCodec::textTo(double x, double y)
{
  if (PDFContentStream* c = page("textTo"))
    c->textTo(x, y);
}

void PDFCodec::showText(const std::string& font, const std::string& text, double size,
                        const std::vector<int>* kerning)
{
  if (PDFContentStream* c = page("showText"))
    c->showText(context->getFont(font), text, size, kerning);
}

void PDFCodec::endText()
{
  if (PDFContentStream* c = page("endText"))
    c->endText();
}
