#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "image/Colorspace.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;

namespace {

// One source pixel on the conversion's own terms.
struct Px {
  bool colour;
  int g8;          // gray sources: the 8-bit level
  int g16;         // gray16 source: the raw sample
  int r, gr, b, a; // colour sources: raw samples (8 or 16 bits), alpha 8-bit
};

Px readPx(const Image& im, int x, int y)
{
  Px p{};
  p.a = 255;
  if (im.spp == 1) {
    const int s = sampleAt(im, x, y);
    p.g16 = s;
    p.g8 = im.bps == 16 ? s >> 8 : s * 255 / ((1 << im.bps) - 1);
  } else {
    p.colour = true;
    p.r = sampleAt(im, x, y, 0);
    p.gr = sampleAt(im, x, y, 1);
    p.b = sampleAt(im, x, y, 2);
    p.a = im.spp == 4 ? sampleAt(im, x, y, 3) : 255;
  }
  return p;
}

// Expected raw samples of the target, written from the rules: gray from
// colour is (30 R + 59 G + 11 B) / 100 after reducing 16-bit samples to
// their high byte, except that an 8-bit colour source going to gray16 is
// widened first (x 257) and weighed on 16 bits; 1 bit is "above the
// threshold", 2 and 4 bits the top bits of the 8-bit level; 8 to 16 bits
// is x 257; 16 to 8 the high byte.
std::vector<int> expected(const Px& p, int srcBps, int spp, int bps, int threshold)
{
  auto gray8 = [&]() {
    if (!p.colour)
      return p.g8;
    const int sh = srcBps == 16 ? 8 : 0;
    return (30 * (p.r >> sh) + 59 * (p.gr >> sh) + 11 * (p.b >> sh)) / 100;
  };
  if (spp == 1) {
    switch (bps) {
    case 1: return {gray8() > threshold ? 1 : 0};
    case 2: return {gray8() >> 6};
    case 4: return {gray8() >> 4};
    case 8: return {gray8()};
    default:
      if (!p.colour)
        return {srcBps == 16 ? p.g16 : p.g8 * 257};
      if (srcBps == 16)
        return {(int)((30ll * p.r + 59ll * p.gr + 11ll * p.b) / 100)};
      return {(int)((30ll * p.r * 257 + 59ll * p.gr * 257 + 11ll * p.b * 257) / 100)};
    }
  }
  int r, g, b;
  if (!p.colour) {
    r = g = b = srcBps == 16 ? p.g16 : p.g8 * 257; // on 16 bits
    if (srcBps == 16 && bps == 8)
      r = g = b = (p.g16 >> 8) * 257;
  } else if (srcBps == 16) {
    r = p.r; g = p.gr; b = p.b;
  } else {
    r = p.r * 257; g = p.gr * 257; b = p.b * 257;
  }
  if (bps == 8) {
    r >>= 8; g >>= 8; b >>= 8;
  }
  if (spp == 4)
    return {r, g, b, p.a};
  return {r, g, b};
}

// Padded rows; 16-bit rows stay 2-byte aligned.
Image source(const PixelType& t)
{
  return patterned(13, 5, t, 7, t.bps == 16 ? 4 : 3);
}

} // namespace

TEST(Colorspace, EveryPairOfPixelTypesMatchesTheRules)
{
  const int threshold = 100;
  for (const PixelType& from : kPixelTypes) {
    for (const PixelType& to : kPixelTypes) {
      SCOPED_TRACE(typeName(from) + " -> " + typeName(to));
      Image src = source(from);
      Image im = source(from);
      ASSERT_TRUE(colorspace_by_name(im, typeName(to), threshold));
      ASSERT_EQ(im.spp, to.spp);
      ASSERT_EQ(im.bps, to.bps);
      ASSERT_EQ(im.w, src.w);
      ASSERT_EQ(im.h, src.h);
      EXPECT_TRUE(im.pixelsDirty || typeName(from) == typeName(to));
      int bad = 0;
      for (int y = 0; y < src.h; ++y)
        for (int x = 0; x < src.w; ++x) {
          const std::vector<int> want = expected(readPx(src, x, y), from.bps, to.spp, to.bps, threshold);
          for (int c = 0; c < to.spp; ++c)
            if (sampleAt(im, x, y, c) != want[c] && bad++ < 3)
              ADD_FAILURE() << "pixel " << x << "," << y << " channel " << c << ": "
                            << sampleAt(im, x, y, c) << " want " << want[c];
        }
    }
  }
}

TEST(Colorspace, NamesIgnoreCaseAndUnknownNamesLeaveTheImage)
{
  Image im = imageFromBytes(3, 1, 1, {127, 128, 255});
  ASSERT_TRUE(colorspace_by_name(im, "BW", 127));
  EXPECT_EQ(im.bps, 1);
  EXPECT_EQ(sampleAt(im, 0, 0), 0); // 127 is not above 127
  EXPECT_EQ(sampleAt(im, 1, 0), 1);
  EXPECT_EQ(sampleAt(im, 2, 0), 1);

  Image rgb = imageFromBytes(2, 1, 3, {1, 2, 3, 4, 5, 6});
  rgb.pixelsDirty = false;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(colorspace_by_name(rgb, "cmyk"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Requested colorspace conversion not yet implemented.\n");
  EXPECT_EQ(rgb.spp, 3);
  EXPECT_EQ(sampleAt(rgb, 1, 0, 2), 6);
  EXPECT_FALSE(rgb.pixelsDirty);

  EXPECT_STREQ(colorspace_name(rgb), "rgb8");
  Image gray = imageFromBytes(1, 1, 1, {0});
  ASSERT_TRUE(colorspace_by_name(gray, "Gray16"));
  EXPECT_STREQ(colorspace_name(gray), "gray16");
}

TEST(Colorspace, ImageWithoutPixelsTakesTheTarget)
{
  Image im;
  im.spp = 3;
  im.bps = 8;
  EXPECT_TRUE(colorspace_by_name(im, "gray1"));
  EXPECT_EQ(im.spp, 1);
  EXPECT_EQ(im.bps, 1);
  EXPECT_EQ(im.data, nullptr);
}

namespace {
struct GrayCodec : testsupport::TestCodec {
  int calls = 0;
  bool toGray(Image& image) override
  {
    ++calls;
    image.spp = 1;
    return true;
  }
};
} // namespace

TEST(Colorspace, CodecIsOfferedGrayOnlyWhilePixelsAreUnchanged)
{
  Image im = imageFromBytes(1, 1, 3, {10, 20, 30});
  GrayCodec* codec = new GrayCodec;
  im.setCodec(codec);
  EXPECT_TRUE(colorspace_by_name(im, "gray"));
  EXPECT_EQ(codec->calls, 1);
  EXPECT_TRUE(colorspace_by_name(im, "gray1")); // 1-bit target: not offered
  EXPECT_EQ(codec->calls, 1);

  Image dirty = imageFromBytes(1, 1, 3, {10, 20, 30});
  GrayCodec* c2 = new GrayCodec;
  dirty.setCodec(c2);
  dirty.setRawData();
  EXPECT_TRUE(colorspace_by_name(dirty, "gray"));
  EXPECT_EQ(c2->calls, 0);
  EXPECT_EQ(sampleAt(dirty, 0, 0), (30 * 10 + 59 * 20 + 11 * 30) / 100);
}

TEST(Colorspace, SingleSteps)
{
  // 16 -> 8 keeps the high byte, 8 -> 16 multiplies by 257.
  Image a = imageFromSamples(1, 1, 1, 16, {4660});
  colorspace_16_to_8(a);
  EXPECT_EQ(sampleAt(a, 0, 0), 18);
  Image b = imageFromBytes(1, 1, 1, {171});
  colorspace_8_to_16(b);
  EXPECT_EQ(sampleAt(b, 0, 0), 171 * 257);

  // Script defaults for RGB to gray: 28/59/11.
  Image c = imageFromBytes(2, 1, 3, {255, 0, 0, 10, 200, 90});
  colorspace_rgb8_to_gray8(c);
  EXPECT_EQ(sampleAt(c, 0, 0), 28 * 255 / 98);
  EXPECT_EQ(sampleAt(c, 1, 0), (28 * 10 + 59 * 200 + 11 * 90) / 98);

  Image d = imageFromBytes(2, 1, 4, {9, 1, 2, 3, 8, 4, 5, 6});
  colorspace_argb8_to_rgb8(d);
  EXPECT_EQ(d.spp, 3);
  EXPECT_EQ(sampleAt(d, 0, 0, 0), 1);
  EXPECT_EQ(sampleAt(d, 1, 0, 2), 6);

  Image e = imageFromBytes(3, 1, 3, {0, 0, 0, 1, 2, 3, 200, 200, 200});
  colorspace_rgb8_to_rgba8(e, 77);
  EXPECT_EQ(sampleAt(e, 1, 0, 2), 3);
  EXPECT_EQ(sampleAt(e, 2, 0, 3), 77);

  Image f = imageFromBytes(3, 1, 1, {100, 101, 255});
  colorspace_gray8_threshold(f, 100);
  EXPECT_EQ(sampleAt(f, 0, 0), 0);
  EXPECT_EQ(sampleAt(f, 1, 0), 255);
}

TEST(Colorspace, Gray8ToRgb8OnWidelyPaddedRows)
{
  // Rows padded past 3 x width: filling backwards in place would overwrite
  // rows not yet read.
  const int w = 3, h = 4;
  Image im = makeImage(w, h, 1, 8, 16);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      setSampleAt(im, x, y, 0, 10 * y + x);
  colorspace_gray8_to_rgb8(im);
  ASSERT_EQ(im.spp, 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c)
        EXPECT_EQ(sampleAt(im, x, y, c), 10 * y + x);
}

TEST(Colorspace, DeIeeeClampsAndZeroesNaN)
{
  const float in[] = {-3.f, 0.f, 12.9f, 255.f, 1e9f, std::numeric_limits<float>::quiet_NaN()};
  Image im = makeImage(6, 1, 1, 32);
  memcpy(im.data, in, sizeof in);
  colorspace_de_ieee(im);
  EXPECT_EQ(im.bps, 8);
  const int want[] = {0, 0, 12, 255, 255, 0};
  for (int x = 0; x < 6; ++x)
    EXPECT_EQ(sampleAt(im, x, 0), want[x]) << x;

  const double d[] = {1.5, std::nan(""), -0.0, 300.0};
  Image dm = makeImage(2, 2, 1, 64);
  memcpy(dm.data, d, sizeof d);
  colorspace_de_ieee(dm);
  EXPECT_EQ(sampleAt(dm, 0, 0), 1);
  EXPECT_EQ(sampleAt(dm, 1, 0), 0);
  EXPECT_EQ(sampleAt(dm, 0, 1), 0);
  EXPECT_EQ(sampleAt(dm, 1, 1), 255);

  Image g = imageFromBytes(1, 1, 1, {5});
  testing::internal::CaptureStderr();
  colorspace_de_ieee(g);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "colorspace_de_ieee: unsupported bps: 8\n");
  EXPECT_EQ(sampleAt(g, 0, 0), 5);
}

TEST(Colorspace, CmykToRgb)
{
  Image im = imageFromBytes(2, 1, 4, {0, 0, 0, 0, 100, 200, 10, 60});
  colorspace_cmyk_to_rgb(im);
  ASSERT_EQ(im.spp, 3);
  EXPECT_EQ(sampleAt(im, 0, 0, 0), 255);
  EXPECT_EQ(sampleAt(im, 1, 0, 0), 95);
  EXPECT_EQ(sampleAt(im, 1, 0, 1), 0);
  EXPECT_EQ(sampleAt(im, 1, 0, 2), 185);

  Image w = imageFromSamples(1, 1, 4, 16, {1000, 60000, 0, 5000});
  colorspace_cmyk_to_rgb(w);
  EXPECT_EQ(w.bps, 16);
  EXPECT_EQ(sampleAt(w, 0, 0, 0), 59535);
  EXPECT_EQ(sampleAt(w, 0, 0, 1), 535);
  EXPECT_EQ(sampleAt(w, 0, 0, 2), 60535);
}

TEST(Colorspace, DePalette)
{
  uint16_t bw[2] = {0, 0xffff}, wb[2] = {0xffff, 0};
  Image a = imageFromSamples(10, 1, 1, 1, {1, 0, 1, 1, 0, 0, 0, 1, 1, 0});
  a.pixelsDirty = false;
  EXPECT_TRUE(colorspace_de_palette(a, 2, bw, bw, bw));
  EXPECT_EQ(a.bps, 1);
  EXPECT_FALSE(a.pixelsDirty); // black/white: nothing to do

  EXPECT_TRUE(colorspace_de_palette(a, 2, wb, wb, wb));
  EXPECT_EQ(a.bps, 1);
  EXPECT_EQ(sampleAt(a, 0, 0), 0);
  EXPECT_EQ(sampleAt(a, 1, 0), 1);
  EXPECT_EQ(sampleAt(a, 9, 0), 1);

  // A gray ramp that is not the identity, with an index beyond the table.
  uint16_t g[3] = {0x1000, 0x8000, 0xff00};
  Image b = imageFromSamples(4, 1, 1, 2, {0, 1, 2, 3});
  EXPECT_TRUE(colorspace_de_palette(b, 3, g, g, g));
  ASSERT_EQ(b.bps, 8);
  ASSERT_EQ(b.spp, 1);
  EXPECT_EQ(sampleAt(b, 0, 0), 0x10);
  EXPECT_EQ(sampleAt(b, 2, 0), 0xff);
  EXPECT_EQ(sampleAt(b, 3, 0), 0);

  // Colour with alpha.
  uint16_t r[2] = {0xff00, 0}, gg[2] = {0, 0x7fff}, bb[2] = {0x1234, 0}, al[2] = {0xffff, 0x8000};
  Image c = imageFromSamples(2, 1, 1, 4, {1, 0});
  EXPECT_TRUE(colorspace_de_palette(c, 2, r, gg, bb, al));
  ASSERT_EQ(c.spp, 4);
  EXPECT_EQ(sampleAt(c, 0, 0, 1), 0x7f);
  EXPECT_EQ(sampleAt(c, 0, 0, 3), 0x80);
  EXPECT_EQ(sampleAt(c, 1, 0, 0), 0xff);
  EXPECT_EQ(sampleAt(c, 1, 0, 2), 0x12);

  // Identity gray palette on 8 bits leaves the image.
  std::vector<uint16_t> id(256);
  for (int i = 0; i < 256; ++i)
    id[i] = (uint16_t)(i * 257);
  Image d = imageFromBytes(2, 1, 1, {3, 250});
  d.pixelsDirty = false;
  EXPECT_TRUE(colorspace_de_palette(d, 256, id.data(), id.data(), id.data()));
  EXPECT_FALSE(d.pixelsDirty);

  testing::internal::CaptureStderr();
  EXPECT_FALSE(colorspace_de_palette(d, 0, id.data(), id.data(), id.data()));
  testing::internal::GetCapturedStderr();
}

TEST(Colorspace, PackLineInterleavesPlanes)
{
  Image im = makeImage(3, 2, 3, 8);
  const uint8_t planar[9] = {1, 2, 3, 10, 20, 30, 100, 200, 250};
  memcpy(im.data + im.stride(), planar, 9);
  colorspace_pack_line(im, 0, 1);
  const int want[9] = {1, 10, 100, 2, 20, 200, 3, 30, 250};
  for (int i = 0; i < 9; ++i)
    EXPECT_EQ(sampleAt(im, i / 3, 0, i % 3), want[i]);
  colorspace_pack_line(im, 1, 1); // same row
  for (int i = 0; i < 9; ++i)
    EXPECT_EQ(sampleAt(im, i / 3, 1, i % 3), want[i]);

  Image w = makeImage(2, 1, 3, 16);
  const uint16_t p16[6] = {1, 2, 3, 4, 5, 6};
  memcpy(w.data, p16, sizeof p16);
  colorspace_pack_line(w, 0, 0);
  EXPECT_EQ(sampleAt(w, 0, 0, 1), 3);
  EXPECT_EQ(sampleAt(w, 1, 0, 2), 6);
}

TEST(Colorspace, DenoiseNeighbours)
{
  // A lone speck on a uniform ground goes; a pixel with mixed neighbours
  // stays. Votes read the pixels as they were.
  Image im = imageFromBytes(5, 3, 1, {
    0, 0, 0, 255, 255,
    0, 200, 0, 255, 255,
    0, 0, 0, 7, 255,
  });
  Image eight = im;
  colorspace_gray8_denoise_neighbours(im, false);
  EXPECT_EQ(sampleAt(im, 1, 1), 0);
  EXPECT_EQ(sampleAt(im, 3, 2), 7);
  EXPECT_EQ(sampleAt(im, 4, 2), 255);
  colorspace_gray8_denoise_neighbours(eight, true);
  EXPECT_EQ(sampleAt(eight, 1, 1), 0);
  EXPECT_EQ(sampleAt(eight, 3, 2), 7);

  // Eight-neighbour vote: one dark neighbour of eight still counts as white.
  Image nearWhite = imageFromBytes(3, 3, 1, {0, 255, 255, 255, 30, 255, 255, 255, 255});
  Image four = nearWhite;
  colorspace_gray8_denoise_neighbours(nearWhite, true);
  EXPECT_EQ(sampleAt(nearWhite, 1, 1), 255);
  colorspace_gray8_denoise_neighbours(four, false);
  EXPECT_EQ(sampleAt(four, 1, 1), 255);
  EXPECT_EQ(sampleAt(four, 0, 0), 255); // both of its neighbours are white
}

TEST(Colorspace, AllocationFailureLeavesTheImage)
{
  // A geometry far beyond any memory over a small real buffer.
  for (const char* target : {"rgb8", "gray16", "rgba8"}) {
    uint8_t* buffer = (uint8_t*)malloc(64);
    memset(buffer, 7, 64);
    Image im;
    im.spp = 1;
    im.bps = 8;
    im.data = buffer;
    im.w = 1 << 21;
    im.h = 1 << 21;
    im.pixelsDirty = false;
    EXPECT_THROW(colorspace_by_name(im, target), std::bad_alloc) << target;
    EXPECT_EQ(im.data, buffer);
    EXPECT_EQ(im.spp, 1);
    EXPECT_EQ(im.bps, 8);
    EXPECT_EQ(buffer[0], 7);
    EXPECT_FALSE(im.pixelsDirty);
    im.w = im.h = 1;
  }
}

TEST(Colorspace, SourceOrTargetOutsideTheEightTypesIsRefused)
{
  Image cmyk = makeImage(2, 1, 4, 16);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(colorspace_by_name(cmyk, "rgb8"));
  EXPECT_FALSE(colorspace_convert(cmyk, 2, 8));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "colorspace_convert: unsupported source spp: 4, bps: 16\n"
            "colorspace_convert: unsupported target spp: 2, bps: 8\n");
  EXPECT_EQ(cmyk.spp, 4);
  EXPECT_EQ(cmyk.bps, 16);
}

TEST(Colorspace, ThresholdAgreesWithImageMagick)
{
  REQUIRE_TOOL(convert, "convert");
  TempDir dir;
  Image im = makeImage(37, 11, 1, 8);
  fillPattern(im, 17);
  // Both sides of the threshold present exactly.
  setSampleAt(im, 0, 0, 0, 127);
  setSampleAt(im, 1, 0, 0, 128);
  ASSERT_TRUE(writePNM(im, dir.file("in.pgm")));
  // 50 % lies between 127 and 128 on any quantum depth: "above 127" exactly.
  ASSERT_EQ(run(convert + " " + dir.file("in.pgm") + " -threshold 50% " + dir.file("out.pbm")), 0);
  Image want;
  ASSERT_TRUE(readPNM(want, dir.file("out.pbm")));
  ASSERT_TRUE(colorspace_by_name(im, "bw", 127));
  EXPECT_TRUE(samePixels(im, want));
}

TEST(Colorspace, RealignKeepsThePixels)
{
  Image im = makeImage(5, 4, 3, 8);
  fillPattern(im, 23);
  const Image ref = im;
  realignImage(im, 32);
  EXPECT_EQ(im.stride(), 32u);
  EXPECT_TRUE(samePixels(im, ref));
  realignImage(im, 16);
  EXPECT_EQ(im.stride(), 16u);
  EXPECT_TRUE(samePixels(im, ref));
  testing::internal::CaptureStderr();
  realignImage(im, 14); // below the 15 bytes of a row
  EXPECT_NE(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(im.stride(), 16u);
}
