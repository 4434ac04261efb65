#include "fonts/font_engine.hh"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "fonts/glyph_cache_manager.hh"
#include "fonts/system_fonts.hh"
#include "tests/fonts/FontTests.hh"

#include FT_OUTLINE_H

using namespace fonttest;

namespace {

// The engine as the host and the script Text drive it: outlines, flipped.
template <class Engine>
bool loadOutline(Engine& e, const char* name, const char* style, double size,
                 const std::string* bytes = nullptr)
{
  e.flip_y(true);
  e.height(size);
  return e.load_font(name, style, agg::glyph_ren_outline, bytes ? bytes->data() : nullptr,
                     bytes ? long(bytes->size()) : 0);
}

std::string identityMatrix()
{
  return ",000100000000000000000000000100000000000000000000";
}

} // namespace

TEST(FontEngine, GenericNamesAndStyleWords)
{
  REQUIRE_FONT(dejavuSans);
  agg::font_engine_system_int32 e;
  std::string sans = fonts::systemFontName();
  struct Case {
    const char* name;
    const char* style;
    std::string resolved;
  } cases[] = {
      {"SANS", nullptr, sans},
      {"Sans-Serif", "", sans},
      {"system", "Bold", sans + "-Bold"},
      {"serif", "Italic", "Times New Roman-Italic"},
      {"monospace", "Bold", "Monaco-Bold"},
      {"DejaVu Sans", "Regular", "DejaVu Sans"},
      {"DejaVu Sans", "regular", "DejaVu Sans"},
      {"DejaVu Sans", "B", "DejaVu Sans"},
      {"DejaVu Sans", "Oblique", "DejaVu Sans-Oblique"},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(loadOutline(e, c.name, c.style, 12)) << c.name;
    EXPECT_EQ(std::string(e.name()), c.resolved) << c.name;
  }
  EXPECT_EQ(agg::sysfont, sans);
}

TEST(FontEngine, SignatureFormat)
{
  REQUIRE_FONT(dejavuSans);
  agg::font_engine_system_int16 e;
  EXPECT_STREQ(e.font_signature(), "");
  ASSERT_TRUE(loadOutline(e, "DejaVu Sans", "", 12.5));
  EXPECT_EQ(std::string(e.font_signature()),
            "DejaVu Sans,2,0:12.500000x0.000000,1,1,00000000" + identityMatrix());

  // Scanline renderings hash the rasteriser's gamma (linear here).
  unsigned char ramp[256];
  for (int i = 0; i < 256; ++i)
    ramp[i] = (unsigned char)i;
  char gamma[16];
  std::snprintf(gamma, sizeof gamma, "%08lX", crc32(0, ramp, 256));
  e.flip_y(false);
  e.hinting(false);
  e.width(3);
  ASSERT_TRUE(e.load_font("DejaVu Sans", "Bold", agg::glyph_ren_native_gray8));
  EXPECT_EQ(e.rendering(), agg::glyph_ren_agg_gray8);
  EXPECT_EQ(std::string(e.font_signature()), std::string("DejaVu Sans-Bold,4,0:12.500000x3.000000,0,0,") +
                                                 gamma + identityMatrix());
  int stamp = e.change_stamp();
  e.resolution(300);
  EXPECT_NE(e.change_stamp(), stamp);
  EXPECT_EQ(std::string(e.font_signature()).substr(0, 23), "DejaVu Sans-Bold,4,300:");

  // Sizes no float holds and names of any length make no fixed buffer
  // overflow: the signature is a string.
  std::string longName(5000, 'x');
  e.height(1e300);
  ASSERT_TRUE(e.load_font(longName.c_str(), "Bold", agg::glyph_ren_outline));
  EXPECT_TRUE(std::string(e.font_signature()).rfind(longName + "-Bold,2,300:inf", 0) == 0);
}

TEST(FontEngine, FaceCacheReusesAndDropsTheOldest)
{
  REQUIRE_FONT(dejavuSans);
  for (unsigned maxFaces : {3u, 32u}) {
    agg::font_engine_system_int32 e(maxFaces);
    std::vector<std::string> signatures;
    for (unsigned i = 0; i <= maxFaces; ++i) {
      ASSERT_TRUE(loadOutline(e, "DejaVu Sans", "", 10 + i));
      signatures.push_back(e.font_signature());
      ASSERT_TRUE(loadOutline(e, "DejaVu Sans", "", 10 + i)); // same face again
      EXPECT_EQ(e.num_faces(), std::min(i + 1, maxFaces));
    }
    EXPECT_EQ(e.find_font(signatures[0].c_str()), -1);
    for (unsigned i = 1; i <= maxFaces; ++i)
      EXPECT_EQ(e.find_font(signatures[i].c_str()), int(i - 1));
    EXPECT_EQ(e.find_font(nullptr), -1);
  }
}

TEST(FontEngine, MetricsAndAdvancesMatchFreeType)
{
  REQUIRE_FONT(dejavuSans);
  for (unsigned size : {12u, 48u, 100u}) {
    FreeTypeFace ft(dejavuSans, size);
    ASSERT_TRUE(ft.face);
    agg::font_engine_system_int32 e;
    ASSERT_TRUE(loadOutline(e, "DejaVu Sans", "", size));
    FT_Fixed yScale = ft.face->size->metrics.y_scale;
    EXPECT_NEAR(e.ascender(), FT_MulFix(ft.face->ascender, yScale) / 64.0, 1.0 / 64) << size;
    EXPECT_NEAR(e.descender(), FT_MulFix(ft.face->descender, yScale) / 64.0, 1.0 / 64) << size;
    EXPECT_LT(e.descender(), 0);
    for (unsigned code : {unsigned('A'), unsigned('g'), unsigned('W'), 0x20u, 0x416u, 0x300u}) {
      ASSERT_TRUE(e.prepare_glyph(code)) << code;
      FT_UInt index = FT_Get_Char_Index(ft.face, code);
      ASSERT_EQ(FT_Load_Glyph(ft.face, index, FT_LOAD_NO_HINTING), 0);
      EXPECT_EQ(e.glyph_index(), index);
      EXPECT_NEAR(e.advance_x(), ft.face->glyph->linearHoriAdvance / 65536.0, 1e-3) << code;
      EXPECT_EQ(e.advance_y(), 0.0);
    }
  }
  agg::font_engine_system_int32 none;
  EXPECT_EQ(none.ascender(), 0.0);
  EXPECT_EQ(none.descender(), 0.0);
  EXPECT_FALSE(none.prepare_glyph('A'));
}

TEST(FontEngine, ZeroAdvanceGlyphsAndPlanesAboveTheBmpKeepTheirOwnValues)
{
  REQUIRE_FONT(dejavuSans);
  FreeTypeFace ft(dejavuSans);
  agg::font_engine_system_int32 e;
  ASSERT_TRUE(loadOutline(e, "DejaVu Sans", "", 20));
  ASSERT_TRUE(e.prepare_glyph('W'));
  EXPECT_GT(e.advance_x(), 10);
  // A combining accent has no advance of its own.
  ASSERT_TRUE(e.prepare_glyph(0x300));
  EXPECT_EQ(e.glyph_index(), FT_Get_Char_Index(ft.face, 0x300));
  EXPECT_EQ(e.advance_x(), 0.0);
  // U+10300 shares its low 16 bits with U+0300.
  ASSERT_TRUE(e.prepare_glyph(0x10300));
  EXPECT_EQ(e.glyph_index(), FT_Get_Char_Index(ft.face, 0x10300));
  EXPECT_NE(e.glyph_index(), FT_Get_Char_Index(ft.face, 0x300));
  EXPECT_GT(e.advance_x(), 0);
  // Outside the face's coverage: no glyph.
  EXPECT_FALSE(e.prepare_glyph(0xD5A0));
  EXPECT_FALSE(e.prepare_glyph(0x10FFFF));
}

TEST(FontEngine, OutlinesHaveTheFacesSegmentsAndBounds)
{
  REQUIRE_FONT(dejavuSans);
  const std::string nimbus = "/usr/share/fonts/opentype/urw-base35/NimbusSans-Regular.otf";
  struct Case {
    std::string file;
    unsigned code;
    int contours;
    bool lines, quads, cubics;
  } cases[] = {
      {dejavuSans, 'A', 2, true, false, false},
      {dejavuSans, 'o', 2, false, true, false},
      {nimbus, 'o', 2, false, false, true},
  };
  for (const Case& c : cases) {
    if (!haveFile(c.file))
      continue;
    std::string bytes = testsupport::readFile(c.file);
    FreeTypeFace ft(c.file);
    ASSERT_TRUE(ft.face);
    ASSERT_EQ(FT_Load_Glyph(ft.face, FT_Get_Char_Index(ft.face, c.code), FT_LOAD_NO_SCALE), 0);
    FT_BBox box;
    FT_Outline_Get_CBox(&ft.face->glyph->outline, &box);
    const double size = 100, scale = size / ft.face->units_per_EM;

    agg::font_engine_system_int32 e;
    ASSERT_TRUE(loadOutline(e, "any", "", size, &bytes));
    ASSERT_TRUE(e.prepare_glyph(c.code));
    EXPECT_EQ(e.data_type(), agg::glyph_data_outline);
    std::vector<agg::int8u> data(e.data_size());
    e.write_glyph_to(data.data());
    agg::glyph_cache g{e.glyph_index(), data.data(), e.data_size(), e.data_type(), e.bounds(), 0, 0};
    std::vector<Vertex> v = outlineOf<agg::int32>(&g);
    int moves = 0, closes = 0, lines = 0, quads = 0, cubics = 0;
    for (const Vertex& p : v) {
      unsigned cmd = p.cmd & agg::path_cmd_mask;
      moves += cmd == agg::path_cmd_move_to;
      lines += cmd == agg::path_cmd_line_to;
      quads += cmd == agg::path_cmd_curve3;
      cubics += cmd == agg::path_cmd_curve4;
      closes += agg::is_end_poly(p.cmd) && agg::is_closed(p.cmd);
    }
    EXPECT_EQ(moves, c.contours) << c.file << " " << c.code;
    EXPECT_EQ(closes, c.contours);
    if (c.lines) {
      EXPECT_GT(lines, 0);
    }
    EXPECT_EQ(quads > 0, c.quads);
    EXPECT_EQ(cubics > 0, c.cubics);
    // 32-bit storage: 8 bytes a vertex.
    EXPECT_EQ(e.data_size(), 8u * unsigned(v.size() - closes));
    // Flipped: y runs down, so the top of the glyph is -yMax. Points are
    // kept in 1/64 pixel, truncated toward zero.
    auto stored = [&](double units) { return std::trunc(units * scale * 64) / 64; };
    EXPECT_EQ(e.bounds().x1, int(std::floor(stored(box.xMin))));
    EXPECT_EQ(e.bounds().x2, int(std::ceil(stored(box.xMax))));
    EXPECT_EQ(e.bounds().y1, int(std::floor(stored(-box.yMax))));
    EXPECT_EQ(e.bounds().y2, int(std::ceil(stored(-box.yMin))));

    // Without flipping the same outline mirrors in y.
    e.flip_y(false);
    ASSERT_TRUE(e.load_font("any", "", agg::glyph_ren_outline, bytes.data(), long(bytes.size())));
    ASSERT_TRUE(e.prepare_glyph(c.code));
    std::vector<agg::int8u> data2(e.data_size());
    e.write_glyph_to(data2.data());
    agg::glyph_cache g2{0, data2.data(), e.data_size(), e.data_type(), e.bounds(), 0, 0};
    std::vector<Vertex> w = outlineOf<agg::int32>(&g2);
    ASSERT_EQ(w.size(), v.size());
    for (size_t i = 0; i < v.size(); ++i) {
      EXPECT_EQ(w[i].cmd, v[i].cmd);
      EXPECT_EQ(w[i].x, v[i].x);
      EXPECT_NEAR(w[i].y, -v[i].y, 1.0 / 64); // truncation runs toward zero both ways
    }
  }
}

TEST(FontEngine, SpaceHasAnAdvanceAndNoOutline)
{
  REQUIRE_FONT(dejavuSans);
  agg::font_engine_system_int16 e;
  ASSERT_TRUE(loadOutline(e, "DejaVu Sans", "", 30));
  ASSERT_TRUE(e.prepare_glyph(' '));
  EXPECT_EQ(e.data_size(), 0u);
  EXPECT_EQ(e.data_type(), agg::glyph_data_outline);
  EXPECT_EQ(e.bounds().x1, 0);
  EXPECT_EQ(e.bounds().x2, 0);
  EXPECT_GT(e.advance_x(), 5);
  e.write_glyph_to(nullptr);
}

TEST(FontEngine, SixteenBitOutlinesClampWhereThirtyTwoBitOnesReach)
{
  REQUIRE_FONT(dejavuSans);
  for (double size : {100.0, 250.0, 600.0}) {
    agg::font_engine_system_int16 e16;
    agg::font_engine_system_int32 e32;
    ASSERT_TRUE(loadOutline(e16, "DejaVu Sans", "", size));
    ASSERT_TRUE(loadOutline(e32, "DejaVu Sans", "", size));
    for (unsigned code : {unsigned('W'), unsigned('g'), 0x2588u /* full block */}) {
      ASSERT_TRUE(e16.prepare_glyph(code));
      ASSERT_TRUE(e32.prepare_glyph(code));
      EXPECT_EQ(e16.data_size() * 2, e32.data_size());
      std::vector<agg::int8u> d16(e16.data_size()), d32(e32.data_size());
      e16.write_glyph_to(d16.data());
      e32.write_glyph_to(d32.data());
      agg::glyph_cache g16{0, d16.data(), e16.data_size(), e16.data_type(), e16.bounds(), 0, 0};
      agg::glyph_cache g32{0, d32.data(), e32.data_size(), e32.data_type(), e32.bounds(), 0, 0};
      std::vector<Vertex> v16 = outlineOf<agg::int16>(&g16), v32 = outlineOf<agg::int32>(&g32);
      ASSERT_EQ(v16.size(), v32.size());
      bool clamped = false;
      for (size_t i = 0; i < v16.size(); ++i) {
        EXPECT_EQ(v16[i].cmd, v32[i].cmd);
        // 15 bits with 6 fraction bits: [-256, 256 - 1/64].
        double x = std::min(std::max(v32[i].x, -256.0), 256.0 - 1.0 / 64);
        double y = std::min(std::max(v32[i].y, -256.0), 256.0 - 1.0 / 64);
        clamped |= x != v32[i].x || y != v32[i].y;
        EXPECT_EQ(v16[i].x, x) << size << " " << code << " " << i;
        EXPECT_EQ(v16[i].y, y) << size << " " << code << " " << i;
      }
      EXPECT_EQ(clamped, size > 256) << size;
      if (size > 256) {
        EXPECT_GT(e32.bounds().x2, 256);
      }
    }
  }
}

TEST(FontEngine, FontBytesOutliveTheirSourceAndNeverAnswerForANamedFace)
{
  REQUIRE_FONT(dejavuSerif);
  agg::font_engine_system_int32 e;
  ASSERT_TRUE(loadOutline(e, "DejaVu Sans", "", 40));
  std::string byName = e.font_signature();
  ASSERT_TRUE(e.prepare_glyph('a'));
  unsigned sansIndex = e.glyph_index();
  double sansAdvance = e.advance_x();

  std::string memSignature;
  {
    std::string serif = testsupport::readFile(dejavuSerif);
    ASSERT_TRUE(loadOutline(e, "DejaVu Sans", "", 40, &serif)); // same name, other bytes
    memSignature = e.font_signature();
    char identity[64];
    std::snprintf(identity, sizeof identity, ",mem:%zu:%08lX", serif.size(),
                  crc32(0, (const Bytef*)serif.data(), unsigned(serif.size())));
    EXPECT_EQ(memSignature, byName + identity);
    serif.assign(serif.size(), '\0');
    serif.clear();
    serif.shrink_to_fit();
  }
  EXPECT_EQ(e.num_faces(), 2u);
  ASSERT_TRUE(e.prepare_glyph('a'));
  EXPECT_NE(e.advance_x(), sansAdvance);
  std::vector<agg::int8u> data(e.data_size());
  e.write_glyph_to(data.data());
  EXPECT_GT(data.size(), 0u);

  // Back to the name: the named face, not the bytes.
  ASSERT_TRUE(loadOutline(e, "DejaVu Sans", "", 40));
  EXPECT_EQ(std::string(e.font_signature()), byName);
  ASSERT_TRUE(e.prepare_glyph('a'));
  EXPECT_EQ(e.glyph_index(), sansIndex);
  EXPECT_EQ(e.advance_x(), sansAdvance);
}

TEST(FontEngine, FailedLoadsLeaveNoFaceAndReportFalse)
{
  REQUIRE_FONT(dejavuSans);
  agg::font_engine_system_int32 e;
  ASSERT_TRUE(loadOutline(e, "DejaVu Sans", "", 12));
  int stamp = e.change_stamp();
  std::string junk(1000, 'j');
  EXPECT_FALSE(loadOutline(e, "DejaVu Sans", "", 12, &junk));
  EXPECT_NE(e.change_stamp(), stamp);
  EXPECT_STREQ(e.font_signature(), "");
  EXPECT_FALSE(e.prepare_glyph('A'));
  EXPECT_EQ(e.ascender(), 0.0);
  EXPECT_FALSE(e.load_font("DejaVu Sans", "", agg::glyph_ren_outline, junk.data(), -5));
  // The earlier face is still cached and found again.
  ASSERT_TRUE(loadOutline(e, "DejaVu Sans", "", 12));
  EXPECT_EQ(e.num_faces(), 1u);
  EXPECT_TRUE(e.prepare_glyph('A'));
  double kx = 0, ky = 0;
  EXPECT_FALSE(e.add_kerning(1, 2, &kx, &ky));
  std::vector<std::string> list;
  e.get_font_list(list, nullptr);
  EXPECT_TRUE(list.empty());
}

TEST(FontEngine, HugeAndNonFiniteSizesStayInRange)
{
  REQUIRE_FONT(dejavuSans);
  // Infinite and undefined sizes collapse the outline to the origin; a
  // glyph wider or taller than max_raster_extent gets no scanlines (it is
  // still drawn from its outline).
  struct Case {
    double size;
    bool gray, inked;
  } cases[] = {{1e300, true, false}, {-1e300, true, false}, {std::nan(""), true, false},
               {1e9, false, false},  {0.0, true, false},    {-20.0, true, true},
               {3000, true, true},   {6000, false, false}};
  for (const Case& c : cases) {
    agg::font_engine_system_int32 e;
    ASSERT_TRUE(loadOutline(e, "DejaVu Sans", "", c.size));
    ASSERT_TRUE(e.prepare_glyph('W')) << c.size;
    std::vector<agg::int8u> data(e.data_size());
    e.write_glyph_to(data.data());
    e.load_font("DejaVu Sans", "", agg::glyph_ren_agg_gray8);
    EXPECT_EQ(e.prepare_glyph('W'), c.gray) << c.size;
    if (c.gray) {
      EXPECT_EQ(e.bounds().x2 > e.bounds().x1, c.inked) << c.size;
    }
  }
}
