#include <gtest/gtest.h>

#include <cmath>

#include "filters/empty_page.hh"
#include "tests/support/Pages.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;

namespace {

// Paper at about 235 with scanner noise of a few levels and some dust.
Image scannedBlank(int w, int h, uint32_t seed = 1)
{
  Image img = makeImage(w, h, 1, 8, 0);
  uint32_t s = seed;
  for (int64_t i = 0; i < (int64_t)w * h; ++i) {
    s = s * 1103515245u + 12345u;
    img.data[i] = (uint8_t)(230 + (s >> 16) % 9);
  }
  for (int k = 0; k < 12; ++k) { // dust specks of one pixel
    s = s * 1103515245u + 12345u;
    img.data[(s >> 8) % ((uint64_t)w * h)] = 150;
  }
  return img;
}

void disc(Image& img, int cx, int cy, int r, int v)
{
  for (int y = cy - r; y <= cy + r; ++y)
    for (int x = cx - r; x <= cx + r; ++x)
      if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r)
        img.data[(uint64_t)y * img.w + x] = (uint8_t)v;
}

Image bilevel(int w, int h, int black)
{
  // 1-bit, white, with `black` pixels black at the start of row 1
  Image img = uniform(w, h, 1, 1, 1);
  for (int x = 0; x < black; ++x)
    setSampleAt(img, x, 1, 0, 0);
  return img;
}

} // namespace

TEST(EmptyPage, ScannedPages)
{
  const int w = 620, h = 877; // A4 at 75 dpi
  int n = -1;

  Image blank = scannedBlank(w, h);
  EXPECT_TRUE(detect_empty_page(blank, 0.05, 16, 16, &n));
  EXPECT_LT(n, 50);

  // Punch holes in the left margin: outside the margins they do not count.
  Image holes = scannedBlank(w, h, 2);
  disc(holes, 12, 250, 9, 20);
  disc(holes, 12, 620, 9, 20);
  int inside = 0, all = 0;
  EXPECT_TRUE(detect_empty_page(holes, 0.05, 32, 32, &inside));
  detect_empty_page(holes, 0.05, 0, 0, &all);
  EXPECT_GT(all, inside + 300);

  // A page number alone is still an empty page at the usual 0.1 %.
  Image number = scannedBlank(w, h, 3);
  for (int k = 0; k < 3; ++k)
    for (int y = 830; y < 845; ++y)
      for (int x = 300 + 10 * k; x < 303 + 10 * k; ++x)
        number.data[(uint64_t)y * w + x] = 30;
  EXPECT_TRUE(detect_empty_page(number, 0.1, 16, 16, &n));
  EXPECT_GT(n, 50);

  // A page of text is not.
  Image text = pages::grayPage(w, h, pages::textStrokes(w, h));
  EXPECT_FALSE(detect_empty_page(text, 0.1, 16, 16, &n));
  EXPECT_GT(n, w * h / 100);
  EXPECT_EQ(sampleAt(text, 0, 0), pages::paperAt(0, 0, w, h)); // the caller's image is untouched
}

TEST(EmptyPage, CountsBlackBitsInsideByteMargins)
{
  struct Case {
    int marginX, marginY;
    int blackAt; // x of a black pixel in row 1
    int want;
  };
  const Case cases[] = {{0, 0, 0, 1},  {7, 0, 0, 1},  {8, 0, 0, 0}, {8, 0, 8, 1},
                        {0, 2, 0, 0},  {-5, -3, 0, 1}, // negative margins count as 0
                        {16, 0, 23, 1}, {16, 0, 24, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.marginX) + "/" + std::to_string(c.marginY) + " @" +
                 std::to_string(c.blackAt));
    Image img = bilevel(40, 4, 0);
    setSampleAt(img, c.blackAt, 1, 0, 0);
    img.pixelsDirty = false;
    int n = -1;
    detect_empty_page(img, 1.0, c.marginX, c.marginY, &n);
    EXPECT_EQ(n, c.want);
    EXPECT_FALSE(img.pixelsDirty);
  }
}

TEST(EmptyPage, ShareIsOfTheWholeImage)
{
  Image img = bilevel(100, 10, 10); // 10 of 1000 pixels: 1 %
  EXPECT_FALSE(detect_empty_page(img, 1.0, 0, 0));
  EXPECT_TRUE(detect_empty_page(img, 1.01, 0, 0));
  Image white = bilevel(100, 10, 0);
  EXPECT_TRUE(detect_empty_page(white, 1e-9, 0, 0));
  EXPECT_FALSE(detect_empty_page(white, 0.0, 0, 0));
  EXPECT_TRUE(detect_empty_page(white, 50.0, 0, 6)); // no rows left: count 0
}

TEST(EmptyPage, PaddingBitsAreNoPixels)
{
  // 2481 pixels leave 7 unused bits per row; whatever they hold, a white
  // page has no black pixels.
  Image img = bilevel(2481, 40, 0);
  const unsigned fill = img.stridefill();
  for (int y = 0; y < img.h; ++y)
    img.data[(uint64_t)y * fill + fill - 1] &= 0x80;
  int n = -1;
  EXPECT_TRUE(detect_empty_page(img, 0.01, 0, 0, &n));
  EXPECT_EQ(n, 0);

  Image gray = scannedBlank(2481, 40);
  EXPECT_TRUE(detect_empty_page(gray, 0.05, 0, 0, &n));
}

TEST(EmptyPage, OtherPixelTypesAndNoPixels)
{
  Image g4 = makeImage(30, 10, 1, 4, 0);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 30; ++x)
      setSampleAt(g4, x, y, 0, x < 3 ? 7 : 15); // 7 * 17 = 119 <= 127: black
  int n = -1;
  detect_empty_page(g4, 50.0, 0, 0, &n);
  EXPECT_EQ(n, 30);
  EXPECT_EQ(g4.bps, 4);

  Image rgb = makeImage(64, 64, 3, 8, 0);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x)
      for (int c = 0; c < 3; ++c)
        setSampleAt(rgb, x, y, c, x >= 20 && x < 30 && y >= 20 && y < 40 ? 10 : 220);
  EXPECT_FALSE(detect_empty_page(rgb, 1.0, 0, 0, &n));
  EXPECT_GE(n, 200);
  EXPECT_EQ(rgb.spp, 3);

  Image empty;
  n = -1;
  EXPECT_FALSE(detect_empty_page(empty, 1.0, 0, 0, &n));
  EXPECT_EQ(n, 0);
}
