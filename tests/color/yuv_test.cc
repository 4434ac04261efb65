// YCbCr to RGB.
#include <gtest/gtest.h>

#include "color/ColorManagement.hh"
#include "tests/support/TestSupport.hh"

TEST(Yuv2Rgb, StudioRangeValues)
{
  struct Case {
    float y, cb, cr, r, g, b;
  } cases[] = {
      {16, 128, 128, 0, 0, 0},
      {235, 128, 128, 254.916f, 254.916f, 254.916f},
      {255, 255, 255, 255, 125.288f, 255},
      {81, 90, 240, 254.412f, 0, 0},
  };
  for (const Case& c : cases) {
    float a = c.y, b = c.cb, d = c.cr;
    yuv2rgb(a, b, d);
    EXPECT_NEAR(a, c.r, 1e-3) << c.y;
    EXPECT_NEAR(b, c.g, 1e-3) << c.y;
    EXPECT_NEAR(d, c.b, 1e-3) << c.y;
  }
}

TEST(Yuv2Rgb, ImagesOfThreeBytesOnly)
{
  Image img = testsupport::imageFromBytes(2, 2, 3, {235, 128, 128, 16, 128, 128, 81, 90, 240, 255, 255, 255}, 8);
  colorspace_rgb8_to_yuv8(img);
  const int want[4][3] = {{254, 254, 254}, {0, 0, 0}, {254, 0, 0}, {255, 125, 255}};
  for (int i = 0; i < 4; ++i)
    for (int c = 0; c < 3; ++c)
      EXPECT_EQ(testsupport::sampleAt(img, i % 2, i / 2, c), want[i][c]) << i;
  EXPECT_EQ(img.data[6], 0xA5); // row padding untouched
  EXPECT_EQ(img.data[7], 0xA5);

  struct Type {
    int spp, bps;
  } others[] = {{1, 8}, {3, 16}, {4, 8}};
  for (const Type& t : others) {
    Image o = testsupport::makeImage(3, 2, t.spp, t.bps);
    testsupport::fillPattern(o, 3);
    Image before(o);
    testing::internal::CaptureStderr();
    colorspace_rgb8_to_yuv8(o);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(testsupport::samePixels(o, before));
  }
}
