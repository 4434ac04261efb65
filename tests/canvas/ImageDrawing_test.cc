#include "canvas/ImageDrawing.hh"

#include <gtest/gtest.h>

#include "canvas/ImageRenderer.hh"
#include "tests/support/TestSupport.hh"

using testsupport::imageFromSamples;
using testsupport::pixelAt;
using testsupport::sampleAt;

namespace {

const ImageColor kBlack = {0, 0, 0, 1};

XPath square(double x1, double y1, double x2, double y2)
{
  XPath p;
  p.rect(x1, y1, x2, y2);
  return p;
}

} // namespace

TEST(ImageRenderer, HalfCoverIntoRgba8)
{
  // k = ((127 + 1) * 255) >> 8 = 127; each channel moves by k/256, alpha
  // rises by k - (alpha k + 255) / 256.
  Image img = imageFromSamples(2, 1, 4, 8, {0, 0, 255, 100, 0, 0, 255, 100});
  renderer_norvel_image ren(img);
  const agg::int8u covers[2] = {127, 255};
  ren.blend_solid_hspan(0, 0, 2, agg::rgba8(255, 0, 0, 255), covers);
  EXPECT_EQ(pixelAt(img, 0, 0), (std::vector<int>{126, 0, 128, 177}));
  EXPECT_EQ(pixelAt(img, 1, 0), (std::vector<int>{255, 0, 0, 255}));
}

TEST(ImageRenderer, SpansAreClippedExactly)
{
  Image img = imageFromSamples(4, 2, 1, 8, {0, 0, 0, 0, 0, 0, 0, 0});
  renderer_norvel_image ren(img, agg::rect_i(1, 0, 2, 0));
  const agg::int8u covers[6] = {10, 20, 30, 40, 50, 60};
  // Starts two left of x1: the first two covers are dropped.
  ren.blend_solid_hspan(-1, 0, 6, agg::rgba8(255, 255, 255, 255), covers);
  EXPECT_EQ(sampleAt(img, 0, 0), 0);
  EXPECT_EQ(sampleAt(img, 1, 0), (255 * ((30 + 1) * 255 >> 8)) >> 8);
  EXPECT_EQ(sampleAt(img, 2, 0), (255 * ((40 + 1) * 255 >> 8)) >> 8);
  EXPECT_EQ(sampleAt(img, 3, 0), 0);
  ren.blend_hline(5, 0, -5, agg::rgba8(255, 255, 255, 255), 255); // reversed ends
  EXPECT_EQ(sampleAt(img, 1, 0), 255);
  EXPECT_EQ(sampleAt(img, 3, 0), 0);
  ren.blend_hline(0, 1, 3, agg::rgba8(255, 255, 255, 255), 255); // row outside
  EXPECT_EQ(sampleAt(img, 1, 1), 0);
  const agg::rgba8 colors[3] = {{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}};
  ren.blend_color_hspan(2, 0, 3, colors, nullptr, 255);
  EXPECT_EQ(sampleAt(img, 2, 0), (int)(0.21267 * 255));
  EXPECT_EQ(sampleAt(img, 3, 0), 0);
}

TEST(ImageDrawing, FillIntoEveryPixelType)
{
  // A 4x2 square with its right half covering x = 2.5: column 2 half
  // covered. Mid-gray (0.5 -> 128) over white.
  struct Case {
    int spp, bps;
    int full, half; // sample 0 after the fill
  } cases[] = {
    {1, 1, 1, 1}, // 128 and 191 keep the top bit
    {1, 2, 2, 2},
    {1, 4, 8, 11},
    {1, 8, 128, 191},
    {1, 16, 128 * 257, 49151},
    {3, 8, 128, 191},
    {4, 8, 128, 191},
    {3, 16, 128 * 257, 49151},
  };
  // Half cover is 128: k = (129 * 255) >> 8 = 128; in 8 bits
  // (255 * 256 + (128 - 255) * 128) >> 8 = 191; in 16 bits
  // (65535 * 256 + (32896 - 65535) * 128) >> 8 = 49215.
  for (Case& c : cases) {
    if (c.bps == 16)
      c.half = (65535 * 256 + (32896 - 65535) * 128) >> 8;
    const int white = c.bps == 16 ? 65535 : (1 << c.bps) - 1;
    Image img = imageFromSamples(4, 1, c.spp, c.bps, std::vector<int>(4 * c.spp, white));
    if (c.spp == 4)
      for (int x = 0; x < 4; ++x)
        testsupport::setSampleAt(img, x, 0, 3, 0);
    XPath p = square(0, 0, 2.5, 1);
    imageFillPath(img, p, Transform(), {0.5, 0.5, 0.5, 1});
    SCOPED_TRACE(testsupport::typeName({c.spp, c.bps}));
    EXPECT_EQ(sampleAt(img, 1, 0), c.full);
    EXPECT_EQ(sampleAt(img, 2, 0), c.half);
    EXPECT_EQ(sampleAt(img, 3, 0), white);
    if (c.spp == 4) {
      EXPECT_EQ(sampleAt(img, 1, 0, 3), 255);
      EXPECT_EQ(sampleAt(img, 2, 0, 3), 128);
    }
  }
}

TEST(ImageDrawing, OneBitTargetBlackFill)
{
  Image img = imageFromSamples(10, 3, 1, 1, std::vector<int>(30, 1));
  XPath p = square(2, 0, 7, 3);
  imageFillPath(img, p, Transform(), kBlack);
  for (int x = 0; x < 10; ++x)
    EXPECT_EQ(sampleAt(img, x, 1), x >= 2 && x < 7 ? 0 : 1) << x;
}

TEST(ImageDrawing, ColourComponentsClamp)
{
  Image img = imageFromSamples(2, 1, 3, 8, std::vector<int>(6, 0));
  XPath p = square(0, 0, 2, 1);
  imageFillPath(img, p, Transform(), {1.5, -0.2, 1.0, 7});
  EXPECT_EQ(pixelAt(img, 0, 0), (std::vector<int>{255, 0, 255}));
}

TEST(ImageDrawing, StrokeAndTransform)
{
  Image img = imageFromSamples(10, 10, 1, 8, std::vector<int>(100, 255));
  XPath p;
  p.moveTo(0, 2.5);
  p.lineTo(4, 2.5);
  Transform t;
  t.scale(2, 2); // width 1 becomes 2 pixels: rows 4 and 5
  imageStrokePath(img, p, t, kBlack, 1.0);
  for (int y = 0; y < 10; ++y)
    EXPECT_EQ(sampleAt(img, 3, y), y == 4 || y == 5 ? 0 : 255) << y;
  EXPECT_EQ(sampleAt(img, 9, 4), 255);
}

TEST(ImageDrawing, NonFiniteCoordinatesAreSkipped)
{
  // The bad vertex is skipped; the rest still fills as a closed shape and
  // nothing streaks to the row ends.
  Image img = imageFromSamples(10, 4, 1, 8, std::vector<int>(40, 255));
  XPath p;
  p.moveTo(2, 0);
  p.lineTo(6, 0);
  p.lineTo(NAN, 2);
  p.lineTo(6, 4);
  p.lineTo(1e300, 4);
  p.lineTo(2, 4);
  p.close();
  imageFillPath(img, p, Transform(), kBlack);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 10; ++x)
      EXPECT_EQ(sampleAt(img, x, y), x >= 2 && x < 6 ? 0 : 255) << x << "," << y;
}

TEST(ImageDrawing, EmptyOrOddImagesAreLeftAlone)
{
  Image empty;
  XPath p = square(0, 0, 5, 5);
  imageFillPath(empty, p, Transform(), kBlack);
  EXPECT_EQ(empty.getRawData(), nullptr);
  Image two = testsupport::makeImage(2, 2, 2, 8);
  const std::vector<int> before = testsupport::samplesOf(two);
  imageFillPath(two, p, Transform(), kBlack);
  EXPECT_EQ(testsupport::samplesOf(two), before);
}

TEST(ImagePattern, GrayPatternsExpandToFullLevels)
{
  struct Case {
    int bps;
    std::vector<int> samples, expect;
  } cases[] = {
    {1, {0, 1, 1, 0}, {0, 255, 255, 0}},
    {2, {0, 1, 2, 3}, {0, 85, 170, 255}},
    {4, {7, 15, 0, 1}, {119, 255, 0, 17}},
    {8, {7, 15, 0, 200}, {7, 15, 0, 200}},
    // 16-bit samples give their high byte.
    {16, {0x1234, 0xFF00, 0x00FF, 0x8080}, {0x12, 0xFF, 0x00, 0x80}},
  };
  for (const Case& c : cases) {
    Image pattern = imageFromSamples(4, 1, 1, c.bps, c.samples);
    Image img = imageFromSamples(4, 1, 4, 8, std::vector<int>(16, 9));
    XPath p = square(0, 0, 4, 1);
    imageFillPathImage(img, p, Transform(), pattern, 1.0, nullptr, true);
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(pixelAt(img, x, 0), (std::vector<int>{c.expect[x], c.expect[x], c.expect[x], 255}))
          << c.bps << " at " << x;
  }
}

TEST(ImagePattern, PatternAlphaAndPixelAlpha)
{
  // RGB pattern at alpha 0.5: a = 127, so every pattern pixel has alpha 127;
  // RGBA pixel alpha 200 at a = 127: 99. Onto transparent black a full
  // cover blends with k = ((255 + 1) * alpha) >> 8 = alpha.
  Image rgb = imageFromSamples(1, 1, 3, 8, {200, 100, 50});
  Image rgba = imageFromSamples(1, 1, 4, 8, {200, 100, 50, 200});
  struct Case {
    Image* pattern;
    double alpha;
    int k;
  } cases[] = {{&rgb, 0.5, 127}, {&rgba, 0.5, 99}, {&rgb, 1.0, 255}, {&rgba, 1.2, 200}, {&rgb, 0.0, 0}};
  for (const Case& c : cases) {
    Image img = imageFromSamples(1, 1, 4, 8, {0, 0, 0, 0});
    XPath p = square(0, 0, 1, 1);
    imageFillPathImage(img, p, Transform(), *c.pattern, c.alpha);
    const int r = c.k >= 255 ? 200 : (200 * c.k) >> 8;
    const int a = c.k >= 255 ? 255 : c.k;
    EXPECT_EQ(pixelAt(img, 0, 0), (std::vector<int>{r, c.k >= 255 ? 100 : (100 * c.k) >> 8,
                                                    c.k >= 255 ? 50 : (50 * c.k) >> 8, a}))
        << c.alpha << " spp " << (int)c.pattern->spp;
  }
}

TEST(ImagePattern, SmoothIdentitySamplesNearest)
{
  Image pattern = imageFromSamples(4, 1, 1, 8, {0, 255, 0, 255});
  Image img = imageFromSamples(4, 1, 1, 8, {9, 9, 9, 9});
  XPath p = square(0, 0, 4, 1);
  imageFillPathImage(img, p, Transform(), pattern, 1.0, nullptr, true);
  EXPECT_EQ(testsupport::samplesOf(img), (std::vector<int>{0, 255, 0, 255}));

  // Scaled by 2 with smoothing the in-between pixels blend.
  Image wide = imageFromSamples(8, 1, 1, 8, std::vector<int>(8, 9));
  XPath q = square(0, 0, 8, 1);
  Transform t;
  t.scale(2, 1);
  imageFillPathImage(wide, q, t, pattern, 1.0, &t, true);
  const std::vector<int> s = testsupport::samplesOf(wide);
  EXPECT_GT(s[1], 0);
  EXPECT_LT(s[1], 255);
}

TEST(ImagePattern, RefusesWhatItCannotRead)
{
  Image img = imageFromSamples(2, 1, 1, 8, {9, 9});
  XPath p = square(0, 0, 2, 1);
  Image noPixels;
  imageFillPathImage(img, p, Transform(), noPixels);
  Image twoSample = testsupport::makeImage(2, 1, 2, 8);
  imageFillPathImage(img, p, Transform(), twoSample);
  Transform flat;
  flat.scale(0, 1);
  Image pattern = imageFromSamples(1, 1, 1, 8, {0});
  imageFillPathImage(img, p, Transform(), pattern, 1.0, &flat);
  EXPECT_EQ(testsupport::samplesOf(img), (std::vector<int>{9, 9}));
}
