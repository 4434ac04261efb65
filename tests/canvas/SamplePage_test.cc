// A page with shapes, strokes, gradients, LCD coverage, compositing and
// image patterns, drawn into an RGBA canvas and an RGB image, compared
// with stored PNG references. TOLM_UPDATE_REFERENCE=1 rewrites them.
#include <cstdlib>

#include <gtest/gtest.h>

#include "canvas/CompOp.hh"
#include "canvas/GlyphRaster.hh"
#include "canvas/Text.hh"
#include "canvas/ImageDrawing.hh"
#include "canvas/VectorFill.hh"
#include "image/ImageCodec.hh"
#include "tests/support/TestSupport.hh"

namespace {

void rasterize(Rasterizer& ras, XPath& path, const agg::rect_i& clip, unsigned factor)
{
  setCanvasClipBox(ras, clip, factor);
  rasterizePath(ras, path, Transform(), factor);
}

Image checker(int w, int h)
{
  Image img;
  img.spp = 3;
  img.bps = 8;
  img.resize(w, h);
  uint8_t* d = img.getRawData();
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = d + (size_t)y * img.stride() + x * 3;
      const bool on = ((x / 4) + (y / 4)) % 2;
      p[0] = on ? 220 : 30;
      p[1] = (uint8_t)(x * 255 / w);
      p[2] = (uint8_t)(y * 255 / h);
    }
  img.setRawData();
  return img;
}

Image canvasPage()
{
  Image page;
  page.spp = 4;
  page.bps = 8;
  page.resize(240, 160);
  agg::rendering_buffer rbuf(page.getRawData(), page.w, page.h, page.stride());
  const agg::rect_i all(0, 0, page.w - 1, page.h - 1);
  {
    const double white[4] = {1, 1, 1, 1};
    XPath bg;
    bg.rect(0, 0, page.w, page.h);
    Rasterizer ras;
    rasterize(ras, bg, all, 1);
    render_solid(ras, rbuf, all, white, CompSrc);
  }
  // Gradient-filled rounded rectangle, reflected radial gradient circle.
  GradientLut& lut = canvasGradientLut();
  lut.remove_all();
  lut.add_color(0, agg::rgba8(20, 60, 200, 255));
  lut.add_color(0.5, agg::rgba8(250, 200, 40, 255));
  lut.add_color(1, agg::rgba8(200, 20, 40, 255));
  lut.build_lut();
  {
    XPath p;
    p.roundedRect(10, 10, 110, 70, 12);
    Rasterizer ras;
    rasterize(ras, p, all, 1);
    Transform g;
    g.translate(-10, 0);
    g.scale(256.0 / 100, 1);
    render_solid_gradient(ras, rbuf, all, CompSrcOver, "x", "", g, lut);
  }
  {
    XPath p;
    p.moveTo(130, 40);
    p.arcTo(30, 30, 0, false, true, 190, 40);
    p.arcTo(30, 30, 0, false, true, 130, 40);
    p.close();
    Rasterizer ras;
    rasterize(ras, p, all, 1);
    Transform g;
    g.translate(-160, -40);
    g.scale(256.0 / 15, 256.0 / 15);
    render_solid_gradient(ras, rbuf, all, CompSrcOver, "radial", "reflect", g, lut);
  }
  // A translucent dashed curve stroke and a multiply-composited triangle.
  {
    XPath p;
    p.moveTo(10, 100);
    p.curve4(60, 60, 120, 150, 230, 90);
    std::vector<float> dashes = {12, 5};
    Rasterizer ras;
    ras.clip_box(-1, -1, page.w + 1, page.h + 1);
    rasterizeStrokedPath(ras, p, Transform(), 5, agg::round_cap, agg::round_join, 4, &dashes, 0);
    const double green[4] = {0.1, 0.6, 0.2, 0.7};
    render_solid(ras, rbuf, all, green, CompSrcOver);
  }
  {
    XPath p;
    p.moveTo(150, 70);
    p.lineTo(230, 150);
    p.lineTo(120, 150);
    p.close();
    Rasterizer ras;
    rasterize(ras, p, all, 1);
    const double magenta[4] = {0.9, 0.2, 0.8, 0.8};
    render_solid(ras, rbuf, all, magenta, CompMultiply);
  }
  // LCD stripes and a rotated, smoothed image pattern.
  {
    XPath p;
    for (int i = 0; i < 6; ++i)
      p.rect(12 + i * 7.3, 120, 14.5 + i * 7.3, 150);
    Rasterizer ras;
    rasterize(ras, p, all, 3);
    const double ink[4] = {0.05, 0.05, 0.1, 1};
    render_solid_lcd(ras, rbuf, all, ink);
  }
  {
    Image pattern = checker(32, 32);
    XPath p;
    p.rect(70, 95, 110, 155);
    Rasterizer ras;
    rasterize(ras, p, all, 1);
    Transform m; // pattern pixels onto the page: rotate, then place
    m.rotate(0.3);
    m.translate(75, 90);
    m.invert();
    render_solid_image(ras, rbuf, all, CompSrcOver, pattern, 0.85, m, true);
  }
  // Text: gray coverage, then LCD coverage, then a gradient fill.
  createFontEngine();
  Text text;
  if (text.setFont("DejaVu Sans", "", 15,
                   testsupport::readFile("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"))) {
    const char* line = "Tolm draws";
    const double ink[4] = {0.1, 0.1, 0.3, 1};
    for (int row = 0; row < 3; ++row) {
      double x = 130;
      const double y = 100 + row * 18;
      for (const char* c = line; *c; ++c) {
        if (!text.selectGlyph((unsigned char)*c))
          continue;
        const unsigned f = row == 1 ? 3 : 1;
        Rasterizer ras;
        setCanvasClipBox(ras, all, f);
        rasterizeGlyph(ras, x, y, text, Transform(), f);
        if (row == 0)
          render_solid(ras, rbuf, all, ink, CompSrcOver);
        else if (row == 1)
          render_solid_lcd(ras, rbuf, all, ink);
        else
          render_solid_gradient(ras, rbuf, all, CompSrcOver, "x", "repeat", Transform(), lut);
        double ax, ay;
        text.getAdvancements(ax, ay);
        x += ax;
      }
    }
  }
  page.setRawData();
  return page;
}

Image imagePage()
{
  Image page;
  page.spp = 3;
  page.bps = 8;
  page.resize(120, 80);
  memset(page.getRawData(), 255, (size_t)page.stride() * page.h);
  XPath circle;
  circle.moveTo(20, 40);
  circle.arcTo(18, 18, 0, false, true, 56, 40);
  circle.arcTo(18, 18, 0, false, true, 20, 40);
  circle.close();
  imageFillPath(page, circle, Transform(), {0.8, 0.1, 0.1, 0.9});
  XPath zig;
  zig.moveTo(5, 75);
  for (int i = 1; i < 12; ++i)
    zig.lineTo(5 + i * 10, i % 2 ? 55 : 75);
  imageStrokePath(page, zig, Transform(), {0.1, 0.1, 0.6, 1}, 2.5);
  Image pattern = checker(16, 16);
  XPath box;
  box.rect(65, 5, 115, 50);
  Transform t;
  t.scale(1.5, 1.5);
  t.translate(65, 5);
  imageFillPathImage(page, box, Transform(), pattern, 0.6, &t, true);
  return page;
}

void compareWithReference(Image& page, const std::string& name)
{
  const std::string ref = testsupport::sourceDir() + "/tests/canvas/data/" + name;
  if (getenv("TOLM_UPDATE_REFERENCE")) {
    ASSERT_TRUE(ImageCodec::Write(ref, page));
    return;
  }
  Image expect;
  ASSERT_GT(ImageCodec::Read(ref, expect), 0) << ref;
  ASSERT_EQ(expect.w, page.w);
  ASSERT_EQ(expect.h, page.h);
  ASSERT_EQ(expect.spp, page.spp);
  const std::vector<int> a = testsupport::samplesOf(page), b = testsupport::samplesOf(expect);
  ASSERT_EQ(a.size(), b.size());
  int worst = 0;
  long total = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    const int d = std::abs(a[i] - b[i]);
    worst = std::max(worst, d);
    total += d;
  }
  // Blending rounding may move a level or two; shapes may not move.
  EXPECT_LE(worst, 3) << name;
  EXPECT_LT((double)total / a.size(), 0.05) << name;
}

} // namespace

TEST(SamplePage, CanvasMatchesReference)
{
  Image page = canvasPage();
  compareWithReference(page, "sample_canvas.png");
  if (const char* out = getenv("TOLM_SAMPLE_OUT"))
    ImageCodec::Write(std::string(out) + "/sample_canvas.png", page);
}

TEST(SamplePage, ImageMatchesReference)
{
  Image page = imagePage();
  compareWithReference(page, "sample_image.png");
  if (const char* out = getenv("TOLM_SAMPLE_OUT"))
    ImageCodec::Write(std::string(out) + "/sample_image.png", page);
}
