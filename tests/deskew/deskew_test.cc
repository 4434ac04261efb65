#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "deskew/Deskew.hh"
#include "tests/support/SyntheticScan.hh"
#include "image/Colorspace.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;

namespace {

const int band = 40; // rows of bare background above and below every synthetic sheet

// The angle within 0.05 degrees; the left and top sides of the rectangle
// within 2 px of the true sheet's, the right and bottom sides within 3 px:
// an edge is where a run of differing pixels ends, and the scans towards
// the right and bottom count the half-covered pixel before the sheet too,
// so those sides sit a pixel further inside.
void expectSheet(const deskew_rect& r, const synthetic::Scan& s, const std::string& what,
                 bool checkRect = true)
{
  const synthetic::Sheet sheet;
  const synthetic::Truth t = synthetic::truth(s, sheet);
  EXPECT_NEAR(r.angle, -s.angle, 0.05) << what;
  if (!checkRect)
    return;
  EXPECT_NEAR(r.x, t.tlx, 2.0) << what;
  EXPECT_NEAR(r.y, t.tly, 2.0) << what;
  EXPECT_NEAR(r.x + r.width, t.tlx + sheet.width, 3.0) << what;
  EXPECT_NEAR(r.y + r.height, t.tly + sheet.height, 3.0) << what;
  EXPECT_NEAR(r.x_back, s.width - 1 - t.trx, 3.0) << what;
  EXPECT_NEAR(r.y_back, t.try_, 2.0) << what;
}

TEST(DeskewParameters, FindsTheSheetAtKnownAngles)
{
  for (double a : {-7.0, -4.5, -2.0, -1.0, -0.5, -0.2, -0.03, 0.0, 0.02, 0.07, 0.3, 1.5, 3.0,
                   7.0}) {
    synthetic::Scan s;
    s.angle = a;
    Image img = synthetic::make(s);
    Image before(img);
    const deskew_rect r = deskewParameters(img, band, band);
    expectSheet(r, s, "angle " + std::to_string(a));
    EXPECT_TRUE(samePixels(img, before));
  }
}

TEST(DeskewParameters, EveryPixelType)
{
  struct Case {
    const char* name;
    int spp, bps;
    const char* convert; // further conversion of the generated scan
    bool rect;           // 1-bit thresholding moves the edges by a pixel
  } cases[] = {
    {"rgb8", 3, 8, nullptr, true},  {"rgba8", 3, 8, "rgba8", true}, {"gray16", 1, 16, nullptr, true},
    {"rgb16", 3, 16, nullptr, true}, {"gray1", 1, 1, nullptr, false}, {"gray4", 1, 8, "gray4", true},
    {"gray2", 1, 8, "gray2", true},
  };
  for (const Case& c : cases) {
    for (double a : {-2.5, 0.4}) {
      synthetic::Scan s;
      s.angle = a;
      s.spp = c.spp;
      s.bps = c.bps;
      s.background = 20;
      Image img = synthetic::make(s);
      if (c.convert) {
        ASSERT_TRUE(colorspace_by_name(img, c.convert));
      }
      expectSheet(deskewParameters(img, band, band), s, std::string(c.name) + " " + std::to_string(a),
                  c.rect);
    }
  }
}

TEST(DeskewParameters, BackgroundLighterThanTheSheet)
{
  // A light scanner background, with and without the dark rim a sheet casts
  // there; the shadow walk takes the edge back to where the rim starts.
  for (int shadow : {0, 3}) {
    for (double a : {-3.0, 0.6, 5.0}) {
      synthetic::Scan s;
      s.angle = a;
      s.background = shadow ? 215 : 232;
      s.paper = 165;
      s.shadow = shadow;
      Image img = synthetic::make(s);
      const deskew_rect r = deskewParameters(img, band, band);
      expectSheet(r, s, "light background, shadow " + std::to_string(shadow), false);
      if (shadow) {
        // The rectangle takes in the rim, not more.
        EXPECT_NEAR(r.width, synthetic::Sheet().width + 2 * shadow, 4);
        EXPECT_NEAR(r.height, synthetic::Sheet().height + 2 * shadow, 4);
      }
    }
  }
}

TEST(DeskewParameters, BandsAndResolutions)
{
  synthetic::Scan s;
  s.angle = -1.2;
  Image img = synthetic::make(s);

  // No bands: the first and last columns, whole height, are the background.
  expectSheet(deskewParameters(img, 0, 0), s, "no bands");
  // One band only.
  expectSheet(deskewParameters(img, band, 0), s, "top band only");
  expectSheet(deskewParameters(img, 0, band), s, "bottom band only");

  // A negative band: no top and bottom scans, their lines fall back to the
  // band rows; the angle still comes from the sides.
  const deskew_rect r = deskewParameters(img, -1, band);
  EXPECT_NEAR(r.angle, 1.2, 0.05);
  EXPECT_EQ(r.y, -1);
  EXPECT_NEAR(r.height, s.height - band, 2);

  // Resolution 0 counts as 200 dpi; above 300 dpi the edge needs a longer
  // run of differing pixels, found further inwards; each side is then moved
  // back onto the sheet's first pixels of paper.
  for (int res : {0, 72, 301, 600}) {
    s.resolution = res;
    Image scan = synthetic::make(s);
    const deskew_rect rr = deskewParameters(scan, band, band);
    expectSheet(rr, s, "resolution " + std::to_string(res), res <= 300);
    if (res > 300) {
      EXPECT_NEAR(rr.width, synthetic::Sheet().width - 1, 1);
    }
  }
}

// A sheet turned so far that its corners reach into the bands at the top
// and bottom of the scan (and out over its border): the bands still teach
// the background beside the corners, and the angle comes from the edges in
// view.
TEST(DeskewParameters, CornersGrazingTheBandsAndTheBorder)
{
  for (double angle : {3.0, -3.0}) {
    synthetic::Scan s;
    s.height = 872;
    s.angle = angle;
    Image img = synthetic::make(s);
    const deskew_rect r = deskewParameters(img, 10, 10);
    const std::string what = "angle " + std::to_string(angle);
    EXPECT_NEAR(r.angle, -angle, 0.05) << what;
    EXPECT_NEAR(r.width, synthetic::Sheet().width, 3) << what;
  }
}

TEST(DeskewParameters, BandsThatDisagreeUseTheBottomOneOnly)
{
  // Top band at 34 or 35, bottom band and background at 120, a faint sheet
  // at 100. Bands 86 apart: the bottom band alone is the background and the
  // sheet stands out. 85 apart: both bands mix into a background of 77 with
  // a wide tolerance, and the sheet is lost.
  for (int top : {34, 35}) {
    Image img = makeImage(200, 160, 1, 8);
    for (int y = 0; y < 160; ++y)
      for (int x = 0; x < 200; ++x)
        setSampleAt(img, x, y, 0, y < 20 ? top : (x >= 40 && x < 160 && y >= 30 && y < 130) ? 100 : 120);
    const deskew_rect r = deskewParameters(img, 20, 20);
    if (top == 34) {
      // Low contrast: the pixels averaged across the edge fall below the
      // tolerance 2 or 3 px inside; each side is moved back onto the
      // sheet's first column of paper (40 and 159).
      EXPECT_EQ(r.x, 40);
      EXPECT_NEAR(r.width, 119, 1);
    } else {
      EXPECT_EQ(r.x, 0);
      EXPECT_EQ(r.angle, 0);
    }
  }
}

TEST(DeskewParameters, TooFewLinesGiveTheWholeImage)
{
  synthetic::Scan s;
  s.angle = 2;
  Image img = synthetic::make(s);
  const int cases[][2] = {{s.height, 0}, {0, s.height}, {600, 440}, {-5, s.height + 3},
                          {s.height + 3, -5}, {INT_MAX, INT_MAX}};
  for (auto c : cases) {
    testing::internal::CaptureStderr();
    const deskew_rect r = deskewParameters(img, c[0], c[1]);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Not enough lines to deskew\n");
    EXPECT_EQ(r.x, 0);
    EXPECT_EQ(r.y, 0);
    EXPECT_EQ(r.width, s.width);
    EXPECT_EQ(r.height, s.height);
    EXPECT_EQ(r.x_back, 0);
    EXPECT_EQ(r.y_back, 0);
    EXPECT_EQ(r.angle, 0);
  }
}

TEST(DeskewParameters, TinyAndEmptyImages)
{
  // Nothing to find, nothing to read outside: every size gives a rectangle
  // inside the image's frame and no crash.
  const int sizes[][2] = {{1, 1}, {2, 2}, {3, 1}, {1, 9}, {5, 5}, {9, 4}, {16, 16}, {40, 3}};
  for (auto sz : sizes) {
    for (int bands : {0, 1}) {
      Image img = makeImage(sz[0], sz[1], 1, 8);
      fillPattern(img, 3);
      testing::internal::CaptureStderr();
      const deskew_rect r = deskewParameters(img, bands, bands);
      testing::internal::GetCapturedStderr();
      EXPECT_TRUE(std::isfinite(r.angle));
      EXPECT_LE(r.width, sz[0] + 1);
      EXPECT_LE(r.height, sz[1] + 1);
    }
  }
  Image none;
  const deskew_rect r = deskewParameters(none, 1, 1);
  EXPECT_EQ(r.width, 0);
  EXPECT_EQ(r.angle, 0);
}

TEST(DeskewParameters, ShadowWalkStopsAtTheRowStart)
{
  // Light background, a dark object against the left border: the right
  // scan meets it at column 3 and walks left towards column 0, where the
  // walk must stop rather than read before the row.
  Image img = makeImage(64, 48, 1, 8);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x)
      setSampleAt(img, x, y, 0, (x < 5 && y >= 8 && y < 40) ? 20 : 200);
  const deskew_rect r = deskewParameters(img, 4, 4);
  EXPECT_TRUE(std::isfinite(r.angle));
}

TEST(DeskewParameters, NoSheetWithoutABackground)
{
  // A page with print and no scanner background (the bands show paper), a
  // sheet on a background as light as its paper, and a band with print in
  // it while the other band is missing: no sheet, the whole image.
  struct Case {
    const char* what;
    int background, top, bottom;
  } cases[] = {{"paper everywhere", 238, band, band}, {"white background", 250, band, band},
               {"print in the only band", 30, 300, 0}};
  for (const Case& c : cases) {
    for (double a : {0.0, 1.5}) {
      synthetic::Scan s;
      s.angle = a;
      s.background = c.background;
      s.width = 600;
      s.height = 850; // the sheet fills the scan
      if (c.top == 300) {
        s.width = 800;
        s.height = 1040;
      }
      Image img = synthetic::make(s);
      const deskew_rect r = deskewParameters(img, c.top, c.bottom);
      EXPECT_EQ(r.x, 0) << c.what << " " << a;
      EXPECT_EQ(r.y, 0) << c.what << " " << a;
      EXPECT_EQ(r.width, s.width) << c.what << " " << a;
      EXPECT_EQ(r.height, s.height) << c.what << " " << a;
      EXPECT_EQ(r.angle, 0) << c.what << " " << a;
    }
  }
}

TEST(Deskew, SheetRunningOffTheScanKeepsAllOfIt)
{
  // The sheet runs off the bottom, or the bottom and right: its angle comes
  // from the edges in view, the cut follows them and the scan's border, and
  // what the turn brings in from beyond the scan is white.
  const synthetic::Sheet sheet;
  for (bool right : {false, true}) {
    for (double a : {0.0, 1.5, -2.0}) {
      synthetic::Scan s;
      s.angle = a;
      s.cy = s.height / 2.0 + 150;
      if (right)
        s.cx = s.width / 2.0 + 150;
      const std::string what = std::string(right ? "bottom-right " : "bottom ") + std::to_string(a);
      Image img = synthetic::make(s);
      const deskew_rect r = deskewParameters(img, band, band);
      EXPECT_NEAR(r.angle, -a, 0.05) << what;
      ASSERT_TRUE(deskew(img, band, band)) << what;
      // everything of the sheet that was in the scan
      const double visibleW = right ? s.width - (s.cx - sheet.width / 2.0) : sheet.width;
      const double visibleH = s.height - (s.cy - sheet.height / 2.0);
      EXPECT_GE(img.w, visibleW - 4) << what;
      EXPECT_LE(img.w, sheet.width + 2) << what;
      EXPECT_GE(img.h, visibleH - 4) << what;
      // no background at any edge
      auto darkShare = [&](bool row, int i) {
        int dark = 0, n = row ? img.w : img.h;
        for (int k = 0; k < n; ++k)
          dark += (row ? sampleAt(img, k, i) : sampleAt(img, i, k)) < 110;
        return (double)dark / n;
      };
      for (int i = 0; i < 2; ++i) {
        EXPECT_LT(darkShare(true, i ? img.h - 4 : 3), 0.05) << what;
        EXPECT_LT(darkShare(false, i ? img.w - 4 : 3), 0.05) << what;
      }
    }
  }
}

// Row of the first dark pixel from the top in column x, or -1.
int firstDarkRow(const Image& img, int x)
{
  for (int y = 0; y < img.h; ++y)
    if (sampleAt(img, x, y) < 110)
      return y;
  return -1;
}
int firstDarkColumn(const Image& img, int y)
{
  for (int x = 0; x < img.w; ++x)
    if (sampleAt(img, x, y) < 110)
      return x;
  return -1;
}

TEST(Deskew, StraightensTheSheet)
{
  const synthetic::Sheet sheet;
  // Copy, shear and rotation branches, both turning directions, gray and
  // colour.
  for (int spp : {1, 3}) {
    for (double a : {-7.0, -2.0, -0.08, 0.03, 0.5, 3.0, 7.0}) {
      synthetic::Scan s;
      s.angle = a;
      s.spp = spp;
      Image img = synthetic::make(s);
      ASSERT_TRUE(deskew(img, band, band));
      const std::string what = std::to_string(spp) + " spp, angle " + std::to_string(a);
      ASSERT_NEAR(img.w, sheet.width, 4) << what;
      ASSERT_NEAR(img.h, sheet.height, 4) << what;
      EXPECT_EQ(img.spp, spp);
      EXPECT_EQ(img.rowStride, 0u);

      // The rule along the top of the text and the rule down its left are
      // level and plumb: the same row (column) at both ends.
      const int r1 = firstDarkRow(img, 180), r2 = firstDarkRow(img, 420);
      const int c1 = firstDarkColumn(img, 255), c2 = firstDarkColumn(img, 595);
      EXPECT_NEAR(r1, sheet.marginY, 3) << what;
      EXPECT_LE(std::abs(r1 - r2), 1) << what;
      EXPECT_NEAR(c1, sheet.marginX, 3) << what;
      EXPECT_LE(std::abs(c1 - c2), 1) << what;

      // No scanner background left along the borders.
      int dark = 0;
      for (int x = 0; x < img.w; ++x)
        dark += (sampleAt(img, x, 0) < 110) + (sampleAt(img, x, img.h - 1) < 110);
      for (int y = 0; y < img.h; ++y)
        dark += (sampleAt(img, 0, y) < 110) + (sampleAt(img, img.w - 1, y) < 110);
      EXPECT_LT(dark, 8) << what;
    }
  }
}

TEST(Deskew, FailuresKeepTheImage)
{
  Image none;
  EXPECT_FALSE(deskew(none, 10, 10));

  // Too few lines: the defaults are the whole image at angle 0, which comes
  // back as an identical copy.
  Image img = makeImage(30, 20, 1, 8);
  fillPattern(img, 5);
  Image before(img);
  testing::internal::CaptureStderr();
  EXPECT_TRUE(deskew(img, 15, 15));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Not enough lines to deskew\n");
  EXPECT_TRUE(samePixels(img, before));
}

} // namespace
