// Resampling: method choice, exact small cases, every pixel type against an
// independent numpy reference, and the inputs that must not touch the image.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "image/Colorspace.hh"
#include "image/TypedIterators.hh"
#include "image/Scale.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;

namespace {

struct ScaleHookCodec : testsupport::TestCodec {
  int calls = 0;
  bool accept = true;
  bool scale(Image&, double, double, bool) override
  {
    ++calls;
    return accept;
  }
};


} // namespace

TEST(Scale, IdentityChangesNothing)
{
  Image img = patterned(7, 5, {3, 8}, 5, 0);
  img.pixelsDirty = false;
  uint8_t* before = img.data;
  scale(img, 1, 1);
  EXPECT_EQ(img.data, before);
  EXPECT_FALSE(img.pixelsDirty);
  scale(img, 1, 1, true); // absolute size 1 x 1
  EXPECT_EQ(img.w, 1);
  EXPECT_EQ(img.h, 1);
}

TEST(Scale, MethodChoiceUsesOnlySx)
{
  Image base = patterned(40, 20, {1, 8}, 5, 0);
  struct { double sx, sy; bool box; } cases[] = {{0.5, 2, true}, {0.25, 0.25, true}, {0.51, 0.25, false}, {1.5, 0.3, false}};
  for (auto& c : cases) {
    Image a;
    a = base;
    scale(a, c.sx, c.sy);
    Image b;
    b = base;
    if (c.box)
      box_scale(b, c.sx, c.sy);
    else
      bilinear_scale(b, c.sx, c.sy);
    EXPECT_TRUE(samePixels(a, b)) << c.sx << " " << c.sy;
  }
}

TEST(Scale, ResolutionFollowsTheSize)
{
  Image img = patterned(100, 50, {1, 8}, 5, 0);
  img.resX = img.resY = 300;
  img.metaDirty = false;
  scale(img, 0.5, 0.5);
  EXPECT_EQ(img.w, 50);
  EXPECT_EQ(img.h, 25);
  EXPECT_EQ(img.resX, 150);
  EXPECT_EQ(img.resY, 150);
  EXPECT_TRUE(img.metaDirty);
  EXPECT_EQ(img.rowStride, 0u);
}

TEST(Scale, BoxMeansTruncate)
{
  Image img = imageFromBytes(4, 1, 1, {10, 20, 30, 41});
  box_scale(img, 0.5, 1);
  ASSERT_EQ(img.w, 2);
  EXPECT_EQ(sampleAt(img, 0, 0), 15);
  EXPECT_EQ(sampleAt(img, 1, 0), 35);
}

TEST(Scale, BoxEnlargementTakesNearestRowAndColumn)
{
  // scale(0.5, 2) reaches the box method with a vertical enlargement: every
  // destination row must be written, none divided by an empty bucket.
  Image img = imageFromBytes(4, 2, 1, {10, 20, 30, 40, 50, 60, 70, 80});
  scale(img, 0.5, 2);
  ASSERT_EQ(img.w, 2);
  ASSERT_EQ(img.h, 4);
  const int want[4][2] = {{15, 35}, {15, 35}, {55, 75}, {55, 75}};
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 2; ++x)
      EXPECT_EQ(sampleAt(img, x, y), want[y][x]) << x << "," << y;

  Image wide = imageFromBytes(2, 1, 1, {100, 200});
  box_scale(wide, 2, 1); // columns 1 and 3 are reached by no source column
  ASSERT_EQ(wide.w, 4);
  EXPECT_EQ(sampleAt(wide, 0, 0), 100);
  EXPECT_EQ(sampleAt(wide, 1, 0), 100);
  EXPECT_EQ(sampleAt(wide, 2, 0), 200);
  EXPECT_EQ(sampleAt(wide, 3, 0), 200);
}

TEST(Scale, BilinearIsCornerAligned)
{
  Image img = imageFromBytes(3, 1, 1, {0, 100, 200});
  bilinear_scale(img, 5, 1, true);
  // fx = dx * 2 / 4: 0, 0.5, 1, 1.5, 2 -> the last column is the last source
  const int want[] = {0, 50, 100, 150, 200};
  for (int x = 0; x < 5; ++x)
    EXPECT_EQ(sampleAt(img, x, 0), want[x]);
}

TEST(Scale, SingleDestinationColumnMapsToZero)
{
  for (auto f : {bilinear_scale, nearest_scale, bicubic_scale}) {
    Image img = imageFromBytes(3, 2, 1, {7, 8, 9, 17, 18, 19});
    f(img, 1, 2, true);
    ASSERT_EQ(img.w, 1);
    EXPECT_EQ(sampleAt(img, 0, 0), 7);
    EXPECT_EQ(sampleAt(img, 0, 1), 17);
  }
}

TEST(Scale, InvalidSizesLeaveTheImage)
{
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct { double sx, sy; bool fixed; } cases[] = {
    {nan, 1, false}, {1, nan, false}, {inf, 1, false}, {-2, 1, false}, {1e12, 1, false}, {3e9, 5, true},
  };
  for (auto& c : cases) {
    Image img = patterned(6, 4, {3, 8}, 5, 0);
    Image ref;
    ref = img;
    testing::internal::CaptureStderr();
    scale(img, c.sx, c.sy, c.fixed);
    bilinear_scale(img, c.sx, c.sy, c.fixed);
    box_scale(img, c.sx, c.sy, c.fixed);
    EXPECT_FALSE(testing::internal::GetCapturedStderr().empty());
    EXPECT_TRUE(samePixels(img, ref)) << c.sx << " " << c.sy;
  }
}

TEST(Scale, EmptySourceIsANoOp)
{
  Image none;
  none.spp = 1;
  none.bps = 8;
  none.w = 10;
  none.h = 10;
  bilinear_scale(none, 0.5, 0.5);
  EXPECT_EQ(none.w, 10);
  EXPECT_EQ(none.data, nullptr);
}

TEST(Scale, AllocationFailureKeepsTheSource)
{
  Image img = patterned(8, 8, {3, 8}, 5, 0);
  Image ref;
  ref = img;
  EXPECT_THROW(bilinear_scale(img, 1 << 30, 1 << 30, true), std::bad_alloc);
  EXPECT_TRUE(samePixels(img, ref));
}

TEST(Scale, CodecIsOfferedTheJobWhilePixelsAreClean)
{
  Image img = patterned(8, 8, {1, 8}, 5, 0);
  auto* codec = new ScaleHookCodec();
  img.setCodec(codec); // clears pixelsDirty
  scale(img, 0.5, 0.5);
  EXPECT_EQ(codec->calls, 1);
  EXPECT_EQ(img.w, 8); // the codec did it

  img.setRawData(); // pixels changed: the codec is not asked
  scale(img, 0.5, 0.5);
  EXPECT_EQ(codec->calls, 1);
  EXPECT_EQ(img.w, 4);
}

TEST(Scale, NearestIsExactForEveryType)
{
  for (auto t : kPixelTypes) {
    Image src = patterned(9, 7, t, 11, 0);
    Image img;
    img = src;
    nearest_scale(img, 17, 4, true);
    ASSERT_EQ(img.w, 17);
    for (int y = 0; y < 4; ++y) {
      const int sy = (int)((double)((float)6 * (float)y / 3.f) + 0.5);
      for (int x = 0; x < 17; ++x) {
        const int sx = (int)((double)((float)x * 8.f / 16.f) + 0.5);
        for (int c = 0; c < t.spp; ++c)
          ASSERT_EQ(sampleAt(img, x, y, c), sampleAt(src, sx, sy, c)) << t.spp << "x" << t.bps;
      }
    }
  }
}

// 8- and 16-bit types against the numpy reference.
TEST(Scale, BoxAndBilinearMatchNumpy)
{
  REQUIRE_TOOL(python, "python3");
  if (run(python + " -c 'import numpy'") != 0) {
    if (underCI())
      FAIL() << "numpy missing";
    GTEST_SKIP() << "numpy missing";
  }
  TempDir tmp;
  const std::string ref = sourceDir() + "/tests/image/scale_reference.py";
  const PixelType types[] = {{1, 8}, {1, 16}, {3, 8}, {3, 16}};
  struct { const char* method; int nw, nh; } cases[] = {
    {"box", 23, 17}, {"box", 10, 5}, {"bilinear", 23, 17}, {"bilinear", 120, 90}, {"bilinear", 31, 100},
  };
  // One reference run for every case: write all inputs, compare all outputs.
  std::string cmd = python + " " + ref;
  int n = 0;
  for (auto t : types)
    for (auto c : cases) {
      Image src = patterned(61, 43, t, t.spp * 100 + t.bps, 0);
      const std::string in = tmp.file("in" + std::to_string(n) + ".pnm");
      ASSERT_TRUE(writePNM(src, in));
      cmd += std::string(" ") + c.method + " " + in + " " + tmp.file("out" + std::to_string(n) + ".pnm") + " " +
             std::to_string(c.nw) + " " + std::to_string(c.nh);
      ++n;
    }
  ASSERT_EQ(run(cmd), 0) << cmd;
  n = 0;
  for (auto t : types)
    for (auto c : cases) {
      Image src = patterned(61, 43, t, t.spp * 100 + t.bps, 0);
      Image want;
      ASSERT_TRUE(readPNM(want, tmp.file("out" + std::to_string(n++) + ".pnm")));
      if (std::string(c.method) == "box")
        box_scale(src, c.nw, c.nh, true);
      else
        bilinear_scale(src, c.nw, c.nh, true);
      EXPECT_TRUE(samePixels(src, want)) << c.method << " " << t.spp << "x" << t.bps << " -> " << c.nw << "x" << c.nh;
    }
}

TEST(Scale, SubByteTypesScaleOnTheirLevels)
{
  // A 1-bit checkerboard of 2 x 2 blocks reduced by half stays exact; the
  // gray8 box helper averages levels 0 and 255.
  std::vector<int> bits;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      bits.push_back(((x / 2) + (y / 2)) & 1);
  Image img = imageFromSamples(8, 8, 1, 1, bits);
  Image copy;
  copy = img;
  box_scale(img, 0.5, 0.5);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(sampleAt(img, x, y), (x + y) & 1);

  box_scale_grayX_to_gray8(copy, 0.25, 0.25);
  EXPECT_EQ(copy.bps, 8);
  ASSERT_EQ(copy.w, 2);
  EXPECT_EQ(sampleAt(copy, 0, 0), 127);

  Image g2 = imageFromSamples(2, 1, 1, 2, {1, 3});
  box_scale_grayX_to_gray8(g2, 0.5, 1);
  EXPECT_EQ(sampleAt(g2, 0, 0), (85 + 255) / 2);
}

TEST(Scale, DdtKeepsFlatAreasAndEdges)
{
  for (auto t : kPixelTypes) {
    Image img = makeImage(6, 6, t.spp, t.bps);
    const int max = (1 << t.bps) - 1;
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 6; ++x)
        for (int c = 0; c < t.spp; ++c)
          setSampleAt(img, x, y, c, x < 3 ? 0 : max);
    ddt_scale(img, 2, 2);
    ASSERT_EQ(img.w, 12);
    // The triangle weights truncate on the scale 256, so a flat area may
    // lose up to one 256th of the range.
    for (int y = 0; y < 12; ++y) {
      EXPECT_EQ(sampleAt(img, 0, y), 0) << t.spp << "x" << t.bps;
      EXPECT_GE(sampleAt(img, 11, y), max - (max + 255) / 256) << t.spp << "x" << t.bps;
    }
  }
  Image tiny = imageFromBytes(1, 1, 1, {99});
  ddt_scale(tiny, 3, 3); // below 2 x 2: bilinear
  ASSERT_EQ(tiny.w, 3);
  EXPECT_EQ(sampleAt(tiny, 2, 2), 99);
}

TEST(Scale, BicubicInterpolatesSmoothRamps)
{
  std::vector<int> ramp;
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x)
      ramp.push_back(x * 30);
  Image img = imageFromSamples(8, 4, 1, 8, ramp);
  bicubic_scale(img, 15, 4, true);
  // Linear data stays linear away from the replicated borders.
  for (int x = 2; x < 13; ++x)
    EXPECT_NEAR(sampleAt(img, x, 1), x * 15, 1) << x;
  EXPECT_EQ(sampleAt(img, 0, 1), 0);
  EXPECT_EQ(sampleAt(img, 14, 1), 210);
}

// Which way each pixel type goes through a thumbnail reduction, checked
// against doing the named steps by hand.
TEST(Scale, ThumbnailReducesThroughEightBitTypes)
{
  struct Case { int spp, bps, outSpp; const char* via; };
  const Case cases[] = {
    {1, 1, 1, nullptr}, {1, 2, 1, nullptr}, {1, 4, 1, nullptr}, {1, 8, 1, nullptr},
    {1, 16, 1, "gray"}, {3, 8, 3, ""}, {4, 8, 3, "rgb"}, {3, 16, 3, "rgb"},
  };
  for (const Case& c : cases) {
    const std::string what = std::to_string(c.spp) + "x" + std::to_string(c.bps);
    Image src = patterned(13, 9, {c.spp, c.bps}, 3, 0);
    Image img, ref;
    img = src;
    ref = src;
    thumbnail_scale(img, 0.5, 0.25);
    if (!c.via) {
      box_scale_grayX_to_gray8(ref, 0.5, 0.25);
    } else {
      if (*c.via) {
        ASSERT_TRUE(colorspace_by_name(ref, c.via, 127));
      }
      box_scale(ref, 0.5, 0.25);
    }
    EXPECT_EQ(img.w, 6) << what;
    EXPECT_EQ(img.h, 2) << what;
    EXPECT_EQ(img.spp, c.outSpp) << what;
    EXPECT_EQ(img.bps, 8) << what;
    EXPECT_TRUE(samePixels(img, ref)) << what;
  }
}

TEST(Scale, ThumbnailLeavesEnlargementToScale)
{
  // An enlargement factor in x or y, or a fixed width above one pixel.
  struct Case { double sx, sy; bool fixed; };
  const Case cases[] = {{2, 0.5, false}, {0.5, 2, false}, {20, 3, true}};
  for (const Case& c : cases) {
    Image src = patterned(10, 6, {1, 16}, 9, 0);
    Image img, ref;
    img = src;
    ref = src;
    thumbnail_scale(img, c.sx, c.sy, c.fixed);
    scale(ref, c.sx, c.sy, c.fixed);
    EXPECT_EQ(img.bps, 16); // no conversion on this road
    EXPECT_TRUE(samePixels(img, ref)) << c.sx << " " << c.sy;
  }
}

TEST(Scale, ThumbnailOffersTheCodecAndRefusesBadSizes)
{
  Image img = patterned(8, 8, {3, 16}, 5, 0);
  auto* codec = new ScaleHookCodec();
  img.setCodec(codec);
  thumbnail_scale(img, 0.5, 0.5);
  EXPECT_EQ(codec->calls, 1);
  EXPECT_EQ(img.bps, 16);

  img.setRawData();
  testing::internal::CaptureStderr();
  thumbnail_scale(img, std::nan(""), 0.5);
  thumbnail_scale(img, 0.5, -1);
  EXPECT_FALSE(testing::internal::GetCapturedStderr().empty());
  EXPECT_EQ(img.w, 8);
  EXPECT_EQ(img.bps, 16); // refused before any conversion

  thumbnail_scale(img, 1, 1);
  EXPECT_EQ(img.bps, 16);

  Image none;
  none.spp = 4;
  none.bps = 8;
  thumbnail_scale(none, 0.5, 0.5);
  EXPECT_EQ(none.data, nullptr);
}
