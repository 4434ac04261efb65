#include <gtest/gtest.h>

#include <set>

#include "filters/dither.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;

namespace {

Image uniform(int w, int h, int spp, int bps, int value)
{
  Image img = makeImage(w, h, spp, bps, 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < spp; ++c)
        setSampleAt(img, x, y, c, value);
  return img;
}

double meanOf(const Image& img, int c)
{
  double s = 0;
  for (int y = 0; y < img.h; ++y)
    for (int x = 0; x < img.w; ++x)
      s += sampleAt(img, x, y, c);
  return s / ((double)img.w * img.h);
}

std::set<int> valuesOf(const Image& img, int c)
{
  std::set<int> v;
  for (int y = 0; y < img.h; ++y)
    for (int x = 0; x < img.w; ++x)
      v.insert(sampleAt(img, x, y, c));
  return v;
}

} // namespace

TEST(FloydSteinberg, OnlyAllowedShadesAndTheMeanLevelKept)
{
  // The error carried on is cut at a quarter of the range, so the mean level
  // survives where the quantisation error stays below that: mid levels with
  // 2 shades, anything with 3 or more.
  struct Case {
    const char* what;
    int spp, bps, shades, value;
    std::set<int> allowed;
    bool meanKept;
  };
  const Case cases[] = {
      {"gray8 2 mid", 1, 8, 2, 128, {0, 255}, true},
      {"gray8 2 light", 1, 8, 2, 200, {0, 255}, false},
      {"gray8 3", 1, 8, 3, 60, {0, 127, 255}, true},
      {"gray16 2 mid", 1, 16, 2, 32768, {0, 65535}, true},
      {"rgb8 3", 3, 8, 3, 200, {0, 127, 255}, true},
      {"rgb16 4", 3, 16, 4, 30000, {0, 21845, 43690, 65535}, true},
      {"gray4 2", 1, 4, 2, 5, {0, 15}, false},
      {"gray4 4", 1, 4, 4, 7, {0, 5, 10, 15}, true},
      {"gray2 2", 1, 2, 2, 1, {0, 3}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Image img = uniform(64, 48, c.spp, c.bps, c.value);
    const double before = meanOf(img, 0);
    img.pixelsDirty = false;
    FloydSteinberg(img, c.shades);
    EXPECT_TRUE(img.pixelsDirty);
    for (int ch = 0; ch < c.spp; ++ch) {
      for (int v : valuesOf(img, ch))
        EXPECT_TRUE(c.allowed.count(v)) << v;
      const double range = c.bps == 16 ? 65535 : (1 << c.bps) - 1;
      if (c.meanKept) {
        EXPECT_NEAR(meanOf(img, ch) / range, before / range, 0.01);
      }
    }
  }
  Image half = uniform(64, 64, 1, 8, 128);
  FloydSteinberg(half, 2);
  EXPECT_NEAR(meanOf(half, 0), 128, 2); // an even mix of dots
  EXPECT_GT(valuesOf(half, 0).size(), 1u);
}

TEST(FloydSteinberg, RGBAKeepsAlphaAndDithersEveryPixel)
{
  Image img = makeImage(37, 9, 4, 8, 0);
  fillPattern(img, 6);
  Image before = img;
  FloydSteinberg(img, 2);
  for (int y = 0; y < img.h; ++y)
    for (int x = 0; x < img.w; ++x) {
      for (int c = 0; c < 3; ++c) {
        const int v = sampleAt(img, x, y, c);
        ASSERT_TRUE(v == 0 || v == 255) << x << "," << y << " c" << c;
      }
      ASSERT_EQ(sampleAt(img, x, y, 3), sampleAt(before, x, y, 3));
    }
}

TEST(FloydSteinberg, FullDepthShadesAndOddRequests)
{
  Image img = makeImage(20, 7, 1, 8, 0);
  fillPattern(img, 2);
  Image same = img;
  FloydSteinberg(img, 256);
  EXPECT_TRUE(samePixels(img, same));

  Image g2 = makeImage(13, 5, 1, 2, 0);
  fillPattern(g2, 3);
  Image g2same = g2;
  FloydSteinberg(g2, 4); // 0, 85, 170, 255 stored as 0..3
  EXPECT_TRUE(samePixels(g2, g2same));

  for (int shades : {1, 0, -3}) {
    Image u = uniform(5, 5, 1, 8, 100);
    u.pixelsDirty = false;
    FloydSteinberg(u, shades);
    EXPECT_EQ(sampleAt(u, 2, 2), 100);
    EXPECT_FALSE(u.pixelsDirty);
  }

  // Row 1 runs right to left: its first pixel is the last column. A width-1
  // image only passes errors straight down.
  Image col = uniform(1, 4, 1, 8, 100);
  FloydSteinberg(col, 2);
  // 100 -> 0 (err 100 cut to 63, 5/16 down = 19.7); 119.7 -> 0; ... all black
  EXPECT_EQ(valuesOf(col, 0), (std::set<int>{0}));
}
