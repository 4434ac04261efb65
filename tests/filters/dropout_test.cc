#include <gtest/gtest.h>

#include "filters/dropout.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;

namespace {

// The reference colour as the script layer makes it: a cursor over the
// image with the colour stored in the image's own pixel type.
Image::iterator reference(Image& img, double r, double g, double b)
{
  Image::iterator c(&img, false);
  c.setRGB(r, g, b);
  return c;
}

} // namespace

TEST(Dropout, WhitensPixelsWithinTheDistance)
{
  Image img = imageFromSamples(5, 1, 3, 8, {255, 0, 0, 250, 5, 0, 230, 0, 0, 200, 0, 0, 0, 0, 255}, 0);
  img.pixelsDirty = false;
  dropout(img, reference(img, 1, 0, 0), 0.1f);
  const int want[5][3] = {{255, 255, 255}, {255, 255, 255}, {255, 255, 255}, {200, 0, 0}, {0, 0, 255}};
  for (int x = 0; x < 5; ++x)
    for (int c = 0; c < 3; ++c)
      EXPECT_EQ(sampleAt(img, x, 0, c), want[x][c]) << x;
  EXPECT_TRUE(img.pixelsDirty);
}

TEST(Dropout, ZeroFractionChangesNothing)
{
  Image img = imageFromSamples(2, 1, 3, 8, {255, 0, 0, 1, 2, 3}, 0);
  img.pixelsDirty = false;
  dropout(img, reference(img, 1, 0, 0), 0.0f);
  EXPECT_EQ(sampleAt(img, 0, 0, 1), 0);
  EXPECT_FALSE(img.pixelsDirty);
}

TEST(Dropout, KeepsAlphaAndWorksOnEveryType)
{
  Image rgba = imageFromSamples(2, 1, 4, 8, {250, 0, 0, 17, 0, 0, 0, 99}, 0);
  dropout(rgba, reference(rgba, 1, 0, 0), 0.1f);
  EXPECT_EQ(sampleAt(rgba, 0, 0, 0), 255);
  EXPECT_EQ(sampleAt(rgba, 0, 0, 1), 255);
  EXPECT_EQ(sampleAt(rgba, 0, 0, 3), 17);
  EXPECT_EQ(sampleAt(rgba, 1, 0, 0), 0);
  EXPECT_EQ(sampleAt(rgba, 1, 0, 3), 99);

  // Gray: 3 |gray - reference| / 255 < frac. Reference of (0.5, 0.5, 0.5)
  // is trunc(127.5) = 127.
  Image gray = imageFromSamples(4, 1, 1, 8, {127, 135, 136, 100}, 0);
  dropout(gray, reference(gray, 0.5, 0.5, 0.5), 0.1f);
  EXPECT_EQ(sampleAt(gray, 0, 0), 255);
  EXPECT_EQ(sampleAt(gray, 1, 0), 255); // 3 * 8 / 255 = 0.094
  EXPECT_EQ(sampleAt(gray, 2, 0), 136); // 3 * 9 / 255 = 0.106
  EXPECT_EQ(sampleAt(gray, 3, 0), 100);

  Image g16 = imageFromSamples(2, 1, 1, 16, {0, 40000}, 0);
  dropout(g16, reference(g16, 0, 0, 0), 0.05f);
  EXPECT_EQ(sampleAt(g16, 0, 0), 65535);
  EXPECT_EQ(sampleAt(g16, 1, 0), 40000);

  Image bits = imageFromSamples(10, 1, 1, 1, {0, 1, 0, 0, 1, 1, 0, 1, 0, 0}, 0);
  dropout(bits, reference(bits, 0, 0, 0), 0.5f);
  for (int x = 0; x < 10; ++x)
    EXPECT_EQ(sampleAt(bits, x, 0), 1);
}
