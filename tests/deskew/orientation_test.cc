#include <gtest/gtest.h>

#include <cmath>
#include <unistd.h>

#include "deskew/Orientation.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;

namespace {

const char* kFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

std::string renderer() { return sourceDir() + "/tests/deskew/render_text_page.py"; }

#define REQUIRE_RENDERER(python)                                               \
  REQUIRE_TOOL(python, "python3");                                             \
  if (access(kFont, R_OK) != 0) {                                              \
    if (underCI())                                                             \
      FAIL() << "font missing: " << kFont;                                     \
    else                                                                       \
      GTEST_SKIP() << "font missing: " << kFont;                               \
  }

Image render(const std::string& python, const TempDir& dir, int seed, int turn, double skew,
             const std::string& extra = "")
{
  const std::string out = dir.file("page.pgm");
  const std::string cmd = python + " " + renderer() + " " + out + " " + std::to_string(seed) + " " +
                          std::to_string(turn) + " " + std::to_string(skew) + " " + extra;
  Image img;
  if (run(cmd) != 0 || !readPNM(img, out))
    ADD_FAILURE() << "could not render: " << cmd;
  img.resX = img.resY = 150;
  return img;
}

} // namespace

TEST(Orientation, NamesTheTurnOfGeneratedTextPages)
{
  REQUIRE_RENDERER(python);
  TempDir dir;
  ASSERT_EQ(run(python + " " + renderer() + " --set " + dir.path()), 0);
  int right = 0, total = 0;
  std::string misses;
  for (int i = 0; i < 10; ++i)
    for (int turn : {0, 90, 180, 270}) {
      Image img;
      const std::string name = "p" + std::to_string(i) + "_" + std::to_string(turn) + ".pgm";
      ASSERT_TRUE(readPNM(img, dir.file(name)));
      img.resX = img.resY = 150;
      const int got = autoRotate2(img);
      ++total;
      if (got == turn)
        ++right;
      else
        misses += " " + name + "->" + std::to_string(got);
    }
  std::cout << "orientation: " << right << " of " << total << " pages right;" << misses << "\n";
  EXPECT_GE(right, 36) << misses;
}

TEST(Orientation, MeasuresSkewAndLeavesThePageAlone)
{
  REQUIRE_RENDERER(python);
  TempDir dir;
  Image img = render(python, dir, 7, 0, 1.5);
  Image before = img;
  float skew = NAN;
  EXPECT_EQ(autoRotate2(img, &skew), 0);
  EXPECT_NEAR(skew, 1.5, 0.4); // positive: the page needs a clockwise turn
  EXPECT_TRUE(samePixels(img, before));

  Image down = render(python, dir, 7, 180, -1.0);
  skew = NAN;
  EXPECT_EQ(autoRotate2(down, &skew), 180);

  // RGBA and 1-bit pages take the other preparations.
  Image rgba = makeImage(img.w, img.h, 4, 8, 0);
  for (int y = 0; y < img.h; ++y)
    for (int x = 0; x < img.w; ++x) {
      for (int c = 0; c < 3; ++c)
        setSampleAt(rgba, x, y, c, sampleAt(img, x, y));
      setSampleAt(rgba, x, y, 3, 255);
    }
  rgba.resX = 150;
  EXPECT_EQ(autoRotate2(rgba), 0);
  Image bw = makeImage(down.w, down.h, 1, 1, 0);
  for (int y = 0; y < down.h; ++y)
    for (int x = 0; x < down.w; ++x)
      setSampleAt(bw, x, y, 0, sampleAt(down, x, y) > 127);
  bw.resX = 150;
  EXPECT_EQ(autoRotate2(bw), 180);
}

TEST(Orientation, FewLinesLeaveTheSkewUnset)
{
  REQUIRE_RENDERER(python);
  TempDir dir;
  // One line of text makes at most a few line pieces.
  Image img = render(python, dir, 3, 0, 1.0, "900 800 22 1");
  float skew = NAN;
  autoRotate2(img, &skew);
  EXPECT_TRUE(std::isnan(skew));
}

TEST(Orientation, PagesWithoutTextGiveTheNeutralAnswer)
{
  float skew = NAN;
  Image blank = uniform(600, 800, 1, 8, 235);
  EXPECT_EQ(autoRotate2(blank, &skew), 0);
  EXPECT_TRUE(std::isnan(skew));

  // A photo: smooth shading with large dark shapes, as an RGB page.
  Image photo = makeImage(600, 800, 3, 8, 0);
  for (int y = 0; y < photo.h; ++y)
    for (int x = 0; x < photo.w; ++x) {
      const double v = 128 + 100 * std::sin(x / 37.0) * std::cos(y / 53.0) + 20 * std::sin((x + y) / 9.0);
      for (int c = 0; c < 3; ++c)
        setSampleAt(photo, x, y, c, (int)std::min(255.0, std::max(0.0, v + 10 * c)));
    }
  EXPECT_EQ(autoRotate2(photo, &skew), 0);

  Image empty;
  EXPECT_EQ(autoRotate2(empty, &skew), 0);
}

TEST(Orientation, ResolutionBoundsTheCharacterSize)
{
  // Marks 130 pixels tall: characters at 300 dpi (limit 166), too large at
  // the 200 dpi that stands in for anything below it (limit 111).
  const int w = 1600, h = 2000;
  Image page = uniform(w, h, 1, 8, 230);
  for (int line = 0; line < 6; ++line)
    for (int k = 0; k < 30; ++k) {
      const int x0 = 60 + k * 48, y0 = 100 + line * 300 + k / 3; // a slight slope
      for (int y = y0; y < y0 + 130; ++y)
        for (int x = x0; x < x0 + 12; ++x)
          setSampleAt(page, x, y, 0, 20);
      for (int y = y0 + 118; y < y0 + 130; ++y)
        for (int x = x0; x < x0 + 30; ++x)
          setSampleAt(page, x, y, 0, 20);
    }
  for (int res : {0, 150}) {
    page.resX = page.resY = res;
    float skew = NAN;
    EXPECT_EQ(autoRotate2(page, &skew), 0) << res;
    EXPECT_EQ(std::isnan(skew), res == 150) << res;
  }
}
