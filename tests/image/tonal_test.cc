#include <gtest/gtest.h>

#include <cmath>

#include "image/Tonal.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;

TEST(Tonal, InvertFlipsColourSamplesAndKeepsAlpha)
{
  for (const PixelType& t : kPixelTypes) {
    SCOPED_TRACE(std::to_string(t.spp) + "x" + std::to_string(t.bps));
    const Image src = patterned(11, 3, t, 21);
    Image im = patterned(11, 3, t, 21);
    im.pixelsDirty = false;
    invert(im);
    EXPECT_TRUE(im.pixelsDirty);
    const int max = (1 << t.bps) - 1;
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 11; ++x)
        for (int c = 0; c < t.spp; ++c) {
          const int want = c == 3 ? sampleAt(src, x, y, c) : max - sampleAt(src, x, y, c);
          ASSERT_EQ(sampleAt(im, x, y, c), want) << x << "," << y << " ch " << c;
        }
    // the pad bits after a row's last sample are no samples: they stay
    const uint64_t bits = 11ull * t.spp * t.bps;
    const uint8_t pad = (uint8_t)(0xffu >> (bits % 8));
    for (int y = 0; y < 3 && bits % 8; ++y) {
      EXPECT_EQ(im.getRawData()[y * im.stride() + bits / 8] & pad,
                src.getRawData()[y * src.stride() + bits / 8] & pad) << "row " << y;
    }
  }
}

TEST(Tonal, HistogramBinsRawSamplesPerChannel)
{
  Image bw = imageFromSamples(5, 1, 1, 1, {1, 0, 1, 1, 1});
  auto h = histogram(bw, 2);
  ASSERT_EQ(h.size(), 1u);
  EXPECT_EQ(h[0], (std::vector<uint32_t>{1, 4}));
  h = histogram(bw, 256);
  EXPECT_EQ(h[0][0], 1u);
  EXPECT_EQ(h[0][128], 4u);

  Image g2 = imageFromSamples(4, 1, 1, 2, {0, 1, 2, 3});
  EXPECT_EQ(histogram(g2, 4)[0], (std::vector<uint32_t>{1, 1, 1, 1}));
  EXPECT_EQ(histogram(g2, 3)[0], (std::vector<uint32_t>{2, 1, 1}));

  Image rgba = imageFromBytes(2, 1, 4, {0, 128, 255, 7, 255, 127, 0, 7});
  h = histogram(rgba, 2);
  ASSERT_EQ(h.size(), 4u);
  EXPECT_EQ(h[0], (std::vector<uint32_t>{1, 1}));
  EXPECT_EQ(h[1], (std::vector<uint32_t>{1, 1}));
  EXPECT_EQ(h[3], (std::vector<uint32_t>{2, 0}));

  Image g16 = imageFromSamples(3, 1, 1, 16, {0, 32767, 65535});
  EXPECT_EQ(histogram(g16, 2)[0], (std::vector<uint32_t>{2, 1}));

  testing::internal::CaptureStderr();
  EXPECT_TRUE(histogram(bw, 0).empty());
  EXPECT_NE(testing::internal::GetCapturedStderr(), "");
  Image none;
  EXPECT_TRUE(histogram(none, 16).empty());
}

TEST(Tonal, NormalizeStretchesBetweenTheCuts)
{
  // 1000 pixels: levels 50..249 five each. Exactly 0.5 % lie at or below
  // 50, so the low cut is 51; exactly 1 % at or above 248, so the high cut
  // is 247.
  std::vector<int> v;
  for (int i = 0; i < 1000; ++i)
    v.push_back(50 + i / 5);
  Image im = imageFromSamples(100, 10, 1, 8, v);
  normalize(im);
  EXPECT_EQ(sampleAt(im, 0, 0), 0);                      // 50, clamped
  EXPECT_EQ(sampleAt(im, 50, 0), (60 - 51) * 255 / 196); // level 60
  EXPECT_EQ(sampleAt(im, 99, 9), 255);                   // 249, clamped

  // Given bounds, applied to all colour channels but not alpha.
  Image rgba = imageFromBytes(2, 1, 4, {100, 150, 200, 50, 10, 120, 250, 60});
  normalize(rgba, 100, 200);
  EXPECT_EQ(sampleAt(rgba, 0, 0, 0), 0);
  EXPECT_EQ(sampleAt(rgba, 0, 0, 1), 127);
  EXPECT_EQ(sampleAt(rgba, 0, 0, 2), 255);
  EXPECT_EQ(sampleAt(rgba, 0, 0, 3), 50);
  EXPECT_EQ(sampleAt(rgba, 1, 0, 2), 255);
  EXPECT_EQ(sampleAt(rgba, 1, 0, 3), 60);

  Image flat = imageFromBytes(3, 1, 1, {9, 9, 9});
  flat.pixelsDirty = false;
  normalize(flat);
  EXPECT_FALSE(flat.pixelsDirty);
}

TEST(Tonal, BrightnessContrastGamma)
{
  struct Case {
    double b, c, g;
    int in, out;
  };
  const Case cases[] = {
    {0.1, 0, 1, 100, (int)((100 / 255.0 + 0.1) * 255 + 0.5)},
    {-1, 0, 1, 200, 0},
    {0, 1, 1, 191, 255},                       // doubled contrast clips
    {0, 1, 1, 100, (int)(((100 / 255.0 - 0.5) * 2 + 0.5) * 255 + 0.5)},
    {0, -1, 1, 17, 128},                       // no contrast: mid gray
    {0, 0, 2, 64, (int)(std::pow(64 / 255.0, 0.5) * 255 + 0.5)},
  };
  for (const Case& k : cases) {
    Image im = imageFromBytes(1, 1, 1, {k.in});
    brightness_contrast_gamma(im, k.b, k.c, k.g);
    EXPECT_EQ(sampleAt(im, 0, 0), k.out) << k.b << " " << k.c << " " << k.g;
  }
  // The identity leaves every level and the flag alone, 16 bits included.
  Image w = imageFromSamples(3, 1, 1, 16, {1, 30000, 65535});
  w.pixelsDirty = false;
  brightness_contrast_gamma(w, 0, 0, 1);
  EXPECT_FALSE(w.pixelsDirty);
  brightness_contrast_gamma(w, 0, 0, 1.0000001);
  EXPECT_EQ(sampleAt(w, 2, 0), 65535);

  Image rgba = imageFromBytes(1, 1, 4, {10, 20, 30, 40});
  brightness_contrast_gamma(rgba, 1, 0, 1);
  EXPECT_EQ(sampleAt(rgba, 0, 0, 0), 255);
  EXPECT_EQ(sampleAt(rgba, 0, 0, 3), 40);

  Image keep = imageFromBytes(1, 1, 1, {10});
  testing::internal::CaptureStderr();
  brightness_contrast_gamma(keep, NAN, 0, 1);
  brightness_contrast_gamma(keep, 0, 0, 0);
  EXPECT_NE(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(sampleAt(keep, 0, 0), 10);
}
