// RGBA images from an image and a mask.
#include <gtest/gtest.h>

#include "color/ColorManagement.hh"
#include "tests/support/TestSupport.hh"

using testsupport::imageFromBytes;
using testsupport::imageFromSamples;
using testsupport::makeImage;
using testsupport::pixelAt;
using testsupport::sampleAt;

TEST(RgbaFromImage, AlphaFromTheMaskLuminance)
{
  struct Case {
    const char* name;
    Image mask;
    std::vector<int> alpha; // for the four pixels, without and with invert
  };
  Case cases[] = {
      {"gray8", imageFromBytes(4, 1, 1, {0, 255, 7, 128}), {0, 255, 7, 128}},
      {"rgb8", imageFromBytes(4, 1, 3, {255, 0, 0, 0, 255, 0, 0, 0, 255, 128, 128, 128}), {54, 182, 18, 128}},
      {"rgba8 (its alpha plays no part)", imageFromBytes(4, 1, 4, {255, 255, 255, 0, 0, 0, 0, 255, 255, 0, 0, 9, 0, 0, 255, 1}),
       {255, 0, 54, 18}},
      {"gray1", imageFromSamples(4, 1, 1, 1, {1, 0, 1, 0}), {255, 0, 255, 0}},
      {"gray4", imageFromSamples(4, 1, 1, 4, {15, 1, 0, 8}), {255, 17, 0, 136}},
      {"gray16 by its high byte", imageFromSamples(4, 1, 1, 16, {65535, 0x8000, 0x00ff, 0x0100}), {255, 128, 0, 1}},
      {"rgb16", imageFromSamples(4, 1, 3, 16, {65535, 65535, 65535, 65535, 0, 0, 0, 0, 0, 0x8000, 0x8000, 0x8000}),
       {255, 54, 0, 128}},
  };
  for (Case& c : cases) {
    for (bool invert : {false, true}) {
      Image img = imageFromBytes(4, 1, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
      Image maskBefore(c.mask);
      rgbaFromImage(img, c.mask, invert);
      ASSERT_EQ(img.spp, 4) << c.name;
      ASSERT_EQ(img.bps, 8);
      EXPECT_TRUE(img.pixelsDirty);
      for (int x = 0; x < 4; ++x) {
        const int a = invert ? 255 - c.alpha[(size_t)x] : c.alpha[(size_t)x];
        EXPECT_EQ(pixelAt(img, x, 0), (std::vector<int>{3 * x + 1, 3 * x + 2, 3 * x + 3, a})) << c.name << " " << x;
      }
      EXPECT_TRUE(testsupport::samePixels(c.mask, maskBefore));
    }
  }
}

TEST(RgbaFromImage, SizesMeetAtTheLarger)
{
  struct Case {
    int iw, ih, mw, mh, w, h;
  } cases[] = {
      {100, 50, 200, 100, 200, 100}, // image enlarged, resolution along
      {200, 100, 100, 100, 200, 100}, // a copy of the mask enlarged
      {200, 50, 100, 100, 100, 100},  // lower than the mask: takes its size
      {7, 5, 7, 5, 7, 5},
  };
  for (const Case& c : cases) {
    Image img = makeImage(c.iw, c.ih, 3, 8);
    testsupport::fillPattern(img, 1);
    img.resX = img.resY = 300;
    Image mask = makeImage(c.mw, c.mh, 1, 8);
    memset(mask.data, 200, (size_t)c.mw * c.mh);
    testing::internal::CaptureStderr();
    rgbaFromImage(img, mask, false);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(img.w, c.w);
    EXPECT_EQ(img.h, c.h);
    EXPECT_EQ(img.spp, 4);
    EXPECT_EQ(img.resX, 300 * c.w / c.iw);
    EXPECT_EQ(img.resY, 300 * c.h / c.ih);
    EXPECT_EQ(mask.w, c.mw);
    EXPECT_EQ(mask.h, c.mh);
    for (int y = 0; y < c.h; y += 7)
      for (int x = 0; x < c.w; x += 13)
        EXPECT_EQ(sampleAt(img, x, y, 3), 200);
  }
}

TEST(RgbaFromImage, OtherImageTypesAndPaddedRows)
{
  // RGBA loses its alpha, gray is replicated, padded rows come out tight.
  Image rgba = imageFromBytes(2, 1, 4, {10, 20, 30, 40, 50, 60, 70, 80});
  Image gray = imageFromBytes(2, 1, 1, {10, 250});
  Image padded = imageFromBytes(2, 2, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, 11);
  Image mask = imageFromBytes(2, 1, 1, {99, 100});
  Image mask2 = imageFromBytes(2, 2, 1, {1, 2, 3, 4});
  rgbaFromImage(rgba, mask, false);
  rgbaFromImage(gray, mask, false);
  rgbaFromImage(padded, mask2, true);
  EXPECT_EQ(pixelAt(rgba, 1, 0), (std::vector<int>{50, 60, 70, 100}));
  EXPECT_EQ(pixelAt(gray, 0, 0), (std::vector<int>{10, 10, 10, 99}));
  EXPECT_EQ(padded.rowStride, 0u);
  EXPECT_EQ(pixelAt(padded, 1, 1), (std::vector<int>{10, 11, 12, 251}));
  EXPECT_EQ(pixelAt(padded, 0, 1), (std::vector<int>{7, 8, 9, 252}));
}

TEST(RgbaFromImage, ImagesWithoutPixelsAreLeftAlone)
{
  Image empty;
  Image img = imageFromBytes(1, 1, 3, {1, 2, 3});
  testing::internal::CaptureStderr();
  rgbaFromImage(img, empty, false);
  rgbaFromImage(empty, img, false);
  EXPECT_NE(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(img.spp, 3);
  EXPECT_EQ(empty.spp, 0);
}

TEST(Mask2Rgba, OneBitMaskInOneColour)
{
  // 10 pixels wide: 2 bytes a row, padded to 3 in the second image.
  const std::vector<int> bits = {1, 0, 0, 1, 1, 1, 0, 0, 0, 1, 0, 1, 1, 0, 0, 0, 0, 1, 1, 0};
  for (unsigned stride : {0u, 3u}) {
    Image img = imageFromSamples(10, 2, 1, 1, bits, stride);
    img.resX = 200;
    mask2rgba(img, 255, 127, 0);
    ASSERT_EQ(img.spp, 4);
    EXPECT_EQ(img.stride(), 40u);
    EXPECT_EQ(img.resX, 200);
    EXPECT_TRUE(img.pixelsDirty);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 10; ++x)
        EXPECT_EQ(pixelAt(img, x, y), (std::vector<int>{255, 127, 0, bits[(size_t)(10 * y + x)] ? 255 : 0}));
  }

  Image gray = imageFromBytes(2, 1, 1, {1, 2});
  testing::internal::CaptureStderr();
  mask2rgba(gray, 1, 2, 3);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "no 1 bit mask\n");
  EXPECT_EQ(gray.spp, 1);
  EXPECT_EQ(pixelAt(gray, 1, 0), std::vector<int>{2});
}
