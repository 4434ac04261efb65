// The chromaticity chart and the sRGB round trip.
#include <gtest/gtest.h>

#include "color/ColorManagement.hh"
#include "tests/support/TestSupport.hh"

using testsupport::pixelAt;

TEST(It8Coverage, ChromaticityChart)
{
  Image img = testsupport::makeImage(11, 11, 3, 8);
  testsupport::fillPattern(img, 2);
  it8Coverage(img);
  EXPECT_EQ(pixelAt(img, 0, 0), (std::vector<int>{0, 255, 0}));
  EXPECT_EQ(pixelAt(img, 3, 7), (std::vector<int>{221, 214, 241}));
  EXPECT_EQ(pixelAt(img, 6, 6), (std::vector<int>{255, 137, 0}));
  for (int y = 0; y < 11; ++y)
    for (int x = 0; x < 11; ++x)
      if (x > y || y >= 9) {
        EXPECT_EQ(pixelAt(img, x, y), (std::vector<int>{0, 0, 0})) << x << "," << y;
      }
}

TEST(It8Coverage, AlphaAndDegenerateSizes)
{
  Image rgba = testsupport::makeImage(11, 11, 4, 8);
  testsupport::fillPattern(rgba, 2);
  it8Coverage(rgba);
  EXPECT_EQ(pixelAt(rgba, 0, 0), (std::vector<int>{0, 255, 0, 255}));
  EXPECT_EQ(pixelAt(rgba, 10, 0), (std::vector<int>{0, 0, 0, 0}));

  // One column sits at x-chromaticity 0, one row at y-chromaticity 1.
  Image column = testsupport::makeImage(1, 11, 3, 8);
  it8Coverage(column);
  EXPECT_EQ(pixelAt(column, 0, 0), (std::vector<int>{0, 255, 0}));
  Image row = testsupport::makeImage(11, 1, 3, 8);
  it8Coverage(row);
  EXPECT_EQ(pixelAt(row, 0, 0), (std::vector<int>{0, 255, 0}));
  EXPECT_EQ(pixelAt(row, 10, 0), (std::vector<int>{0, 0, 0}));
}

TEST(It8Test, RoundTrip)
{
  Image rgb = testsupport::imageFromBytes(4, 1, 3, {0, 0, 0, 255, 255, 255, 128, 128, 128, 255, 0, 0});
  testing::internal::CaptureStderr();
  it8Test(rgb);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "12.6612\n11.4588\n");
  EXPECT_EQ(pixelAt(rgb, 0, 0), (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(pixelAt(rgb, 1, 0), (std::vector<int>{254, 255, 254}));
  EXPECT_EQ(pixelAt(rgb, 2, 0), (std::vector<int>{127, 128, 127}));
  EXPECT_EQ(pixelAt(rgb, 3, 0), (std::vector<int>{254, 0, 0}));

  Image gray = testsupport::makeImage(256, 1, 1, 8);
  for (int x = 0; x < 256; ++x)
    gray.data[x] = (uint8_t)x;
  testing::internal::CaptureStderr();
  it8Test(gray);
  testing::internal::GetCapturedStderr();
  for (int x = 0; x < 256; ++x)
    EXPECT_EQ(gray.data[x], x == 255 ? 254 : x);

  Image rgba = testsupport::imageFromBytes(1, 1, 4, {255, 255, 255, 77});
  Image empty;
  testing::internal::CaptureStderr();
  it8Test(rgba);
  it8Test(empty);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "12.6612\n11.4588\n12.6612\n11.4588\n");
  EXPECT_EQ(pixelAt(rgba, 0, 0), (std::vector<int>{254, 255, 254, 77}));
}
