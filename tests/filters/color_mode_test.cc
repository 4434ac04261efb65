#include <gtest/gtest.h>

#include <string>

#include "filters/color_mode.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;

namespace {

Image page(int spp, int bps, int w = 100, int h = 100)
{
  Image img = makeImage(w, h, spp, bps, 0);
  const int white = bps == 16 ? 65535 : (1 << bps) - 1;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < spp; ++c)
        setSampleAt(img, x, y, c, white);
  return img;
}

std::string mode(Image& img, double colorPct = 0.2, double grayPct = 4.0)
{
  const char* m = autoColor(img, colorPct, grayPct);
  return m ? m : "colour";
}

void paint(Image& img, int x0, int y0, int w, int h, std::initializer_list<int> value)
{
  for (int y = y0; y < y0 + h; ++y)
    for (int x = x0; x < x0 + w; ++x) {
      int c = 0;
      for (int v : value)
        setSampleAt(img, x, y, c++, v);
    }
}

} // namespace

TEST(AutoColor, ClassifiesPages)
{
  Image white = page(3, 8);
  EXPECT_EQ(mode(white), "bw");

  Image text = page(1, 8);
  paint(text, 10, 10, 60, 8, {0});       // black text
  paint(text, 10, 30, 3, 3, {120});      // 0.09 % mid gray: still bilevel
  EXPECT_EQ(mode(text), "bw");

  Image photo = page(1, 8);
  paint(photo, 0, 0, 100, 50, {128});
  EXPECT_EQ(mode(photo), "gray");
  EXPECT_EQ(mode(photo, 0.2, 49.0), "gray");
  EXPECT_EQ(mode(photo, 0.2, 50.0), "bw");

  Image red = page(3, 8);
  paint(red, 0, 0, 30, 1, {255, 0, 0}); // 0.3 % saturated red
  EXPECT_EQ(mode(red), "colour");
  EXPECT_EQ(mode(red, 0.5), "bw");

  // Gray-ish colour pixels are classed by their red sample.
  Image grayish = page(4, 8);
  paint(grayish, 0, 0, 100, 10, {128, 128, 130, 0});
  EXPECT_EQ(mode(grayish), "gray");

  Image rgb16 = page(3, 16);
  paint(rgb16, 0, 0, 100, 1, {65535, 0, 0});
  EXPECT_EQ(mode(rgb16), "colour");
  Image gray16 = page(1, 16);
  paint(gray16, 0, 0, 100, 10, {30000});
  EXPECT_EQ(mode(gray16), "gray");
}

TEST(AutoColor, NoAnswerBelowEightBitsOrWithoutPixels)
{
  Image bits = page(1, 1);
  EXPECT_EQ(autoColor(bits, 0.2, 4.0), nullptr);
  Image empty;
  EXPECT_EQ(autoColor(empty, 0.2, 4.0), nullptr);
}

TEST(AutoInvert, InvertsOnlyMostlyDarkPages)
{
  Image dark = page(1, 8, 10, 10);
  paint(dark, 0, 0, 10, 6, {0});
  dark.pixelsDirty = false;
  autoInvert(dark);
  EXPECT_EQ(sampleAt(dark, 0, 0), 255);
  EXPECT_EQ(sampleAt(dark, 0, 9), 0);
  EXPECT_TRUE(dark.pixelsDirty);

  Image half = page(1, 8, 10, 10);
  paint(half, 0, 0, 10, 5, {0});
  autoInvert(half);
  EXPECT_EQ(sampleAt(half, 0, 0), 0);

  Image white = page(3, 8, 10, 10);
  white.pixelsDirty = false;
  autoInvert(white);
  EXPECT_EQ(sampleAt(white, 0, 0), 255);
  EXPECT_FALSE(white.pixelsDirty);

  Image bw = page(1, 1, 13, 4);
  paint(bw, 0, 0, 13, 3, {0});
  autoInvert(bw);
  EXPECT_EQ(sampleAt(bw, 12, 0), 1);
  EXPECT_EQ(sampleAt(bw, 12, 3), 0);

  Image rgba = page(4, 8, 4, 4);
  paint(rgba, 0, 0, 4, 3, {10, 20, 30, 200});
  autoInvert(rgba);
  EXPECT_EQ(sampleAt(rgba, 0, 0, 0), 245);
  EXPECT_EQ(sampleAt(rgba, 0, 0, 3), 200);

  Image g16 = page(1, 16, 4, 4);
  paint(g16, 0, 0, 4, 3, {1000});
  autoInvert(g16);
  EXPECT_EQ(sampleAt(g16, 0, 0), 64535);
}
