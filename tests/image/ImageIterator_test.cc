// The generic pixel cursor over every pixel type.
#include <gtest/gtest.h>

#include "image/Image.hh"
#include "tests/support/TestSupport.hh"

using testsupport::imageFromSamples;
using testsupport::makeImage;
using testsupport::sampleAt;

namespace {
struct TypeCase {
  int spp, bps;
  std::vector<int> raw;     // one pixel's raw samples
  std::vector<int> loaded;  // what operator* loads into value
};
} // namespace

TEST(ImageIterator, LoadAndStoreEveryType)
{
  const TypeCase cases[] = {
    {1, 1, {1}, {255}},
    {1, 2, {2}, {170}},
    {1, 4, {9}, {153}},
    {1, 8, {77}, {77}},
    {1, 16, {54321}, {54321}},
    {3, 8, {1, 2, 3}, {1, 2, 3}},
    {4, 8, {1, 2, 3, 4}, {1, 2, 3, 4}},
    {3, 16, {1000, 40000, 65535}, {1000, 40000, 65535}},
  };
  for (const auto& c : cases) {
    // Pixel 5 of row 1 of a 7 x 3 image with padded rows.
    std::vector<int> samples(7 * 3 * c.spp, 0);
    for (int i = 0; i < c.spp; ++i)
      samples[(1 * 7 + 5) * c.spp + i] = c.raw[i];
    Image img = imageFromSamples(7, 3, c.spp, c.bps, samples, 64);
    Image::iterator it(&img, false);
    Image::iterator p = it.at(5, 1);
    *p;
    for (size_t i = 0; i < c.loaded.size(); ++i)
      EXPECT_EQ(p.value[i], c.loaded[i]) << c.spp << "x" << c.bps << " ch " << i;

    // Store the loaded value at another pixel: the raw samples come back,
    // neighbours are untouched.
    Image::iterator q = it.at(2, 2);
    q.set(p);
    for (int i = 0; i < c.spp; ++i)
      EXPECT_EQ(sampleAt(img, 2, 2, i), c.raw[i]) << c.spp << "x" << c.bps;
    for (int x : {1, 3})
      for (int i = 0; i < c.spp; ++i)
        EXPECT_EQ(sampleAt(img, x, 2, i), 0);
  }
}

TEST(ImageIterator, SubByteStoresTopBits)
{
  struct { int bps, value, stored; } cases[] = {
    {1, 128, 1}, {1, 127, 0}, {1, 255, 1}, {2, 170, 2}, {2, 100, 1}, {4, 255, 15}, {4, 31, 1},
  };
  for (auto& c : cases) {
    Image img = makeImage(9, 1, 1, c.bps);
    Image::iterator it(&img, false);
    Image::iterator p = it.at(6, 0);
    Image::iterator v = it;
    v.value[0] = c.value;
    p.set(v);
    EXPECT_EQ(sampleAt(img, 6, 0), c.stored) << c.bps << " " << c.value;
    EXPECT_EQ(sampleAt(img, 5, 0), 0);
    EXPECT_EQ(sampleAt(img, 7, 0), 0);
  }
}

TEST(ImageIterator, IncrementAcrossBytesAndRows)
{
  Image img = makeImage(10, 2, 1, 1);
  Image::iterator it(&img, false);
  uint8_t* start = it.ptr;
  for (int i = 0; i < 7; ++i)
    ++it;
  EXPECT_EQ(it.ptr, start);
  EXPECT_EQ(it.bitpos, 0);
  ++it; // pixel 8: next byte
  EXPECT_EQ(it.ptr, start + 1);
  EXPECT_EQ(it.bitpos, 7);
  ++it;
  EXPECT_EQ(it.bitpos, 6);
  ++it; // past pixel 9: row end, next byte, column back to 0
  EXPECT_EQ(it.ptr, start + 2);
  EXPECT_EQ(it.bitpos, 7);
  EXPECT_EQ(it.x, 0);

  // A whole-image walk meets the end iterator.
  Image::iterator end(&img, true);
  Image::iterator w(&img, false);
  int steps = 0;
  while (w != end && steps < 100) {
    ++w;
    ++steps;
  }
  EXPECT_EQ(steps, 20);
}

TEST(ImageIterator, DecrementFromByteStart)
{
  struct { int bps, bitpos; } cases[] = {{1, 0}, {2, 1}, {4, 3}};
  for (auto& c : cases) {
    Image img = makeImage(16, 1, 1, c.bps);
    Image::iterator it = Image::iterator(&img, false).at(8 / c.bps, 0);
    ASSERT_EQ(it.bitpos, 7);
    uint8_t* p = it.ptr;
    --it;
    EXPECT_EQ(it.ptr, p - 1);
    EXPECT_EQ(it.bitpos, c.bitpos);
  }
}

TEST(ImageIterator, SetRGBScalesAndClamps)
{
  struct { int spp, bps; double r, g, b; std::vector<int> want; } cases[] = {
    {1, 16, 1, 1, 1, {65535}},
    {1, 8, 1, 1, 1, {255}},
    {3, 8, 1, 1, 1, {255, 255, 255}},
    {3, 16, 0.5, 0, 1, {32767, 0, 65535}},
    {3, 8, 2.0, -1.0, 0.5, {255, 0, 127}}, // out of range clamps
  };
  for (auto& c : cases) {
    Image img = makeImage(1, 1, c.spp, c.bps);
    Image::iterator it(&img, false);
    it.setRGB(c.r, c.g, c.b);
    for (size_t i = 0; i < c.want.size(); ++i)
      EXPECT_EQ(it.value[i], c.want[i]);
  }
}

TEST(ImageIterator, LuminanceAndComponents)
{
  Image img = imageFromSamples(1, 1, 3, 8, {200, 100, 50});
  Image::iterator it(&img, false);
  *it;
  EXPECT_EQ(it.getL(), (uint16_t)(int)(0.21267 * 200 + 0.71516 * 100 + 0.07217 * 50));
  double r, g, b;
  it.getRGB(r, g, b);
  EXPECT_DOUBLE_EQ(r, 200 / 255.0);
  uint16_t R = 0, G = 0, B = 0;
  it.getRGB(&R, &G, &B);
  EXPECT_EQ(B, 50);

  Image g16 = imageFromSamples(1, 1, 1, 16, {65535});
  Image::iterator it16(&g16, false);
  *it16;
  it16.getRGB(r, g, b);
  EXPECT_DOUBLE_EQ(g, 1.0);
}

TEST(ImageIterator, ArithmeticIsChannelWise)
{
  Image img = imageFromSamples(2, 1, 4, 8, {10, 20, 30, 40, 1, 2, 3, 4});
  Image::iterator a = Image::iterator(&img, false).at(0, 0);
  Image::iterator b = a.at(1, 0);
  *a;
  *b;
  a += b;
  EXPECT_EQ(a.value[3], 44);
  a -= b;
  a *= 3;
  EXPECT_EQ(a.value[2], 90);
  a /= 4;
  EXPECT_EQ(a.value[0], 7);
}

TEST(ImageIterator, DownWalksColumnByColumn)
{
  Image img = imageFromSamples(3, 2, 1, 8, {0, 1, 2, 10, 11, 12});
  Image::const_iterator it(&img, false);
  Image::const_iterator end(&img, true);
  std::vector<int> seen;
  for (int i = 0; i < 6; ++i) {
    *it;
    seen.push_back(it.value[0]);
    it.down();
  }
  EXPECT_EQ(seen, (std::vector<int>{0, 10, 1, 11, 2, 12}));
  EXPECT_TRUE(it == end);

  // Sub-byte columns, with padded rows.
  Image bits = imageFromSamples(3, 2, 1, 4, {1, 2, 3, 4, 5, 6}, 5);
  Image::const_iterator b(&bits, false);
  seen.clear();
  for (int i = 0; i < 6; ++i) {
    *b;
    seen.push_back(b.value[0] / 17);
    b.down();
  }
  EXPECT_EQ(seen, (std::vector<int>{1, 4, 2, 5, 3, 6}));
  EXPECT_TRUE(b == Image::const_iterator(&bits, true));
}

TEST(ImageIterator, UnhandledTypeReportsAndLeavesValue)
{
  Image img = makeImage(2, 2, 1, 8);
  img.bps = 12; // no pixel type
  testing::internal::CaptureStderr();
  Image::iterator it(&img, false);
  it.value[0] = 5;
  *it;
  EXPECT_EQ(it.value[0], 5);
  EXPECT_EQ(it.getL(), 0);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("unhandled spp/bps in image/ImageIterator.hh:178\n"), std::string::npos);
  EXPECT_NE(err.find("unhandled spp/bps in image/ImageIterator.hh:651\n"), std::string::npos);
  img.bps = 8;
}
