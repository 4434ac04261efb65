#include "canvas/Text.hh"

#include <cmath>

#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include "canvas/GlyphRaster.hh"
#include "canvas/ImageDrawing.hh"
#include "canvas/ImageRenderer.hh"
#include "canvas/XPath.hh"
#include "tests/support/TestSupport.hh"

#include <agg_renderer_scanline.h>

namespace {

const std::string kDejaVu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

#define REQUIRE_DEJAVU()                                                           \
  if (testsupport::readFile(kDejaVu).empty()) {                                    \
    if (testsupport::underCI())                                                    \
      FAIL() << "font missing: " << kDejaVu;                                       \
    else                                                                           \
      GTEST_SKIP() << "font missing: " << kDejaVu;                                 \
  }

class TextTest : public ::testing::Test {
protected:
  void SetUp() override { createFontEngine(); }
};

// FreeType's own outline box of a character at a pixel size, y down.
struct Box {
  double x1, y1, x2, y2;
};
Box freetypeBox(unsigned code, double size, double* ascent = nullptr, double* descent = nullptr)
{
  FT_Library lib;
  FT_Face face;
  Box b{0, 0, 0, 0};
  if (FT_Init_FreeType(&lib))
    return b;
  if (FT_New_Face(lib, kDejaVu.c_str(), 0, &face) == 0) {
    FT_Set_Char_Size(face, 0, (FT_F26Dot6)std::lround(size * 64), 72, 72);
    if (FT_Load_Char(face, code, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) == 0) {
      FT_BBox box;
      FT_Outline_Get_CBox(&face->glyph->outline, &box);
      b = {box.xMin / 64.0, -box.yMax / 64.0, box.xMax / 64.0, -box.yMin / 64.0};
    }
    if (ascent)
      *ascent = face->ascender;
    if (descent)
      *descent = face->descender;
    FT_Done_Face(face);
  }
  FT_Done_FreeType(lib);
  return b;
}

// The glyph's fill drawn black on white into a gray image at (x, y).
Image drawGlyph(const Text& text, int w, int h, double x, double y)
{
  Image img = testsupport::uniform(w, h, 1, 8, 255);
  Rasterizer ras;
  ras.clip_box(0, 0, w, h);
  rasterizeGlyph(ras, x, y, text, Transform(), 1);
  renderer_norvel_image ren(img);
  agg::renderer_scanline_aa_solid<renderer_norvel_image> solid(ren);
  solid.color(agg::rgba8(0, 0, 0, 255));
  Scanline sl;
  agg::render_scanlines(ras, sl, solid);
  return img;
}

long ink(const Image& img)
{
  long sum = 0;
  for (int v : testsupport::samplesOf(img))
    sum += 255 - v;
  return sum;
}

} // namespace

TEST_F(TextTest, NewTextHasNoGlyphAndZeroMetrics)
{
  Text t;
  EXPECT_EQ(t.ascender, 0);
  EXPECT_EQ(t.descender, 0);
  int x = 1, y = 1, w = 1, h = 1;
  t.getBounds(x, y, w, h);
  EXPECT_EQ(x + y + w + h, 0);
  double ax = 1, ay = 1;
  t.getAdvancements(ax, ay);
  EXPECT_EQ(ax + ay, 0);
  t.getKerning(ax, ay);
  EXPECT_EQ(ax + ay, 0);
  XPath p;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(t.addToPath(0, 0, p));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Warning: no glyph\n");
  EXPECT_TRUE(p.isEmpty());
}

TEST_F(TextTest, SetFontMetricsFromTheFace)
{
  REQUIRE_DEJAVU();
  double asc = 0, desc = 0;
  freetypeBox('A', 10, &asc, &desc);
  for (double size : {9.0, 24.0, 100.0}) {
    Text t;
    ASSERT_TRUE(t.setFont("DejaVu Sans", "", size));
    // ascender = floor(A / (A - D) * size): the face's share of the
    // height above the baseline.
    EXPECT_NEAR(t.ascender, std::floor(asc / (asc - desc) * size), 1) << size;
    EXPECT_LT(t.descender, 0) << size;
    EXPECT_NEAR(t.ascender - t.descender, (asc - desc) / 2048 * size, 0.05 * size + 1) << size;
  }
}

TEST_F(TextTest, UnloadableFontReports)
{
  Text t;
  t.ascender = 7;
  testing::internal::CaptureStderr();
  const bool ok = t.setFont("", "Bold", 12, "not a font at all");
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(ok);
  EXPECT_EQ(err, "failed to load font: -Bold\n");
  EXPECT_EQ(t.ascender, 7);
}

TEST_F(TextTest, GlyphOutlinesAtSeveralSizes)
{
  REQUIRE_DEJAVU();
  for (double size : {12.0, 40.0, 150.0}) {
    for (unsigned code : {65u, 103u, 0xE9u}) {
      Text t;
      ASSERT_TRUE(t.setFont("DejaVu Sans", "", size, testsupport::readFile(kDejaVu)));
      t.setHinting(false);
      ASSERT_TRUE(t.setFont("DejaVu Sans", "", size, testsupport::readFile(kDejaVu)));
      ASSERT_TRUE(t.selectGlyph(code)) << code;
      XPath p;
      ASSERT_TRUE(t.addToPath(10, 20, p));
      double x1, y1, x2, y2;
      p.getBounds(x1, y1, x2, y2);
      const Box b = freetypeBox(code, size);
      const double tol = 0.75 + size * 0.01;
      EXPECT_NEAR(x1, b.x1 + 10, tol) << size << " " << code;
      EXPECT_NEAR(y1, b.y1 + 20, tol) << size << " " << code;
      EXPECT_NEAR(x2, b.x2 + 10, tol) << size << " " << code;
      EXPECT_NEAR(y2, b.y2 + 20, tol) << size << " " << code;
      int bx, by, bw, bh;
      t.getBounds(bx, by, bw, bh);
      EXPECT_NEAR(bx, b.x1, 1.5) << size;
      EXPECT_NEAR(bw, b.x2 - b.x1 + 1, 2.5) << size;
      double ax, ay;
      t.getAdvancements(ax, ay);
      EXPECT_GT(ax, 0);
      EXPECT_EQ(ay, 0);
    }
  }
}

TEST_F(TextTest, MissingCharacterClearsTheSelection)
{
  REQUIRE_DEJAVU();
  Text t;
  ASSERT_TRUE(t.setFont("DejaVu Sans", "", 20, testsupport::readFile(kDejaVu)));
  ASSERT_TRUE(t.selectGlyph('x'));
  EXPECT_FALSE(t.selectGlyph(0xE000)); // private use: not in the face
  int x, y, w, h;
  t.getBounds(x, y, w, h);
  EXPECT_EQ(w, 0);
}

TEST_F(TextTest, GlyphsOutliveTheCacheAfterMoreThan32Fonts)
{
  REQUIRE_DEJAVU();
  const std::string bytes = testsupport::readFile(kDejaVu);
  Text first;
  ASSERT_TRUE(first.setFont("DejaVu Sans", "", 30, bytes));
  ASSERT_TRUE(first.selectGlyph('B'));
  const Image before = drawGlyph(first, 40, 40, 5, 32);
  const long inked = ink(before);
  EXPECT_GT(inked, 255 * 100);

  // 40 more fonts (each size is a font of its own) push the first out of
  // the cache and the engine.
  std::vector<Text> others(40);
  for (int i = 0; i < 40; ++i) {
    ASSERT_TRUE(others[i].setFont("DejaVu Sans", "", 31 + i, bytes));
    ASSERT_TRUE(others[i].selectGlyph('a' + i % 26));
  }
  EXPECT_TRUE(testsupport::samePixels(drawGlyph(first, 40, 40, 5, 32), before));
  XPath p;
  EXPECT_TRUE(first.addToPath(0, 0, p));
  // Earlier ones still draw too.
  EXPECT_GT(ink(drawGlyph(others[0], 60, 60, 5, 45)), 255 * 50);
}

TEST_F(TextTest, FilledGlyphInkMatchesFreeType)
{
  REQUIRE_DEJAVU();
  Text t;
  t.setHinting(false);
  ASSERT_TRUE(t.setFont("DejaVu Sans", "", 60, testsupport::readFile(kDejaVu)));
  ASSERT_TRUE(t.selectGlyph('O'));
  const Image img = drawGlyph(t, 80, 80, 5, 65);

  FT_Library lib;
  FT_Face face;
  ASSERT_EQ(FT_Init_FreeType(&lib), 0);
  ASSERT_EQ(FT_New_Face(lib, kDejaVu.c_str(), 0, &face), 0);
  FT_Set_Char_Size(face, 0, 60 * 64, 72, 72);
  ASSERT_EQ(FT_Load_Char(face, 'O', FT_LOAD_NO_HINTING | FT_LOAD_RENDER), 0);
  long ftInk = 0;
  const FT_Bitmap& bm = face->glyph->bitmap;
  for (unsigned y = 0; y < bm.rows; ++y)
    for (unsigned x = 0; x < bm.width; ++x)
      ftInk += bm.buffer[y * bm.pitch + x];
  FT_Done_Face(face);
  FT_Done_FreeType(lib);
  EXPECT_NEAR((double)ink(img) / ftInk, 1.0, 0.02);
}

TEST_F(TextTest, StrokedGlyphAndWarnings)
{
  REQUIRE_DEJAVU();
  Text none;
  Rasterizer ras;
  testing::internal::CaptureStderr();
  rasterizeGlyph(ras, 0, 0, none, Transform(), 1);
  rasterizeStrokedGlyph(ras, 0, 0, none, Transform(), 1, agg::butt_cap, agg::miter_join, 1, nullptr, 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Warning: no glyph\nWarning: no glyph\n");
  EXPECT_FALSE(ras.rewind_scanlines());

  Text t;
  ASSERT_TRUE(t.setFont("DejaVu Sans", "", 60, testsupport::readFile(kDejaVu)));
  ASSERT_TRUE(t.selectGlyph('I'));
  Image img = testsupport::uniform(40, 80, 1, 8, 255);
  Rasterizer r2;
  r2.clip_box(0, 0, 40, 80);
  Transform two;
  two.scale(2, 2);
  rasterizeStrokedGlyph(r2, 2, 30, t, two, 1, agg::butt_cap, agg::miter_join, 4, nullptr, 0);
  renderer_norvel_image ren(img);
  agg::renderer_scanline_aa_solid<renderer_norvel_image> solid(ren);
  solid.color(agg::rgba8(0, 0, 0, 255));
  Scanline sl;
  agg::render_scanlines(r2, sl, solid);
  EXPECT_GT(ink(img), 255 * 50);
}
