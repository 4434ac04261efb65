// Drawing one hOCR line: font size estimate, family choice, sub-lines at
// large gaps, the invisible PDF text and the text, HTML and RTF output.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iostream>

#include "hocr/hocr.hh"
#include "codecs/PDF.hh"
#include "codecs/PDFFonts.hh"
#include "utility/UTF8.hh"
#include "utility/Saturate.hh"

namespace {

// The unicode_map code in the low byte, the glyph class above it.
unsigned lookupGlyph(uint32_t codePoint)
{
  if (codePoint >= unicode_map_size)
    return glyph_ascender << 8;
  return unicode_map[codePoint].code | (unsigned)unicode_map[codePoint].flags << 8;
}

unsigned glyphFlags(uint32_t codePoint)
{
  return lookupGlyph(codePoint) >> 8;
}

bool isSpaceCode(uint32_t c)
{
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::vector<uint32_t> codePointsOf(const std::string& text)
{
  return DecodeUtf8(text.data(), text.size());
}

const uint32_t kSoftHyphen = 0xAD;

struct queue {
  queue(PDFCodec* pdf, std::ostream* txt, const std::string& format, float size, float baseline)
    : pdf(pdf), txt(txt), format(format), size(size), baseline(baseline)
  {
  }

  void flush(bool lineEnd, bool sloppy);
  void writeText(bool lineEnd, bool sloppy);
  void writeTxt(std::ostream& s, size_t count, const char* lineEnd) const;
  void writeHTML(std::ostream& s, size_t count, const char* lineEnd) const;
  void writeRTF(std::ostream& s, size_t count, const char* lineEnd) const;
  void smoothAdjustments();
  void showRuns();

  PDFCodec* pdf;
  std::ostream* txt;
  const std::string& format;
  std::vector<uint32_t> glyphs;
  std::vector<int> adjustments;
  std::vector<float> xs;
  float size;
  float baseline;
  std::string font;
  bool underlined = false;
  bool first = true;
};

void writeHTMLGlyph(std::ostream& s, uint32_t c)
{
  switch (c) {
  case '"': s << "&quot;"; break;
  case '&': s << "&amp;"; break;
  case '<': s << "&lt;"; break;
  case '>': s << "&gt;"; break;
  default: EncodeUtf8(s, c);
  }
}

// The queued glyphs as text, in the words of one format; lineEnd is what
// ends the line ("" within a line).
void queue::writeTxt(std::ostream& s, size_t count, const char* lineEnd) const
{
  if (!first)
    s << " ";
  for (size_t i = 0; i < count; ++i)
    EncodeUtf8(s, glyphs[i]);
  s << lineEnd;
}

void queue::writeHTML(std::ostream& s, size_t count, const char* lineEnd) const
{
  static const struct {
    const char* font;
    const char* open;
    const char* close;
  } tags[] = {
    {"Helvetica", "", ""},
    {"Helvetica-Bold", "<b>", "</b>"},
    {"Helvetica-Oblique", "<i>", "</i>"},
    {"Helvetica-BoldOblique", "<b><i>", "</i></b>"},
    {"Courier", "<tt>", "</tt>"},
    {"Courier-Bold", "<tt><b>", "</b></tt>"},
    {"Courier-Oblique", "<tt><i>", "</i></tt>"},
    {"Courier-BoldOblique", "<tt><b><i>", "</i></b></tt>"},
  };
  std::string open, close;
  bool known = false;
  for (const auto& t : tags)
    if (font == t.font) {
      open = t.open;
      close = t.close;
      known = true;
    }
  if (!known)
    std::cerr << "Unmatched font during HTML writing: " << font << std::endl;
  if (underlined) {
    open += "<u>";
    close = "</u>" + close;
  }
  s << open;
  if (!first)
    s << " ";
  for (size_t i = 0; i < count; ++i)
    writeHTMLGlyph(s, glyphs[i]);
  s << close << lineEnd;
}

void queue::writeRTF(std::ostream& s, size_t count, const char* lineEnd) const
{
  std::string words;
  const size_t dash = font.find('-');
  const std::string face = dash == std::string::npos ? "" : font.substr(dash + 1);
  const std::string family = font.substr(0, dash);
  if (family != "Helvetica" && family != "Courier")
    std::cerr << "Unmatched font during RTF writing: " << font << std::endl;
  else if (face == "Bold")
    words = "\\b";
  else if (face == "Oblique")
    words = "\\i";
  else if (face == "BoldOblique")
    words = "\\b\\i";
  else if (!face.empty())
    std::cerr << "Unmatched font during RTF writing: " << font << std::endl;
  if (underlined)
    words += "\\ul";
  if (!words.empty())
    s << "{" << words << " ";
  if (!first)
    s << " ";
  bool ucWritten = false;
  for (size_t i = 0; i < count; ++i) {
    const uint32_t c = glyphs[i];
    if (c == '\\' || c == '{' || c == '}') {
      s << '\\' << (char)c;
    } else if (c < 128) {
      s << (char)c;
    } else if (c < 0x10000) {
      if (!ucWritten) {
        s << "\\uc0";
        ucWritten = true;
      }
      s << "\\u" << (int16_t)(uint16_t)c << " ";
    } else {
      std::cerr << "RTF: can not encode unicode point: " << std::hex << c << std::dec
                << std::endl;
    }
  }
  if (!words.empty())
    s << "}";
  s << lineEnd;
}

void queue::writeText(bool lineEnd, bool sloppy)
{
  // A sloppy line end joins the next line's words; after a soft hyphen
  // without a space, and the hyphen is dropped.
  const bool hyphen = sloppy && glyphs.back() == kSoftHyphen;
  const char* separator = hyphen ? "" : " ";
  const size_t count = glyphs.size() - (hyphen ? 1 : 0);
  auto end = [&](const char* hard) { return !lineEnd ? "" : sloppy ? separator : hard; };
  if (format == "txt")
    writeTxt(*txt, count, end("\n"));
  else if (format == "html")
    writeHTML(*txt, count, end("<br>"));
  else if (format == "rtf")
    writeRTF(*txt, count, end("\\\n"));
  else
    std::cerr << "unknown txt fmt: " << format << std::endl;
}

// Evens out the kerning adjustments between neighbours, moves the one
// before a space onto the space, and drops the small ones, so a run of
// text breaks only at real gaps.
void queue::smoothAdjustments()
{
  std::vector<int>& K = adjustments;
  const size_t n = K.size();
  // Sums and products in 64 bits: the adjustments come from the hOCR
  // boxes and can be anything a file says.
  auto g = [](int v) { return (v < 0 ? -int64_t(v) : int64_t(v)) + 100; };
  for (size_t i = 0; i < n; ++i) {
    int64_t k = K[i];
    const int64_t gp = i > 0 ? g(K[i - 1]) : 0, gi = g(K[i]), gn = i + 1 < n ? g(K[i + 1]) : 0;
    if (i > 0)
      k += K[i - 1];
    if (i + 1 < n)
      k += K[i + 1];
    const int64_t t = gp + gi + gn;
    if (i > 0)
      K[i - 1] = saturate_cast<int>(k * gp / t);
    K[i] = saturate_cast<int>(k * gi / t);
    if (i + 1 < n)
      K[i + 1] = saturate_cast<int>(k * gn / t);
  }
  for (size_t i = 0; i < n; ++i) {
    if (i + 1 < glyphs.size() && glyphs[i + 1] == ' ' && i + 1 < n) {
      K[i + 1] = saturate_cast<int>(int64_t(K[i + 1]) + K[i]);
      K[i] = 0;
    }
    if (K[i] != 0 && std::abs(K[i]) < 8) {
      if (i > 0 && K[i - 1] != 0)
        K[i - 1] += K[i] / 2;
      if (i + 1 < n)
        K[i + 1] += K[i] / 2;
      K[i] = 0;
    }
    K[i] = 2 * (K[i] / 2);
  }
}

// The glyphs as PDF text runs: a new run, placed at its first glyph's
// position, after every adjustment too large to kern.
void queue::showRuns()
{
  const std::vector<int>& K = adjustments;
  const size_t n = K.size();
  for (size_t s = 0; s < glyphs.size();) {
    std::vector<uint32_t> chunk;
    std::vector<int> kerning;
    size_t i = s;
    for (;; ++i) {
      const int a = i < n ? K[i] : 0;
      chunk.push_back(glyphs[i]);
      kerning.push_back(a);
      if (std::abs(a) > 200 || i + 1 >= glyphs.size())
        break;
    }
    kerning.pop_back();
    pdf->textTo(std::round(xs[s]), std::round(baseline));
    pdf->showText(font, EncodeUtf8(chunk), size, &kerning);
    s = i + 1;
  }
}

void queue::flush(bool lineEnd, bool sloppy)
{
  if (glyphs.empty())
    return;
  if (txt && !format.empty())
    writeText(lineEnd, sloppy);
  if (pdf) {
    smoothAdjustments();
    showRuns();
  }
  glyphs.clear();
  adjustments.clear();
  xs.clear();
  first = false;
}

float stepSize(float size)
{
  if (size < 1)
    return 1;
  if (size < 9)
    return std::round(size * 5) / 5;
  if (size < 14)
    return std::floor(size);
  return 2 * std::round(size / 2);
}

// Whitespace runs become one blank: the line feeds and indentation between
// word elements must not become line moves in the layer.
std::string collapseWhitespace(const std::string& s)
{
  std::string out;
  bool blank = false;
  for (char c : s) {
    if (isSpaceCode((unsigned char)c)) {
      if (!blank)
        out += ' ';
      blank = true;
    } else {
      out += c;
      blank = false;
    }
  }
  return out;
}

} // namespace

std::string decodeEntities(const std::string& s)
{
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    if (s[i] == '&') {
      const size_t semi = s.find(';', i + 1);
      if (semi != std::string::npos && semi - i <= 10) {
        const std::string name = s.substr(i + 1, semi - i - 1);
        static const struct {
          const char* name;
          const char* text;
        } named[] = {{"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"}};
        bool done = false;
        for (const auto& e : named)
          if (name == e.name) {
            out += e.text;
            done = true;
          }
        if (!done && name.size() > 1 && name[0] == '#') {
          const bool hex = name[1] == 'x' || name[1] == 'X';
          const std::string digits = name.substr(hex ? 2 : 1);
          char* end = nullptr;
          const unsigned long v = digits.empty() ? 0 : strtoul(digits.c_str(), &end, hex ? 16 : 10);
          if (!digits.empty() && end && *end == 0 && v > 0 && v <= 0x10FFFF &&
              !(v >= 0xD800 && v <= 0xDFFF) && isalnum((unsigned char)digits[0])) {
            out += EncodeUtf8(std::vector<uint32_t>{(uint32_t)v});
            done = true;
          }
        }
        if (done) {
          i = semi + 1;
          continue;
        }
      }
    }
    out += s[i++];
  }
  return out;
}

void Textline::draw(PDFCodec* pdf, int resX, int resY, std::ostream* txt,
                    const std::string& txtFormat, bool sloppy)
{
  if (spans.empty())
    return;
  if (resX <= 0)
    resX = 72;
  if (resY <= 0)
    resY = 72;
  for (Span& span : spans)
    span.text = decodeEntities(collapseWhitespace(span.text));
  const float sx = 72.0f / resX, sy = 72.0f / resY;

  for (size_t start = 0; start < spans.size();) {
    fontSize = 0;
    int n = 0, count = 0, d = 0;
    float baselineSum = 0;
    size_t j = start;
    for (; j < spans.size(); ++j) {
      const Span& span = spans[j];
      const BBox& b = span.box;
      unsigned c = glyph_neutral;
      for (uint32_t cp : codePointsOf(span.text)) {
        const unsigned f = glyphFlags(cp);
        if (f & glyph_neutral)
          c |= f & 3;
        else
          c = (c & ~(unsigned)glyph_neutral) | (f & 11);
      }
      float s = 0;
      if (!(c & glyph_neutral)) {
        float divisor = (c & glyph_ascender) ? 11.0f : 8.0f;
        if (c & glyph_descender)
          divisor += 2.0f;
        if (c & glyph_above_cap)
          divisor += 2.0f;
        const float h = (std::fabs(b.y2 - b.y1) + 1) * 72 / resY;
        s = h * 15 / divisor;
        fontSize += s;
        ++n;
      }
      if (j == start) {
        baselineSum = b.y2;
        count = 1;
        if (!(c & glyph_descender))
          ++d;
        continue;
      }
      const float r = n > 0 ? fontSize / n : b.y2 - b.y1 + 1;
      const BBox& p = spans[j - 1].box;
      const float m = std::max(p.y2 - p.y1, b.y2 - b.y1);
      const float gap = std::fabs(b.x1 - p.x2);
      int score = (gap >= 5 * m) + (gap >= 1.5f * m);
      if (!(c & glyph_descender) && std::fabs(baselineSum / count - b.y2) >= 0.33f * r + 1.0f)
        ++score;
      if (n > 0 && !(c & glyph_neutral) && std::fabs(r - s) > 0.33f * r)
        ++score;
      if (score >= 2)
        break;
      if (!(c & glyph_descender) && d < 5) {
        baselineSum += b.y2;
        ++count;
      }
      if (!(c & glyph_descender))
        ++d;
    }
    const size_t end = j;
    const float baseline = baselineSum / count * sy;
    fontSize = stepSize(n > 0 ? fontSize / n : fontSize);

    if (pdf)
      pdf->beginText(3);
    for (size_t k = end; k-- > start;) {
      std::string& text = spans[k].text;
      while (!text.empty() && isSpaceCode((unsigned char)text.back()))
        text.pop_back();
      if (!text.empty())
        break;
    }
    queue q(pdf, txt, txtFormat, fontSize, baseline);

    int e = 0;
    std::vector<float> samples;
    for (size_t k = start; k < end; ++k)
      for (uint32_t cp : codePointsOf(spans[k].text)) {
        if (glyphFlags(cp) & glyph_neutral)
          continue;
        if (cp < helvetica_metrics_size &&
            (helvetica_metrics[cp] <= 300 || helvetica_metrics[cp] >= 750))
          ++e;
        samples.push_back(spans[k].box.x2 - spans[k].box.x1);
      }
    std::string family = "Helvetica";
    if (e >= 4 && samples.size() >= 8) {
      std::sort(samples.begin(), samples.end());
      const size_t k = samples.size();
      const float median = samples[k / 2], low = samples[k / 6], high = samples[k - 1 - k / 6];
      if (!(low < 0.8f * median || high > 1.2f * median))
        family = "Courier";
    }

    float pos = -1;
    for (size_t k = start; k < end; ++k) {
      const Span& span = spans[k];
      // A span left empty by the trimming would flush the batch without
      // its line end, and the next line's text would be glued on.
      if (span.text.empty())
        continue;
      static const char* faces[] = {"", "-Bold", "-Oblique", "-BoldOblique"};
      const std::string name = family + faces[span.style & 3];
      font_metrics metrics;
      standardFontMetrics(name, metrics);
      const bool underline = (span.style & style_underline) != 0;
      if (name != q.font || underline != q.underlined) {
        q.flush(false, false);
        q.font = name;
        q.underlined = underline;
      }
      const float x = span.box.x1 * sx;
      if (pos >= 0 && !q.glyphs.empty()) {
        float a = (x - pos) * -1000 / fontSize;
        a = 2 * std::round(a / 2);
        q.adjustments.push_back(saturate_cast<int>(a));
        pos += a / -1000 * fontSize;
      } else {
        pos = x;
      }
      const std::vector<uint32_t> cps = codePointsOf(span.text);
      for (size_t i = 0; i < cps.size(); ++i) {
        uint32_t cp = cps[i];
        if (k + 1 == end && i + 1 == cps.size() && (cp == '-' || cp == 0x2014))
          cp = kSoftHyphen;
        const unsigned w = glyphWidth(metrics, cp);
        q.glyphs.push_back(cp);
        q.xs.push_back(x);
        if (i > 0)
          q.adjustments.push_back(0);
        pos += w / 1000.0f * fontSize;
      }
    }
    q.flush(true, sloppy);
    if (pdf)
      pdf->endText();
    start = end;
  }
}
