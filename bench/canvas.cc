// Vector drawing on an A4 page at 300 dpi (2480 x 3508): a page of text
// (1,000 glyph fills, DejaVu Sans outlines at 40 px) and one complex path
// (10,000 segments), into an RGBA canvas buffer and into a gray image.
// bench/canvas_peer.py draws the same with cairo.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include "canvas/CompOp.hh"
#include "canvas/ImageDrawing.hh"
#include "canvas/VectorFill.hh"

namespace {

const int kW = 2480, kH = 3508;
const char* kFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const char* kText = "The quick brown fox jumps over the lazy dog. ";

struct Glyph {
  XPath path;
  double advance = 0;
};

// Glyph outlines in pixels, y down, origin on the baseline.
struct Outlines {
  std::map<char, Glyph> glyphs;
  bool ok = false;
  Outlines()
  {
    FT_Library lib;
    FT_Face face;
    if (FT_Init_FreeType(&lib) || FT_New_Face(lib, kFont, 0, &face))
      return;
    FT_Set_Pixel_Sizes(face, 0, 40);
    for (const char* c = kText; *c; ++c) {
      if (glyphs.count(*c) || FT_Load_Char(face, (unsigned char)*c, FT_LOAD_NO_BITMAP))
        continue;
      Glyph& g = glyphs[*c];
      g.advance = face->glyph->advance.x / 64.0;
      FT_Outline_Funcs f = {};
      f.move_to = [](const FT_Vector* to, void* u) {
        ((XPath*)u)->moveTo(to->x / 64.0, -to->y / 64.0);
        return 0;
      };
      f.line_to = [](const FT_Vector* to, void* u) {
        ((XPath*)u)->lineTo(to->x / 64.0, -to->y / 64.0);
        return 0;
      };
      f.conic_to = [](const FT_Vector* c1, const FT_Vector* to, void* u) {
        ((XPath*)u)->curve3(c1->x / 64.0, -c1->y / 64.0, to->x / 64.0, -to->y / 64.0);
        return 0;
      };
      f.cubic_to = [](const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* u) {
        ((XPath*)u)->curve4(c1->x / 64.0, -c1->y / 64.0, c2->x / 64.0, -c2->y / 64.0,
                            to->x / 64.0, -to->y / 64.0);
        return 0;
      };
      FT_Outline_Decompose(&face->glyph->outline, &f, &g.path);
      g.path.close();
    }
    FT_Done_Face(face);
    FT_Done_FreeType(lib);
    ok = true;
  }
};

const Outlines& outlines()
{
  static Outlines o;
  return o;
}

// 1,000 glyphs in lines of 50, each filled on its own as a script's
// text drawing does.
template <typename Fill>
void drawText(Fill fill)
{
  const Outlines& o = outlines();
  const size_t n = strlen(kText);
  int count = 0;
  for (int line = 0; count < 1000; ++line) {
    double x = 150;
    for (int i = 0; i < 50 && count < 1000; ++i, ++count) {
      const Glyph& g = o.glyphs.at(kText[count % n]);
      Transform t;
      t.translate(x, 200 + line * 60);
      fill(const_cast<XPath&>(g.path), t);
      x += g.advance;
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
  if (!outlines().ok)
    return state.SkipWithError("DejaVu Sans missing");
  RgbaPage page;
  for (auto _ : state)
    drawText([&](XPath& p, const Transform& t) { canvasFill(page, p, t); });
}
BENCHMARK(BM_TextCanvasRGBA)->Unit(benchmark::kMillisecond);

void BM_TextImageGray(benchmark::State& state)
{
  if (!outlines().ok)
    return state.SkipWithError("DejaVu Sans missing");
  Image img = grayPage();
  for (auto _ : state)
    drawText([&](XPath& p, const Transform& t) { imageFillPath(img, p, t, {0.1, 0.1, 0.1, 1}); });
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
