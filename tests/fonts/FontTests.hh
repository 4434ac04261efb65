// Shared pieces of the font tests: the reference faces, FreeType opened
// independently of the engine, and glyph data read back through AGG's
// serialized adaptors.
#pragma once

#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <string>
#include <vector>

#include <agg_font_cache_manager.h>
#include <agg_path_storage_integer.h>
#include <agg_scanline_storage_aa.h>
#include <agg_scanline_storage_bin.h>

#include "tests/support/TestSupport.hh"

namespace fonttest {

// DejaVu faces come with fonts-dejavu-core (scripts/install-deps).
inline const std::string dejavuDir = "/usr/share/fonts/truetype/dejavu/";
inline const std::string dejavuSans = dejavuDir + "DejaVuSans.ttf";
inline const std::string dejavuSerif = dejavuDir + "DejaVuSerif.ttf";

inline bool haveFile(const std::string& path)
{
  return !testsupport::readFile(path).empty();
}

#define REQUIRE_FONT(path)                                                         \
  if (!fonttest::haveFile(path)) {                                                 \
    if (testsupport::underCI())                                                    \
      FAIL() << "font missing: " << (path);                                        \
    else                                                                           \
      GTEST_SKIP() << "font missing: " << (path);                                  \
  }

// FreeType on its own, for reference values.
struct FreeTypeFace {
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  explicit FreeTypeFace(const std::string& path, unsigned pixelSize = 0)
  {
    if (FT_Init_FreeType(&library) == 0 && FT_New_Face(library, path.c_str(), 0, &face) == 0 &&
        pixelSize)
      FT_Set_Char_Size(face, 0, FT_F26Dot6(pixelSize) * 64, 72, 72);
  }
  ~FreeTypeFace()
  {
    if (face)
      FT_Done_Face(face);
    if (library)
      FT_Done_FreeType(library);
  }
  FreeTypeFace(const FreeTypeFace&) = delete;
  FreeTypeFace& operator=(const FreeTypeFace&) = delete;
};

struct Vertex {
  unsigned cmd;
  double x, y;
};

// Decodes a serialized outline with AGG's own adaptor.
template <class Coord>
std::vector<Vertex> outlineOf(const agg::glyph_cache* glyph, double x = 0, double y = 0)
{
  std::vector<Vertex> out;
  agg::serialized_integer_path_adaptor<Coord, 6> adaptor;
  adaptor.init(glyph->data, glyph->data_size, x, y, 1.0);
  adaptor.rewind(0);
  Vertex v;
  while (!agg::is_stop(v.cmd = adaptor.vertex(&v.x, &v.y)))
    out.push_back(v);
  return out;
}

// Coverage image of a gray8 or mono glyph read back through AGG's
// serialized scanline adaptors: cover[(y - y0) * w + (x - x0)].
struct Coverage {
  int x0 = 0, y0 = 0, w = 0, h = 0;
  std::vector<int> cover;
  int at(int x, int y) const
  {
    if (x < x0 || y < y0 || x >= x0 + w || y >= y0 + h)
      return 0;
    return cover[size_t(y - y0) * w + (x - x0)];
  }
};

inline Coverage coverageOf(const agg::glyph_cache* glyph, int x0, int y0, int w, int h)
{
  Coverage c;
  c.x0 = x0;
  c.y0 = y0;
  c.w = w;
  c.h = h;
  c.cover.assign(size_t(w) * h, 0);
  auto put = [&](int x, int y, int v) {
    if (x >= x0 && y >= y0 && x < x0 + w && y < y0 + h)
      c.cover[size_t(y - y0) * w + (x - x0)] = v;
  };
  if (glyph->data_type == agg::glyph_data_gray8) {
    agg::serialized_scanlines_adaptor_aa<agg::int8u> adaptor;
    agg::serialized_scanlines_adaptor_aa<agg::int8u>::embedded_scanline sl;
    adaptor.init(glyph->data, glyph->data_size, 0, 0);
    if (adaptor.rewind_scanlines()) {
      while (adaptor.sweep_scanline(sl)) {
        auto span = sl.begin();
        for (unsigned n = sl.num_spans(); n; --n, ++span) {
          int len = span->len;
          if (len < 0)
            for (int i = 0; i < -len; ++i)
              put(span->x + i, sl.y(), span->covers[0]);
          else
            for (int i = 0; i < len; ++i)
              put(span->x + i, sl.y(), span->covers[i]);
        }
      }
    }
  } else if (glyph->data_type == agg::glyph_data_mono) {
    agg::serialized_scanlines_adaptor_bin adaptor;
    agg::serialized_scanlines_adaptor_bin::embedded_scanline sl;
    adaptor.init(glyph->data, glyph->data_size, 0, 0);
    if (adaptor.rewind_scanlines()) {
      while (adaptor.sweep_scanline(sl)) {
        auto span = sl.begin();
        for (unsigned n = sl.num_spans(); n; --n, ++span)
          for (int i = 0; i < span->len; ++i)
            put(span->x + i, sl.y(), 255);
      }
    }
  }
  return c;
}

} // namespace fonttest
