#include <gtest/gtest.h>

#include <vector>

#include "filters/lut.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;

namespace {

struct Tables {
  uint8_t identity[256], invert[256], half[256], plus10[256];
  Tables()
  {
    for (int i = 0; i < 256; ++i) {
      identity[i] = (uint8_t)i;
      invert[i] = (uint8_t)(255 - i);
      half[i] = (uint8_t)(i / 2);
      plus10[i] = (uint8_t)(i > 245 ? 255 : i + 10);
    }
  }
};
const Tables T;

std::vector<int> samplesOf(const Image& img)
{
  std::vector<int> s;
  for (int y = 0; y < img.h; ++y)
    for (int x = 0; x < img.w; ++x)
      for (int c = 0; c < img.spp; ++c)
        s.push_back(sampleAt(img, x, y, c));
  return s;
}

} // namespace

TEST(Lut, EightBitImagesMapEveryColourSampleAndKeepAlpha)
{
  struct Case {
    const char* what;
    int spp;
    const uint8_t *r, *g, *b;
    std::vector<int> in, want;
  };
  const Case cases[] = {
      {"gray identity", 1, T.identity, nullptr, nullptr, {0, 7, 128, 255}, {0, 7, 128, 255}},
      {"gray inverted", 1, T.invert, nullptr, nullptr, {0, 7, 128, 255}, {255, 248, 127, 0}},
      {"rgb per channel", 3, T.invert, T.half, T.plus10, {10, 20, 30, 200, 100, 250},
       {245, 10, 40, 55, 50, 255}},
      // One table covers the whole row, not only its first third.
      {"rgb one table", 3, T.invert, nullptr, nullptr, {10, 20, 30, 200, 100, 250},
       {245, 235, 225, 55, 155, 5}},
      {"rgb two tables use the first", 3, T.invert, T.half, nullptr, {10, 20, 30, 200, 100, 250},
       {245, 235, 225, 55, 155, 5}},
      {"rgba one table", 4, T.invert, nullptr, nullptr, {10, 20, 30, 77, 200, 100, 250, 0},
       {245, 235, 225, 77, 55, 155, 5, 0}},
      {"rgba per channel", 4, T.invert, T.half, T.plus10, {10, 20, 30, 77, 200, 100, 250, 0},
       {245, 10, 40, 77, 55, 50, 255, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Image img = imageFromSamples((int)c.in.size() / c.spp, 1, c.spp, 8, c.in, 0);
    img.pixelsDirty = false;
    lut(img, c.r, c.g, c.b);
    EXPECT_EQ(samplesOf(img), c.want);
    EXPECT_TRUE(img.pixelsDirty); // a save must not pass stale codec data through
  }
}

TEST(Lut, PaddedRowsMapOnlyPixels)
{
  Image img = imageFromSamples(3, 2, 1, 8, {1, 2, 3, 4, 5, 6}, 8);
  lut(img, T.invert, nullptr, nullptr);
  EXPECT_EQ(samplesOf(img), (std::vector<int>{254, 253, 252, 251, 250, 249}));
  EXPECT_EQ(img.data[3], 0xA5);
  EXPECT_EQ(img.data[8 + 7], 0xA5);
}

TEST(Lut, SixteenBitTablesInterpolate)
{
  Image img = imageFromSamples(4, 1, 1, 16, {0, 65535, 257 * 100, 257 * 100 + 128}, 0);
  lut(img, T.invert, nullptr, nullptr);
  EXPECT_EQ(samplesOf(img), (std::vector<int>{65535, 0, 257 * 155, 257 * 155 - 128}));

  uint16_t t16[65536];
  lut_table16(T.half, t16);
  EXPECT_EQ(t16[0], 0);
  EXPECT_EQ(t16[65535], 127 * 257);
  // between 8-bit steps 2 and 3 of a table with t[2] = t[3] = 1: flat
  EXPECT_EQ(t16[2 * 257 + 100], 257);

  Image rgb = imageFromSamples(1, 1, 3, 16, {0, 65535, 257 * 20}, 0);
  lut(rgb, T.invert, T.half, T.plus10);
  EXPECT_EQ(samplesOf(rgb), (std::vector<int>{65535, 127 * 257, 30 * 257}));
}

TEST(Lut, LeavesWhatItCannotMapAlone)
{
  for (int bps : {1, 2, 4}) {
    Image img = makeImage(9, 3, 1, bps, 0);
    fillPattern(img, bps);
    Image before = img;
    img.pixelsDirty = false;
    lut(img, T.invert, nullptr, nullptr);
    EXPECT_TRUE(samePixels(img, before)) << bps;
    EXPECT_FALSE(img.pixelsDirty);
  }
  Image img = imageFromSamples(2, 1, 1, 8, {1, 2}, 0);
  img.pixelsDirty = false;
  lut(img, nullptr, T.invert, T.invert); // no first table: nothing to map with
  EXPECT_EQ(samplesOf(img), (std::vector<int>{1, 2}));
  EXPECT_FALSE(img.pixelsDirty);
  Image empty;
  lut(empty, T.invert, nullptr, nullptr);
}

TEST(Lut, TablesFromFewerValuesKeepTheRestAsTheyAre)
{
  const int64_t values[] = {255, 254, 300, -1};
  uint8_t t[256];
  lut_table_from(t, values, 4);
  EXPECT_EQ(t[0], 255);
  EXPECT_EQ(t[2], 300 & 0xff);
  EXPECT_EQ(t[3], 255);
  EXPECT_EQ(t[4], 4);
  EXPECT_EQ(t[255], 255);
}

TEST(Lut, SourceImageGivesSizeAndType)
{
  Image src = imageFromSamples(2, 2, 3, 8, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, 10);
  src.resX = src.resY = 150;
  Image img = imageFromSamples(1, 1, 1, 8, {0}, 0);
  lut(img, T.invert, T.half, T.plus10, &src);
  EXPECT_EQ(img.w, 2);
  EXPECT_EQ(img.spp, 3);
  EXPECT_EQ(img.rowStride, 0u);
  EXPECT_EQ(img.resX, 150);
  EXPECT_EQ(samplesOf(img), (std::vector<int>{254, 1, 13, 251, 2, 16, 248, 4, 19, 245, 5, 22}));
  EXPECT_EQ(sampleAt(src, 0, 0, 0), 1);
}
