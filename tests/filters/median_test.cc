#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "filters/median.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;

namespace {

struct PixelType {
  const char* name;
  int spp, bps;
};
const PixelType kTypes[] = {{"gray1", 1, 1}, {"gray2", 1, 2}, {"gray4", 1, 4}, {"gray8", 1, 8},
                            {"gray16", 1, 16}, {"rgb8", 3, 8}, {"rgba8", 4, 8}, {"rgb16", 3, 16}};

// Rank count / 2 of the clipped window, per channel, on raw sample values
// (sub-byte scaling is monotonic, so ranks agree).
std::vector<int> bruteMedian(const Image& img, int r)
{
  std::vector<int> out;
  for (int y = 0; y < img.h; ++y)
    for (int x = 0; x < img.w; ++x)
      for (int c = 0; c < img.spp; ++c) {
        std::vector<int> v;
        for (int yy = y - r; yy <= y + r; ++yy)
          for (int xx = x - r; xx <= x + r; ++xx)
            if (xx >= 0 && yy >= 0 && xx < img.w && yy < img.h)
              v.push_back(sampleAt(img, xx, yy, c));
        std::sort(v.begin(), v.end());
        out.push_back(v[v.size() / 2]);
      }
  return out;
}

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

TEST(Median, MatchesBruteForceOnEveryType)
{
  struct Size {
    int w, h, r;
  };
  // Full 3 x 3 and 5 x 5 windows, clipped ones of 9 and 25 samples on thin
  // images, wide windows slid along longer rows,
  // other counts, and a radius beyond the image.
  const Size sizes[] = {{9, 7, 1}, {11, 8, 2}, {12, 1, 4}, {1, 30, 12}, {6, 5, 3}, {40, 9, 3}, {5, 4, 1000}};
  uint32_t seed = 1;
  for (const PixelType& t : kTypes)
    for (const Size& s : sizes) {
      SCOPED_TRACE(std::string(t.name) + " " + std::to_string(s.w) + "x" + std::to_string(s.h) +
                   " r" + std::to_string(s.r));
      Image img = makeImage(s.w, s.h, t.spp, t.bps, 0);
      fillPattern(img, seed++);
      const std::vector<int> want = bruteMedian(img, s.r);
      img.pixelsDirty = false;
      median(img, s.r);
      EXPECT_EQ(samplesOf(img), want);
      EXPECT_TRUE(img.pixelsDirty);
    }
}

TEST(Median, NetworksSelectTheMiddle)
{
  uint32_t s = 5;
  for (int round = 0; round < 2000; ++round) {
    int32_t a9[9], a25[25];
    int64_t b9[9];
    for (int i = 0; i < 25; ++i) {
      s = s * 1103515245u + 12345u;
      a25[i] = (int32_t)((s >> 16) % (round % 2 ? 4 : 256));
      if (i < 9) {
        a9[i] = a25[i];
        b9[i] = (int64_t)a25[i] * 65537;
      }
    }
    std::vector<int32_t> s9(a9, a9 + 9), s25(a25, a25 + 25);
    std::sort(s9.begin(), s9.end());
    std::sort(s25.begin(), s25.end());
    median_opt9(a9);
    median_opt25(a25);
    median_opt9(b9);
    ASSERT_EQ(a9[4], s9[4]);
    ASSERT_EQ(a25[12], s25[12]);
    ASSERT_EQ(b9[4], (int64_t)s9[4] * 65537);
  }
}

TEST(Median, RemovesIsolatedPixelAndPicksUpperMiddleAtCorners)
{
  Image img = imageFromBytes(4, 4, 1, {10, 20, 30, 40,
                                       50, 255, 60, 70,
                                       80, 90, 100, 110,
                                       120, 130, 140, 150});
  median(img, 1);
  // corner (0,0): {10, 20, 50, 255} -> rank 2 = 50
  EXPECT_EQ(sampleAt(img, 0, 0), 50);
  // (1,1): median of 9 without the spike
  EXPECT_EQ(sampleAt(img, 1, 1), 60);
}

TEST(Median, PaddedRowsAndRGBAChannels)
{
  Image img = makeImage(7, 5, 4, 8, 40);
  fillPattern(img, 3);
  const std::vector<int> want = bruteMedian(img, 1);
  median(img, 1);
  EXPECT_EQ(img.rowStride, 0u);
  EXPECT_EQ(samplesOf(img), want); // every channel of every pixel, alpha included

  Image empty;
  median(empty, 1);
  EXPECT_EQ(empty.data, nullptr);
}

TEST(Median, AgreesWithImageMagickInside)
{
  REQUIRE_TOOL(convert, "convert");
  TempDir dir;
  for (int r : {1, 2, 3}) {
    Image img = makeImage(48, 36, 1, 8, 0);
    fillPattern(img, 20 + r);
    ASSERT_TRUE(writePNM(img, dir.file("in.pgm")));
    const std::string side = std::to_string(2 * r + 1);
    ASSERT_EQ(run(convert + " -limit thread 1 " + dir.file("in.pgm") + " -statistic Median " + side + "x" + side + " " +
                  dir.file("out.pgm")),
              0);
    Image want;
    ASSERT_TRUE(readPNM(want, dir.file("out.pgm")));
    median(img, r);
    // Away from the border, where both see the same full window.
    for (int y = r; y < img.h - r; ++y)
      for (int x = r; x < img.w - r; ++x)
        ASSERT_EQ(sampleAt(img, x, y), sampleAt(want, x, y)) << "r" << r << " " << x << "," << y;
  }
}

TEST(Median, SampleLayoutsWithoutPixelTypeAreLeftAlone)
{
  Image odd = makeImage(6, 4, 4, 16, 0); // four samples of 16 bits: no pixel type
  fillPattern(odd, 1);
  Image before = odd;
  median(odd, 1);
  EXPECT_TRUE(samePixels(odd, before));
}
