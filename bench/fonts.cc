// The glyph engine under agg::font_cache_manager against FreeType alone.
// Glyphs of DejaVu Sans at 24 px, unhinted. "First" prepares glyphs into an
// emptied cache; "Cached" serves them again; a text run draws 1,000 glyphs
// into an 8-bit gray canvas, from the cache (gray8 scanlines, or outlines
// rasterised per glyph as the canvas does) or by FT_Load_Glyph +
// FT_Render_Glyph + a bitmap blit per glyph.
#include <benchmark/benchmark.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <string>
#include <vector>

#include <agg_conv_curve.h>
#include <agg_pixfmt_gray.h>
#include <agg_rasterizer_scanline_aa.h>
#include <agg_renderer_base.h>
#include <agg_renderer_scanline.h>
#include <agg_rendering_buffer.h>
#include <agg_scanline_u.h>

#include "fonts/font_engine.hh"
#include "fonts/glyph_cache_manager.hh"

namespace {

const char* const kFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const unsigned kSize = 24;
const char* const kGlyphs = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

std::string textRun()
{
  const std::string words = "The quick brown fox jumps over the lazy dog; pack my box with five "
                            "dozen liquor jugs. Sphinx of black quartz, judge my vow! 0123456789 ";
  std::string run;
  while (run.size() < 1000)
    run += words;
  run.resize(1000);
  return run;
}

typedef agg::font_engine_system_int32 Engine;
typedef agg::glyph_cache_manager<Engine> Manager;

struct Canvas {
  int w = 4096, h = 64;
  std::vector<agg::int8u> pixels = std::vector<agg::int8u>(size_t(w) * h, 255);
  agg::rendering_buffer rbuf{pixels.data(), unsigned(w), unsigned(h), w};
  agg::pixfmt_gray8 pixf{rbuf};
  agg::renderer_base<agg::pixfmt_gray8> base{pixf};
  agg::renderer_scanline_aa_solid<agg::renderer_base<agg::pixfmt_gray8>> solid{base};
  Canvas() { solid.color(agg::gray8(0)); }
};

bool load(Engine& e, agg::glyph_rendering ren)
{
  e.flip_y(true);
  e.height(kSize);
  return e.load_font("DejaVu Sans", "", ren);
}

void BM_FirstGlyph(benchmark::State& state, agg::glyph_rendering ren)
{
  Engine engine;
  Manager manager(engine);
  if (!load(engine, ren)) {
    state.SkipWithError("DejaVu Sans missing");
    return;
  }
  std::string glyphs = kGlyphs;
  for (auto _ : state) {
    manager.reset_cache();
    for (char c : glyphs)
      benchmark::DoNotOptimize(manager.glyph((unsigned char)c));
  }
  state.SetItemsProcessed(state.iterations() * glyphs.size());
}

void BM_CachedGlyph(benchmark::State& state)
{
  Engine engine;
  Manager manager(engine);
  if (!load(engine, agg::glyph_ren_agg_gray8)) {
    state.SkipWithError("DejaVu Sans missing");
    return;
  }
  std::string glyphs = kGlyphs;
  for (char c : glyphs)
    manager.glyph((unsigned char)c);
  for (auto _ : state)
    for (char c : glyphs)
      benchmark::DoNotOptimize(manager.glyph((unsigned char)c));
  state.SetItemsProcessed(state.iterations() * glyphs.size());
}

void BM_FreeTypeGlyph(benchmark::State& state)
{
  FT_Library library;
  FT_Face face;
  if (FT_Init_FreeType(&library) || FT_New_Face(library, kFont, 0, &face)) {
    state.SkipWithError("DejaVu Sans missing");
    return;
  }
  FT_Set_Char_Size(face, 0, kSize * 64, 72, 72);
  std::string glyphs = kGlyphs;
  for (auto _ : state)
    for (char c : glyphs) {
      FT_Load_Glyph(face, FT_Get_Char_Index(face, (unsigned char)c), FT_LOAD_NO_HINTING);
      FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL);
      benchmark::DoNotOptimize(face->glyph->bitmap.buffer);
    }
  state.SetItemsProcessed(state.iterations() * glyphs.size());
  FT_Done_Face(face);
  FT_Done_FreeType(library);
}

void BM_RunGray8(benchmark::State& state)
{
  Engine engine;
  Manager manager(engine);
  if (!load(engine, agg::glyph_ren_agg_gray8)) {
    state.SkipWithError("DejaVu Sans missing");
    return;
  }
  Canvas canvas;
  std::string run = textRun();
  for (auto _ : state) {
    double x = 0, y = 40;
    for (char c : run) {
      const agg::glyph_cache* g = manager.glyph((unsigned char)c);
      if (!g)
        continue;
      manager.init_embedded_adaptors(g, x, y);
      agg::render_scanlines(manager.gray8_adaptor(), manager.gray8_scanline(), canvas.solid);
      x += g->advance_x;
      if (x > canvas.w - 40)
        x = 0;
    }
  }
  state.SetItemsProcessed(state.iterations() * run.size());
}

void BM_RunOutline(benchmark::State& state)
{
  Engine engine;
  Manager manager(engine);
  if (!load(engine, agg::glyph_ren_outline)) {
    state.SkipWithError("DejaVu Sans missing");
    return;
  }
  Canvas canvas;
  agg::rasterizer_scanline_aa<> ras;
  agg::scanline_u8 sl;
  std::string run = textRun();
  for (auto _ : state) {
    double x = 0, y = 40;
    for (char c : run) {
      const agg::glyph_cache* g = manager.glyph((unsigned char)c);
      if (!g)
        continue;
      manager.init_embedded_adaptors(g, x, y);
      agg::conv_curve<Manager::path_adaptor_type> curves(manager.path_adaptor());
      ras.reset();
      ras.add_path(curves);
      agg::render_scanlines(ras, sl, canvas.solid);
      x += g->advance_x;
      if (x > canvas.w - 40)
        x = 0;
    }
  }
  state.SetItemsProcessed(state.iterations() * run.size());
}

void BM_RunFreeType(benchmark::State& state)
{
  FT_Library library;
  FT_Face face;
  if (FT_Init_FreeType(&library) || FT_New_Face(library, kFont, 0, &face)) {
    state.SkipWithError("DejaVu Sans missing");
    return;
  }
  FT_Set_Char_Size(face, 0, kSize * 64, 72, 72);
  Canvas canvas;
  std::string run = textRun();
  for (auto _ : state) {
    int x = 0, y = 40;
    for (char c : run) {
      FT_Load_Glyph(face, FT_Get_Char_Index(face, (unsigned char)c), FT_LOAD_NO_HINTING);
      FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL);
      const FT_Bitmap& bm = face->glyph->bitmap;
      int left = x + face->glyph->bitmap_left, top = y - face->glyph->bitmap_top;
      for (unsigned r = 0; r < bm.rows; ++r)
        canvas.pixf.blend_solid_hspan(left, top + int(r), bm.width, agg::gray8(0),
                                      bm.buffer + ptrdiff_t(r) * bm.pitch);
      x += int(face->glyph->advance.x >> 6);
      if (x > canvas.w - 40)
        x = 0;
    }
  }
  state.SetItemsProcessed(state.iterations() * run.size());
  FT_Done_Face(face);
  FT_Done_FreeType(library);
}

} // namespace

BENCHMARK_CAPTURE(BM_FirstGlyph, outline, agg::glyph_ren_outline);
BENCHMARK_CAPTURE(BM_FirstGlyph, gray8, agg::glyph_ren_agg_gray8);
BENCHMARK(BM_CachedGlyph);
BENCHMARK(BM_FreeTypeGlyph);
BENCHMARK(BM_RunGray8);
BENCHMARK(BM_RunOutline);
BENCHMARK(BM_RunFreeType);
BENCHMARK_MAIN();
