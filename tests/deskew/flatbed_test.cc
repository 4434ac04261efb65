// Flatbed sheet detection on generated scans: a page with text on a lid a
// little darker than the paper, a soft shadow around the page, at several
// angles and positions.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "deskew/Flatbed.hh"
#include "tests/support/SyntheticScan.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;

namespace {

struct Flatbed {
  int width = 850, height = 1170; // the glass, 100 dpi
  int spp = 1, bps = 8;
  double angle = 0;
  double cx = 425, cy = 585;      // page centre
  int lid = 212, paper = 240;
  int shadow = 40;                // darkening right at the page's edge
  double shadowWidth = 4;         // pixels for it to fall to 1/e
  int noise = 5;
  // A photo on the sheet (sheet coordinates; none when empty): dark, with
  // a gradient and flat enough inside to pass for a lid.
  double photoU0 = 0, photoV0 = 0, photoU1 = 0, photoV1 = 0;
  // A band at the lid's own level across the top of the sheet (sheet rows
  // below this; none at 0), holding a line of light marks.
  double bandV1 = 0;
};

// The sheet of SyntheticScan.hh (text and rules) laid on the lid.
Image flatbedScan(const Flatbed& f, const synthetic::Sheet& sh)
{
  Image img = makeImage(f.width, f.height, f.spp, f.bps);
  img.resX = img.resY = 100;
  const double r = f.angle * M_PI / 180, c = std::cos(r), s = std::sin(r);
  const double tint[3] = {1.0, 0.97, 0.92};
  uint32_t rnd = 99;
  for (int y = 0; y < f.height; ++y)
    for (int x = 0; x < f.width; ++x) {
      double sum = 0;
      for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i) {
          const double dx = x + (i + 0.5) / 3 - f.cx, dy = y + (j + 0.5) / 3 - f.cy;
          const double u = dx * c + dy * s + sh.width / 2.0;
          const double v = -dx * s + dy * c + sh.height / 2.0;
          if (u >= 0 && u < sh.width && v >= 0 && v < sh.height) {
            if (u >= f.photoU0 && u < f.photoU1 && v >= f.photoV0 && v < f.photoV1)
              sum += 70 + 60 * (u - f.photoU0) / (f.photoU1 - f.photoU0);
            else if (v < f.bandV1)
              sum += v >= 0.3 * f.bandV1 && v < 0.5 * f.bandV1 && u >= 40 && u < sh.width - 40 &&
                         (int)u % 12 < 8
                       ? f.paper
                       : f.lid - 6.0 * y / f.height;
            else
              sum += synthetic::inkAt(u, v, sh) ? 30 : f.paper;
          } else {
            // The page stands a little off the glass: its shadow falls
            // mostly to the right and below.
            const double ou = std::max(-u, u - sh.width + 3), ov = std::max(-v, v - sh.height + 3);
            const double d = std::max(0.0, std::max(ou, ov));
            sum += f.lid - 6.0 * y / f.height - f.shadow * std::exp(-d / f.shadowWidth);
          }
        }
      for (int ch = 0; ch < f.spp; ++ch) {
        rnd = rnd * 1664525u + 1013904223u;
        const int n = (int)(rnd >> 16) % (2 * f.noise + 1) - f.noise;
        double v = ch == 3 ? 255 : sum / 9 * (f.spp >= 3 ? tint[ch] : 1.0) + n;
        v = v < 0 ? 0 : v > 255 ? 255 : v;
        setSampleAt(img, x, y, ch, f.bps == 16 ? (int)(v * 257) : (int)v);
      }
    }
  return img;
}

// Where the sheet's corners land on the glass.
synthetic::Truth truthOf(const Flatbed& f, const synthetic::Sheet& sh)
{
  synthetic::Scan s;
  s.width = f.width;
  s.height = f.height;
  s.angle = f.angle;
  s.cx = f.cx;
  s.cy = f.cy;
  return synthetic::truth(s, sh);
}

void expectSheet(const deskew_rect& r, const Flatbed& f, const synthetic::Sheet& sh, const std::string& what)
{
  const synthetic::Truth t = truthOf(f, sh);
  EXPECT_NEAR(r.angle, -f.angle, 0.2) << what;
  EXPECT_NEAR(r.x, t.tlx, 3.0) << what;
  EXPECT_NEAR(r.y, t.tly, 3.0) << what;
  EXPECT_NEAR(r.width, sh.width, 3.0) << what;
  EXPECT_NEAR(r.height, sh.height, 3.0) << what;
  EXPECT_NEAR(r.x_back, f.width - 1 - t.trx, 3.0) << what;
  EXPECT_NEAR(r.y_back, t.try_, 3.0) << what;
}

synthetic::Sheet a5()
{
  synthetic::Sheet sh;
  sh.width = 560;
  sh.height = 790;
  sh.marginX = 60;
  sh.marginY = 70;
  return sh;
}

} // namespace

TEST(DeskewFlatbed, FindsTheSheetAtAnglesAndPositions)
{
  struct Case { double angle, cx, cy; };
  const Case cases[] = {
    {0, 425, 585}, {1.5, 400, 560}, {-3.2, 450, 600}, {6.5, 430, 590},
    {-0.4, 300, 430}, {2.7, 540, 700},
  };
  const synthetic::Sheet sh = a5();
  for (const Case& c : cases) {
    Flatbed f;
    f.angle = c.angle;
    f.cx = c.cx;
    f.cy = c.cy;
    Image img = flatbedScan(f, sh);
    Image ref;
    ref = img;
    const deskew_rect r = deskewFlatbed(img);
    expectSheet(r, f, sh, "angle " + std::to_string(c.angle) + " at " + std::to_string(c.cx));
    EXPECT_TRUE(samePixels(img, ref)); // measuring only
  }
}

TEST(DeskewFlatbed, ColourDepthsAndSharpShadows)
{
  struct Case { int spp, bps, shadow; double width; };
  const Case cases[] = {{3, 8, 40, 4}, {3, 16, 25, 2}, {1, 16, 60, 8}, {4, 8, 0, 1}};
  const synthetic::Sheet sh = a5();
  for (const Case& c : cases) {
    Flatbed f;
    f.spp = c.spp;
    f.bps = c.bps;
    f.shadow = c.shadow;
    f.shadowWidth = c.width;
    f.angle = -1.8;
    f.cx = 410;
    Image img = flatbedScan(f, sh);
    expectSheet(deskewFlatbed(img), f, sh, std::to_string(c.spp) + "x" + std::to_string(c.bps));
  }
}

TEST(DeskewFlatbed, SheetPushedIntoTheCornerKeepsTheBorders)
{
  // Top and left edges lie just off the glass: those sides are the scan's.
  const synthetic::Sheet sh = a5();
  Flatbed f;
  f.angle = 0.6;
  f.cx = sh.width / 2.0 - 6;
  f.cy = sh.height / 2.0 - 6;
  Image img = flatbedScan(f, sh);
  const deskew_rect r = deskewFlatbed(img);
  EXPECT_NEAR(r.angle, -0.6, 0.2);
  EXPECT_EQ(r.x, 0);
  EXPECT_EQ(r.y, 0);
  synthetic::Scan s;
  s.angle = f.angle;
  s.cx = f.cx;
  s.cy = f.cy;
  const synthetic::Truth t = synthetic::truth(s, sh);
  // The right side crosses the top border near trx and the bottom near the
  // lower right corner; the rectangle reaches from the border to the middle
  // of the right side.
  const double rightMid = (t.trx + t.blx + (t.trx - t.tlx)) / 2;
  EXPECT_NEAR(r.width, rightMid, 4);
}

TEST(DeskewFlatbed, NothingToFindGivesTheWholeImage)
{
  Image plain = makeImage(300, 400, 1, 8);
  for (int y = 0; y < 400; ++y)
    for (int x = 0; x < 300; ++x)
      setSampleAt(plain, x, y, 0, 210 + (x * 13 + y * 7) % 5);
  Image tiny = makeImage(5, 3, 3, 8);
  Image none;
  none.spp = 1;
  none.bps = 8;
  for (Image* img : {&plain, &tiny, &none}) {
    testing::internal::CaptureStderr();
    const deskew_rect r = deskewFlatbed(*img);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(r.x, 0);
    EXPECT_EQ(r.y, 0);
    EXPECT_EQ(r.width, img->w);
    EXPECT_EQ(r.height, img->h);
    EXPECT_EQ(r.angle, 0);
  }
}

// A sheet as tall (or as wide) as the glass shows the lid on two sides
// only: the other two are the scan's borders, also beside a photo whose
// edges look like a lid's.
TEST(DeskewFlatbed, SheetFillingTheHeightOrTheWidth)
{
  struct Case {
    const char* what;
    bool fullHeight, photo;
    double angle;
  };
  const Case cases[] = {
    {"full height", true, false, 0},     {"full height", true, false, 0.7},
    {"full height", true, false, -1.2},  {"full height, photo", true, true, 0},
    {"full height, photo", true, true, 0.9}, {"full height, photo", true, true, -0.5},
    {"full width", false, false, 0.4},   {"full width", false, false, -0.9},
    {"full width, photo", false, true, 0.6}, {"full width, photo", false, true, -1.1},
  };
  for (const Case& c : cases) {
    const std::string what = std::string(c.what) + " at " + std::to_string(c.angle);
    Flatbed f;
    f.width = 700;
    f.height = 990;
    f.cx = f.width / 2.0;
    f.cy = f.height / 2.0;
    f.angle = c.angle;
    synthetic::Sheet sh;
    sh.width = c.fullHeight ? 560 : f.width + 30;
    sh.height = c.fullHeight ? f.height + 30 : 700;
    sh.marginX = 70;
    sh.marginY = 80;
    if (c.photo) {
      // Across the top of the text, close to the sheet's side that has
      // no lid.
      f.photoU0 = 60;
      f.photoU1 = sh.width - 60;
      f.photoV0 = c.fullHeight ? 40 : 30;
      f.photoV1 = c.fullHeight ? 330 : 260;
    }
    Image img = flatbedScan(f, sh);
    testing::internal::CaptureStderr();
    const deskew_rect r = deskewFlatbed(img);
    testing::internal::GetCapturedStderr();
    const double rad = c.angle * M_PI / 180;
    EXPECT_NEAR(r.angle, -c.angle, 0.25) << what;
    if (c.fullHeight) {
      // Left and right sides meet the top and bottom borders.
      const double left = f.cx - sh.width / 2.0 / std::cos(rad);
      EXPECT_EQ(r.y, 0) << what;
      EXPECT_NEAR(r.height, f.height - 1, 3.0) << what;
      EXPECT_NEAR(r.width, sh.width, 3.0) << what;
      EXPECT_NEAR(r.x, left + f.cy * std::tan(rad), 3.0) << what;
    } else {
      const double top = f.cy - sh.height / 2.0 / std::cos(rad);
      EXPECT_EQ(r.x, 0) << what;
      EXPECT_NEAR(r.width, f.width - 1, 3.0) << what;
      EXPECT_NEAR(r.height, sh.height, 3.0) << what;
      EXPECT_NEAR(r.y, top - f.cx * std::tan(rad), 3.0) << what;
    }
  }
}

// A band at the lid's own level over the top of the sheet hides the sheet's
// top edge and the top of its sides; the line of light marks in it looks
// like a side. A cut there would drop the band and its marks: the sheet is
// either found to its true top or the page is left whole.
TEST(DeskewFlatbed, BandAtTheLidsLevelIsNeverCutOff)
{
  const synthetic::Sheet sh = a5();
  for (double angle : {0.0, 1.5, -2.0}) {
    Flatbed f;
    f.angle = angle;
    f.bandV1 = 60;
    Image img = flatbedScan(f, sh);
    const deskew_rect r = deskewFlatbed(img);
    const std::string what = "angle " + std::to_string(angle);
    if (r.width == img.w && r.height == img.h) {
      EXPECT_EQ(r.x, 0) << what;
      EXPECT_EQ(r.y, 0) << what;
      EXPECT_EQ(r.angle, 0) << what;
      continue;
    }
    const synthetic::Truth t = truthOf(f, sh);
    EXPECT_LE(r.y, std::min(t.tly, t.try_) + 3) << what;
    EXPECT_GE(r.height, sh.height - 3) << what;
  }
}
