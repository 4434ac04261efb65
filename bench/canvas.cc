// Vector drawing on an A4 page at 300 dpi (2480 x 3508): a page of text
// (1,000 glyph fills, DejaVu Sans at 40 px from the glyph engine) and one
// complex path (10,000 segments), into an RGBA canvas buffer and into a
// gray image.
// bench/canvas_peer.py draws the same with cairo.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include "canvas/CompOp.hh"
#include "canvas/GlyphRaster.hh"
#include "canvas/ImageDrawing.hh"
#include "canvas/ImageRenderer.hh"
#include "canvas/Text.hh"
#include "canvas/VectorFill.hh"

#include <agg_renderer_scanline.h>

namespace {

const int kW = 2480, kH = 3508;
const char* kText = "The quick brown fox jumps over the lazy dog. ";

// DejaVu Sans at 40 px from the process glyph engine, as a script's Text.
Text* text()
{
  static Text* t = [] {
    createFontEngine();
    Text* made = new Text;
    if (!made->setFont("DejaVu Sans", "", 40)) {
      delete made;
      return (Text*)nullptr;
    }
    return made;
  }();
  return t;
}

// 1,000 glyphs in lines of 50, each selected and filled on its own as a
// script's text drawing does.
template <typename Fill>
void drawText(Fill fill)
{
  Text& t = *text();
  const size_t n = strlen(kText);
  int count = 0;
  for (int line = 0; count < 1000; ++line) {
    double x = 150;
    for (int i = 0; i < 50 && count < 1000; ++i, ++count) {
      if (!t.selectGlyph((unsigned char)kText[count % n]))
        continue;
      fill(t, x, 200.0 + line * 60);
      double ax, ay;
      t.getAdvancements(ax, ay);
      x += ax;
    }
  }
}

// A closed star-like polyline of 10,000 segments over the page.
const XPath& complexPath()
{
  static XPath p = [] {
    XPath q;
    const int n = 10000;
    for (int i = 0; i < n; ++i) {
      const double a = 2 * M_PI * i / n;
      const double r = (i % 2 ? 1100 : 700) + 300 * std::sin(a * 37);
      const double x = kW / 2 + r * std::cos(a * 3), y = kH / 2 + r * 1.3 * std::sin(a * 3);
      if (i)
        q.lineTo(x, y);
      else
        q.moveTo(x, y);
    }
    q.close();
    return q;
  }();
  return p;
}

struct RgbaPage {
  std::vector<agg::int8u> px = std::vector<agg::int8u>((size_t)kW * kH * 4, 255);
  agg::rendering_buffer rbuf{px.data(), kW, kH, kW * 4};
  agg::rect_i clip{0, 0, kW - 1, kH - 1};
};

void canvasFill(RgbaPage& page, XPath& path, const Transform& t)
{
  static const double ink[4] = {0.1, 0.1, 0.1, 1};
  Rasterizer ras;
  ras.clip_box(-1, -1, kW + 1, kH + 1);
  rasterizePath(ras, path, t, 1);
  render_solid(ras, page.rbuf, page.clip, ink, CompSrcOver);
}

Image grayPage()
{
  Image img;
  img.spp = 1;
  img.bps = 8;
  img.resize(kW, kH);
  memset(img.getRawData(), 255, (size_t)img.stride() * kH);
  return img;
}

void BM_TextCanvasRGBA(benchmark::State& state)
{
  if (!text())
    return state.SkipWithError("DejaVu Sans missing");
  RgbaPage page;
  static const double ink[4] = {0.1, 0.1, 0.1, 1};
  for (auto _ : state)
    drawText([&](const Text& t, double x, double y) {
      Rasterizer ras;
      ras.clip_box(-1, -1, kW + 1, kH + 1);
      rasterizeGlyph(ras, x, y, t, Transform(), 1);
      render_solid(ras, page.rbuf, page.clip, ink, CompSrcOver);
    });
}
BENCHMARK(BM_TextCanvasRGBA)->Unit(benchmark::kMillisecond);

void BM_TextImageGray(benchmark::State& state)
{
  if (!text())
    return state.SkipWithError("DejaVu Sans missing");
  Image img = grayPage();
  for (auto _ : state)
    drawText([&](const Text& t, double x, double y) {
      Rasterizer ras;
      ras.clip_box(0, 0, kW, kH);
      rasterizeGlyph(ras, x, y, t, Transform(), 1);
      renderer_norvel_image ren(img);
      agg::renderer_scanline_aa_solid<renderer_norvel_image> solid(ren);
      solid.color(agg::rgba8(25, 25, 25, 255));
      Scanline sl;
      agg::render_scanlines(ras, sl, solid);
    });
}
BENCHMARK(BM_TextImageGray)->Unit(benchmark::kMillisecond);

void BM_ComplexPathCanvasRGBA(benchmark::State& state)
{
  RgbaPage page;
  for (auto _ : state)
    canvasFill(page, const_cast<XPath&>(complexPath()), Transform());
}
BENCHMARK(BM_ComplexPathCanvasRGBA)->Unit(benchmark::kMillisecond);

void BM_ComplexPathImageGray(benchmark::State& state)
{
  Image img = grayPage();
  for (auto _ : state)
    imageFillPath(img, const_cast<XPath&>(complexPath()), Transform(), {0.1, 0.1, 0.1, 1});
}
BENCHMARK(BM_ComplexPathImageGray)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
