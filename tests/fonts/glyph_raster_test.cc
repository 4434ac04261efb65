// Scanline renderings of the engine against FreeType's own renderer for the
// same outline and size.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "fonts/font_engine.hh"
#include "fonts/glyph_cache_manager.hh"
#include "tests/fonts/FontTests.hh"

using namespace fonttest;

namespace {

struct Rendered {
  Coverage ours;
  Coverage ft; // FreeType's, in the same pixel grid
};

// Renders `code` at an integer pixel size both ways. The engine flips y, so
// its pixel row r is FreeType's row r + bitmap_top.
template <class Engine>
Rendered render(unsigned code, unsigned size, agg::glyph_rendering ren, FT_Render_Mode mode)
{
  Rendered r;
  Engine engine;
  agg::glyph_cache_manager<Engine> manager(engine);
  engine.flip_y(true);
  engine.height(size);
  EXPECT_TRUE(engine.load_font("DejaVu Sans", "", ren));
  const agg::glyph_cache* g = manager.glyph(code);
  EXPECT_TRUE(g);
  if (!g)
    return r;

  FreeTypeFace ft(dejavuSans, size);
  EXPECT_EQ(FT_Load_Glyph(ft.face, FT_Get_Char_Index(ft.face, code), FT_LOAD_NO_HINTING), 0);
  EXPECT_EQ(FT_Render_Glyph(ft.face->glyph, mode), 0);
  const FT_Bitmap& bm = ft.face->glyph->bitmap;
  int left = ft.face->glyph->bitmap_left, top = ft.face->glyph->bitmap_top;

  int x0 = std::min(left, g->bounds.x1) - 2, y0 = std::min(-top, g->bounds.y1) - 2;
  int x1 = std::max(left + int(bm.width), g->bounds.x2) + 2;
  int y1 = std::max(-top + int(bm.rows), g->bounds.y2) + 2;
  r.ours = coverageOf(g, x0, y0, x1 - x0, y1 - y0);
  r.ft.x0 = x0;
  r.ft.y0 = y0;
  r.ft.w = x1 - x0;
  r.ft.h = y1 - y0;
  r.ft.cover.assign(size_t(r.ft.w) * r.ft.h, 0);
  for (unsigned row = 0; row < bm.rows; ++row)
    for (unsigned col = 0; col < bm.width; ++col) {
      const unsigned char* line = bm.buffer + ptrdiff_t(row) * bm.pitch;
      int v = mode == FT_RENDER_MODE_MONO ? ((line[col >> 3] >> (7 - (col & 7))) & 1) * 255
                                          : line[col];
      int x = left + int(col), y = int(row) - top;
      r.ft.cover[size_t(y - y0) * r.ft.w + (x - x0)] = v;
    }
  return r;
}

} // namespace

TEST(GlyphRaster, Gray8CoverageMatchesFreeType)
{
  REQUIRE_FONT(dejavuSans);
  for (unsigned size : {12u, 33u, 100u})
    for (unsigned code : {unsigned('A'), unsigned('o'), unsigned('g'), 0x416u, unsigned('@')}) {
      Rendered r = render<agg::font_engine_system_int32>(code, size, agg::glyph_ren_agg_gray8,
                                                         FT_RENDER_MODE_NORMAL);
      long sumOurs = 0, sumFt = 0, sumDiff = 0;
      int maxDiff = 0;
      for (size_t i = 0; i < r.ours.cover.size(); ++i) {
        int d = std::abs(r.ours.cover[i] - r.ft.cover[i]);
        maxDiff = std::max(maxDiff, d);
        sumDiff += d;
        sumOurs += r.ours.cover[i];
        sumFt += r.ft.cover[i];
      }
      // Both compute exact area coverage; they differ in curve flattening
      // (FreeType's chords are coarser, which shows most on small round
      // glyphs) and in the outline's 1/64-pixel rounding.
      double tolerance = size < 20 ? 0.06 : 0.015;
      EXPECT_LE(maxDiff, 24) << size << " U+" << std::hex << code;
      EXPECT_LT(double(sumDiff) / double(sumFt), tolerance) << size << " U+" << std::hex << code;
      EXPECT_NEAR(double(sumOurs) / double(sumFt), 1.0, tolerance) << size;
    }
}

TEST(GlyphRaster, MonoCoversWhatFreeTypeSetsAndNoMoreThanItsInk)
{
  REQUIRE_FONT(dejavuSans);
  for (unsigned size : {12u, 40u})
    for (unsigned code : {unsigned('A'), unsigned('o'), unsigned('g'), 0x416u}) {
      Rendered mono = render<agg::font_engine_system_int16>(code, size, agg::glyph_ren_native_mono,
                                                            FT_RENDER_MODE_MONO);
      Rendered gray = render<agg::font_engine_system_int16>(code, size, agg::glyph_ren_agg_gray8,
                                                            FT_RENDER_MODE_NORMAL);
      int missed = 0, stray = 0, set = 0;
      for (int y = mono.ours.y0; y < mono.ours.y0 + mono.ours.h; ++y)
        for (int x = mono.ours.x0; x < mono.ours.x0 + mono.ours.w; ++x) {
          bool ours = mono.ours.at(x, y) != 0;
          set += ours;
          // A pixel FreeType's sampler sets has coverage, so it is ours too.
          missed += mono.ft.at(x, y) && !ours;
          // Ours is the glyph's ink: any coverage at all, as FreeType's
          // gray rendering sees it.
          stray += ours && gray.ft.at(x, y) == 0;
        }
      EXPECT_EQ(missed, 0) << size << " U+" << std::hex << code;
      // A few edge pixels with a trace of coverage FreeType rounds to 0.
      EXPECT_LE(stray, 4 + set / 40) << size << " U+" << std::hex << code;
      EXPECT_GT(set, 10);
    }
}

TEST(GlyphRaster, BoundsEncloseTheCoverageAndSpaceIsEmpty)
{
  REQUIRE_FONT(dejavuSans);
  for (agg::glyph_rendering ren : {agg::glyph_ren_agg_gray8, agg::glyph_ren_agg_mono}) {
    agg::font_engine_system_int32 engine;
    agg::glyph_cache_manager<agg::font_engine_system_int32> manager(engine);
    engine.height(50);
    engine.flip_y(true);
    ASSERT_TRUE(engine.load_font("DejaVu Sans", "", ren));
    const agg::glyph_cache* g = manager.glyph('M');
    ASSERT_TRUE(g);
    Coverage c = coverageOf(g, g->bounds.x1 - 3, g->bounds.y1 - 3, g->bounds.x2 - g->bounds.x1 + 6,
                            g->bounds.y2 - g->bounds.y1 + 6);
    int minX = 1 << 30, maxX = -(1 << 30), minY = 1 << 30, maxY = -(1 << 30);
    for (int y = c.y0; y < c.y0 + c.h; ++y)
      for (int x = c.x0; x < c.x0 + c.w; ++x)
        if (c.at(x, y)) {
          minX = std::min(minX, x);
          maxX = std::max(maxX, x);
          minY = std::min(minY, y);
          maxY = std::max(maxY, y);
        }
    EXPECT_EQ(g->bounds.x1, minX);
    EXPECT_EQ(g->bounds.y1, minY);
    EXPECT_EQ(g->bounds.x2, maxX + 1);
    EXPECT_EQ(g->bounds.y2, maxY + 1);

    const agg::glyph_cache* space = manager.glyph(' ');
    ASSERT_TRUE(space);
    EXPECT_EQ(space->bounds.x1, 0);
    EXPECT_EQ(space->bounds.x2, 0);
    Coverage none = coverageOf(space, -5, -5, 10, 10);
    for (int v : none.cover)
      EXPECT_EQ(v, 0);
  }
}
