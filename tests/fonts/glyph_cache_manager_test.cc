#include "fonts/glyph_cache_manager.hh"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "fonts/font_engine.hh"
#include "fonts/process_fonts.hh"
#include "tests/fonts/FontTests.hh"

using namespace fonttest;

namespace {

struct Fonts {
  agg::font_engine_system_int32 engine{32};
  agg::glyph_cache_manager<agg::font_engine_system_int32> manager{engine, 32};
  bool load(const char* name, double size)
  {
    engine.flip_y(true);
    engine.height(size);
    return engine.load_font(name, "", agg::glyph_ren_outline);
  }
};

} // namespace

TEST(GlyphCacheManager, CachesGlyphsPerFontAndServesThemAgain)
{
  REQUIRE_FONT(dejavuSans);
  Fonts f;
  ASSERT_TRUE(f.load("DejaVu Sans", 20));
  const agg::glyph_cache* a = f.manager.glyph('A');
  ASSERT_TRUE(a);
  EXPECT_EQ(f.manager.glyph('A'), a);
  EXPECT_EQ(a->data_type, agg::glyph_data_outline);
  double advance20 = a->advance_x;

  ASSERT_TRUE(f.load("DejaVu Sans", 40));
  const agg::glyph_cache* a40 = f.manager.glyph('A');
  ASSERT_TRUE(a40);
  EXPECT_NE(a40, a);
  EXPECT_DOUBLE_EQ(a40->advance_x, 2 * advance20);
  ASSERT_TRUE(f.load("DejaVu Sans", 20));
  EXPECT_EQ(f.manager.glyph('A'), a);

  // No kerning is supplied; the previous and last glyph are tracked.
  f.manager.glyph('V');
  double kx = 0, ky = 0;
  EXPECT_FALSE(f.manager.add_kerning(&kx, &ky));
  EXPECT_EQ(kx, 0.0);
  EXPECT_EQ(f.manager.perv_glyph(), a);
}

TEST(GlyphCacheManager, CharactersAboveTheBmpAreNotConfusedWithTheirLow16Bits)
{
  REQUIRE_FONT(dejavuSans);
  FreeTypeFace ft(dejavuSans);
  Fonts f;
  ASSERT_TRUE(f.load("DejaVu Sans", 20));
  const agg::glyph_cache* grave = f.manager.glyph(0x300);
  ASSERT_TRUE(grave);
  const agg::glyph_cache* oldItalic = f.manager.glyph(0x10300);
  ASSERT_TRUE(oldItalic);
  EXPECT_NE(oldItalic, grave);
  EXPECT_EQ(oldItalic->glyph_index, FT_Get_Char_Index(ft.face, 0x10300));
  EXPECT_EQ(f.manager.glyph(0x300), grave);
  EXPECT_EQ(f.manager.glyph(0x10300), oldItalic);
  // U+1D5A0 is in the face, U+D5A0 is not: the cached one must not answer.
  ASSERT_TRUE(f.manager.glyph(0x1D5A0));
  EXPECT_FALSE(f.manager.glyph(0xD5A0));
  EXPECT_FALSE(f.manager.glyph(0x110000));
  EXPECT_FALSE(f.manager.glyph(0xFFFFFFFFu));
  f.manager.precache(0xFFF0, 0x10010);
  EXPECT_EQ(f.manager.glyph(0x10300), oldItalic);
}

TEST(GlyphCacheManager, EmbeddedPathAdaptorPlacesTheOutline)
{
  REQUIRE_FONT(dejavuSans);
  Fonts f;
  ASSERT_TRUE(f.load("DejaVu Sans", 30));
  const agg::glyph_cache* g = f.manager.glyph('H');
  ASSERT_TRUE(g);
  std::vector<Vertex> at0 = outlineOf<agg::int32>(g);
  f.manager.init_embedded_adaptors(g, 100.5, 50);
  auto& path = f.manager.path_adaptor();
  path.rewind(0);
  size_t i = 0;
  double x, y;
  unsigned cmd;
  while (!agg::is_stop(cmd = path.vertex(&x, &y))) {
    ASSERT_LT(i, at0.size());
    EXPECT_EQ(cmd, at0[i].cmd);
    if (agg::is_vertex(cmd)) {
      EXPECT_EQ(x, at0[i].x + 100.5);
      EXPECT_EQ(y, at0[i].y + 50);
    }
    ++i;
  }
  EXPECT_EQ(i, at0.size());
}

TEST(GlyphCacheManager, OwnedGlyphOutlivesTheCache)
{
  REQUIRE_FONT(dejavuSans);
  std::unique_ptr<agg::owned_glyph> kept;
  std::vector<Vertex> before;
  {
    Fonts f;
    ASSERT_TRUE(f.load("DejaVu Sans", 25));
    const agg::glyph_cache* g = f.manager.glyph('Q');
    ASSERT_TRUE(g);
    before = outlineOf<agg::int32>(g);
    kept = std::make_unique<agg::owned_glyph>(*g);
  }
  std::vector<Vertex> after = outlineOf<agg::int32>(kept->get());
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < after.size(); ++i) {
    EXPECT_EQ(after[i].x, before[i].x);
    EXPECT_EQ(after[i].y, before[i].y);
  }
}

TEST(ProcessFonts, HostCreatesAndDeletesTheSharedEngine)
{
  REQUIRE_FONT(dejavuSans);
  ASSERT_EQ(m_feng, nullptr);
  createFontEngine();
  ASSERT_TRUE(m_feng && m_fman);
  font_engine_type* engine = m_feng;
  createFontEngine();
  EXPECT_EQ(m_feng, engine);
  EXPECT_EQ(m_feng->max_faces(), 32u);
  // Glyphs of a few hundred pixels keep their shape in the shared engine.
  m_feng->flip_y(true);
  m_feng->height(600);
  ASSERT_TRUE(m_feng->load_font("DejaVu Sans", "", agg::glyph_ren_outline));
  const agg::glyph_cache* g = m_fman->glyph('W');
  ASSERT_TRUE(g);
  EXPECT_GT(g->bounds.x2, 500);
  deleteFontEngine();
  EXPECT_EQ(m_feng, nullptr);
  EXPECT_EQ(m_fman, nullptr);
  deleteFontEngine();
}
