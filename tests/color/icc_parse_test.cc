// Parsing ICC profiles: the trace, the kept tags and tables, and profiles
// that lie about their sizes.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "color/ColorManagement.hh"
#include "color/ICC.hh"
#include "color/sRGBProfile.hh"
#include "tests/color/ICCBuilder.hh"
#include "tests/support/TestSupport.hh"

using namespace iccb;

namespace {

std::string parse(const std::string& bytes, ICCProfileState& s)
{
  testing::internal::CaptureStderr();
  parseICC(ICCBytes(bytes), s);
  return testing::internal::GetCapturedStderr();
}

// applyICC on a small RGB8 image: its result, the trace, and whether the
// pixels changed.
struct Applied {
  bool result;
  std::string trace;
  bool changed;
};
Applied apply(const std::string& bytes)
{
  Image img = testsupport::makeImage(4, 3, 3, 8);
  testsupport::fillPattern(img, 7);
  Image before(img);
  std::istringstream in(bytes);
  testing::internal::CaptureStderr();
  Applied a;
  a.result = applyICC(img, in);
  a.trace = testing::internal::GetCapturedStderr();
  a.changed = !testsupport::samePixels(img, before);
  return a;
}

const char* const kNothing = "lutIn: 0\nlut3D: 0\nlutOut: 0\nno 3d LUT and no TRC!\n";

std::string srgb() { return std::string((const char*)srgbProfile, srgbProfileSize); }

void identityGrid(int i0, int i1, int i2, unsigned* o)
{
  o[0] = i0 * 65535u;
  o[1] = i1 * 65535u;
  o[2] = i2 * 65535u;
}

} // namespace

TEST(IccParse, StreamsWithoutAProfileLeaveTheImageAlone)
{
  Profile noTags;
  std::string noSig = noTags.bytes();
  noSig[36] = 'x';
  for (const std::string& bytes : {std::string(), std::string(100, 'a'), noSig}) {
    const Applied a = apply(bytes);
    EXPECT_FALSE(a.result);
    EXPECT_FALSE(a.changed);
    EXPECT_EQ(a.trace, kNothing);
  }
}

TEST(IccParse, HeaderLineAndEmptyTagTable)
{
  Profile p;
  p.cmm = "lcms";
  const Applied a = apply(p.bytes());
  EXPECT_FALSE(a.result);
  EXPECT_EQ(a.trace, std::string("ICC 'lcms' 'RGB ' 'XYZ '2100000\n") + kNothing);
}

TEST(IccParse, ConnectionSpaces)
{
  struct Case {
    const char* sig;
    int pcs;
    bool unknown;
  } cases[] = {{"XYZ ", ICC_PCS_XYZ, false}, {"Lab ", ICC_PCS_LAB, false},
               {"RGB ", ICC_PCS_DEVICE, false}, {"CMYK", ICC_PCS_DEVICE, true}};
  for (const Case& c : cases) {
    Profile p;
    p.pcs = c.sig;
    ICCProfileState s;
    const std::string trace = parse(p.bytes(), s);
    EXPECT_EQ(s.pcs, c.pcs) << c.sig;
    EXPECT_EQ(trace.find("Unknown PCS: CMYK") != std::string::npos, c.unknown) << trace;
  }
}

TEST(IccParse, TagEntriesLastDuplicateWinsAndOffsetZeroIsAbsent)
{
  Profile p = matrixProfile(curvGamma(1.0));
  p.tag("rTRC", curv({0, 65535}));
  std::string bytes = p.bytes();
  ICCProfileState s;
  std::string trace = parse(bytes, s);
  EXPECT_NE(trace.find("0: wtpt 228 20\n"), std::string::npos) << trace;
  EXPECT_NE(trace.find("7: rTRC "), std::string::npos);
  EXPECT_EQ(s.rTRCSize, 2);
  EXPECT_EQ(s.gTRCSize, 512);
  EXPECT_NEAR(s.rXYZ[0], 0.4361, 1e-4);
  EXPECT_NEAR(s.whiteZ, 0.8249, 1e-4);

  // Offset 0 in the bXYZ entry (index 3): the column is zero.
  bytes.replace(132 + 12 * 3 + 4, 4, be32(0));
  ICCProfileState t;
  parse(bytes, t);
  EXPECT_EQ(t.bXYZ[0], 0.0f);
  EXPECT_EQ(t.bXYZ[2], 0.0f);
}

TEST(IccParse, DefaultWhitePoint)
{
  Profile p;
  p.tag("rTRC", curvGamma(2.2));
  ICCProfileState s;
  parse(p.bytes(), s);
  EXPECT_EQ(s.whiteX, 0.917f);
  EXPECT_EQ(s.whiteY, 0.965f);
  EXPECT_EQ(s.whiteZ, 0.771f);
}

TEST(IccParse, CurveElements)
{
  struct Case {
    std::string element;
    int count;          // -1: unchanged (identity)
    std::string trace;
    int first, mid, last; // entries 0, count/2, count-1
  } cases[] = {
      {curvGamma(1.0), 512, "readCurv: curv 1\ngamma: 1\n", 0, 256 * 65535 / 511, 65535},
      {curvGamma(2.0), 512, "readCurv: curv 1\ngamma: 2\n", 0, 16447, 65535},
      {curv({0, 1000, 65535}), 3, "readCurv: curv 3\n", 0, 1000, 65535},
      {curvIdentity(), -1, "readCurv: curv 0\n", 0, 0, 0},
      {para(0, {2.0}), ICC_PARA_ENTRIES, "readCurv: para 0\n", 0, 16392, 65535},
      // sRGB's curve: the linear segment near black, 1 at the top.
      {srgbPara(), ICC_PARA_ENTRIES, "readCurv: para 3\n", 0, 14035, 65535},
  };
  for (const Case& c : cases) {
    ICCBytes bytes(c.element + std::string(8, '\xee'));
    std::vector<uint16_t> table;
    int count = -1;
    uint64_t pos = 0;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(readCurv(bytes, pos, table, count));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.trace);
    EXPECT_EQ(pos, c.element.size()) << c.trace;
    EXPECT_EQ(count, c.count) << c.trace;
    if (c.count > 0) {
      ASSERT_EQ(table.size(), (size_t)c.count);
      EXPECT_EQ(table[0], c.first) << c.trace;
      EXPECT_NEAR(table[(size_t)c.count / 2], c.mid, 2) << c.trace;
      EXPECT_EQ(table.back(), c.last) << c.trace;
    } else {
      EXPECT_TRUE(table.empty());
    }
  }
}

TEST(IccParse, BrokenCurveElements)
{
  for (const std::string& element :
       {std::string("sf32") + be32(0) + be32(2), curv({1, 2, 3}).substr(0, 16),
        "curv" + be32(0) + be32(0xffffffffu), para(7, {1.0}), para(4, {2.4, 1.0}), std::string("cur")}) {
    ICCBytes bytes(element);
    std::vector<uint16_t> table{1, 2};
    int count = 5;
    uint64_t pos = 0;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(readCurv(bytes, pos, table, count));
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(table.empty());
    EXPECT_EQ(pos, 12u);
  }
}

TEST(IccParse, Lut16Tables)
{
  Profile p;
  p.pcs = "Lab ";
  p.tag("A2B0", mft2(3, 3, 2, ramp(256), identityGrid, ramp(2)));
  ICCProfileState s;
  const std::string trace = parse(p.bytes(), s);
  EXPECT_NE(trace.find("mft2 3 3 256 2 2\n"), std::string::npos) << trace;
  EXPECT_EQ(s.lutInSize, 256);
  EXPECT_EQ(s.lut3DSize, 2);
  EXPECT_EQ(s.lutOutSize, 2);
  EXPECT_EQ(s.lutIn[3 * 255 + 2], 1.0f);
  EXPECT_EQ(s.lut3D[3 * 7 + 0], 65535.0f); // grid point (1, 1, 1)
}

TEST(IccParse, LutOfOtherChannelCountsIsNotUsed)
{
  Profile p;
  p.space = "CMYK";
  std::string lut = mft2(4, 3, 2, ramp(2), identityGrid, ramp(2));
  p.tag("A2B0", lut);
  ICCProfileState s;
  const std::string trace = parse(p.bytes(), s);
  EXPECT_NE(trace.find("unsupported A2B channels: 4 3"), std::string::npos) << trace;
  EXPECT_FALSE(s.hasLUT());
  EXPECT_EQ(s.lutInSize, 0);
}

TEST(IccParse, LutAtoBElements)
{
  // A curves of unequal length are brought to one; the uneven grid keeps
  // its axes; the 8-bit precision byte is honoured; para B curves.
  const std::string a = curveSet(curv(ramp(256)), curvIdentity(), curv(ramp(512)));
  const std::string grid = clut(9, 17, 5, 1, [](int i0, int i1, int i2, unsigned* o) {
    o[0] = i0 * 255 / 8;
    o[1] = i1 * 255 / 16;
    o[2] = i2 * 255 / 4;
  });
  const std::string b = curveSet(para(0, {1.0}), para(0, {1.0}), para(0, {1.0}));
  Profile p;
  p.version = 0x04300000;
  p.tag("A2B0", mAB(b, "", "", grid, a));
  ICCProfileState s;
  const std::string trace = parse(p.bytes(), s);
  EXPECT_NE(trace.find("mAB  3 3 " + std::to_string(32 + pad4(grid).size() + pad4(a).size()) + " 0 0 " +
                       std::to_string(32 + pad4(a).size()) + " 32\n"),
            std::string::npos)
      << trace;
  EXPECT_NE(trace.find("aymetric curve dimensions: 256 0 512\n"), std::string::npos) << trace;
  EXPECT_NE(trace.find("9\n17\n5\nbytes: 1\n"), std::string::npos) << trace;
  EXPECT_EQ(s.lutInSize, 512);
  EXPECT_EQ(s.lut3DSize, 9);
  EXPECT_EQ(s.lut3DDims[1], 17);
  EXPECT_EQ(s.lut3DDims[2], 5);
  EXPECT_EQ(s.lut3D.size(), 9u * 17 * 5 * 3);
  EXPECT_EQ(s.lut3D.back(), 65535.0f); // 255 on the 16-bit scale
  EXPECT_EQ(s.lutOutSize, ICC_PARA_ENTRIES);
  EXPECT_TRUE(s.labV4);
  // The identity channel is a straight line over the common length.
  EXPECT_NEAR(s.lutIn[3 * 256 + 1], 256.0f / 511, 1e-6);
}

TEST(IccParse, LutAtoBMatrixAndMCurves)
{
  std::string matrix;
  for (int i = 0; i < 12; ++i)
    matrix += s15(i < 9 ? (i % 4 == 0 ? 0.5 : 0.0) : 0.25);
  const std::string m = curveSet(curvGamma(2.0), curvGamma(2.0), curvGamma(2.0));
  const std::string grid = clut(2, 2, 2, 2, identityGrid);
  Profile p;
  p.tag("A2B0", mAB("", matrix, m, grid, ""));
  ICCProfileState s;
  const std::string trace = parse(p.bytes(), s);
  EXPECT_NE(trace.find("[0] 0.5\n[1] 0\n"), std::string::npos) << trace;
  EXPECT_NE(trace.find("[11] 0.25\n"), std::string::npos);
  EXPECT_TRUE(s.hasMatrix);
  EXPECT_EQ(s.lutMSize, 512);
  EXPECT_EQ(s.lut3DSize, 2);
}

// Counts and offsets that promise more than the profile holds: each such
// element is absent, nothing is allocated from the declared size, and what
// is intact is still used.
TEST(IccParse, HostileSizesAndOffsets)
{
  const std::string trc = curvGamma(2.2);
  struct Case {
    const char* name;
    std::string bytes;
    const char* expect;
    bool usable;
  };
  std::vector<Case> cases;
  {
    std::string b = matrixProfile(trc).bytes();
    b.replace(128, 4, be32(0xfffffff0u));
    cases.push_back({"tag count", b, "tag table truncated: 4294967280 entries, ", true});
  }
  {
    Profile p = matrixProfile(trc);
    std::string lut = mft2(3, 3, 2, ramp(2), identityGrid, ramp(2));
    lut[10] = (char)200; // grid points the tag does not hold
    p.tag("A2B0", lut);
    cases.push_back({"lut16 grid", p.bytes(), "truncated tag: A2B0", true});
  }
  {
    Profile p = matrixProfile("curv" + be32(0) + be32(0x7fffffff) + be16(0));
    cases.push_back({"curve count", p.bytes(), "truncated curve", false});
  }
  {
    Profile p = matrixProfile(trc);
    std::string lut = mAB("", "", "", clut(2, 2, 2, 2, identityGrid), "");
    lut.replace(24, 4, be32(0x7ffffff0)); // CLUT offset far past the end
    p.tag("A2B0", lut);
    cases.push_back({"clut offset", p.bytes(), "A2B0 CLUT outside the profile", true});
  }
  {
    Profile p = matrixProfile(trc);
    std::string grid = clut(2, 2, 2, 2, identityGrid);
    grid.replace(0, 3, "\xff\xff\xff"); // 255^3 points, 48 bytes present
    std::string lut = mAB("", "", "", grid, "");
    p.tag("A2B0", lut);
    cases.push_back({"clut grid", p.bytes(), "A2B0 CLUT outside the profile", true});
  }
  {
    Profile p = matrixProfile(trc);
    std::string lut = mAB(curveSet(trc, trc, trc), "", "", "", "");
    lut.replace(12, 4, be32((uint32_t)-1000)); // B curves before the tag
    p.tag("A2B0", lut);
    cases.push_back({"negative offset", p.bytes(), "A2B0 B curves outside the profile", true});
  }
  {
    std::string b = matrixProfile(trc).bytes();
    b.replace(132 + 12 * 1 + 4, 4, be32(0xfffffff0u)); // rXYZ offset
    cases.push_back({"tag offset", b, "truncated tag: rXYZ", true});
  }
  {
    Profile p = matrixProfile(trc);
    p.tag("A2B0", clut(2, 2, 2, 3, identityGrid));
    cases.push_back({"unknown A2B0", p.bytes(), "unsupported A2B tag: ", true});
  }
  {
    Profile p = matrixProfile(trc);
    p.tag("A2B0", mAB("", "", "", clut(2, 2, 2, 3, identityGrid), ""));
    cases.push_back({"clut precision", p.bytes(), "unsupported CLUT precision: 3", true});
  }
  {
    std::string b = matrixProfile(trc).bytes();
    b.resize(ICC_MAX_PROFILE + 1);
    cases.push_back({"profile size", b, "ICC profile too large: ", false});
  }
  for (const Case& c : cases) {
    const Applied a = apply(c.bytes);
    EXPECT_NE(a.trace.find(c.expect), std::string::npos) << c.name << "\n" << a.trace;
    EXPECT_EQ(a.result, c.usable) << c.name;
    EXPECT_EQ(a.changed, c.usable) << c.name;
  }
}

// Mutated copies of real and synthetic profiles: whatever the bytes say,
// the parse stays within them (the sanitizer build checks) and the result
// is a converted or an untouched image.
TEST(IccParse, MutatedProfilesStayInBounds)
{
  Profile lut;
  lut.pcs = "Lab ";
  lut.tag("A2B0", mAB(curveSet(curvIdentity(), curvIdentity(), curvIdentity()), "", "",
                      clut(3, 3, 3, 2, identityGrid), curveSet(srgbPara(), curv(ramp(16)), curvGamma(1.8))));
  const std::string seeds[] = {srgb(), lut.bytes()};
  std::mt19937 rng(12345);
  for (const std::string& seed : seeds) {
    for (int round = 0; round < 300; ++round) {
      std::string b = seed;
      const int edits = 1 + (int)(rng() % 8);
      for (int e = 0; e < edits; ++e) {
        const size_t at = rng() % b.size();
        switch (rng() % 3) {
        case 0: b[at] = (char)rng(); break;
        case 1: b[at] = (char)0xff; break;
        default: b.resize(at + 1); break;
        }
      }
      Image img = testsupport::makeImage(3, 2, 3, 8);
      std::istringstream in(b);
      testing::internal::CaptureStderr();
      applyICC(img, in);
      testing::internal::GetCapturedStderr();
    }
  }
}
