#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "filters/smooth.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;

namespace {

// In-place reference on raw 8- or 16-bit samples.
void referenceSmooth(std::vector<int64_t>& s, int w, int h, int N, int64_t M, int r, int bits = 8)
{
  for (int y = r; y < h - r; ++y)
    for (int x = r; x < w - r; ++x)
      for (int c = 0; c < N; ++c) {
        auto at = [&](int xx, int yy) -> int64_t& { return s[((size_t)yy * w + xx) * N + c]; };
        const int64_t v = at(x, y), l = at(x - 1, y), rt = at(x + 1, y), u = at(x, y - 1), d = at(x, y + 1);
        const int64_t m = (l + rt + u + d) / 4;
        const int64_t sum = std::llabs(l - v) + std::llabs(rt - v) + std::llabs(u - v) + std::llabs(d - v);
        const int64_t wgt = std::min<int64_t>(2 * sum, M);
        at(x, y) = ((M - wgt) * m + wgt * v) / M;
        if (bits < 8) // what the image holds afterwards
          at(x, y) = (at(x, y) >> (8 - bits)) * 255 / ((1 << bits) - 1);
      }
}

std::vector<int64_t> samplesOf(const Image& img)
{
  std::vector<int64_t> s;
  for (int y = 0; y < img.h; ++y)
    for (int x = 0; x < img.w; ++x)
      for (int c = 0; c < img.spp; ++c)
        s.push_back(sampleAt(img, x, y, c));
  return s;
}

} // namespace

TEST(Smooth, WorkedValues)
{
  // centre 100; neighbours 100, 100, 100, 140: s = 40, wgt = 80, m = 110
  Image img = imageFromBytes(3, 3, 1, {0, 100, 0, 100, 100, 140, 0, 100, 0});
  img.pixelsDirty = false;
  smooth(img, 1);
  EXPECT_EQ(samplesOf(img), (std::vector<int64_t>{0, 100, 0, 100, 106, 140, 0, 100, 0}));
  EXPECT_TRUE(img.pixelsDirty);

  Image edge = imageFromBytes(3, 3, 1, {0, 0, 0, 0, 128, 0, 0, 0, 0});
  smooth(edge, 1); // summed difference >= 128: kept
  EXPECT_EQ(sampleAt(edge, 1, 1), 128);

  // 16-bit products pass 2^31.
  Image g16 = imageFromSamples(3, 3, 1, 16, {0, 40000, 0, 40000, 39000, 40000, 0, 40000, 0});
  smooth(g16, 1);
  EXPECT_EQ(sampleAt(g16, 1, 1), 39877);
}

TEST(Smooth, MatchesReferenceForRGBAndRGBA)
{
  for (int spp : {1, 3, 4})
    for (int r : {1, 2}) {
      Image img = makeImage(9, 8, spp, 8, 0);
      fillPattern(img, spp * 10 + r);
      std::vector<int64_t> want = samplesOf(img);
      referenceSmooth(want, 9, 8, spp, 255, r);
      smooth(img, r);
      EXPECT_EQ(samplesOf(img), want) << spp << " r" << r;
    }
  Image img = makeImage(6, 5, 3, 16, 0);
  fillPattern(img, 8);
  std::vector<int64_t> want = samplesOf(img);
  referenceSmooth(want, 6, 5, 3, 65535, 1);
  smooth(img, 1);
  EXPECT_EQ(samplesOf(img), want);
}

TEST(Smooth, SubByteSamplesAsStored)
{
  for (int bits : {1, 2, 4}) {
    Image img = makeImage(11, 7, 1, bits, 0);
    const int mask = (1 << bits) - 1;
    // Low contrast, so that most pixels blend to values between levels.
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < 11; ++x)
        setSampleAt(img, x, y, 0, bits == 1 ? (x * 7 + y * 3) % 5 == 0 : mask / 2 + (x * 7 + y * 3) % 3 - 1);
    std::vector<int64_t> want;
    for (int64_t v : samplesOf(img))
      want.push_back(v * 255 / mask);
    referenceSmooth(want, 11, 7, 1, 255, 1, bits);
    smooth(img, 1);
    std::vector<int64_t> got;
    for (int64_t v : samplesOf(img))
      got.push_back(v * 255 / mask);
    EXPECT_EQ(got, want) << bits;
  }
}

TEST(Smooth, BorderArguments)
{
  Image img = makeImage(6, 6, 1, 8, 0);
  fillPattern(img, 4);
  Image r1 = img, r0 = img, neg = img, big = img, narrow = makeImage(2, 9, 1, 8, 0);
  smooth(r1, 1);
  smooth(r0, 0); // would reach outside: acts as 1
  EXPECT_TRUE(samePixels(r0, r1));
  smooth(neg, -1);
  EXPECT_TRUE(samePixels(neg, img));
  smooth(big, 3);
  EXPECT_TRUE(samePixels(big, img));
  fillPattern(narrow, 1);
  Image n2 = narrow;
  smooth(narrow, 1);
  EXPECT_TRUE(samePixels(narrow, n2));
}
