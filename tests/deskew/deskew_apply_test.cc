#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "deskew/Deskew.hh"
#include "deskew/Shear.hh"
#include "image/Composite.hh"
#include "image/Rotate.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;

namespace {

deskew_rect rectOf(int x, int y, int w, int h, float angle, int xb = 0, int yb = 0)
{
  deskew_rect r;
  r.x = x;
  r.y = y;
  r.width = w;
  r.height = h;
  r.x_back = xb;
  r.y_back = yb;
  r.angle = angle;
  return r;
}

Image scan()
{
  Image img = makeImage(60, 40, 1, 8);
  fillPattern(img, 11);
  return img;
}

TEST(DeskewApply, BranchByAngle)
{
  Image img = scan();
  // Up to 0.05 a copy, up to 0.1 a shear, beyond a rotation; each boundary
  // belongs to the cheaper branch.
  for (float a : {0.0f, 0.05f, -0.05f}) {
    std::unique_ptr<Image> r(deskewApply(img, rectOf(5, 4, 30, 20, a), false));
    Image expect = makeImage(30, 20, 1, 8);
    copy(expect, 0, 0, 30, 20, img, 5, 4);
    EXPECT_TRUE(samePixels(*r, expect)) << a;
  }
  for (float a : {0.050001f, 0.1f, -0.1f}) {
    std::unique_ptr<Image> r(deskewApply(img, rectOf(5, 4, 30, 20, a), false));
    const double t = std::tan(a / 180.0 * 3.141592653589793);
    const int x = t > 0 ? 5 + (int)(std::fabs(t) * img.h) : 5;
    std::unique_ptr<Image> expect(copy_crop_shear(img, x, 4, 30, 20, a, 0, whiteBackground(img)));
    EXPECT_TRUE(samePixels(*r, *expect)) << a;
  }
  for (float a : {0.100001f, -2.0f, 7.0f}) {
    std::unique_ptr<Image> r(deskewApply(img, rectOf(5, 4, 30, 20, a), false));
    std::unique_ptr<Image> expect(copy_crop_rotate(img, 5, 4, 30, 20, a, whiteBackground(img)));
    EXPECT_TRUE(samePixels(*r, *expect)) << a;
  }
}

TEST(DeskewApply, BackSideUsesItsOffsetsAndTheOppositeAngle)
{
  Image img = scan();
  std::unique_ptr<Image> r(deskewApply(img, rectOf(1, 2, 30, 20, 1.5f, 9, 7), true));
  std::unique_ptr<Image> expect(copy_crop_rotate(img, 9, 7, 30, 20, -1.5, whiteBackground(img)));
  EXPECT_TRUE(samePixels(*r, *expect));
}

TEST(DeskewApply, InvalidSizeGivesACopy)
{
  Image img = scan();
  for (auto wh : {std::make_pair(0, 20), std::make_pair(30, -3)}) {
    testing::internal::CaptureStderr();
    std::unique_ptr<Image> r(deskewApply(img, rectOf(5, 4, wh.first, wh.second, 2.0f), false));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "deskew: invalid size: " + std::to_string(wh.first) + " " +
                std::to_string(wh.second) + "\n");
    ASSERT_TRUE(r);
    EXPECT_TRUE(samePixels(*r, img));
  }
}

TEST(DeskewApply, OutsideTheScanIsWhite)
{
  // The copy branch too: a rectangle reaching past every edge.
  struct Case {
    int spp, bps;
  } cases[] = {{1, 1}, {1, 8}, {1, 16}, {3, 8}, {4, 8}, {3, 16}};
  for (const Case& c : cases) {
    Image img = makeImage(10, 8, c.spp, c.bps);
    for (float a : {0.0f, 0.07f, 1.0f}) {
      std::unique_ptr<Image> r(deskewApply(img, rectOf(-3, -2, 16, 12, a), false));
      ASSERT_EQ(r->w, 16);
      ASSERT_EQ(r->h, 12);
      EXPECT_EQ(r->spp, c.spp);
      EXPECT_EQ(r->bps, c.bps);
      const int max = c.bps == 16 ? 65535 : (1 << c.bps) - 1;
      for (int k = 0; k < c.spp; ++k) {
        EXPECT_EQ(sampleAt(*r, 0, 0, k), k == 3 ? 255 : max) << c.spp << "x" << c.bps << " " << a;
        EXPECT_EQ(sampleAt(*r, 15, 11, k), k == 3 ? 255 : max) << c.spp << "x" << c.bps;
        EXPECT_EQ(sampleAt(*r, 7, 5, k), 0) << c.spp << "x" << c.bps; // inside: the black scan
      }
    }
  }
}

TEST(DeskewApply, UnhandledPixelTypeGivesNothing)
{
  Image odd;
  odd.spp = 2;
  odd.bps = 8;
  odd.resize(8, 8);
  EXPECT_EQ(deskewApply(odd, rectOf(0, 0, 4, 4, 2.0f), false), nullptr);
  EXPECT_EQ(deskewApply(odd, rectOf(0, 0, 4, 4, 0.0f), false), nullptr);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(deskew(odd, 1, 1));
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(odd.w, 8);
}

} // namespace
