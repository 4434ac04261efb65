#include "codecs/PNGPredict.hh"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/TestSupport.hh"

using namespace testsupport;

namespace {

std::vector<int> bytes(const std::string& s)
{
  return std::vector<int>((const unsigned char*)s.data(),
                          (const unsigned char*)s.data() + s.size());
}

} // namespace

// Rows filtered by hand: two rows of 2 RGB8 pixels (bpp 3).
//   row0: 10 20 30  40 50 60     row1: 15 25 35  45 55 70
TEST(PNGPredict, FilterTypesByHand)
{
  Image img = imageFromBytes(2, 2, 3, {10, 20, 30, 40, 50, 60, 15, 25, 35, 45, 55, 70}, 8);
  struct Case {
    int type;
    std::vector<int> out;
  } cases[] = {
    {0, {0, 10, 20, 30, 40, 50, 60, 0, 15, 25, 35, 45, 55, 70}},
    {1, {1, 10, 20, 30, 30, 30, 30, 1, 15, 25, 35, 30, 30, 35}},
    // Up: the first row is predicted from 0.
    {2, {2, 10, 20, 30, 40, 50, 60, 2, 5, 5, 5, 5, 5, 10}},
    // Average: row0 (a+0)/2; row1 x=3: (15+40)/2=27 -> 45-27=18, ...
    {3, {3, 10, 20, 30, 35, 40, 45, 3, 10, 15, 20, 18, 18, 23}},
    // Paeth: row0 predicts a; row1 x=0 predicts b, x=3: a=15 b=40 c=10
    // p=45 pa=30 pb=5 pc=35 -> b=40 -> 5.
    {4, {4, 10, 20, 30, 30, 30, 30, 4, 5, 5, 5, 5, 5, 10}},
    {7, {2, 10, 20, 30, 40, 50, 60, 2, 5, 5, 5, 5, 5, 10}},
  };
  for (const Case& c : cases) {
    std::string out = "X";
    predictPNG(img, out, c.type);
    std::vector<int> expect = c.out;
    expect.insert(expect.begin(), 'X');
    EXPECT_EQ(bytes(out), expect) << c.type;

    // And back, from a buffer, and in place.
    std::vector<unsigned char> in(out.begin() + 1, out.end());
    std::vector<unsigned char> plain(12);
    unpredictPNG(in.data(), plain.data(), (int)in.size(), 6, 10, 3, 0, 8);
    EXPECT_EQ(std::vector<int>(plain.begin(), plain.end()),
              std::vector<int>({10, 20, 30, 40, 50, 60, 15, 25, 35, 45, 55, 70}))
        << c.type;
    unpredictPNG(in.data(), nullptr, (int)in.size(), 6, 10, 3, 0, 8);
    EXPECT_EQ(std::vector<int>(in.begin(), in.begin() + 12),
              std::vector<int>({10, 20, 30, 40, 50, 60, 15, 25, 35, 45, 55, 70}));
  }
}

TEST(PNGPredict, RoundTripsEveryDepthAndStride)
{
  // bpp from the pixel size, rounded up to one byte for sub-byte pixels.
  struct Case {
    int spp, bps;
  } cases[] = {{1, 1}, {1, 2}, {1, 4}, {1, 8}, {1, 16}, {2, 8}, {3, 8}, {4, 8}, {3, 16}};
  for (const Case& c : cases) {
    Image img = makeImage(13, 5, c.spp, c.bps, 96);
    fillPattern(img, 11);
    const int bpp = (c.spp * c.bps + 7) / 8;
    const int rowBytes = (int)img.stridefill();
    for (int type = 0; type <= 4; ++type) {
      std::string f;
      predictPNG(img, f, type);
      ASSERT_EQ(f.size(), (size_t)(rowBytes + 1) * 5);
      std::vector<unsigned char> plain((size_t)rowBytes * 5);
      unpredictPNG((unsigned char*)&f[0], plain.data(), (int)f.size(), rowBytes, 10, bpp, 0,
                   c.bps);
      for (int y = 0; y < 5; ++y)
        EXPECT_EQ(memcmp(plain.data() + y * rowBytes, img.data + y * img.stride(), rowBytes), 0)
            << c.spp << "x" << c.bps << " type " << type << " row " << y;
    }
  }
}

TEST(PNGPredict, SubByteSubUsesOneByteDistance)
{
  // 1-bit rows: Sub predicts from the previous byte.
  unsigned char in[] = {1, 0x0F, 0x01, 0xF0};
  unsigned char out[3];
  unpredictPNG(in, out, 4, 3, 10, 1, 0, 1);
  EXPECT_EQ(out[0], 0x0F);
  EXPECT_EQ(out[1], 0x10);
  EXPECT_EQ(out[2], 0x00);
}

TEST(PNGPredict, UnknownFilterCopiesAndReports)
{
  unsigned char in[] = {9, 1, 2, 1, 5, 5};
  unsigned char out[4];
  testing::internal::CaptureStderr();
  unpredictPNG(in, out, 6, 2, 10, 1, 0, 8);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "unimplemented PNG filter: 9, row: 0\n");
  EXPECT_EQ(std::vector<int>(out, out + 4), std::vector<int>({1, 2, 5, 10}));
}

TEST(PNGPredict, SwapRedBlueAfterUnfiltering)
{
  // Two BGRA rows, the second Up-filtered against the first in file order.
  unsigned char in[] = {0, 1, 2, 3, 4, 2, 1, 1, 1, 1};
  unsigned char out[8];
  unpredictPNG(in, out, 10, 4, 10, 4, 1, 8);
  EXPECT_EQ(std::vector<int>(out, out + 8), std::vector<int>({3, 2, 1, 4, 4, 3, 2, 5}));
}

TEST(PNGPredict, TiffHorizontalPredictor)
{
  // 8 bit, 2 samples per pixel, rows of 3 pixels.
  unsigned char p8[] = {10, 100, 1, 2, 255, 3, 5, 6, 1, 1, 1, 1};
  unpredictPNG(p8, nullptr, 12, 6, -8, 2, 0, 8);
  EXPECT_EQ(std::vector<int>(p8, p8 + 12),
            std::vector<int>({10, 100, 11, 102, 10, 105, 5, 6, 6, 7, 7, 8}));
  // 16 bit, 1 sample, other byte order: 0x0102, +0x0001, +0xFFFF.
  unsigned char p16[] = {0x01, 0x02, 0x00, 0x01, 0xFF, 0xFF};
  unpredictPNG(p16, nullptr, 6, 6, -8, 1, 0, 16);
  uint16_t v[3];
  memcpy(v, p16, 6);
  EXPECT_EQ(v[0], 0x0102);
  EXPECT_EQ(v[1], 0x0103);
  EXPECT_EQ(v[2], 0x0102);
  unsigned char p4[] = {1, 2};
  testing::internal::CaptureStderr();
  unpredictPNG(p4, nullptr, 2, 2, -8, 1, 0, 4);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "TIFF unpredict unsupported bits: 4\n");
  EXPECT_EQ(p4[1], 2);
}

TEST(PNGPredict, LeftDistanceFollowsThePixelSize)
{
  // 16-bit gray: the left neighbour is two bytes back (bytes as stored).
  Image g16 = imageFromSamples(2, 1, 1, 16, {0x0102, 0x0304});
  std::string out;
  predictPNG(g16, out, 1);
  EXPECT_EQ(bytes(out), std::vector<int>({1, 0x02, 0x01, 0x02, 0x02}));
  // 1-bit gray, 16 pixels: one byte to the left.
  Image g1 = imageFromSamples(16, 1, 1, 1, {1, 0, 0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0});
  out.clear();
  predictPNG(g1, out, 1);
  EXPECT_EQ(bytes(out), std::vector<int>({1, 0x80, 0x40}));
  // Average on 4-bit gray, two rows: (a + b) / 2 with a one byte back.
  Image g4 = imageFromSamples(4, 2, 1, 4, {1, 2, 3, 4, 5, 6, 7, 8});
  out.clear();
  predictPNG(g4, out, 3);
  // row0: 0x12, 0x34 - 0x12/2 = 0x2b; row1: 0x56 - 0x12/2 = 0x4d,
  //       0x78 - (0x56 + 0x34)/2 = 0x33
  EXPECT_EQ(bytes(out), std::vector<int>({3, 0x12, 0x2b, 3, 0x4d, 0x33}));
}

// Every filter type mixed row by row, in place, for pixel sizes 1 to 8 and
// rows shorter than, equal to and longer than one pixel; and the TIFF
// predictor's sample counts 1 to 5 against the plain running sum.
TEST(PNGPredict, InPlaceUnfilterMatchesTheFilterForAllShapes)
{
  uint32_t seed = 3;
  auto rnd = [&] { return (seed = seed * 1664525u + 1013904223u) >> 24; };
  for (int bpp = 1; bpp <= 8; ++bpp)
    for (uint64_t rowBytes : {(uint64_t)1, (uint64_t)bpp, (uint64_t)bpp + 1, (uint64_t)37,
                              (uint64_t)8 * bpp + 5}) {
      const uint64_t rows = 6;
      std::vector<uint8_t> img(rows * rowBytes), filtered;
      for (uint8_t& v : img)
        v = (uint8_t)rnd();
      for (uint64_t y = 0; y < rows; ++y) {
        const int type = (int)(y % 5);
        filtered.push_back((uint8_t)type);
        std::vector<uint8_t> out(rowBytes);
        filterPNGRow(type, &img[y * rowBytes], y ? &img[(y - 1) * rowBytes] : nullptr, rowBytes,
                     bpp, out.data());
        filtered.insert(filtered.end(), out.begin(), out.end());
      }
      unfilterPNG(filtered.data(), nullptr, rows, rowBytes, bpp, false);
      filtered.resize(img.size());
      EXPECT_TRUE(filtered == img) << bpp << " " << rowBytes;
    }
  for (int samples = 1; samples <= 5; ++samples)
    for (int rowBytes : {samples, samples + 1, 3 * samples + 2, 301}) {
      std::vector<uint8_t> row(rowBytes), expect(rowBytes);
      for (uint8_t& v : row)
        v = (uint8_t)rnd();
      for (int i = 0; i < rowBytes; ++i)
        expect[i] = (uint8_t)(row[i] + (i >= samples ? expect[i - samples] : 0));
      unpredictPNG(row.data(), nullptr, rowBytes, rowBytes, -8, samples, 0, 8);
      EXPECT_TRUE(row == expect) << samples << " " << rowBytes;
    }
}
