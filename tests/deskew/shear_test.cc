#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "deskew/Shear.hh"
#include "image/Colorspace.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;

namespace {


int whiteOf(const Image& img, int channel)
{
  if (img.spp == 4 && channel == 3)
    return 255;
  return img.bps == 16 ? 65535 : (1 << img.bps) - 1;
}

// Gray ramp: column x holds x (W <= 256).
Image ramp(int w, int h)
{
  std::vector<int> v;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      v.push_back(x);
  return imageFromSamples(w, h, 1, 8, v);
}

TEST(CopyCropShear, AngleZeroIsACropWithWhiteOutside)
{
  for (const PixelType& t : kPixelTypes) {
    Image img = makeImage(9, 6, t.spp, t.bps);
    fillPattern(img, 4);
    std::unique_ptr<Image> r(copy_crop_shear(img, -2, -1, 8, 9, 0.0, 0.0, whiteBackground(img)));
    ASSERT_TRUE(r);
    ASSERT_EQ(r->w, 8);
    ASSERT_EQ(r->h, 9);
    EXPECT_EQ(r->rowStride, 0u);
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 8; ++x)
        for (int k = 0; k < t.spp; ++k) {
          const int sx = x - 2, sy = y - 1;
          const bool inside = sx >= 0 && sy >= 0 && sy < 6;
          ASSERT_EQ(sampleAt(*r, x, y, k), inside ? sampleAt(img, sx, sy, k) : whiteOf(img, k))
            << typeName(t) << " " << x << "," << y;
        }
  }
}

TEST(CopyCropShear, AnglesOfNinetyAndMoreGiveAPlainCrop)
{
  Image img = ramp(40, 10);
  std::unique_ptr<Image> plain(copy_crop_shear(img, 3, 1, 20, 5, 0.0, 0.0, whiteBackground(img)));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double cases[][2] = {{91, 0}, {-91, 0}, {90, 0}, {0, 90}, {5, 95}, {nan, 0}};
  for (auto c : cases) {
    testing::internal::CaptureStderr();
    std::unique_ptr<Image> r(copy_crop_shear(img, 3, 1, 20, 5, c[0], c[1], whiteBackground(img)));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "shaer: angle too high\n") << c[0];
    ASSERT_TRUE(r);
    EXPECT_TRUE(samePixels(*r, *plain)) << c[0] << "," << c[1];
  }
}

TEST(CopyCropShear, RowsStartWhereTheSlopeSays)
{
  // On a ramp every blended pixel is its left source column (the fraction
  // never reaches the next integer), so each result row shows its start.
  const int W = 250, H = 60, x = 90, y = 5;
  Image img = ramp(W, H);
  for (double a : {0.07, -0.07, 3.0, -3.0, 25.0, -25.0}) {
    const double t = std::tan(a / 180.0 * 3.141592653589793);
    // For a positive slope the body shifts rows left by trunc(t H); the
    // caller adds it back, as deskewApply does.
    const int x0 = t > 0 ? x + (int)std::trunc(t * H) : x;
    std::unique_ptr<Image> r(copy_crop_shear(img, x0, y, 60, 40, a, 0.0, whiteBackground(img)));
    ASSERT_TRUE(r);
    for (int row = 0; row < 40; ++row) {
      const int start = (int)std::floor(x + (y + row) * t + 0.0001);
      for (int c : {0, 7, 59})
        ASSERT_EQ(sampleAt(*r, c, row), start + c) << "angle " << a << " row " << row;
    }
  }
}

TEST(CopyCropShear, BlendsWithTheBackgroundLeftOfTheSource)
{
  // Column 0 black, the rest white; the crop starts at column -1 with a
  // half-pixel shift on odd rows: pixel 0 is half white background, half
  // black source.
  Image img = makeImage(20, 4, 1, 8);
  for (int yy = 0; yy < 4; ++yy)
    for (int xx = 1; xx < 20; ++xx)
      setSampleAt(img, xx, yy, 0, 255);
  const double a = std::atan(0.5) * 180 / 3.141592653589793;
  // t = 0.5, H = 4: rows move left by 2, which the x argument takes back.
  std::unique_ptr<Image> r(copy_crop_shear(img, -1 + 2, 0, 5, 4, a, 0.0, whiteBackground(img)));
  EXPECT_EQ(sampleAt(*r, 0, 0), 255); // row 0: column -1 exactly, the background
  EXPECT_NEAR(sampleAt(*r, 0, 1), 127, 1); // row 1: half-way from -1 to 0
  EXPECT_EQ(sampleAt(*r, 0, 2), 0);   // row 2: column 0

  // Sub-byte bodies blend on the 0..255 scale and keep the top bits, which
  // is the 8-bit result requantised; one bit thresholds at 128.
  for (int bps : {1, 2, 4}) {
    Image bits(img);
    ASSERT_TRUE(colorspace_by_name(bits, "gray" + std::to_string(bps)));
    Image back(bits);
    ASSERT_TRUE(colorspace_by_name(back, "gray8"));
    std::unique_ptr<Image> rb(copy_crop_shear(bits, -1 + 2, 0, 5, 4, a, 0.0, whiteBackground(bits)));
    std::unique_ptr<Image> r8(copy_crop_shear(back, -1 + 2, 0, 5, 4, a, 0.0, whiteBackground(back)));
    for (int yy = 0; yy < 4; ++yy)
      for (int xx = 0; xx < 5; ++xx)
        EXPECT_EQ(sampleAt(*rb, xx, yy), sampleAt(*r8, xx, yy) >> (8 - bps)) << bps;
  }
}

TEST(CopyCropShear, BordersAreOpaqueWhiteAtFullDepth)
{
  Image g16 = makeImage(6, 3, 1, 16);
  std::unique_ptr<Image> r(copy_crop_shear(g16, 4, 0, 5, 3, 0.08, 0.0, whiteBackground(g16)));
  EXPECT_EQ(sampleAt(*r, 4, 1), 65535);
  EXPECT_EQ(sampleAt(*r, 0, 1), 0);

  Image rgba = makeImage(6, 3, 4, 8);
  std::unique_ptr<Image> ra(copy_crop_shear(rgba, 3, 0, 7, 3, -0.08, 0.0, whiteBackground(rgba)));
  ASSERT_EQ(ra->w, 7);
  ASSERT_EQ(ra->h, 3);
  for (int k = 0; k < 4; ++k)
    EXPECT_EQ(sampleAt(*ra, 6, 0, k), 255);
  EXPECT_EQ(sampleAt(*ra, 0, 0, 3), 0);

  Image odd;
  odd.spp = 2;
  odd.bps = 8;
  odd.resize(4, 4);
  Image::iterator bg(&odd, false);
  EXPECT_EQ(copy_crop_shear(odd, 0, 0, 2, 2, 0.07, 0, bg), nullptr);
}

TEST(Shear, WidensAndShiftsInPlace)
{
  const int W = 120, H = 30;
  for (double a : {4.0, -4.0, 30.0, -30.0}) {
    Image img = ramp(W, H);
    const double t = std::tan(a / 180.0 * 3.141592653589793);
    const int W2 = (int)(W + H * std::fabs(t));
    shear(img, a, 0.0, whiteBackground(img));
    ASSERT_EQ(img.w, W2) << a;
    ASSERT_EQ(img.h, H);
    for (int r = 0; r < H; ++r) {
      const double sx = r * t + (t > 0 ? W - W2 : 0);
      const int base = (int)std::floor(sx + 0.0001);
      for (int c = 0; c < W2; ++c) {
        const int i = base + c;
        // Column -1 blends the background with the first column.
        if (i >= 0 && i + 1 < W) {
          ASSERT_EQ(sampleAt(img, c, r), i) << a << " " << c << "," << r;
        } else if (i < -1 || i >= W) {
          ASSERT_EQ(sampleAt(img, c, r), 255) << a << " " << c << "," << r;
        }
      }
    }
  }
}

TEST(Shear, RefusedAnglesLeaveTheImage)
{
  const double cases[][2] = {{0, 0}, {91, 0}, {90, 0}, {-90, 0}, {0, 120}};
  for (auto c : cases) {
    Image img = ramp(20, 5);
    img.pixelsDirty = false;
    testing::internal::CaptureStderr();
    shear(img, c[0], c[1], whiteBackground(img));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, c[0] || c[1] ? "shaer: angle too high\n" : "");
    EXPECT_EQ(img.w, 20);
    EXPECT_FALSE(img.pixelsDirty);
  }
}

} // namespace
