// The Image script class itself: construction and lifetime, the drawing
// state and its defaults, geometry entries, argument handling.
#include <gtest/gtest.h>

#include "host/XImage.hh"
#include "image/Rotate.hh"
#include "tests/host/ximage_support.hh"
#include "tests/support/TestSupport.hh"

using ximagetest::Result;
using ximagetest::Script;

TEST(XImageClass, ConstructionAndLifetime)
{
  Script s;
  Result r = s.run(R"(
    local a = Tolm.Image.new()
    local n = select('#', a:codecID())
    return a:width(), a:height(), a:getSPP(), a:getBPS(), n, a.new == nil, a.delete ~= nil)");
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.count(), 7u);
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(r.num(i), 0) << i;
  EXPECT_TRUE(r.boolean(5)); // constructors live on the class table only
  EXPECT_TRUE(r.boolean(6));

  // newFromImage copies the raster deeply and starts a fresh drawing state.
  XImage* src = s.give("src", testsupport::imageFromBytes(2, 1, 3, {1, 2, 3, 4, 5, 6}));
  src->resX = src->resY = 300;
  r = s.run("src:color(1, 0, 0, 0.5) src:setLineDash(3, 1) copy = Tolm.Image.newFromImage(src)");
  ASSERT_TRUE(r.ok) << r.error;
  XImage* copy = s.image("copy");
  ASSERT_NE(copy, src);
  EXPECT_TRUE(testsupport::samePixels(*copy, *src));
  EXPECT_NE(copy->data, src->data);
  EXPECT_EQ(copy->resX, 300);
  EXPECT_EQ(copy->fillColor[0], 0.0);
  EXPECT_EQ(copy->fillColor[3], 1.0);
  EXPECT_TRUE(copy->dashes.empty());

  // delete twice is harmless; a method afterwards is a conversion error.
  r = s.run("copy:delete() copy:delete() return copy:width()");
  ASSERT_FALSE(r.ok);
  EXPECT_NE(r.error.find("cannot convert argument #1"), std::string::npos) << r.error;
}

// The drawing state has defined values before any script sets it.
TEST(XImageClass, DrawingStateDefaults)
{
  XImage img;
  EXPECT_EQ(img.fillColor[0], 0.0);
  EXPECT_EQ(img.fillColor[1], 0.0);
  EXPECT_EQ(img.fillColor[2], 0.0);
  EXPECT_EQ(img.fillColor[3], 1.0);
  EXPECT_EQ(img.lineCap, 0);
  EXPECT_EQ(img.lineJoin, 0);
  EXPECT_EQ(img.miterLimit, 1.0f);
  EXPECT_EQ(img.dashStart, 0.0f);
  EXPECT_TRUE(img.transform.is_identity());
  EXPECT_TRUE(img.dashes.empty());

  // mask2rgba before any colour: opaque black where the mask is set.
  Script s;
  XImage* mask = s.give("m", testsupport::imageFromSamples(2, 1, 1, 1, {1, 0}));
  Result r = s.run("m:mask2rgba()");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(mask->spp, 4);
  EXPECT_EQ(testsupport::pixelAt(*mask, 0, 0), (std::vector<int>{0, 0, 0, 255}));
}

TEST(XImageClass, ColorClampsAndFeedsMask2rgba)
{
  struct Case {
    const char* color;
    std::vector<int> rgb;
  } cases[] = {
    {"1, 0.5, 0.2, 1", {255, 127, 51}},
    {"1.5, -0.5, 0/0, 2", {255, 0, 0}}, // 1.5 does not wrap to 127
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.color);
    Script s;
    XImage* mask = s.give("m", testsupport::imageFromSamples(1, 1, 1, 1, {1}));
    Result r = s.run(std::string("m:color(") + c.color + ") m:mask2rgba()");
    ASSERT_TRUE(r.ok) << r.error;
    std::vector<int> expect = c.rgb;
    expect.push_back(255);
    EXPECT_EQ(testsupport::pixelAt(*mask, 0, 0), expect);
  }
  Script s;
  s.give("m", new XImage());
  Result r = s.run("m:color(1, 0, 0)");
  ASSERT_FALSE(r.ok);
  EXPECT_NE(r.error.find("argument #5"), std::string::npos) << r.error;
}

TEST(XImageClass, LineStyleAndDash)
{
  struct Case {
    const char* call;
    int cap, join;
    float miter;
    std::vector<float> dashes;
    float start;
    const char* message;
  } cases[] = {
    {"img:setLineStyle('round', 'mitre')", 2, 0, 1.0f, {}, 0, "unmatched join: mitre\n"},
    {"img:setLineStyle('square', 'bevel', 4)", 1, 3, 4.0f, {}, 0, ""},
    {"img:setLineStyle('flat')", 0, 0, 1.0f, {}, 0, "unmatched cap: flat\n"},
    {"img:setLineStyle(nil, 'round')", 0, 2, 1.0f, {}, 0, ""},
    {"img:setLineStyle(nil, nil, 2.5)", 0, 0, 2.5f, {}, 0, ""},
    {"img:setLineDash(4, 2, 1)", 0, 0, 1.0f, {4, 2}, 1, ""},
    {"img:setLineDash(4, 2)", 0, 0, 1.0f, {4, 2}, 0, ""},
    {"img:setLineDash(4, 2, 1) img:setLineDash()", 0, 0, 1.0f, {}, 0, ""},
    {"img:setLineDash(5, 6, nil, 7)", 0, 0, 1.0f, {5, 6}, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    Script s;
    XImage* img = s.give("img", new XImage());
    testing::internal::CaptureStderr();
    Result r = s.run(c.call);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(img->lineCap, c.cap);
    EXPECT_EQ(img->lineJoin, c.join);
    EXPECT_EQ(img->miterLimit, c.miter);
    EXPECT_EQ(img->dashes, c.dashes);
    EXPECT_EQ(img->dashStart, c.start);
  }
  // A value that is no number leaves the old pattern.
  Script s;
  XImage* img = s.give("img", new XImage());
  Result r = s.run("img:setLineDash(1, 2) img:setLineDash(3, {})");
  ASSERT_FALSE(r.ok);
  EXPECT_NE(r.error.find("cannot convert argument #3 from table to double"), std::string::npos)
    << r.error;
  EXPECT_EQ(img->dashes, (std::vector<float>{1, 2}));
  // setCompOp checks its argument only.
  EXPECT_TRUE(s.run("img:setCompOp() img:setCompOp('multiply')").ok);
  EXPECT_FALSE(s.run("img:setCompOp({})").ok);
}

TEST(XImageClass, GeometryEntries)
{
  struct Case {
    const char* call;
    int w, h, resX, resY;
  } cases[] = {
    {"img:scale(0.5)", 4, 2, 150, 150},
    {"img:scale(0.5, 1)", 4, 4, 150, 300},
    {"img:setResolution(300)", 8, 4, 300, 300},
    {"img:setResolution(200, 100)", 8, 4, 200, 100},
    {"img:crop(1, 1, 3, 2)", 3, 2, 300, 300},
    {"img:rotate(90)", 4, 8, 300, 300},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    Script s;
    Image page = testsupport::patterned(8, 4, {3, 8}, 3, 0);
    page.resX = page.resY = 300;
    XImage* img = s.give("img", page);
    img->metaDirty = false;
    Result r = s.run(std::string(c.call) + " return img:size()");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.num(0), c.w);
    EXPECT_EQ(r.num(1), c.h);
    r = s.run("return img:resolution()");
    EXPECT_EQ(r.num(0), c.resX);
    EXPECT_EQ(r.num(1), c.resY);
  }
  Script s;
  XImage* img = s.give("img", testsupport::uniform(2, 2, 1, 8, 0));
  img->metaDirty = false;
  s.run("img:setResolution(0)");
  EXPECT_FALSE(img->metaDirty); // unchanged values
  s.run("img:setResolution(72)");
  EXPECT_TRUE(img->metaDirty);
}

// The corners a free rotation uncovers are white, at every depth.
TEST(XImageClass, RotateBackgroundIsWhite)
{
  for (const testsupport::PixelType& t : testsupport::kPixelTypes) {
    SCOPED_TRACE(testsupport::typeName(t));
    Script s;
    XImage* img = s.give("img", testsupport::uniform(20, 20, t.spp, t.bps, 0));
    Result r = s.run("img:rotate(45) return img:pixel(0, 0)");
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_GE(r.count(), 1u);
    for (size_t i = 0; i < r.count(); ++i)
      EXPECT_EQ(r.num(i), 1.0) << i;
    EXPECT_EQ(testsupport::pixelAt(*img, 10, 10)[0], 0); // the centre stays black
  }
}

TEST(XImageClass, CopyConvertsTheSourceToTheTarget)
{
  Script s;
  XImage* src = s.give("src", testsupport::imageFromBytes(2, 2, 3, {255, 255, 255, 0, 0, 0,
                                                                    0, 0, 0, 255, 255, 255}));
  XImage* dst = s.give("dst", testsupport::uniform(3, 3, 1, 8, 7));
  Result r = s.run("src:copy(0, 0, 2, 2, dst, 1, 1)");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(src->spp, 1); // converted in place to dst's space
  EXPECT_EQ(dst->spp, 1);
  EXPECT_EQ(testsupport::samplesOf(*dst), (std::vector<int>{7, 7, 7, 7, 255, 0, 7, 0, 255}));
  // Rectangles off either image copy nothing.
  r = s.run("src:copy(5, 5, 2, 2, dst, 0, 0) src:copy(0, 0, 2, 2, dst, -9, 0)");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(testsupport::samplesOf(*dst), (std::vector<int>{7, 7, 7, 7, 255, 0, 7, 0, 255}));
}

TEST(XImageClass, AppendAndBorderFill)
{
  Script s;
  XImage* a = s.give("a", testsupport::imageFromBytes(2, 1, 1, {1, 2}));
  s.give("b", testsupport::imageFromBytes(2, 1, 3, {255, 255, 255, 0, 0, 0}));
  Result r = s.run("a:append(b) return a:size()");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.num(1), 2);
  EXPECT_EQ(testsupport::samplesOf(*a), (std::vector<int>{1, 2, 255, 0}));
  r = s.run("a:append(a) return a:size()"); // itself
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.num(1), 4);
}

TEST(XImageClass, ArgumentErrorsNameTheArgument)
{
  struct Case {
    const char* call;
    const char* fragment;
  } cases[] = {
    {"img:crop(1, 2, 3)", "cannot convert argument #5 from no value to int"},
    {"img:colorspace({})", "cannot convert argument #2 from table to"},
    {"img:rgbaFromImage(img, nil)", "cannot convert argument #3 from nil to bool"},
    {"img:append(5)", "cannot convert argument #2 from number to Image"},
    {"img:setImageData(1, 1, 1, 8, 'x', 1)", "cannot convert argument #7 from number to bool"},
    {"img:bardecode('any', 'x')", "cannot convert argument #3 from string to int"},
    {"img.width(5)", "cannot convert argument #1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    Script s;
    XImage* img = s.give("img", testsupport::imageFromBytes(2, 1, 1, {1, 2}));
    Result r = s.run(c.call);
    ASSERT_FALSE(r.ok);
    EXPECT_NE(r.error.find(c.fragment), std::string::npos) << r.error;
    EXPECT_EQ(testsupport::samplesOf(*img), (std::vector<int>{1, 2}));
  }
  // Numeric strings convert; fractions are dropped.
  Script s;
  s.give("img", testsupport::uniform(4, 4, 1, 8, 0));
  Result r = s.run("img:crop('1', 1.9, 2.9, '2') return img:size()");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.num(0), 2);
  EXPECT_EQ(r.num(1), 2);
}
