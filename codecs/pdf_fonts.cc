// The Courier and oblique width tables, font-name lookup and UTF-8.
#include "codecs/pdf_fonts.hh"

#include <iostream>
#include <sstream>

const uint32_t courier_metrics_size = 1, courierBold_metrics_size = 1,
               courierOblique_metrics_size = 1, courierBoldOblique_metrics_size = 1;
const uint16_t courier_metrics[1] = {600}, courierBold_metrics[1] = {600},
               courierOblique_metrics[1] = {600}, courierBoldOblique_metrics[1] = {600};
// Oblique faces share the widths of their upright twins.
const uint32_t helveticaOblique_metrics_size = 0x2123, helveticaBoldOblique_metrics_size = 0x2123;
const uint16_t* const helveticaOblique_metrics = helvetica_metrics;
const uint16_t* const helveticaBoldOblique_metrics = helveticaBold_metrics;

bool standardFontMetrics(const std::string& name, font_metrics& out)
{
  static const struct {
    const char* name;
    const uint16_t* widths;
    const uint32_t* size;
  } fonts[] = {
    {"Courier", courier_metrics, &courier_metrics_size},
    {"Courier-Bold", courierBold_metrics, &courierBold_metrics_size},
    {"Courier-Oblique", courierOblique_metrics, &courierOblique_metrics_size},
    {"Courier-BoldOblique", courierBoldOblique_metrics, &courierBoldOblique_metrics_size},
    {"Helvetica", helvetica_metrics, &helvetica_metrics_size},
    {"Helvetica-Bold", helveticaBold_metrics, &helveticaBold_metrics_size},
    {"Helvetica-Oblique", helvetica_metrics, &helveticaOblique_metrics_size},
    {"Helvetica-BoldOblique", helveticaBold_metrics, &helveticaBoldOblique_metrics_size},
  };
  for (const auto& f : fonts)
    if (name == f.name) {
      out.widths = f.widths;
      out.size = *f.size;
      return true;
    }
  out.widths = courier_metrics;
  out.size = 1;
  return false;
}

unsigned glyphWidth(const font_metrics& m, uint32_t codePoint)
{
  if (codePoint < m.size && m.widths[codePoint] != 0)
    return m.widths[codePoint];
  return m.widths[0];
}

std::vector<uint32_t> DecodeUtf8(const char* text, size_t n)
{
  std::vector<uint32_t> out;
  out.reserve(n);
  for (size_t i = 0; i < n;) {
    const unsigned char c = (unsigned char)text[i++];
    if (c < 128) {
      out.push_back(c);
      continue;
    }
    int count = 0;
    while (count < 8 && (c & (0x80 >> count)))
      ++count;
    if (count < 2 || count > 4)
      std::cerr << "invalid utf-8 count: " << count << std::string(text, n) << std::endl;
    uint32_t value = c & (0xFF >> count);
    // A sequence cut off by the end keeps what it has; nothing past n is read.
    for (int k = 1; k < count && i < n; ++k) {
      const unsigned char b = (unsigned char)text[i++];
      if ((b & 0xC0) != 0x80)
        std::cerr << "incorrect utf-8 multi-byte mark: " << std::string(text, n) << std::endl;
      value = value * 64 + (b & 63);
    }
    out.push_back(value);
  }
  return out;
}

void EncodeUtf8(std::ostream& s, unsigned int c)
{
  if (c < 0x80) {
    s.put((char)c);
  } else if (c < 0x800) {
    s.put((char)(0xC0 | c >> 6));
    s.put((char)(0x80 | (c & 63)));
  } else if (c < 0x10000) {
    s.put((char)(0xE0 | c >> 12));
    s.put((char)(0x80 | (c >> 6 & 63)));
    s.put((char)(0x80 | (c & 63)));
  } else if (c <= 0x10FFFF) {
    s.put((char)(0xF0 | c >> 18));
    s.put((char)(0x80 | (c >> 12 & 63)));
    s.put((char)(0x80 | (c >> 6 & 63)));
    s.put((char)(0x80 | (c & 63)));
  } else {
    std::cerr << "invalid glyph_code: " << c << std::endl;
  }
}

std::string EncodeUtf8(const std::vector<uint32_t>& codePoints)
{
  std::ostringstream s;
  for (uint32_t c : codePoints)
    EncodeUtf8(s, c);
  return s.str();
}
