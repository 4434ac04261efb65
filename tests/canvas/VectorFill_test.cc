#include "canvas/VectorFill.hh"

#include <vector>

#include <gtest/gtest.h>

#include "canvas/CompOp.hh"
#include "canvas/Lcd.hh"
#include "canvas/XPath.hh"

namespace {

// A w x h RGBA canvas buffer filled with one colour.
struct Canvas {
  int w, h;
  std::vector<agg::int8u> px;
  agg::rendering_buffer rbuf;
  Canvas(int w_, int h_, agg::int8u r, agg::int8u g, agg::int8u b, agg::int8u a)
    : w(w_), h(h_), px((size_t)w_ * h_ * 4)
  {
    for (size_t i = 0; i < px.size(); i += 4) {
      px[i] = r; px[i + 1] = g; px[i + 2] = b; px[i + 3] = a;
    }
    rbuf.attach(px.data(), w, h, w * 4);
  }
  agg::int8u at(int x, int y, int c) const { return px[((size_t)y * w + x) * 4 + c]; }
  agg::rect_i all() const { return agg::rect_i(0, 0, w - 1, h - 1); }
};

// The caller's side of one fill: clip box grown by a pixel (times the
// factor horizontally), then the path.
void rasterize(Rasterizer& ras, XPath& path, const agg::rect_i& clip, unsigned factor)
{
  setCanvasClipBox(ras, clip, factor);
  rasterizePath(ras, path, Transform(), factor);
}

// Distribution entries of a fully covered run, from two sub-pixels before
// it to two after.
int blackOverWhite(int entry) { return ((255 << 16) - 255 * 255 * entry) >> 16; }

} // namespace

TEST(Lcd, DistributionTable)
{
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(lcd_subpix_lut.primary[i], 5 * i / 11) << i;
    EXPECT_EQ(lcd_subpix_lut.secondary[i], 2 * i / 11) << i;
    EXPECT_EQ(lcd_subpix_lut.tertiary[i], i / 11) << i;
  }
}

TEST(Lcd, FullRunSpreadsAndLeavesThree)
{
  Canvas c(6, 1, 255, 255, 255, 0);
  pixfmt_rgba32_lcd pixf(c.rbuf, lcd_subpix_lut);
  pixf.blend_hline(6, 0, 9, agg::rgba8(0, 0, 0, 255), 255);
  // Sub-pixel entries 4..16: 23, 69, 184, 230, 253 x 5, 230, 184, 69, 23.
  const int entries[18] = {0, 0, 0, 0, 23, 69, 184, 230, 253, 253, 253, 253, 253, 230, 184, 69, 23, 0};
  for (int s = 0; s < 18; ++s)
    EXPECT_EQ(c.at(s / 3, 0, s % 3), entries[s] ? blackOverWhite(entries[s]) : 255) << s;
  EXPECT_EQ(blackOverWhite(253), 3);
  // Alpha follows the B sub-pixel's entry; pixel 5 had only R and G.
  const int alpha[6] = {0, (255 * 69) >> 8, (255 * 253) >> 8, (255 * 253) >> 8, (255 * 184) >> 8, 0};
  for (int x = 0; x < 6; ++x)
    EXPECT_EQ(c.at(x, 0, 3), alpha[x]) << x;
}

TEST(Lcd, RunsAtTheRowEndsStayInTheRow)
{
  Canvas c(2, 2, 255, 255, 255, 255);
  pixfmt_rgba32_lcd pixf(c.rbuf, lcd_subpix_lut);
  pixf.blend_hline(0, 0, 6, agg::rgba8(0, 0, 0, 255), 255);
  EXPECT_EQ(c.at(0, 0, 0), blackOverWhite(184)); // entries of sub-pixels -2, -1 dropped
  EXPECT_EQ(c.at(1, 0, 2), blackOverWhite(184));
  for (int x = 0; x < 2; ++x)
    for (int ch = 0; ch < 4; ++ch)
      EXPECT_EQ(c.at(x, 1, ch), 255); // the next row is untouched
}

TEST(Lcd, RenderSolidLcdMatchesTheRun)
{
  // Pixels 2..4 fully covered at factor 3: sub-pixels 6..14, as above.
  Canvas c(8, 1, 255, 255, 255, 255), ref(8, 1, 255, 255, 255, 255);
  XPath p;
  p.rect(2, 0, 5, 1);
  Rasterizer ras;
  rasterize(ras, p, c.all(), 3);
  const double black[4] = {0, 0, 0, 1};
  render_solid_lcd(ras, c.rbuf, c.all(), black);
  pixfmt_rgba32_lcd pixf(ref.rbuf, lcd_subpix_lut);
  pixf.blend_hline(6, 0, 9, agg::rgba8(0, 0, 0, 255), 255);
  EXPECT_EQ(c.px, ref.px);
}

TEST(VectorFill, SolidPlainAndCompositing)
{
  const double halfBlack[4] = {0, 0, 0, 0.5};
  Canvas c(4, 1, 255, 255, 255, 255);
  XPath p;
  p.rect(0, 0, 2, 1);
  Rasterizer ras;
  rasterize(ras, p, c.all(), 1);
  render_solid(ras, c.rbuf, c.all(), halfBlack, CompSrcOver);
  EXPECT_NEAR(c.at(0, 0, 0), 127, 1);
  EXPECT_EQ(c.at(0, 0, 3), 255);
  EXPECT_EQ(c.at(2, 0, 0), 255);

  // Clear through the compositing blender empties the covered pixels only,
  // and the clip keeps pixel 1.
  Canvas d(4, 1, 255, 255, 255, 255);
  Rasterizer ras2;
  rasterize(ras2, p, d.all(), 1);
  render_solid(ras2, d.rbuf, agg::rect_i(0, 0, 0, 0), halfBlack, CompClear);
  EXPECT_EQ(d.at(0, 0, 3), 0);
  EXPECT_EQ(d.at(1, 0, 3), 255);
}

TEST(VectorFill, GradientsAndModes)
{
  GradientLut& lut = canvasGradientLut();
  lut.remove_all();
  lut.add_color(0, agg::rgba8(0, 0, 0, 255));
  lut.add_color(1, agg::rgba8(255, 255, 255, 255));
  lut.build_lut();
  struct Case {
    const char* type;
    const char* mode;
    int x, y, expect;
  } cases[] = {
    {"x", "", 100, 0, 100},
    {"linear", "", 300, 0, 255},      // clamps past the end
    {"x", "reflect", 300, 0, 210},    // 256 - 44.5 on a 255/256 ramp
    {"x", "repeat", 300, 0, 44},
    {"y", "", 300, 50, 50},
    {"sqrt", "", 30, 40, 35},         // sqrt(30.5 * 40.5)
    {"radial", "", 30, 40, 50},
    {"bogus", "", 100, 9, 100},      // warns, uses x
    {"x", "bogus", 300, 0, 255},     // warns, no repeat
  };
  for (const Case& cs : cases) {
    Canvas c(400, 60, 0, 0, 0, 0);
    XPath p;
    p.rect(0, 0, 400, 60);
    Rasterizer ras;
    rasterize(ras, p, c.all(), 1);
    render_solid_gradient(ras, c.rbuf, c.all(), CompSrcOver, cs.type, cs.mode, Transform(), lut);
    EXPECT_NEAR(c.at(cs.x, cs.y, 0), cs.expect, 2) << cs.type << " " << cs.mode;
  }
}

TEST(VectorFill, ImagePatternIntoCanvas)
{
  Image pattern;
  pattern.spp = 3;
  pattern.bps = 8;
  pattern.resize(2, 1);
  uint8_t* d = pattern.getRawData();
  const uint8_t src[6] = {10, 20, 30, 40, 50, 60};
  memcpy(d, src, 6);
  Canvas c(2, 1, 0, 0, 0, 0);
  XPath p;
  p.rect(0, 0, 2, 1);
  Rasterizer ras;
  rasterize(ras, p, c.all(), 1);
  render_solid_image(ras, c.rbuf, c.all(), CompSrc, pattern, 1.0, Transform(), false);
  EXPECT_EQ(std::vector<int>(c.px.begin(), c.px.end()),
            (std::vector<int>{10, 20, 30, 255, 40, 50, 60, 255}));
}
