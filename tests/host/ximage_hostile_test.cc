// Whatever a script passes, an Image entry returns, leaves the image
// usable or raises a script error; native exceptions never escape.
#include <gtest/gtest.h>

#include "host/XImage.hh"
#include "tests/host/ximage_support.hh"
#include "tests/support/TestSupport.hh"

using ximagetest::Result;
using ximagetest::Script;

TEST(XImageHostile, ArgumentsNeverCrash)
{
  const char* calls[] = {
    "img:resize(2147483647, 2147483647)",
    "img:resize(0, 0) img:resize(3, 2)",
    "img:scale(1e300)",
    "img:scale(-1, 0/0)",
    "img:scale(0)",
    "img:rotate(0/0)",
    "img:rotate(1e308)",
    "img:crop(-2147483648, -2147483648, -1, -1)",
    "img:crop(2147483647, 2147483647, 2147483647, 2147483647)",
    "img:borderFill(2147483647, -2147483648)",
    "img:copy(-2147483648, 2147483647, 2147483647, 2147483647, img, 2147483647, -2147483648)",
    "img:histogram(-1)",
    "img:histogram(2147483647)",
    "img:floyedSteinberg(-5)",
    "img:floyedSteinberg(2147483647)",
    "img:colorspaceRGB8ToGray8(0, 0, 0)",
    "img:colorspaceRGB8ToGray8(2147483647, 2147483647, 2147483647)",
    "img:detectEmptyPage(0/0, -5, 2147483647)",
    "img:bardecode('any', 0, -1, 0, -1)",
    "img:bardecode('any', 0, 2147483647, 2147483647, 2147483647)",
    "img:brightnessContrastGamma(0/0, 1e308, -1)",
    "img:dropout(0/0, 1e308, -1e308, 0/0)",
    "img:setImageDataSpec(3, 2, 32, true, '', 99, -1, -99, 0, 31, 1, 300, 7)",
    "img:deskewApply({x = 2147483647, y = -2147483648, width = 5, height = 5, angle = 0/0}, true)",
    "img:deskewApply({width = 'many', height = {}, angle = 'x'}, false)",
    "img:deskewParameters(-5, 2147483647)",
    "img:deskew(2147483647, -1)",
    "img:dePalette(2147483647, '', -1)",
    "img:lut({1e300, -1e300, 0/0})",
    "img:setPixel(2147483647, 0, 1, 1, 1, 1)",
    "img:pixel(-2147483648, 0)",
    "img:color2mask(2147483647, -2147483648, 0, 0, 0, 0)",
    "img:setLineDash(0/0, 1e308, -1)",
    "img:setLineStyle('', '', 0/0)",
    "img:autoColor(0/0, -1)",
    "img:append(Tolm.Image.new())",
    "Tolm.Image.new():append(img)",
    "img:rgbaFromImage(Tolm.Image.new(), true)",
    "Tolm.Image.new():rgbaFromImage(img, false)",
    "img:setImageMem(string.rep('II*\\0', 100), 'tif', 'x', -5)",
    "img:setImageMem('', 'nosuchcodec')",
    "img:writeImageMem('tif', -2147483648, string.rep(',', 1000))",
    "img:applyICC(string.rep('acsp', 1000))",
    "img:rgbaFromImage(img, true)",
    "img:dePalette(1, 'abcdef')",
    "img:lut({1, 2, 3}, {4}, {5})",
    // Every whole-image entry on a tiny image of each type.
    "img:colorspace('rgb16') img:colorspace('gray1') img:colorspace('rgba')",
    "img:cmyk2rgb() img:mask2rgba() img:invert() img:normalize()",
    "img:autoWhite() img:autoInvert() img:autoColor() img:autoRotate()",
    "img:median() img:smooth() img:floyedSteinberg(3) img:optimize2bw2()",
    "img:colorspaceGray8ToGray1() img:colorspaceGray8DenoiseNeighbours()",
    "img:deskewFlatbed() img:deskewApply(img:deskewParameters(1, 1), true)",
    "img:histogram(7) img:color2mask(0, 9, 0, 9, 0, 9) img:detectEmptyPage(1, 1)",
  };
  for (const testsupport::PixelType& t : testsupport::kPixelTypes) {
    for (const char* call : calls) {
      SCOPED_TRACE(testsupport::typeName(t) + ": " + call);
      Script s;
      s.give("img", testsupport::patterned(3, 2, t, 5, 1));
      testing::internal::CaptureStderr();
      Result r = s.run(call);
      testing::internal::GetCapturedStderr();
      // Still a usable image afterwards.
      Result after = s.run("return img:width(), img:height(), img:getSPP(), img:getBPS()");
      ASSERT_TRUE(after.ok) << after.error;
      if (!r.ok) {
        EXPECT_FALSE(r.error.empty());
      }
    }
  }
}

// An exception thrown by an operation arrives as a script error with its
// text, which a protected call can catch.
TEST(XImageHostile, NativeExceptionsBecomeScriptErrors)
{
  Script s;
  s.give("img", testsupport::uniform(2, 2, 1, 8, 0));
  Result r = s.run("local ok, e = pcall(img.resize, img, -4, 2) return ok, e");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_FALSE(r.boolean(0));
  EXPECT_FALSE(r.str(1).empty());
  r = s.run("return img:width()");
  EXPECT_EQ(r.num(0), 2);
  // Running out of memory on a huge geometry is a false result for resize.
  r = s.run("return img:resize(2147483647, 2147483647)");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_FALSE(r.boolean(0));
  EXPECT_EQ(s.image("img")->w, 2);
}
