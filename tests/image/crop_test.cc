#include <gtest/gtest.h>

#include "image/Crop.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;

namespace {

bool isWindow(const Image& src, const Image& out, int x0, int y0)
{
  for (int y = 0; y < out.h; ++y)
    for (int x = 0; x < out.w; ++x)
      for (int c = 0; c < out.spp; ++c)
        if (sampleAt(out, x, y, c) != sampleAt(src, x + x0, y + y0, c))
          return false;
  return true;
}

struct CropCodec : testsupport::TestCodec {
  unsigned rect[4] = {0, 0, 0, 0};
  bool crop(Image&, unsigned x, unsigned y, unsigned w, unsigned h) override
  {
    rect[0] = x; rect[1] = y; rect[2] = w; rect[3] = h;
    return true;
  }
};

} // namespace

TEST(Crop, ClipsAndKeepsTheWindowOnEveryPixelType)
{
  const int W = 37, H = 9;
  struct Case {
    int x, y;
    unsigned w, h;
    int ex, ey, ew, eh;
  };
  const Case cases[] = {
    {3, 1, 11, 4, 3, 1, 11, 4},     // odd bit offset and width
    {5, 2, 100, 100, 5, 2, 32, 7},  // clipped at the right and bottom
    {-5, 0, 20, H, 0, 0, 15, H},    // negative origin shortens the width
    {0, -2, 7, 5, 0, 0, 7, 3},
    {50, 3, 4, 2, W - 1, 3, 1, 2},  // origin past the edge: the last column
    {9, 0, 17, H, 9, 0, 17, H},
    {0, 0, W, 4, 0, 0, W, 4},       // bottom only
  };
  for (const PixelType& t : kPixelTypes)
    for (const Case& k : cases) {
      SCOPED_TRACE(std::to_string(t.spp) + "x" + std::to_string(t.bps) + " at " +
                   std::to_string(k.x) + "," + std::to_string(k.y));
      const Image src = patterned(W, H, t, 11);
      Image im = patterned(W, H, t, 11);
      crop(im, k.x, k.y, k.w, k.h);
      ASSERT_EQ(im.w, k.ew);
      ASSERT_EQ(im.h, k.eh);
      EXPECT_EQ(im.bps, t.bps);
      EXPECT_TRUE(isWindow(src, im, k.ex, k.ey));
      EXPECT_TRUE(im.pixelsDirty);
    }
}

TEST(Crop, WholeImageOrEmptyImageDoesNothing)
{
  Image im = patterned(5, 4, {1, 8}, 11);
  im.pixelsDirty = false;
  crop(im, 0, 0, 5, 4);
  crop(im, -3, -3, 100, 100);
  EXPECT_FALSE(im.pixelsDirty);

  Image none;
  crop(none, 0, 0, 10, 10); // no pixels, size 0: nothing to clip against
  EXPECT_EQ(none.w, 0);
  EXPECT_EQ(none.data, nullptr);
}

TEST(Crop, RectangleOutsideToTheLeftIsRefused)
{
  const Image src = patterned(6, 5, {1, 1}, 11);
  Image im = patterned(6, 5, {1, 1}, 11);
  testing::internal::CaptureStderr();
  crop(im, -20, 0, 4, 3);
  crop(im, 0, -9, 4, 3);
  EXPECT_NE(testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(samePixels(im, src));
}

TEST(Crop, CodecGetsTheClippedRectangle)
{
  Image im = patterned(10, 8, {3, 8}, 11);
  CropCodec* codec = new CropCodec;
  im.setCodec(codec);
  crop(im, -2, 3, 5, 100);
  EXPECT_EQ(codec->rect[0], 0u);
  EXPECT_EQ(codec->rect[1], 3u);
  EXPECT_EQ(codec->rect[2], 3u);
  EXPECT_EQ(codec->rect[3], 5u);
  EXPECT_EQ(im.w, 10);
}

TEST(Crop, FastAutoCropRemovesTheUniformBottomBand)
{
  Image im = makeImage(9, 7, 1, 1);
  fillPattern(im, 4);
  for (int y = 4; y < 7; ++y)
    for (int x = 0; x < 9; ++x)
      setSampleAt(im, x, y, 0, 1);
  setSampleAt(im, 0, 3, 0, 0); // row 3 differs from the white rows
  fastAutoCrop(im);
  EXPECT_EQ(im.h, 4);
  EXPECT_EQ(im.w, 9);

  Image uniform = makeImage(4, 3, 1, 8);
  uniform.pixelsDirty = false;
  fastAutoCrop(uniform);
  EXPECT_EQ(uniform.h, 3);
  EXPECT_FALSE(uniform.pixelsDirty);
}

TEST(Crop, AgreesWithImageMagick)
{
  REQUIRE_TOOL(convert, "convert");
  TempDir dir;
  for (const PixelType& t : {PixelType{1, 1}, PixelType{1, 8}, PixelType{3, 16}}) {
    Image im = patterned(29, 13, t, 11);
    ASSERT_TRUE(writePNM(im, dir.file("in.pnm")));
    ASSERT_EQ(run(convert + " " + dir.file("in.pnm") + " -crop 11x6+5+3 +repage " +
                  dir.file("out.pnm")), 0);
    Image want;
    ASSERT_TRUE(readPNM(want, dir.file("out.pnm")));
    crop(im, 5, 3, 11, 6);
    EXPECT_TRUE(samePixels(im, want)) << t.spp << "x" << t.bps;
  }
}
