// Converting pixels to sRGB: worked values of both paths, every pixel type,
// padded rows, and the 8-bit fast paths against the general walk.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>

#include "color/ColorManagement.hh"
#include "color/ICC.hh"
#include "color/sRGBProfile.hh"
#include "tests/color/ICCBuilder.hh"
#include "tests/support/TestSupport.hh"

using namespace iccb;
using testsupport::makeImage;
using testsupport::sampleAt;

namespace {

bool run(Image& img, const std::string& profile, bool general = false)
{
  std::istringstream in(profile);
  testing::internal::CaptureStderr();
  const bool ok = general ? applyICCGeneral(img, in) : applyICC(img, in);
  testing::internal::GetCapturedStderr();
  return ok;
}

std::string srgb() { return std::string((const char*)srgbProfile, srgbProfileSize); }

// A lut16 profile whose every grid point holds `v`.
std::string constantLut(const char* pcs, unsigned v0, unsigned v1, unsigned v2, bool withWhite = true)
{
  Profile p;
  p.pcs = pcs;
  p.tag("A2B0", mft2(3, 3, 2, ramp(2), [&](int, int, int, unsigned* o) { o[0] = v0; o[1] = v1; o[2] = v2; },
                     ramp(2)));
  if (withWhite)
    p.tag("wtpt", xyz(0.9642, 1.0, 0.8249));
  return p.bytes();
}

std::vector<int> rgbAt(const Image& img, int x, int y)
{
  return {sampleAt(img, x, y, 0), sampleAt(img, x, y, 1), sampleAt(img, x, y, 2)};
}

double srgbEncode(double v) { return v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055; }

} // namespace

TEST(IccApply, ConnectionSpaceValues)
{
  struct Case {
    const char* name;
    std::string profile;
    std::vector<int> rgb;
  } cases[] = {
      {"Lab 100 0 0", constantLut("Lab ", 0xFF00, 0x8000, 0x8000), {255, 255, 254}},
      {"Lab 0 0 0", constantLut("Lab ", 0, 0x8000, 0x8000), {0, 0, 0}},
      {"Lab v4 100 0 0",
       [] {
         Profile p;
         p.pcs = "Lab ";
         p.version = 0x04300000;
         p.tag("A2B0", mAB("", "", "", clut(2, 2, 2, 2, [](int, int, int, unsigned* o) {
                                o[0] = 65535;
                                o[1] = o[2] = 0x8080;
                              }),
                           ""));
         return p.bytes();
       }(),
       {255, 255, 254}},
      // u1Fixed15: D50 white is 0x7B6B 0x8000 0x6996, and comes out white.
      {"XYZ D50 white", constantLut("XYZ ", 0x7B6B, 0x8000, 0x6996), {255, 255, 254}},
      // Without a media white point the default one dims the result.
      {"XYZ default white", constantLut("XYZ ", 0x7B6B, 0x8000, 0x6996, false), {247, 252, 246}},
      {"device", constantLut("RGB ", 65535, 32768, 0), {255, 127, 0}},
  };
  for (const Case& c : cases) {
    Image img = makeImage(3, 2, 3, 8);
    testsupport::fillPattern(img, 3);
    ASSERT_TRUE(run(img, c.profile)) << c.name;
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x)
        EXPECT_EQ(rgbAt(img, x, y), c.rgb) << c.name;
  }
}

// One constant device colour stored by every pixel type: the gray types
// fold it 11:16:5 and keep their top bits; RGBA keeps its alpha.
TEST(IccApply, EveryPixelTypeStoresTheResultItsOwnWay)
{
  struct Case {
    unsigned r, g, b;
    std::vector<int> rgb8, rgb16;
    int gray16, gray8, gray4, gray2, gray1;
  } cases[] = {
      {65535, 65535, 65535, {255, 255, 255}, {65535, 65535, 65535}, 65535, 255, 15, 3, 1},
      {65535, 0, 0, {255, 0, 0}, {65535, 0, 0}, 22527, 87, 5, 1, 0},
      {0, 65535, 0, {0, 255, 0}, {0, 65535, 0}, 32767, 127, 7, 1, 0},
      {0, 0, 65535, {0, 0, 255}, {0, 0, 65535}, 10239, 39, 2, 0, 0},
      {0, 0, 0, {0, 0, 0}, {0, 0, 0}, 0, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    const std::string profile = constantLut("RGB ", c.r, c.g, c.b);
    struct Type {
      int spp, bps;
    } types[] = {{3, 8}, {4, 8}, {3, 16}, {1, 16}, {1, 8}, {1, 4}, {1, 2}, {1, 1}};
    for (const Type& t : types) {
      Image img = makeImage(5, 3, t.spp, t.bps);
      testsupport::fillPattern(img, 9);
      Image before(img);
      ASSERT_TRUE(run(img, profile)) << t.spp << "/" << t.bps;
      EXPECT_TRUE(img.pixelsDirty);
      for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
          const std::string where = std::to_string(t.spp) + "/" + std::to_string(t.bps) + " at " +
                                    std::to_string(x) + "," + std::to_string(y);
          if (t.spp >= 3) {
            EXPECT_EQ(rgbAt(img, x, y), t.bps == 16 ? c.rgb16 : c.rgb8) << where;
            if (t.spp == 4) {
              EXPECT_EQ(sampleAt(img, x, y, 3), sampleAt(before, x, y, 3)) << where;
            }
          } else {
            const int want = t.bps == 16 ? c.gray16 : t.bps == 8 ? c.gray8 : t.bps == 4 ? c.gray4
                             : t.bps == 2 ? c.gray2 : c.gray1;
            EXPECT_EQ(sampleAt(img, x, y), want) << where;
          }
        }
    }
  }
}

TEST(IccApply, ToneCurvePath)
{
  // Linear tone curves: the result is the sRGB encoding of c / 255.
  Image ramp8 = makeImage(256, 1, 3, 8);
  for (int x = 0; x < 256; ++x)
    for (int c = 0; c < 3; ++c)
      testsupport::setSampleAt(ramp8, x, 0, c, x);
  ASSERT_TRUE(run(ramp8, matrixProfile(curv({0, 65535})).bytes()));
  for (int x = 0; x < 256; ++x) {
    const double want = srgbEncode(x / 255.0) * 255;
    for (int c = 0; c < 3; ++c)
      EXPECT_NEAR(sampleAt(ramp8, x, 0, c), want, 1.5) << x;
  }

  // A missing colorant adds nothing: pure red goes black.
  Profile noRed;
  noRed.tag("gXYZ", xyz(0.3851, 0.7169, 0.0971)).tag("bXYZ", xyz(0.1431, 0.0606, 0.7141));
  for (const char* t : {"rTRC", "gTRC", "bTRC"})
    noRed.tag(t, curvGamma(2.2));
  Image red = testsupport::imageFromBytes(1, 1, 3, {255, 0, 0});
  ASSERT_TRUE(run(red, noRed.bytes()));
  EXPECT_EQ(rgbAt(red, 0, 0), (std::vector<int>{0, 0, 0}));
}

TEST(IccApply, SrgbProfilesKeepSrgbPixels)
{
  for (const std::string& profile : {srgb(), matrixProfile(srgbPara()).bytes()}) {
    Image img = makeImage(64, 64, 3, 8);
    testsupport::fillPattern(img, 5);
    Image before(img);
    ASSERT_TRUE(run(img, profile));
    int worst = 0;
    for (int y = 0; y < 64; ++y)
      for (int x = 0; x < 64; ++x)
        for (int c = 0; c < 3; ++c)
          worst = std::max(worst, std::abs(sampleAt(img, x, y, c) - sampleAt(before, x, y, c)));
    EXPECT_LE(worst, 2);
  }
}

TEST(IccApply, NothingToConvert)
{
  // No table and no tone curves: false, pixels as they were.
  Profile grayOnly;
  grayOnly.tag("kTRC", curvGamma(2.2));
  Image img = makeImage(4, 4, 3, 8);
  testsupport::fillPattern(img, 2);
  Image before(img);
  img.pixelsDirty = false;
  EXPECT_FALSE(run(img, grayOnly.bytes()));
  EXPECT_TRUE(testsupport::samePixels(img, before));
  EXPECT_FALSE(img.pixelsDirty);

  // Images without pixels or of no pixel type: the stream is not read.
  Image empty;
  Image noType = makeImage(4, 4, 3, 4);
  for (Image* i : {&empty, &noType}) {
    std::istringstream in(srgb());
    testing::internal::CaptureStderr();
    EXPECT_FALSE(applyICC(*i, in));
    EXPECT_EQ(testing::internal::GetCapturedStderr().find("ICC '"), std::string::npos);
    EXPECT_EQ(in.tellg(), 0);
  }
}

// Profiles that exercise every stage, for comparing walks.
std::vector<std::pair<std::string, std::string>> stageProfiles()
{
  std::mt19937 rng(99);
  auto randomGrid = [&rng](int, int, int, unsigned* o) {
    for (int c = 0; c < 3; ++c)
      o[c] = rng() & 0xffff;
  };
  std::vector<std::pair<std::string, std::string>> r;
  r.emplace_back("sRGB matrix", srgb());
  r.emplace_back("para matrix", matrixProfile(srgbPara()).bytes());
  {
    Profile p;
    p.pcs = "Lab ";
    p.tag("A2B0", mft2(3, 3, 17, ramp(4096), randomGrid, ramp(300)));
    r.emplace_back("lab lut16", p.bytes());
  }
  {
    Profile p;
    p.pcs = "XYZ ";
    p.version = 0x04300000;
    std::string matrix;
    for (int i = 0; i < 12; ++i)
      matrix += s15(i < 9 ? (i % 4 == 0 ? 0.9 : 0.05) : 0.01);
    const std::string g18 = curvGamma(1.8);
    p.tag("A2B0", mAB(curveSet(srgbPara(), srgbPara(), srgbPara()), matrix, curveSet(g18, g18, g18),
                      clut(5, 9, 3, 1, randomGrid), curveSet(curv(ramp(66000)), g18, para(0, {0.8}))));
    r.emplace_back("xyz lutAtoB", p.bytes());
  }
  {
    Profile p;
    p.pcs = "RGB ";
    p.tag("A2B0", mft2(3, 3, 9, ramp(1), randomGrid, ramp(1)));
    r.emplace_back("device one-entry curves", p.bytes());
  }
  return r;
}

TEST(IccApply, FastPathsMatchTheGeneralWalk)
{
  struct Type {
    int spp, bps;
    unsigned stride;
  } types[] = {{3, 8, 0}, {3, 8, 400}, {4, 8, 0}, {1, 8, 131}, {1, 4, 0}, {1, 2, 0}, {1, 1, 19}};
  for (auto& profile : stageProfiles()) {
    for (const Type& t : types) {
      Image fast = makeImage(97, 31, t.spp, t.bps, t.stride);
      testsupport::fillPattern(fast, 17);
      // Runs of one colour, as on paper.
      for (int x = 10; x < 40; ++x)
        for (int c = 0; c < t.spp; ++c)
          testsupport::setSampleAt(fast, x, 3, c, (1 << std::min<int>(t.bps, 8)) - 1);
      Image general(fast);
      general.resize(general.w, general.h, t.stride);
      for (int y = 0; y < fast.h; ++y)
        for (int x = 0; x < fast.w; ++x)
          for (int c = 0; c < t.spp; ++c)
            testsupport::setSampleAt(general, x, y, c, sampleAt(fast, x, y, c));
      ASSERT_TRUE(run(fast, profile.second)) << profile.first;
      ASSERT_TRUE(run(general, profile.second, true)) << profile.first;
      EXPECT_TRUE(testsupport::samePixels(fast, general))
          << profile.first << " " << t.spp << "/" << t.bps << " stride " << t.stride;
    }
  }
}

// Rows padded past their pixels: each row converted from its own start, the
// padding untouched, the same pixels as with tight rows.
TEST(IccApply, PaddedRows)
{
  for (auto& profile : stageProfiles()) {
    for (int spp : {3, 4}) {
      Image tight = makeImage(13, 5, spp, 8);
      testsupport::fillPattern(tight, 4);
      Image padded = makeImage(13, 5, spp, 8, 13 * spp + 7, 0xA5);
      for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 13; ++x)
          for (int c = 0; c < spp; ++c)
            testsupport::setSampleAt(padded, x, y, c, sampleAt(tight, x, y, c));
      ASSERT_TRUE(run(tight, profile.second));
      ASSERT_TRUE(run(padded, profile.second));
      EXPECT_TRUE(testsupport::samePixels(tight, padded)) << profile.first;
      for (int y = 0; y < 5; ++y)
        for (unsigned b = 13 * spp; b < padded.stride(); ++b)
          EXPECT_EQ(padded.data[y * padded.stride() + b], 0xA5) << profile.first;
    }
  }
}

// 16-bit images follow the same transform on the finer scale: a sample
// c * 257 lands within a level of what the 8-bit sample c gives.
TEST(IccApply, SixteenBitTypesAgreeWithEightBit)
{
  for (auto& profile : stageProfiles()) {
    for (int spp : {3, 1}) {
      Image img8 = makeImage(64, 16, spp, 8);
      testsupport::fillPattern(img8, 21);
      Image img16 = makeImage(64, 16, spp, 16);
      for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 64; ++x)
          for (int c = 0; c < spp; ++c)
            testsupport::setSampleAt(img16, x, y, c, sampleAt(img8, x, y, c) * 257);
      ASSERT_TRUE(run(img8, profile.second));
      ASSERT_TRUE(run(img16, profile.second));
      int worst = 0;
      for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 64; ++x)
          for (int c = 0; c < spp; ++c)
            worst = std::max(worst, std::abs(sampleAt(img16, x, y, c) / 257 - sampleAt(img8, x, y, c)));
      EXPECT_LE(worst, 1) << profile.first << " spp " << spp;
    }
  }
}

// The 8-bit encoding table against the power function, over many linear
// values near every level boundary.
TEST(IccApply, EncodingTableMatchesThePowerFunction)
{
  const std::string profile = matrixProfile(curv(ramp(4096))).bytes();
  Image fast = makeImage(256, 256, 3, 8);
  testsupport::fillPattern(fast, 77);
  Image general(fast);
  ASSERT_TRUE(run(fast, profile));
  ASSERT_TRUE(run(general, profile, true));
  EXPECT_TRUE(testsupport::samePixels(fast, general));
}

TEST(IccApply, RefusesProfilesForOtherThanRgbOrGrayData)
{
  // Tables that would change every pixel, declared for data other than RGB
  // or gray (abstract and ITU Lab profiles, CMYK, ...): refused with a
  // message, pixels untouched. The same tables for RGB or gray data apply.
  struct Case {
    const char* space;
    const char* cls;
    bool applies;
  } cases[] = {
      {"Lab ", "abst", false}, {"Lab ", "scnr", false}, {"XYZ ", "abst", false}, {"CMYK", "prtr", false},
      {"YCbr", "scnr", false}, {"\0\0\0\0", "scnr", false}, {"RGB ", "scnr", true}, {"GRAY", "scnr", true},
  };
  for (const Case& c : cases) {
    Profile p;
    p.space = std::string(c.space, 4);
    p.cls = c.cls;
    p.pcs = "Lab ";
    p.tag("A2B0", mft2(3, 3, 2, ramp(2), [](int, int, int, unsigned* o) { o[0] = 30000; o[1] = 40000; o[2] = 20000; },
                       ramp(2)));
    Image img = makeImage(4, 4, 3, 8);
    testsupport::fillPattern(img, 5);
    Image before(img);
    img.pixelsDirty = false;
    std::istringstream in(p.bytes());
    testing::internal::CaptureStderr();
    const bool ok = applyICC(img, in);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ok, c.applies) << c.space;
    EXPECT_EQ(testsupport::samePixels(img, before), !c.applies) << c.space;
    EXPECT_EQ(img.pixelsDirty, c.applies) << c.space;
    EXPECT_EQ(err.find("not RGB or gray") != std::string::npos, !c.applies) << c.space << err;
  }
}
