// Constant data of the PDF writer's standard fonts: the Unicode table
// (glyph name, default WinAnsi code, glyph class) and the width tables.
#pragma once

#include <cstdint>
#include <string>

struct unicode_map_entry {
  const char* name; // Adobe glyph name, or null
  uint8_t code;     // WinAnsi code, 0 = none
  uint8_t flags;    // glyph class, below
};

// Glyph classes: the glyph reaches the ascender or capital height, has a
// descender, tells nothing about the line height (spaces, punctuation,
// marks), rises above the capital height.
enum { glyph_ascender = 1, glyph_descender = 2, glyph_neutral = 4, glyph_above_cap = 8 };

extern const uint32_t unicode_map_size; // U+0000..U+2122
extern const unicode_map_entry unicode_map[];

// Widths in thousandths of the text size by code point; entry 0 (600) is
// the fallback for entries of 0 and code points past the end.
extern const uint32_t helvetica_metrics_size, helveticaBold_metrics_size;
extern const uint16_t helvetica_metrics[], helveticaBold_metrics[];
extern const uint32_t helveticaOblique_metrics_size, helveticaBoldOblique_metrics_size;
extern const uint16_t* const helveticaOblique_metrics;
extern const uint16_t* const helveticaBoldOblique_metrics;
extern const uint32_t courier_metrics_size, courierBold_metrics_size, courierOblique_metrics_size,
  courierBoldOblique_metrics_size;
extern const uint16_t courier_metrics[], courierBold_metrics[], courierOblique_metrics[],
  courierBoldOblique_metrics[];

struct font_metrics {
  const uint16_t* widths;
  uint32_t size;
};
// The width table of a standard font name; false for other names.
bool standardFontMetrics(const std::string& name, font_metrics& out);
// The width of a code point in a table, with the fallback.
unsigned glyphWidth(const font_metrics& m, uint32_t codePoint);
