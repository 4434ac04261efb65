// Image script entries that read and write pixel values, one table of cases
// per family on tiny images of every pixel type.
#include <gtest/gtest.h>

#include <cmath>

#include "host/XImage.hh"
#include "image/Colorspace.hh"
#include "image/Tonal.hh"
#include "tests/host/ximage_support.hh"
#include "tests/support/TestSupport.hh"

using ximagetest::Result;
using ximagetest::Script;

namespace {

// A w x h image of the type, all samples 0, as the script global "img".
XImage* blank(Script& s, const testsupport::PixelType& t, int w = 3, int h = 2)
{
  return s.give("img", testsupport::uniform(w, h, t.spp, t.bps, 0));
}

} // namespace

// setPixel (1, 0.5, 0, alpha 0.4) then pixel: the values each pixel type
// stores and reports, on the 0..1 scale of its depth.
TEST(XImagePixel, RoundTripEveryType)
{
  const double l8 = (int)((0.21267 + 0.71516 * 0.5) * 255); // luminance byte 145
  const double l16 = (int)((0.21267 + 0.71516 * 0.5) * 65535);
  struct Case {
    testsupport::PixelType t;
    std::vector<double> expect;
  } cases[] = {
    {{1, 1}, {1.0}},                                      // 145 >> 7 = 1: white
    {{1, 2}, {((int)l8 >> 6) * 85 / 255.0}},
    {{1, 4}, {((int)l8 >> 4) * 17 / 255.0}},
    {{1, 8}, {l8 / 255.0}},
    {{1, 16}, {l16 / 65535.0}},
    {{3, 8}, {1.0, 127 / 255.0, 0.0}},
    {{4, 8}, {1.0, 127 / 255.0, 0.0, 102 / 255.0}},
    {{3, 16}, {1.0, 32767 / 65535.0, 0.0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testsupport::typeName(c.t));
    Script s;
    blank(s, c.t);
    Result r = s.run("img:setPixel(1, 1, 1, 0.5, 0, 0.4) return img:pixel(1, 1)");
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.count(), c.expect.size());
    for (size_t i = 0; i < c.expect.size(); ++i)
      EXPECT_DOUBLE_EQ(r.num(i), c.expect[i]) << i;
    // Neighbours in the same byte keep their value.
    r = s.run("return img:pixel(0, 1)");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.num(0), 0.0);
    // Outside the image: no values, and writing there changes nothing.
    for (const char* at : {"3, 0", "0, 2", "-1, 0", "0, -1"}) {
      r = s.run(std::string("img:setPixel(") + at + ", 1, 1, 1, 1) return img:pixel(" + at + ")");
      ASSERT_TRUE(r.ok) << r.error;
      EXPECT_EQ(r.count(), 0u) << at;
    }
    EXPECT_EQ(testsupport::samplesOf(*s.image("img")),
              [&] {
                Script t;
                XImage* x = blank(t, c.t);
                t.run("img:setPixel(1, 1, 1, 0.5, 0, 0.4)");
                return testsupport::samplesOf(*x);
              }());
  }
}

TEST(XImagePixel, DefaultsAndClamping)
{
  struct Case {
    const char* call;
    std::vector<int> rgba; // the stored samples of pixel (0, 0) of an RGBA8 image
  } cases[] = {
    {"img:setPixel(0, 0, 1, 0, 0)", {255, 0, 0, 0}},       // alpha defaults to 0
    {"img:setPixel(0, 0)", {0, 0, 0, 0}},
    {"img:setPixel(0, 0, 1.5, -1, 0.5, 2)", {255, 0, 127, 255}}, // clamped, not wrapped
    {"img:setPixel(0, 0, 0/0, 0, 0, 0/0)", {0, 0, 0, 0}},  // NaN is 0
    {"img:setPixel(0, 0, nil, 1, nil, 1)", {0, 255, 0, 255}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    Script s;
    XImage* img = s.give("img", testsupport::uniform(1, 1, 4, 8, 9));
    Result r = s.run(c.call);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(testsupport::pixelAt(*img, 0, 0), c.rgba);
    EXPECT_TRUE(img->pixelsDirty);
  }
}

TEST(XImagePixel, ReportsAlphaOnlyForRGBA8)
{
  Script s;
  s.give("img", testsupport::imageFromBytes(1, 1, 4, {10, 20, 30, 51}));
  Result r = s.run("return img:pixel(0, 0)");
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.count(), 4u);
  EXPECT_DOUBLE_EQ(r.num(3), 0.2);
  // An image without pixels has no pixel to report.
  r = s.run("local e = Tolm.Image.new() return e:pixel(0, 0)");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.count(), 0u);
}

TEST(XImageSetImageData, Table)
{
  struct Case {
    const char* name;
    int w, h, spp, bps;
    std::string data;
    const char* extra; // swap, quiet
    std::string message;
    std::vector<int> firstBytes;
  } cases[] = {
    {"plain gray8", 2, 2, 1, 8, std::string("\x01\x02\x03\x04", 4), "", "", {1, 2, 3, 4}},
    {"short", 10, 10, 1, 8, std::string(50, '\x07'), "", "setImageData: short 100 50\n", {7, 7}},
    {"short quiet", 10, 10, 1, 8, std::string(50, '\x07'), "false, true", "", {7, 7}},
    {"swap 16", 2, 1, 1, 16, std::string("\x01\x02\x03\x04", 4), "true", "", {2, 1, 4, 3}},
    {"swap 32", 1, 1, 4, 8, std::string("\x01\x02\x03\x04", 4), "true", "", {4, 3, 2, 1}},
    {"swap 24", 1, 1, 3, 8, std::string("\x01\x02\x03", 3), "true",
     "setImageData: unsupported depth: 24\n", {}},
    {"1-bit rows", 9, 2, 1, 1, std::string("\xff\x80\x00\x00", 4), "", "", {255, 128, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Script s;
    s.give("img", new XImage());
    lua_pushlstring(s.L, c.data.data(), c.data.size());
    lua_setglobal(s.L, "data");
    const std::string call = "img:setImageData(" + std::to_string(c.w) + ", " + std::to_string(c.h) +
                             ", " + std::to_string(c.spp) + ", " + std::to_string(c.bps) +
                             ", data" + (*c.extra ? std::string(", ") + c.extra : "") + ")";
    testing::internal::CaptureStderr();
    Result r = s.run(call);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
    ASSERT_TRUE(r.ok) << r.error;
    XImage* img = s.image("img");
    EXPECT_EQ(img->w, c.w);
    EXPECT_EQ(img->h, c.h);
    EXPECT_EQ(img->spp, c.spp);
    EXPECT_EQ(img->bps, c.bps);
    EXPECT_TRUE(img->pixelsDirty);
    for (size_t i = 0; i < c.firstBytes.size(); ++i)
      EXPECT_EQ(img->data[i], c.firstBytes[i]) << i;
  }
}

TEST(XImageSetImageData, RefusesBadGeometry)
{
  struct Case {
    const char* call;
    const char* message;
  } cases[] = {
    {"img:setImageData(-1, 2, 1, 8, 'ab')", "setImageData: invalid size: -1 2\n"},
    {"img:setImageData(2, -2, 1, 8, 'ab')", "setImageData: invalid size: 2 -2\n"},
    {"img:setImageData(2, 2, 2, 8, 'abcd')", "setImageData: unsupported spp/bps: 2 8\n"},
    {"img:setImageData(2, 2, 1, 3, 'abcd')", "setImageData: unsupported spp/bps: 1 3\n"},
    {"img:setImageData(2, 2, 300, 8, 'abcd')", "setImageData: unsupported spp/bps: 300 8\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    Script s;
    XImage* img = s.give("img", testsupport::imageFromBytes(2, 1, 1, {5, 6}));
    testing::internal::CaptureStderr();
    Result r = s.run(c.call);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(img->w, 2);
    EXPECT_EQ(img->h, 1);
    EXPECT_EQ(testsupport::samplesOf(*img), (std::vector<int>{5, 6}));
  }
  // A size past what the stride can describe is a script error, not a crash.
  Script s;
  s.give("img", new XImage());
  Result r = s.run("img:setImageData(2147483647, 1, 4, 16, '')");
  EXPECT_FALSE(r.ok);
}

TEST(XImageSetImageDataSpec, Table)
{
  struct Case {
    const char* name;
    int w, depth;
    bool little;
    std::string data;
    const char* masks;
    int spp;
    std::vector<int> samples;
    const char* message;
  } cases[] = {
    // RGB565, 0xF800 = red, both byte orders.
    {"565 little", 2, 16, true, std::string("\x00\xf8\x1f\x00", 4),
     "11, 31, 5, 63, 0, 31", 3, {255, 0, 0, 0, 0, 255}, ""},
    {"565 big", 2, 16, false, std::string("\xf8\x00\x00\x1f", 4),
     "11, 31, 5, 63, 0, 31", 3, {255, 0, 0, 0, 0, 255}, ""},
    // 32-bit ARGB with an 8-bit alpha at the top.
    {"argb32", 1, 32, false, std::string("\x80\x10\x20\x30", 4),
     "16, 255, 8, 255, 0, 255, 24, 255", 4, {0x10, 0x20, 0x30, 0x80}, ""},
    // A mask as wide as the value scales without overflow.
    {"wide mask", 1, 32, true, std::string("\xff\xff\xff\xff", 4),
     "0, -1, 0, -1, 0, -1", 3, {255, 255, 255}, ""},
    // Masks omitted: no component (0), no alpha.
    {"no masks", 1, 8, true, std::string("\xff", 1), "", 3, {0, 0, 0}, ""},
    // Only whole pixels present are converted.
    {"short", 2, 16, true, std::string("\x00\xf8\x1f", 3), "11, 31, 5, 63, 0, 31", 3,
     {255, 0, 0}, ""},
    {"depth 24", 1, 24, true, std::string("abc", 3), "", 3, {}, "doBLIT: unsupported depth: 24\n"},
    {"depth 0", 1, 0, true, std::string("abc", 3), "", 3, {}, "doBLIT: unsupported depth: 0\n"},
    {"depth -7", 1, -7, true, std::string("abc", 3), "", 3, {},
     "doBLIT: unsupported depth: -7\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Script s;
    s.give("img", new XImage());
    lua_pushlstring(s.L, c.data.data(), c.data.size());
    lua_setglobal(s.L, "data");
    const std::string call = "img:setImageDataSpec(" + std::to_string(c.w) + ", 1, " +
                             std::to_string(c.depth) + ", " + (c.little ? "true" : "false") +
                             ", data" + (*c.masks ? std::string(", ") + c.masks : "") + ")";
    testing::internal::CaptureStderr();
    Result r = s.run(call);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
    ASSERT_TRUE(r.ok) << r.error;
    XImage* img = s.image("img");
    EXPECT_EQ(img->spp, c.spp);
    EXPECT_EQ(img->bps, 8);
    EXPECT_EQ(img->w, c.w);
    for (size_t i = 0; i < c.samples.size(); ++i)
      EXPECT_EQ(img->data[i], c.samples[i]) << i;
  }
}

TEST(XImageResize, Table)
{
  Script s;
  XImage* img = s.give("img", testsupport::imageFromBytes(2, 2, 1, {1, 2, 3, 4}));
  Result r = s.run("return img:resize(4, 1)");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_TRUE(r.boolean(0));
  EXPECT_EQ(img->w, 4);
  EXPECT_EQ(img->h, 1);
  EXPECT_EQ(img->data[3], 4); // leading bytes kept
  r = s.run("return img:resize(4, 2, 8)");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(img->stride(), 8u);
  r = s.run("return img:resize(4, 2, 4)"); // equal to the fill: tight
  EXPECT_EQ(img->rowStride, 0u);
  // Geometry outside the raster's domain: a script error, image unchanged.
  for (const char* bad : {"img:resize(-1, 2)", "img:resize(2, -1)", "img:resize(4, 2, 3)"}) {
    r = s.run(bad);
    EXPECT_FALSE(r.ok) << bad;
    EXPECT_EQ(img->w, 4);
    EXPECT_EQ(img->h, 2);
  }
}

TEST(XImageColorspace, Names)
{
  struct Case {
    const char* name;
    int spp, bps;
    const char* message;
  } cases[] = {
    {"RGB", 3, 8, ""},       {"rgb16", 3, 16, ""},
    {"Gray16", 1, 16, ""},   {"BW", 1, 1, ""},
    {"bilevel", 1, 1, ""},   {"gray4", 1, 4, ""},
    {"RGBA8", 4, 8, ""},     {"gray", 1, 8, ""},
    {"cmyk", 1, 8, "Requested colorspace conversion not yet implemented.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Script s;
    XImage* img = s.give("img", testsupport::imageFromBytes(2, 1, 1, {0, 255}));
    testing::internal::CaptureStderr();
    Result r = s.run(std::string("img:colorspace('") + c.name + "')");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(img->spp, c.spp);
    EXPECT_EQ(img->bps, c.bps);
  }
}

TEST(XImageHistogram, TablesPerChannelZeroBased)
{
  for (const testsupport::PixelType& t : testsupport::kPixelTypes) {
    SCOPED_TRACE(testsupport::typeName(t));
    Script s;
    XImage* img = s.give("img", testsupport::patterned(5, 3, t, 7, 0));
    const auto expect = histogram(*img, 256);
    Result r = s.run(R"(
      local t = {img:histogram(256)}
      local out = {#t}
      for _, h in ipairs(t) do
        local n, sum = 0, 0
        for k, v in pairs(h) do n = n + 1; sum = sum + v end
        out[#out + 1] = n; out[#out + 1] = sum; out[#out + 1] = h[0]; out[#out + 1] = h[255]
        out[#out + 1] = h[256] == nil
      end
      return unpack(out))");
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.num(0), (double)expect.size());
    EXPECT_EQ(expect.size(), (size_t)t.spp);
    for (size_t c = 0; c < expect.size(); ++c) {
      EXPECT_EQ(r.num(1 + 5 * c), 256);
      EXPECT_EQ(r.num(2 + 5 * c), 15);
      EXPECT_EQ(r.num(3 + 5 * c), expect[c][0]);
      EXPECT_EQ(r.num(4 + 5 * c), expect[c][255]);
      EXPECT_TRUE(r.boolean(5 + 5 * c));
    }
  }
}

TEST(XImageLut, Table)
{
  struct Case {
    const char* name;
    int spp;
    const char* call;
    std::vector<int> expect; // samples of the 2-pixel image {1, 2, ...}
  } cases[] = {
    {"gray red only", 1, "img:lut({10, 20, 30})", {20, 30}},
    {"short table is identity beyond", 1, "img:lut({})", {1, 2}},
    {"low 8 bits", 1, "img:lut({0, 257, 258})", {1, 2}},
    {"stops at first hole", 1, "img:lut({5, nil, 7})", {1, 2}},
    {"rgb one table", 3, "img:lut({[2] = 9, [3] = 9, [4] = 9, [5] = 9, [6] = 9, [7] = 9, [1] = 0})",
     {9, 9, 9, 9, 9, 9}},
    {"rgb three tables", 3, "img:lut({0, 11, 12, 13, 14, 15, 16}, {0, 21, 22, 23, 24, 25, 26}, {0, 31, 32, 33, 34, 35, 36})",
     {11, 22, 33, 14, 25, 36}},
    {"no red table", 1, "img:lut(nil, {5, 5, 5})", {1, 2}},
    {"nothing", 1, "img:lut()", {1, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Script s;
    std::vector<int> samples;
    for (int i = 1; i <= 2 * c.spp; ++i)
      samples.push_back(i);
    XImage* img = s.give("img", testsupport::imageFromSamples(2, 1, c.spp, 8, samples));
    Result r = s.run(c.call);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(testsupport::samplesOf(*img), c.expect);
  }
  Script s;
  s.give("img", testsupport::imageFromBytes(1, 1, 1, {1}));
  Result r = s.run("img:lut(5)");
  ASSERT_FALSE(r.ok);
  EXPECT_NE(r.error.find("cannot convert argument #2 from number to LuaWrapper::LuaTable"),
            std::string::npos)
    << r.error;
}

TEST(XImageDePalette, Table)
{
  struct Case {
    const char* name;
    int bps;
    std::vector<int> indices; // two pixels
    int n;
    std::string palette;
    const char* extra;
    int spp;
    std::vector<int> expect;
    const char* message;
  } cases[] = {
    {"rgb", 8, {0, 2}, 2, std::string("\x01\x02\x03\x04\x05\x06\x07\x08\x09", 9), "", 3,
     {1, 2, 3, 7, 8, 9}, ""},
    {"gray entries", 8, {1, 0}, 1, std::string("\x10\x20", 2), ", 1", 1, {0x20, 0x10}, ""},
    {"alpha from the entry's own byte", 8, {0, 1}, 1,
     std::string("\x01\x02\x03\x40\x05\x06\x07\x80", 8), ", 4", 4, {1, 2, 3, 0x40, 5, 6, 7, 0x80},
     ""},
    {"1-bit to rgb", 1, {1, 0}, 1, std::string("\xff\x00\x00\x00\x00\xff", 6), "", 3,
     {0, 0, 255, 255, 0, 0}, ""},
    {"short palette", 8, {0, 1}, 2, std::string("\x01\x02\x03\x04\x05\x06", 6), "", 1, {0, 1},
     "dePalette: short palette: 9 6\n"},
    {"negative count", 8, {0, 1}, -1, std::string("\x01\x02\x03", 3), "", 1, {0, 1},
     "dePalette: invalid palette: -1 entries of 3 bytes\n"},
    {"zero bytes per entry", 8, {0, 1}, 1, std::string("\x01\x02\x03", 3), ", 0", 1, {0, 1},
     "dePalette: invalid palette: 1 entries of 0 bytes\n"},
    {"huge count", 8, {0, 1}, 2147483647, std::string("\x01\x02\x03", 3), "", 1, {0, 1},
     "dePalette: short palette: 6442450944 3\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Script s;
    XImage* img = s.give("img", testsupport::imageFromSamples(2, 1, 1, c.bps, c.indices));
    lua_pushlstring(s.L, c.palette.data(), c.palette.size());
    lua_setglobal(s.L, "pal");
    testing::internal::CaptureStderr();
    Result r = s.run("img:dePalette(" + std::to_string(c.n) + ", pal" + c.extra + ")");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(img->spp, c.spp);
    EXPECT_EQ(testsupport::samplesOf(*img), c.expect);
  }
}

TEST(XImageDropout, Table)
{
  struct Case {
    const char* call;
    std::vector<int> expect;
  } cases[] = {
    {"img:dropout(1, 0, 0)", {255, 255, 255, 0, 0, 255}},       // red gone, blue stays
    {"img:dropout(1, 0, 0, 0.0)", {250, 0, 0, 0, 0, 255}},      // nothing is closer than 0
    {"img:dropout(0, 0, 1, 0.1)", {250, 0, 0, 255, 255, 255}},
    {"img:dropout(2, -1, -1)", {255, 255, 255, 0, 0, 255}},     // clamped to pure red
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    Script s;
    XImage* img = s.give("img", testsupport::imageFromBytes(2, 1, 3, {250, 0, 0, 0, 0, 255}));
    Result r = s.run(c.call);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(testsupport::samplesOf(*img), c.expect);
  }
}

TEST(XImageColor2Mask, Table)
{
  struct Case {
    const char* name;
    Image source;
    const char* ranges;
    std::vector<int> expect;
  } cases[] = {
    {"gray uses the red range", testsupport::imageFromBytes(3, 1, 1, {10, 100, 200}),
     "50, 150, 0, 0, 0, 0", {255, 0, 255}},
    {"rgb all three ranges", testsupport::imageFromBytes(2, 1, 3, {10, 20, 30, 10, 20, 99}),
     "0, 10, 20, 20, 0, 50", {0, 255}},
    {"16-bit values", testsupport::imageFromSamples(2, 1, 1, 16, {1000, 60000}),
     "0, 1000, 0, 0, 0, 0", {0, 255}},
    {"1-bit as 0 and 255", testsupport::imageFromSamples(2, 1, 1, 1, {1, 0}), "255, 255, 0, 0, 0, 0",
     {0, 255}},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    Script s;
    XImage* img = s.give("img", c.source);
    const std::vector<int> before = testsupport::samplesOf(*img);
    Result r = s.run(std::string("mask = img:color2mask(") + c.ranges + ") return mask:getSPP(), mask:getBPS()");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.num(0), 1);
    EXPECT_EQ(r.num(1), 8);
    XImage* mask = s.image("mask");
    ASSERT_NE(mask, nullptr);
    EXPECT_NE(mask, img);
    EXPECT_EQ(testsupport::samplesOf(*mask), c.expect);
    EXPECT_EQ(testsupport::samplesOf(*img), before);
  }
}
