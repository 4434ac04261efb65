#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "image/Flip.hh"
#include "image/Rotate.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;

namespace rotate_detail {
void rotateGeneral(Image& image, double angle, const Image::iterator& background);
}

namespace {


// b(x, y) == a(map(x, y)) for every pixel and channel of b.
template <typename Map>
bool permuted(const Image& a, const Image& b, Map map)
{
  for (int y = 0; y < b.h; ++y)
    for (int x = 0; x < b.w; ++x) {
      int sx, sy;
      map(x, y, sx, sy);
      for (int c = 0; c < b.spp; ++c)
        if (sampleAt(b, x, y, c) != sampleAt(a, sx, sy, c))
          return false;
    }
  return true;
}

// Sample on the 8-bit scale for sub-byte types, raw otherwise.
int level(const Image& im, int x, int y, int c)
{
  const int v = sampleAt(im, x, y, c);
  return im.bps < 8 ? v * 255 / ((1 << im.bps) - 1) : v;
}
int stored(const Image& im, int v)
{
  return im.bps < 8 ? v >> (8 - im.bps) : v;
}

struct RotateCodec : testsupport::TestCodec {
  double angle = -1;
  bool rotate(Image&, double a) override { angle = a; return true; }
};

} // namespace

TEST(Rotate, QuarterAndHalfTurnsArePermutations)
{
  for (const PixelType& t : kPixelTypes) {
    SCOPED_TRACE(typeName(t));
    const int w = 13, h = 6;
    const Image src = patterned(w, h, t, 5);

    Image cw = patterned(w, h, t, 5);
    cw.setResolution(300, 200);
    Image::iterator bg(&cw, false);
    rotate(cw, 90, bg);
    ASSERT_EQ(cw.w, h);
    ASSERT_EQ(cw.h, w);
    EXPECT_EQ(cw.resX, 200);
    EXPECT_EQ(cw.resY, 300);
    EXPECT_TRUE(permuted(src, cw, [&](int x, int y, int& sx, int& sy) { sx = y; sy = h - 1 - x; }));

    for (double a : {270.0, -90.0}) {
      Image ccw = patterned(w, h, t, 5);
      rotate(ccw, a, bg);
      EXPECT_TRUE(permuted(src, ccw, [&](int x, int y, int& sx, int& sy) { sx = w - 1 - y; sy = x; }))
        << a;
    }

    Image half = patterned(w, h, t, 5);
    rotate(half, 180, bg);
    EXPECT_TRUE(permuted(src, half, [&](int x, int y, int& sx, int& sy) { sx = w - 1 - x; sy = h - 1 - y; }));
    Image flipped = patterned(w, h, t, 5);
    flipX(flipped);
    flipY(flipped);
    EXPECT_TRUE(samePixels(half, flipped));

    Image full = patterned(w, h, t, 5);
    full.pixelsDirty = false;
    rotate(full, 360, bg);
    rotate(full, -720, bg);
    EXPECT_FALSE(full.pixelsDirty);
    EXPECT_TRUE(samePixels(full, src));
  }
}

TEST(Rotate, ArbitraryAnglesFollowTheMappingAndTheBackground)
{
  for (const PixelType& t : kPixelTypes) {
    SCOPED_TRACE(typeName(t));
    const int w = 31, h = 20;
    const Image src = patterned(w, h, t, 9);
    Image im = patterned(w, h, t, 9);
    // Background: a colour on an RGB8 image; gray types take its luminance.
    Image colour = makeImage(1, 1, 3, 8);
    colour.data[0] = 200; colour.data[1] = 40; colour.data[2] = 90;
    Image::iterator bg(&colour, false);
    *bg;
    const double angle = 33.0;
    rotate(im, angle, bg);
    ASSERT_EQ(im.w, w);
    ASSERT_EQ(im.h, h);
    EXPECT_EQ(im.rowStride, 0u);

    const double r = angle / 180.0 * 3.141592653589793;
    const float c = (float)cos(r), s = (float)sin(r);
    const int cx = w / 2, cy = h / 2;
    int inside = 0, outside = 0;
    for (int y = 0; y < h; y += 3)
      for (int x = 0; x < w; x += 2) {
        const float sx = (float)(x - cx) * c + (float)(y - cy) * s + (float)cx;
        const float sy = -(float)(x - cx) * s + (float)(y - cy) * c + (float)cy;
        for (int ch = 0; ch < t.spp; ++ch) {
          int want;
          if (sx >= 0 && sy >= 0 && sx < w && sy < h) {
            const int x0 = (int)std::floor(sx), y0 = (int)std::floor(sy);
            const int x1 = std::min(x0 + 1, w - 1), y1 = std::min(y0 + 1, h - 1);
            const int64_t fx = (int64_t)((sx - x0) * 256), fy = (int64_t)((sy - y0) * 256);
            const int64_t v = (level(src, x0, y0, ch) * (256 - fx) * (256 - fy) +
                               level(src, x1, y0, ch) * fx * (256 - fy) +
                               level(src, x0, y1, ch) * (256 - fx) * fy +
                               level(src, x1, y1, ch) * fx * fy) / 65536;
            want = stored(im, (int)v);
            ++inside;
          } else {
            const int max = t.bps == 16 ? 65535 : 255;
            const int rgb[4] = {200 * max / 255, 40 * max / 255, 90 * max / 255, 255};
            if (t.spp == 1) {
              const int l = (int)(0.21267 * 200 + 0.71516 * 40 + 0.07217 * 90);
              want = t.bps == 16 ? l * 257 : stored(im, l);
            } else {
              want = rgb[ch];
            }
            ++outside;
          }
          ASSERT_EQ(sampleAt(im, x, y, ch), want) << "at " << x << "," << y << " ch " << ch;
        }
      }
    EXPECT_GT(inside, 0);
    EXPECT_GT(outside, 0);
  }
}

TEST(Rotate, FastPathsMatchTheIteratorBodies)
{
  for (const PixelType& t : {PixelType{1, 8}, PixelType{3, 8}, PixelType{4, 8}})
    for (double a : {3.5, 33.0, 181.0, 271.25, -12.0}) {
      Image fast = patterned(67, 41, t, 13);
      Image general = patterned(67, 41, t, 13);
      Image colour = imageFromBytes(1, 1, 4, {10, 220, 30, 128});
      Image::iterator bg(&colour, false);
      *bg;
      rotate(fast, a, bg);
      rotate_detail::rotateGeneral(general, a, bg);
      EXPECT_TRUE(samePixels(fast, general)) << t.spp << " " << a;
    }
}

TEST(Rotate, CodecIsOfferedTheNormalisedAngle)
{
  Image im = imageFromBytes(2, 2, 1, {1, 2, 3, 4});
  RotateCodec* codec = new RotateCodec;
  im.setCodec(codec);
  Image::iterator bg(&im, false);
  rotate(im, -30, bg);
  EXPECT_EQ(codec->angle, 330);
  EXPECT_FALSE(im.pixelsDirty);
  EXPECT_EQ(sampleAt(im, 0, 0), 1);

  testing::internal::CaptureStderr();
  rotate(im, NAN, bg);
  EXPECT_NE(testing::internal::GetCapturedStderr(), "");
  EXPECT_FALSE(im.pixelsDirty);
}

TEST(Rotate, CopyCropRotate)
{
  for (const PixelType& t : kPixelTypes) {
    SCOPED_TRACE(typeName(t));
    Image src = patterned(17, 11, t, 5);
    Image white = makeImage(1, 1, 1, 8);
    white.data[0] = 255;
    Image::iterator bg(&white, false);
    *bg;

    // Angle 0, window inside: an unchanged copy of the window.
    std::unique_ptr<Image> win(copy_crop_rotate(src, 3, 2, 9, 5, 0, bg));
    ASSERT_TRUE(win);
    ASSERT_EQ(win->w, 9);
    ASSERT_EQ(win->h, 5);
    EXPECT_EQ(win->spp, t.spp);
    EXPECT_EQ(win->bps, t.bps);
    EXPECT_TRUE(permuted(src, *win, [](int x, int y, int& sx, int& sy) { sx = x + 3; sy = y + 2; }));

    std::unique_ptr<Image> nn(copy_crop_rotate_nn(src, 3, 2, 9, 5, 0, bg));
    EXPECT_TRUE(samePixels(*nn, *win));

    // Reaching past the source: background there.
    std::unique_ptr<Image> past(copy_crop_rotate(src, 12, 8, 8, 4, 0, bg));
    const int white16 = t.bps == 16 ? 65535 : (t.bps < 8 ? (1 << t.bps) - 1 : 255);
    for (int c = 0; c < t.spp; ++c) {
      EXPECT_EQ(sampleAt(*past, 7, 3, c), t.spp == 4 && c == 3 ? 255 : white16);
      EXPECT_EQ(sampleAt(*past, 4, 2, c), sampleAt(src, 16, 10, c));
    }

    // A quarter turn: target rows run down the source's columns.
    std::unique_ptr<Image> q(copy_crop_rotate_nn(src, 4, 0, 6, 3, 270, bg));
    EXPECT_TRUE(permuted(src, *q, [](int x, int y, int& sx, int& sy) { sx = 4 - y; sy = x; }));
  }
}

TEST(Rotate, CopyCropRotateNearestReadsColumnZeroAtMinusHalf)
{
  Image src = imageFromBytes(3, 3, 1, {1, 2, 3, 4, 5, 6, 7, 8, 9});
  Image::iterator bg(&src, false);
  *bg;
  std::unique_ptr<Image> out(copy_crop_rotate_nn(src, 0, 0, 3, 3, 350, bg));
  ASSERT_TRUE(out);
  // Target (0, 2) maps to sx = 2 sin(350 deg) ~ -0.35, sy = 2 cos(350 deg)
  // ~ 1.97: truncated toward zero, that is source (0, 1).
  EXPECT_EQ(sampleAt(*out, 0, 2), 4);
}

TEST(Rotate, ExifOrientation)
{
  const PixelType t{1, 8};
  const int w = 5, h = 3;
  const Image src = patterned(w, h, t, 5);
  struct Case {
    unsigned code;
    int nw;
    void (*map)(int, int, int&, int&);
  };
  const Case cases[] = {
    {1, w, [](int x, int y, int& sx, int& sy) { sx = x; sy = y; }},
    {2, w, [](int x, int y, int& sx, int& sy) { sx = 4 - x; sy = y; }},
    {3, w, [](int x, int y, int& sx, int& sy) { sx = 4 - x; sy = 2 - y; }},
    {4, w, [](int x, int y, int& sx, int& sy) { sx = x; sy = 2 - y; }},
    {5, h, [](int x, int y, int& sx, int& sy) { sx = y; sy = x; }},
    {6, h, [](int x, int y, int& sx, int& sy) { sx = y; sy = 2 - x; }},
    {7, h, [](int x, int y, int& sx, int& sy) { sx = 4 - y; sy = 2 - x; }},
    {8, h, [](int x, int y, int& sx, int& sy) { sx = 4 - y; sy = x; }},
  };
  for (const Case& k : cases) {
    Image im = patterned(w, h, t, 5);
    exif_rotate(im, k.code);
    ASSERT_EQ(im.w, k.nw) << k.code;
    EXPECT_TRUE(permuted(src, im, k.map)) << k.code;
  }
  Image im = patterned(w, h, t, 5);
  testing::internal::CaptureStderr();
  exif_rotate(im, 9);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "unknown exif orientation: 9\n");
  EXPECT_TRUE(samePixels(im, src));
}

TEST(Rotate, EmptyImagesAndUnsupportedDepths)
{
  Image none;
  none.spp = 1;
  none.bps = 8;
  Image ref = imageFromBytes(1, 1, 1, {0});
  Image::iterator bg(&ref, false);
  rot90(none, 90);
  rotate(none, 33, bg);
  EXPECT_EQ(none.data, nullptr);
  EXPECT_EQ(copy_crop_rotate(none, 0, 0, 4, 4, 0, bg), nullptr);

  Image odd = makeImage(3, 2, 1, 12);
  testing::internal::CaptureStderr();
  rot90(odd, 90);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "rot90: unsupported depth. spp: 1, bpp:12\n");
  EXPECT_EQ(odd.w, 3);

  // Four 16-bit samples are no pixel type: no gray body runs over them.
  Image cmyk = makeImage(4, 3, 4, 16);
  fillPattern(cmyk, 2);
  const Image before = cmyk;
  testing::internal::CaptureStderr();
  rotate(cmyk, 33, bg);
  EXPECT_EQ(copy_crop_rotate(cmyk, 0, 0, 2, 2, 10, bg), nullptr);
  EXPECT_NE(testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(samePixels(cmyk, before));
}

TEST(Rotate, QuarterTurnAgreesWithImageMagick)
{
  REQUIRE_TOOL(convert, "convert");
  TempDir dir;
  for (const PixelType& t : {PixelType{1, 1}, PixelType{1, 8}, PixelType{3, 8}, PixelType{1, 16}}) {
    for (int a : {90, 270}) {
      Image im = patterned(21, 10, t, 5);
      ASSERT_TRUE(writePNM(im, dir.file("in.pnm")));
      ASSERT_EQ(run(convert + " " + dir.file("in.pnm") + " -rotate " + std::to_string(a) + " " +
                    dir.file("out.pnm")), 0);
      Image want;
      ASSERT_TRUE(readPNM(want, dir.file("out.pnm")));
      rot90(im, a);
      EXPECT_TRUE(samePixels(im, want)) << typeName(t) << " " << a;
    }
  }
}

namespace {
// Geometry far beyond any memory over a small real buffer: the operations
// must fail on the new buffer before touching the pixels.
struct Huge {
  Image im;
  uint8_t* buffer;
  Huge(int spp, int bps)
  {
    buffer = (uint8_t*)malloc(64);
    memset(buffer, 7, 64);
    im.spp = (uint8_t)spp;
    im.bps = (uint8_t)bps;
    im.data = buffer;
    im.w = 1 << 21;
    im.h = 1 << 21;
    im.pixelsDirty = false;
  }
  ~Huge() { im.w = im.h = 1; }
  void expectUnchanged(int spp, int bps)
  {
    EXPECT_EQ(im.data, buffer);
    EXPECT_EQ(im.w, 1 << 21);
    EXPECT_EQ(im.h, 1 << 21);
    EXPECT_EQ(im.spp, spp);
    EXPECT_EQ(im.bps, bps);
    EXPECT_EQ(buffer[0], 7);
    EXPECT_FALSE(im.pixelsDirty);
  }
};
} // namespace

TEST(Rotate, AllocationFailureLeavesTheImage)
{
  {
    Huge h(1, 8);
    EXPECT_THROW(rot90(h.im, 90), std::bad_alloc);
    h.expectUnchanged(1, 8);
  }
  {
    Huge h(3, 8);
    Image::iterator bg(&h.im, false);
    EXPECT_THROW(rotate(h.im, 33, bg), std::bad_alloc);
    h.expectUnchanged(3, 8);
  }
  {
    Huge h(1, 1);
    EXPECT_THROW(rotate(h.im, 90, Image::iterator(&h.im, false)), std::bad_alloc);
    h.expectUnchanged(1, 1);
  }
}
