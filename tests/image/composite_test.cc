#include <gtest/gtest.h>

#include <climits>
#include <memory>

#include "image/Colorspace.hh"
#include "image/Composite.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;

namespace {


// Straightforward reference: every pixel of the clipped rectangle read from
// a snapshot of the source.
void referenceCopy(Image& dst, int x, int y, int w, int h, const Image& src, int sx, int sy)
{
  Image snap(const_cast<Image&>(src));
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c)
      for (int k = 0; k < dst.spp; ++k)
        setSampleAt(dst, x + c, y + r, k, sampleAt(snap, sx + c, sy + r, k));
}

TEST(Copy, MovesWithinOneImageWithoutSmearing)
{
  // Shifts in every direction, by one pixel and by more, on odd bit
  // positions for the sub-byte types.
  const int shifts[][2] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}, {3, 2}, {-4, 1}, {2, -3}};
  for (const PixelType& t : kPixelTypes) {
    for (auto s : shifts) {
      Image img = patterned(23, 11, t, 7, 4);
      Image expect(img);
      referenceCopy(expect, 4 + s[0], 4 + s[1], 13, 5, img, 4, 4);
      copy(img, 4 + s[0], 4 + s[1], 13, 5, img, 4, 4);
      EXPECT_TRUE(samePixels(img, expect)) << typeName(t) << " shift " << s[0] << "," << s[1];
    }
  }
}

TEST(Copy, ClipsNegativeOrigins)
{
  const PixelType g8{1, 8};
  Image src = patterned(20, 10, g8, 3, 0);
  {
    // x = -5: the source column moves right by 5, the width shrinks by 5.
    Image dst = makeImage(20, 10, 1, 8);
    Image expect(dst);
    copy(dst, -5, 0, 10, 4, src, 2, 1);
    referenceCopy(expect, 0, 0, 5, 4, src, 7, 1);
    EXPECT_TRUE(samePixels(dst, expect));
  }
  {
    // sx = -3: the destination column moves right by 3.
    Image dst = makeImage(20, 10, 1, 8);
    Image expect(dst);
    copy(dst, 1, 2, 10, 4, src, -3, 0);
    referenceCopy(expect, 4, 2, 7, 4, src, 0, 0);
    EXPECT_TRUE(samePixels(dst, expect));
  }
  {
    // Far edges of both images.
    Image dst = makeImage(8, 6, 1, 8);
    Image expect(dst);
    copy(dst, 5, 4, 100, 100, src, 17, 8);
    referenceCopy(expect, 5, 4, 3, 2, src, 17, 8);
    EXPECT_TRUE(samePixels(dst, expect));
  }
}

TEST(Copy, EmptyOrHostileRectanglesChangeNothing)
{
  const int cases[][6] = {
    {0, 0, 0, 5, 0, 0},        {0, 0, 5, -1, 0, 0},          {30, 0, 5, 5, 0, 0},
    {0, 0, 5, 5, 40, 0},       {-10, 0, 5, 5, 0, 0},         {INT_MAX, INT_MAX, INT_MAX, INT_MAX, 0, 0},
    {INT_MIN, 0, INT_MAX, 5, 0, 0}, {0, 0, INT_MAX, INT_MAX, INT_MIN, INT_MIN},
  };
  Image src = patterned(20, 10, {3, 8}, 3, 0);
  for (auto c : cases) {
    Image dst = patterned(10, 10, {1, 8}, 5, 0);
    Image before(dst);
    copy(dst, c[0], c[1], c[2], c[3], src, c[4], c[5]);
    // Nothing to copy: not even the conversion to the source's type.
    EXPECT_EQ(dst.spp, 1);
    EXPECT_TRUE(samePixels(dst, before));
  }
  Image none;
  none.spp = 1;
  none.bps = 8;
  Image dst = patterned(10, 10, {1, 8}, 5, 0);
  Image before(dst);
  copy(dst, 0, 0, 10, 10, none, 0, 0);
  EXPECT_TRUE(samePixels(dst, before));
}

TEST(Copy, DestinationTakesTheSourceType)
{
  Image src = imageFromBytes(2, 1, 3, {255, 0, 0, 0, 0, 255});
  Image dst = imageFromBytes(3, 1, 1, {100, 100, 100});
  copy(dst, 1, 0, 2, 1, src, 0, 0);
  ASSERT_EQ(dst.spp, 3);
  ASSERT_EQ(dst.bps, 8);
  EXPECT_EQ(sampleAt(dst, 0, 0, 0), 100);
  EXPECT_EQ(sampleAt(dst, 0, 0, 2), 100);
  EXPECT_EQ(sampleAt(dst, 1, 0, 0), 255);
  EXPECT_EQ(sampleAt(dst, 2, 0, 2), 255);
  EXPECT_EQ(sampleAt(dst, 2, 0, 0), 0);
}

TEST(Append2, AddsRowsBelow)
{
  for (const PixelType& t : kPixelTypes) {
    Image a = patterned(13, 20, t, 1, 4);
    Image b = patterned(13, 10, t, 2, 0);
    Image before(a);
    append2(a, b);
    ASSERT_EQ(a.h, 30) << typeName(t);
    ASSERT_EQ(a.w, 13);
    Image top(before), bottom(b);
    Image expect = makeImage(13, 30, t.spp, t.bps);
    referenceCopy(expect, 0, 0, 13, 20, top, 0, 0);
    referenceCopy(expect, 0, 20, 13, 10, bottom, 0, 0);
    EXPECT_TRUE(samePixels(a, expect)) << typeName(t) << ": padded rows must stay in order";
  }
}

TEST(Append2, NarrowerRowsArePaddedWhiteWiderAreCut)
{
  for (const PixelType& t : kPixelTypes) {
    const int white = t.bps == 16 ? 65535 : (1 << t.bps) - 1;
    Image a = patterned(11, 3, t, 1, 0);
    Image narrow = patterned(5, 2, t, 2, 0);
    Image wide = patterned(17, 2, t, 3, 0);
    append2(a, narrow);
    append2(a, wide);
    ASSERT_EQ(a.h, 7);
    for (int y = 3; y < 5; ++y)
      for (int x = 0; x < 11; ++x)
        for (int k = 0; k < t.spp; ++k)
          EXPECT_EQ(sampleAt(a, x, y, k), x < 5 ? sampleAt(narrow, x, y - 3, k) : white)
            << typeName(t) << " " << x << "," << y;
    for (int y = 5; y < 7; ++y)
      for (int x = 0; x < 11; ++x)
        EXPECT_EQ(sampleAt(a, x, y, 0), sampleAt(wide, x, y - 5, 0)) << typeName(t);
  }
}

TEST(Append2, ConvertsTheAppendedImage)
{
  Image a = imageFromBytes(2, 1, 1, {10, 20});
  Image b = imageFromBytes(2, 1, 3, {255, 255, 255, 0, 0, 0});
  append2(a, b);
  ASSERT_EQ(a.h, 2);
  EXPECT_EQ(a.spp, 1);
  EXPECT_EQ(b.spp, 1);
  EXPECT_EQ(sampleAt(a, 0, 1), 255);
  EXPECT_EQ(sampleAt(a, 1, 1), 0);

  Image c = imageFromBytes(2, 1, 1, {10, 20});
  append2(c, c);
  EXPECT_EQ(c.h, 2);
  EXPECT_EQ(sampleAt(c, 1, 1), 20);
}

TEST(Aside, JoinsSideBySide)
{
  for (const PixelType& t : kPixelTypes) {
    const int white = t.bps == 16 ? 65535 : (1 << t.bps) - 1;
    // Odd widths put b at a bit offset inside a byte for sub-byte types.
    Image a = patterned(5, 6, t, 1, 4);
    Image b = patterned(7, 4, t, 2, 0);
    Image before(a);
    aside(a, b);
    ASSERT_EQ(a.w, 12) << typeName(t);
    ASSERT_EQ(a.h, 6);
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 12; ++x)
        for (int k = 0; k < t.spp; ++k) {
          const int expect = x < 5 ? sampleAt(before, x, y, k)
                                   : y < 4 ? sampleAt(b, x - 5, y, k) : white;
          ASSERT_EQ(sampleAt(a, x, y, k), expect) << typeName(t) << " " << x << "," << y;
        }
  }
}

TEST(Borderfill, MirrorsAboutTheFirstInnerPixel)
{
  for (const PixelType& t : kPixelTypes) {
    Image img = patterned(10, 10, t, 9, 0);
    Image before(img);
    borderfill(img, 2, 2);
    auto mirror = [](int c, int n, int b) {
      return c < b ? 2 * b - c : c >= n - b ? 2 * (n - 1 - b) - c : c;
    };
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 10; ++x)
        ASSERT_EQ(sampleAt(img, x, y), sampleAt(before, mirror(x, 10, 2), mirror(y, 10, 2)))
          << typeName(t) << " " << x << "," << y;
    // The named pairs: column 0 from 4, 1 from 3, 9 from 5, 8 from 6.
    EXPECT_EQ(sampleAt(img, 0, 5), sampleAt(before, 4, 5));
    EXPECT_EQ(sampleAt(img, 8, 5), sampleAt(before, 6, 5));
    EXPECT_EQ(sampleAt(img, 0, 0), sampleAt(before, 4, 4));
  }
}

TEST(Borderfill, WidthsOutsideTheImageAreLimited)
{
  // Nothing to do, then widths a script might pass: negative, half the
  // size (whose mirror would leave the row) and huge.
  Image img = patterned(10, 7, {1, 8}, 4, 0);
  Image before(img);
  borderfill(img, 0, 0);
  EXPECT_TRUE(samePixels(img, before));
  borderfill(img, -3, -100);
  EXPECT_TRUE(samePixels(img, before));

  const int cases[][4] = {{5, 3, 4, 3}, {INT_MAX, INT_MAX, 4, 3}, {-1, 3, 0, 3}};
  for (auto c : cases) {
    Image a(before), b(before);
    borderfill(a, c[0], c[1]);
    borderfill(b, c[2], c[3]);
    EXPECT_TRUE(samePixels(a, b)) << c[0] << "," << c[1];
  }
  Image tiny = patterned(1, 1, {1, 8}, 4, 0);
  borderfill(tiny, 5, 5);
}

TEST(Copy2, SamplesTheQuadrilateral)
{
  // A horizontal ramp 10 per column: whole-pixel sample points give the
  // column's value, half-way points the mean of two columns.
  std::vector<int> ramp;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 20; ++x)
      ramp.push_back(x * 10);
  Image src = imageFromSamples(20, 8, 1, 8, ramp);
  Image dst = makeImage(8, 4, 1, 8);
  copy2(dst, src, 1, 1, 9, 1, 1, 5, 9, 5);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x)
      EXPECT_EQ(sampleAt(dst, x, y), (1 + x) * 10);
  Image half = makeImage(8, 2, 1, 8);
  copy2(half, src, 1, 1, 5, 1, 1, 3, 5, 3);
  EXPECT_EQ(sampleAt(half, 1, 0), 15);
}

TEST(Copy2, StaysInsideAndConvertsForeignSources)
{
  // Corners on the clamped maximum: the right and lower neighbours are the
  // last column and row themselves.
  for (const PixelType& t : kPixelTypes) {
    Image src = patterned(6, 5, t, 2, 0);
    Image dst = makeImage(4, 4, t.spp, t.bps);
    copy2(dst, src, 100, 100, 100, 100, 100, 100, 100, 100);
    for (int k = 0; k < t.spp; ++k)
      EXPECT_EQ(sampleAt(dst, 3, 3, k), sampleAt(src, 5, 4, k)) << typeName(t);
  }
  Image rgb = imageFromBytes(3, 3, 3, {200, 200, 200, 200, 200, 200, 200, 200, 200,
                                       200, 200, 200, 200, 200, 200, 200, 200, 200,
                                       200, 200, 200, 200, 200, 200, 200, 200, 200});
  Image gray = makeImage(2, 2, 1, 8);
  copy2(gray, rgb, 0, 0, 2, 0, 0, 2, 2, 2);
  EXPECT_EQ(gray.spp, 1);
  EXPECT_EQ(rgb.spp, 3);
  EXPECT_EQ(sampleAt(gray, 1, 1), 200);
}

TEST(SplitBook, KeepsLeftHalfReturnsRightHalf)
{
  for (int w : {10, 11}) {
    for (const PixelType& t : {PixelType{1, 8}, PixelType{1, 1}, PixelType{3, 16}}) {
      Image img = patterned(w, 4, t, 6, 0);
      Image before(img);
      std::unique_ptr<Image> right(splitBook(img));
      ASSERT_EQ(img.w, w / 2);
      ASSERT_EQ(right->w, w / 2);
      ASSERT_EQ(right->h, 4);
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < w / 2; ++x) {
          EXPECT_EQ(sampleAt(img, x, y), sampleAt(before, x, y)) << typeName(t);
          EXPECT_EQ(sampleAt(*right, x, y), sampleAt(before, w - w / 2 + x, y)) << typeName(t);
        }
    }
  }
  Image empty;
  std::unique_ptr<Image> none(splitBook(empty));
  EXPECT_EQ(none->w, 0);
}

} // namespace
