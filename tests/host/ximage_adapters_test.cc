// Each Image entry that adapts a page operation against the operation
// itself on a generated scan: the script sees the same pixels and the
// results in the documented shapes.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "deskew/Deskew.hh"
#include "deskew/Flatbed.hh"
#include "deskew/Orientation.hh"
#include "bardecode/read_barcodes.hh"
#include "color/ColorManagement.hh"
#include "filters/empty_page.hh"
#include "filters/optimize2bw.hh"
#include "host/XImage.hh"
#include "tests/support/SyntheticScan.hh"
#include "tests/host/ximage_support.hh"
#include "tests/support/TestSupport.hh"

using ximagetest::Result;
using ximagetest::Script;

namespace {

Image scan(double angle = 2.5, int spp = 1)
{
  synthetic::Scan s;
  s.angle = angle;
  s.spp = spp;
  return synthetic::make(s);
}

// A sheet table from the script as a rect, and whether every key is there
// with the right type.
bool sheetOf(Script& s, const char* expr, deskew_rect& r)
{
  Result res = s.run(std::string("local t = ") + expr + R"(
    local ok = type(t) == 'table' and type(t.angle) == 'number'
    for _, k in ipairs({'x', 'y', 'width', 'height', 'x_back', 'y_back'}) do
      ok = ok and type(t[k]) == 'number' and t[k] == math.floor(t[k])
    end
    return ok, t.x, t.y, t.width, t.height, t.x_back, t.y_back, t.angle)");
  if (!res.ok || res.count() != 8 || !res.boolean(0))
    return false;
  r.x = (int)res.num(1);
  r.y = (int)res.num(2);
  r.width = (int)res.num(3);
  r.height = (int)res.num(4);
  r.x_back = (int)res.num(5);
  r.y_back = (int)res.num(6);
  r.angle = (float)res.num(7);
  return true;
}

void expectSameRect(const deskew_rect& a, const deskew_rect& b)
{
  EXPECT_EQ(a.x, b.x);
  EXPECT_EQ(a.y, b.y);
  EXPECT_EQ(a.width, b.width);
  EXPECT_EQ(a.height, b.height);
  EXPECT_EQ(a.x_back, b.x_back);
  EXPECT_EQ(a.y_back, b.y_back);
  EXPECT_FLOAT_EQ(a.angle, b.angle);
}

} // namespace

TEST(XImageAdapters, DeskewFamily)
{
  Image page = scan();
  Script s;
  XImage* img = s.give("img", page);

  deskew_rect got{}, want = deskewParameters(page, 10, 10);
  ASSERT_TRUE(sheetOf(s, "img:deskewParameters(10, 10)", got));
  expectSameRect(got, want);
  EXPECT_NEAR(got.angle, -2.5, 0.5); // a real sheet was found

  // deskewApply: a new image, the receiver unchanged.
  Result r = s.run("sheet = img:deskewParameters(10, 10) out = img:deskewApply(sheet, false)");
  ASSERT_TRUE(r.ok) << r.error;
  XImage* out = s.image("out");
  ASSERT_NE(out, nullptr);
  Image* core = deskewApply(page, want, false);
  EXPECT_TRUE(testsupport::samePixels(*out, *core));
  delete core;
  EXPECT_TRUE(testsupport::samePixels(*img, page));

  // A sheet without keys reads as zeros.
  r = s.run("zero = img:deskewApply({}, false)");
  ASSERT_TRUE(r.ok) << r.error;
  deskew_rect zeros{};
  core = deskewApply(page, zeros, false);
  EXPECT_TRUE(testsupport::samePixels(*s.image("zero"), *core));
  delete core;

  // deskew replaces the pixels as the core call does; nothing is returned.
  Image direct(page);
  ASSERT_TRUE(deskew(direct, 10, 10));
  r = s.run("return img:deskew(10, 10)");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.count(), 0u);
  EXPECT_TRUE(testsupport::samePixels(*img, direct));
}

TEST(XImageAdapters, DeskewFlatbed)
{
  synthetic::Scan sc;
  sc.angle = -1.5;
  sc.background = 200;
  Image page = synthetic::make(sc);
  Script s;
  s.give("img", page);
  deskew_rect got{}, want = deskewFlatbed(page);
  ASSERT_TRUE(sheetOf(s, "img:deskewFlatbed()", got));
  expectSameRect(got, want);
}

TEST(XImageAdapters, AutoRotate)
{
  struct Case {
    const char* name;
    Image page;
  } cases[] = {
    {"skewed scan", scan(1.0)},
    {"blank", testsupport::uniform(200, 200, 1, 8, 255)},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    Image direct(c.page);
    float skew = NAN;
    const int degrees = autoRotate2(direct, &skew, false, nullptr);
    Script s;
    s.give("img", c.page);
    Result r = s.run("return img:autoRotate()");
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.count(), std::isnan(skew) ? 1u : 2u);
    EXPECT_EQ(r.num(0), degrees);
    if (!std::isnan(skew)) {
      EXPECT_FLOAT_EQ((float)r.num(1), skew);
    }
  }
}

TEST(XImageAdapters, DetectEmptyPage)
{
  Image page = scan(0);
  Script s;
  s.give("img", page);
  for (const char* args : {"0.5, 16", "0.5, 16, 16", "0.5, 16, 40", "50, 0"}) {
    SCOPED_TRACE(args);
    int mx = 0, my = 0;
    double pct = 0;
    sscanf(args, "%lf, %d", &pct, &mx);
    my = mx;
    sscanf(args, "%lf, %d, %d", &pct, &mx, &my);
    int count = 0;
    const bool empty = detect_empty_page(page, pct, mx, my, &count);
    Result r = s.run(std::string("return img:detectEmptyPage(") + args + ")");
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.count(), 2u);
    EXPECT_EQ(r.type(0), LUA_TBOOLEAN);
    EXPECT_EQ(r.boolean(0), empty);
    EXPECT_EQ(r.num(1), count);
  }
}

TEST(XImageAdapters, Binarisation)
{
  Image page = scan(0, 3);
  Image direct(page);
  optimize2bw(direct, 0, 0, 0, 0, 3, 2.1);
  Script s;
  XImage* img = s.give("img", page);
  Result r = s.run("img:optimize2bw() return img:getSPP(), img:getBPS()");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.num(0), 1);
  EXPECT_EQ(r.num(1), 8);
  EXPECT_TRUE(testsupport::samePixels(*img, direct));
  r = s.run("img:colorspaceGray8ToGray1() return img:getBPS()");
  EXPECT_EQ(r.num(0), 1);
}

TEST(XImageAdapters, Bardecode)
{
  REQUIRE_TOOL(zint, "zint");
  testsupport::TempDir dir;
  const std::string tif = dir.file("code.tif");
  ASSERT_EQ(testsupport::run(zint + " -b CODE128 --scale=2 --notext --whitesp=20 -d 'Tolm-42' -o " + tif +
                             " >/dev/null 2>&1"),
            0);
  Script s;
  lua_pushstring(s.L, tif.c_str());
  lua_setglobal(s.L, "file");
  Result r = s.run("img = Tolm.Image.new() return img:setImage(file)");
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_TRUE(r.boolean(0));
  XImage* img = s.image("img");
  const auto hits = BarDecode::read_barcodes(*img, BarDecode::bardecode_types("code128"));
  ASSERT_EQ(hits.size(), 1u);

  // Read on many scan lines, listed once.
  r = s.run(R"(
    local t = img:bardecode("code128")
    local e = t[1]
    return #t, e.code, e.type, e.x, e.y)");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.num(0), 1);
  EXPECT_EQ(r.str(1), "Tolm-42");
  EXPECT_EQ(r.str(2), "code128");
  EXPECT_EQ(r.num(3), hits[0].x);
  EXPECT_EQ(r.num(4), hits[0].y);

  // Only columns: a horizontal symbol has no hit.
  r = s.run("return #img:bardecode('any', 150, 3, 8, 10)");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.num(0), 0);

  testing::internal::CaptureStderr();
  r = s.run("local t = img:bardecode('qr') return type(t), #t");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Unmatched bardecode types: qr\n");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.str(0), "table");
  EXPECT_EQ(r.num(1), 0);
}

TEST(XImageAdapters, ApplyICC)
{
  const std::string path = "/usr/share/color/icc/compatibleWithAdobeRGB1998.icc";
  const std::string profile = testsupport::readFile(path);
  if (profile.empty()) {
    if (testsupport::underCI())
      FAIL() << "missing " << path;
    GTEST_SKIP() << "missing " << path;
  }
  Image page = scan(0, 3);
  Image direct(page);
  std::istringstream in(profile);
  const bool want = applyICC(direct, in);
  Script s;
  XImage* img = s.give("img", page);
  lua_pushlstring(s.L, profile.data(), profile.size());
  lua_setglobal(s.L, "profile");
  Result r = s.run("return img:applyICC(profile)");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.type(0), LUA_TBOOLEAN);
  EXPECT_EQ(r.boolean(0), want);
  EXPECT_TRUE(want);
  EXPECT_TRUE(testsupport::samePixels(*img, direct));
  EXPECT_FALSE(testsupport::samePixels(*img, page));

  // A profile of garbage converts nothing.
  r = s.run("return img:applyICC('not a profile')");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_FALSE(r.boolean(0));
  EXPECT_TRUE(testsupport::samePixels(*img, direct));
}

TEST(XImageAdapters, ColorModeAndTone)
{
  Script s;
  s.give("gray", scan(0, 3));
  Result r = s.run("return gray:autoColor()");
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.count(), 1u);
  EXPECT_TRUE(r.str(0) == "gray" || r.str(0) == "bw") << r.str(0);
  // A colourful picture stays colour: nothing comes back.
  Image colour = testsupport::patterned(64, 64, {3, 8}, 5, 0);
  s.give("colour", colour);
  r = s.run("return colour:autoColor(0.2, 4.0)");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.count(), 0u);
  // Entries on an image without pixels leave it alone.
  r = s.run(R"(
    local e = Tolm.Image.new()
    e:normalize() e:invert() e:median() e:smooth() e:optimize2bw() e:optimize2bw2()
    e:autoInvert() e:brightnessContrastGamma(0.1, 0.1, 1) e:floyedSteinberg() e:cmyk2rgb()
    e:colorspaceRGB8ToGray8() e:colorspaceGray8DenoiseNeighbours() e:rotate(30) e:crop(0, 0, 1, 1)
    e:scale(2) e:borderFill(1, 1) e:deskew(1, 1)
    return e:width(), #e:bardecode('any'), e:histogram(256), e:detectEmptyPage(1, 0))");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.num(0), 0);
  EXPECT_EQ(r.num(1), 0);
}
