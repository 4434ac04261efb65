#include <gtest/gtest.h>

#include "image/Flip.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;

namespace {

bool mirrored(const Image& a, const Image& b, bool horizontal)
{
  for (int y = 0; y < a.h; ++y)
    for (int x = 0; x < a.w; ++x)
      for (int c = 0; c < a.spp; ++c) {
        const int sx = horizontal ? a.w - 1 - x : x, sy = horizontal ? y : a.h - 1 - y;
        if (sampleAt(b, x, y, c) != sampleAt(a, sx, sy, c))
          return false;
      }
  return true;
}

struct FlipCodec : testsupport::TestCodec {
  int calls = 0;
  bool flipX(Image&) override { ++calls; return true; }
  bool flipY(Image&) override { ++calls; return true; }
};

} // namespace

TEST(Flip, MirrorsEveryPixelTypeAndKeepsTheStride)
{
  for (const PixelType& t : kPixelTypes)
    for (int w : {1, 7, 10, 13, 17}) {
      SCOPED_TRACE("spp " + std::to_string(t.spp) + " bps " + std::to_string(t.bps) + " w " +
                   std::to_string(w));
      const Image src = patterned(w, 3, t, 3);
      Image x = patterned(w, 3, t, 3);
      const unsigned stride = x.rowStride;
      flipX(x);
      EXPECT_TRUE(mirrored(src, x, true));
      EXPECT_EQ(x.rowStride, stride);
      EXPECT_TRUE(x.pixelsDirty);

      Image y = patterned(w, 3, t, 3);
      flipY(y);
      EXPECT_TRUE(mirrored(src, y, false));
    }
}

TEST(Flip, SubBytePaddingStaysAtTheRowEnd)
{
  // Ten 1-bit pixels: the six padding bits of the second byte stay clear.
  Image im = imageFromSamples(10, 1, 1, 1, {1, 1, 0, 0, 0, 0, 0, 0, 0, 1});
  flipX(im);
  EXPECT_EQ(im.data[0], 0x80);
  EXPECT_EQ(im.data[1], 0xC0);
}

TEST(Flip, CodecDoesTheWorkWhilePixelsAreUnchanged)
{
  Image im = imageFromBytes(2, 1, 1, {1, 2});
  FlipCodec* codec = new FlipCodec;
  im.setCodec(codec);
  flipX(im);
  flipY(im);
  EXPECT_EQ(codec->calls, 2);
  EXPECT_EQ(sampleAt(im, 0, 0), 1);
  EXPECT_FALSE(im.pixelsDirty);

  im.setRawData();
  flipX(im);
  EXPECT_EQ(codec->calls, 2);
  EXPECT_EQ(sampleAt(im, 0, 0), 2);
}

TEST(Flip, EmptyImagesAndUnsupportedDepths)
{
  Image none;
  flipX(none);
  flipY(none);
  EXPECT_FALSE(none.pixelsDirty);

  Image odd = makeImage(3, 1, 1, 12); // no pixel type
  odd.data[0] = 9;
  odd.pixelsDirty = false;
  testing::internal::CaptureStderr();
  flipX(odd);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "flipX: unsupported depth.\n");
  EXPECT_EQ(odd.data[0], 9);
  EXPECT_FALSE(odd.pixelsDirty);
}

TEST(Flip, AgreesWithImageMagick)
{
  REQUIRE_TOOL(convert, "convert");
  TempDir dir;
  for (const PixelType& t : {PixelType{1, 1}, PixelType{1, 8}, PixelType{3, 8}, PixelType{3, 16}}) {
    for (bool horizontal : {true, false}) {
      Image im = patterned(21, 9, t, 3);
      ASSERT_TRUE(writePNM(im, dir.file("in.pnm")));
      ASSERT_EQ(run(convert + " " + dir.file("in.pnm") + (horizontal ? " -flop " : " -flip ") +
                    dir.file("out.pnm")), 0);
      Image want;
      ASSERT_TRUE(readPNM(want, dir.file("out.pnm")));
      horizontal ? flipX(im) : flipY(im);
      EXPECT_TRUE(samePixels(im, want)) << t.spp << "x" << t.bps << (horizontal ? " flop" : " flip");
    }
  }
}
