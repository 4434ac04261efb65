// White balance on generated scans of tinted paper with text.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "filters/white_balance.hh"
#include "tests/support/Pages.hh"
#include "tests/support/TestSupport.hh"

using namespace testsupport;

namespace {

struct Tint { const char* name; int r, g, b; };

const int kW = 640, kH = 820;

// 1 on ink, 2 within two pixels of ink, 0 on clean paper.
std::vector<uint8_t> inkMask(const std::vector<pages::Rect>& strokes)
{
  std::vector<uint8_t> m((size_t)kW * kH, 0);
  for (int g : {2, 0})
    for (const auto& r : strokes)
      for (int y = std::max(0, r.y - g); y < std::min(kH, r.y + r.h + g); ++y)
        for (int x = std::max(0, r.x - g); x < std::min(kW, r.x + r.w + g); ++x)
          m[(size_t)y * kW + x] = g ? 2 : 1;
  return m;
}

// A page of text on paper of the given colour, with +-5 levels of noise.
Image tintedPage(const Tint& paper, int spp, int bps, const std::vector<uint8_t>& mask)
{
  const int w = kW, h = kH;
  Image img = makeImage(w, h, spp, bps);
  const int ink[3] = {35, 30, 45};
  const int base[3] = {paper.r, paper.g, paper.b};
  uint32_t s = 77;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool isInk = mask[(size_t)y * kW + x] == 1;
      for (int c = 0; c < spp; ++c) {
        s = s * 1664525u + 1013904223u;
        int v = c == 3 ? 200 : (isInk ? ink[spp == 1 ? 0 : c] : base[spp == 1 ? 1 : c]) + (int)(s >> 16) % 11 - 5;
        v = std::min(255, std::max(0, v));
        setSampleAt(img, x, y, c, bps == 16 ? v * 257 : v);
      }
    }
  return img;
}

int level(const Image& img, int x, int y, int c)
{
  const int v = sampleAt(img, x, y, c);
  return img.bps == 16 ? v / 257 : v;
}

} // namespace

TEST(AutoWhite, TintedPaperBecomesNeutralWhite)
{
  const Tint tints[] = {{"yellowish", 242, 232, 188}, {"bluish", 196, 212, 240}, {"gray", 205, 205, 205}};
  struct Type { int spp, bps; };
  const Type types[] = {{3, 8}, {4, 8}, {3, 16}, {1, 8}, {1, 16}};
  const auto mask = inkMask(pages::textStrokes(kW, kH));
  for (const Tint& t : tints)
    for (const Type& ty : types) {
      const std::string what = std::string(t.name) + " " + std::to_string(ty.spp) + "x" + std::to_string(ty.bps);
      Image img = tintedPage(t, ty.spp, ty.bps, mask);
      testing::internal::CaptureStderr();
      autoWhite(img);
      const std::string err = testing::internal::GetCapturedStderr();
      EXPECT_EQ(err.rfind("autoWhite: paper ", 0), 0u) << what << ": " << err;
      EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << what;
      ASSERT_EQ(img.w, 640);
      ASSERT_EQ(img.spp, ty.spp);

      const int channels = std::min(ty.spp, 3);
      long paper = 0, nearWhite = 0, inkSum = 0, inkCount = 0;
      for (int y = 0; y < img.h; y += 3)
        for (int x = 0; x < img.w; x += 3) {
          const uint8_t m = mask[(size_t)y * kW + x];
          if (m == 1) {
            inkSum += level(img, x, y, 0);
            ++inkCount;
            continue;
          }
          if (m == 2)
            continue;
          ++paper;
          bool white = true;
          for (int c = 0; c < channels; ++c)
            white = white && level(img, x, y, c) >= 250;
          nearWhite += white;
        }
      EXPECT_GT(nearWhite, paper * 97 / 100) << what;
      EXPECT_LT(inkSum / std::max(inkCount, 1L), 70) << what; // ink stays dark
      if (ty.spp == 4) {
        EXPECT_EQ(sampleAt(img, 5, 5, 3), 200) << what; // alpha untouched
      }
    }
}

TEST(AutoWhite, WithoutPaperLeavesTheImage)
{
  Image noise = makeImage(300, 200, 3, 8);
  fillPattern(noise, 4);
  Image dark = makeImage(300, 200, 1, 8);
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 300; ++x)
      setSampleAt(dark, x, y, 0, 60 + (x * 7 + y * 3) % 9);
  for (Image* img : {&noise, &dark}) {
    Image ref;
    ref = *img;
    testing::internal::CaptureStderr();
    autoWhite(*img);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("autoWhite: "), std::string::npos);
    EXPECT_TRUE(samePixels(*img, ref));
  }
}

TEST(AutoWhite, NeutralOnImagesItCannotBalance)
{
  Image bw = makeImage(64, 64, 1, 1);
  fillPattern(bw, 2);
  Image ref;
  ref = bw;
  testing::internal::CaptureStderr();
  autoWhite(bw);
  EXPECT_FALSE(testing::internal::GetCapturedStderr().empty());
  EXPECT_TRUE(samePixels(bw, ref));

  Image none;
  none.spp = 3;
  none.bps = 8;
  none.w = 10;
  none.h = 0;
  autoWhite(none);
  EXPECT_EQ(none.data, nullptr);
}
