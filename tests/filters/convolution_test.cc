#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "filters/convolution.hh"
#include "tests/support/TestSupport.hh"
#include "utility/Saturate.hh"

using namespace testsupport;

namespace {

struct PixelType {
  const char* name;
  int spp, bps;
};
const PixelType kTypes[] = {{"gray1", 1, 1}, {"gray2", 1, 2}, {"gray4", 1, 4}, {"gray8", 1, 8},
                            {"gray16", 1, 16}, {"rgb8", 3, 8}, {"rgba8", 4, 8}, {"rgb16", 3, 16}};

int maxOf(int bps) { return bps == 16 ? 65535 : 255; }

// Sample on the filters' scale: sub-byte values stretched to 0..255.
int64_t scaled(const Image& img, int x, int y, int c)
{
  const int raw = sampleAt(img, x, y, c);
  if (img.bps < 8)
    return raw * 255 / ((1 << img.bps) - 1);
  return raw;
}

int stored(int bps, int64_t v)
{
  return bps < 8 ? (int)(v >> (8 - bps)) : (int)v;
}

// Straightforward evaluation of the separable symmetric sum: horizontal
// results per row, then the vertical sum in the same order of additions.
std::vector<int> referenceSym(const Image& img, const std::vector<double>& h,
                              const std::vector<double>& v, double src_add)
{
  const int w = img.w, H = img.h, N = img.spp, xw = (int)h.size() - 1, yw = (int)v.size() - 1;
  std::vector<double> hor((size_t)w * H * N);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < N; ++c) {
        double a = scaled(img, x, y, c) * h[0];
        for (int i = 1; i <= xw; ++i) {
          const bool l = x - i >= 0, r = x + i < w;
          if (l && r)
            a += ((double)scaled(img, x + i, y, c) + (double)scaled(img, x - i, y, c)) * h[i];
          else if (r)
            a += scaled(img, x + i, y, c) * h[i];
          else if (l)
            a += scaled(img, x - i, y, c) * h[i];
        }
        hor[((size_t)y * w + x) * N + c] = a;
      }
  std::vector<int> out((size_t)w * H * N);
  const int64_t M = maxOf(img.bps);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < N; ++c) {
        auto at = [&](int r) { return hor[((size_t)r * w + x) * N + c]; };
        double a = src_add != 0.0 ? scaled(img, x, y, c) * src_add : 0.0;
        for (int j = 0; j <= yw; ++j) {
          if (j >= 1 && y - j >= 0 && y + j < H)
            a += (at(y - j) + at(y + j)) * v[j];
          else if (y - j >= 0)
            a += at(y - j) * v[j];
          else if (y + j < H)
            a += at(y + j) * v[j];
        }
        out[((size_t)y * w + x) * N + c] = stored(img.bps, clamp_int<int64_t>(saturate_cast<int64_t>(a), 0, M));
      }
  return out;
}

std::vector<int> samplesOf(const Image& img)
{
  std::vector<int> s;
  for (int y = 0; y < img.h; ++y)
    for (int x = 0; x < img.w; ++x)
      for (int c = 0; c < img.spp; ++c)
        s.push_back(sampleAt(img, x, y, c));
  return s;
}

std::vector<double> gaussianHalf(int radius, double sd)
{
  std::vector<double> h(radius + 1);
  double norm = 0;
  for (int i = 0; i <= radius; ++i) {
    h[i] = std::exp(-(double)(i * i) / (2 * sd * sd));
    norm += i ? 2 * h[i] : h[i];
  }
  for (double& x : h)
    x /= norm;
  return h;
}

} // namespace

TEST(SymmetricConvolution, MatchesReferenceOnRandomImagesOfEveryType)
{
  struct Case {
    int w, h, radius;
    double src_add;
    bool sharpen;
  };
  // Includes rows narrower than twice the radius and kernels taller than
  // the image: only the neighbours that exist are added.
  const Case cases[] = {{9, 7, 1, 2.0, true}, {13, 11, 3, 2.0, true}, {5, 4, 3, 2.0, true},
                        {1, 6, 2, 0.0, false}, {6, 1, 2, 1.0, false}, {3, 2, 4, 0.5, true},
                        {17, 5, 0, 2.0, true}};
  uint32_t seed = 1;
  for (const PixelType& t : kTypes)
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(t.name) + " " + std::to_string(c.w) + "x" + std::to_string(c.h) +
                   " r" + std::to_string(c.radius));
      Image img = makeImage(c.w, c.h, t.spp, t.bps, 0);
      fillPattern(img, seed++);
      std::vector<double> h = gaussianHalf(c.radius, 1.7), v = h;
      if (c.sharpen)
        for (double& x : v)
          x = -x;
      const std::vector<int> want = referenceSym(img, h, v, c.src_add);
      decomposable_sym_convolution_matrix(img, h.data(), v.data(), c.radius, c.radius, c.src_add);
      EXPECT_EQ(samplesOf(img), want);
      EXPECT_TRUE(img.pixelsDirty);
    }
}

TEST(SymmetricConvolution, UnsharpMaskBrightensFlatPageNearBorder)
{
  Image img = makeImage(20, 20, 1, 8, 0);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x)
      setSampleAt(img, x, y, 0, 100);
  std::vector<double> h = gaussianHalf(3, 2.1), v = h;
  for (double& x : v)
    x = -x;
  decomposable_sym_convolution_matrix(img, h.data(), v.data(), 3, 3, 2.0);
  // Inside, 2s - s up to truncation; outside samples count as zero, so the
  // blur near the border is weaker and the result brighter.
  EXPECT_GE(sampleAt(img, 10, 10), 99);
  EXPECT_LE(sampleAt(img, 10, 10), 100);
  EXPECT_GT(sampleAt(img, 0, 0), 130);
  EXPECT_GT(sampleAt(img, 10, 0), 110);
  EXPECT_LE(sampleAt(img, 3, 10), 100);
}

TEST(SymmetricConvolution, ZeroRadiusScalesEachSample)
{
  Image img = imageFromBytes(3, 1, 1, {10, 100, 200});
  const double h[] = {0.5}, v[] = {-1.0};
  // trunc(2 s - 0.5 s), clamped
  decomposable_sym_convolution_matrix(img, h, v, 0, 0, 2.0);
  EXPECT_EQ(samplesOf(img), (std::vector<int>{15, 150, 255}));
}

TEST(SymmetricConvolution, NegativeResultsTruncateToZero)
{
  Image img = imageFromBytes(2, 1, 1, {1, 0});
  const double h[] = {1.0}, v[] = {-0.9};
  decomposable_sym_convolution_matrix(img, h, v, 0, 0, 0.0);
  EXPECT_EQ(samplesOf(img), (std::vector<int>{0, 0}));
}

namespace {

std::vector<int> referenceGeneral(const Image& img, const std::vector<double>& m, int xw, int yw,
                                  double divisor)
{
  const int w = img.w, H = img.h, N = img.spp, xr = xw / 2, yr = yw / 2;
  auto mirror = [](int r, int n) { return r < 0 ? -r : r >= n ? 2 * (n - 1) - r : r; };
  std::vector<int> out;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < N; ++c) {
        int64_t acc = 0;
        for (int j = 0; j < yw; ++j)
          for (int i = 0; i < xw; ++i)
            acc += (int64_t)m[j * xw + i] *
                   scaled(img, mirror(x - xr + i, w), mirror(y - yr + j, H), c);
        out.push_back(stored(img.bps, clamp_int<int64_t>(acc / (int64_t)divisor, 0, maxOf(img.bps))));
      }
  return out;
}

} // namespace

TEST(GeneralConvolution, MatchesReferenceWithMirroredBorders)
{
  struct Case {
    int xw, yw;
    std::vector<double> m;
    double divisor;
  };
  const Case cases[] = {
      {3, 3, {1, 1, 1, 1, 1, 1, 1, 1, 1}, 9.0},
      {3, 3, {0, -1, 0, -1, 5, -1, 0, -1, 0}, 1.0},
      {2, 2, {1, 2, 3, 4}, 10.0},               // even size: anchor right of / below the middle
      {1, 3, {1, 2, 1}, 4.0},                   // one column: all by the border rule
      {4, 1, {1, 1.9, 0.9, 1}, 3.5},            // fractions dropped, divisor truncated to 3
      {5, 5, std::vector<double>(25, 1.0), 25},
  };
  uint32_t seed = 7;
  for (const PixelType& t : kTypes)
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(t.name) + " " + std::to_string(c.xw) + "x" + std::to_string(c.yw));
      Image img = makeImage(8, 6, t.spp, t.bps, 0);
      fillPattern(img, seed++);
      std::vector<double> m = c.m;
      for (double& x : m)
        x = std::trunc(x);
      const std::vector<int> want = referenceGeneral(img, m, c.xw, c.yw, std::trunc(c.divisor));
      convolution_matrix(img, c.m.data(), c.xw, c.yw, c.divisor);
      EXPECT_EQ(samplesOf(img), want);
    }
}

TEST(GeneralConvolution, BoxMeanUsesTheRowNextToTheEdgeTwice)
{
  Image img = imageFromBytes(3, 3, 1, {0, 0, 0, 90, 90, 90, 180, 180, 180});
  const double box[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
  convolution_matrix(img, box, 3, 3, 9.0);
  // Row 0 averages rows 1, 0, 1: (90 + 0 + 90) / 3.
  EXPECT_EQ(samplesOf(img), (std::vector<int>{60, 60, 60, 90, 90, 90, 120, 120, 120}));
}

TEST(GeneralConvolution, PaddedRowsBecomeTight)
{
  Image img = makeImage(5, 4, 1, 8, 16);
  fillPattern(img, 3);
  Image copy = img; // tight copy with the same pixels
  const double one[1] = {1};
  convolution_matrix(img, one, 1, 1, 1.0);
  EXPECT_EQ(img.rowStride, 0u);
  EXPECT_TRUE(samePixels(img, copy));
}

TEST(GeneralConvolution, RefusesWhatItCannotCompute)
{
  const double box[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
  struct Case {
    const char* what;
    int w, h, xw, yw;
    double divisor;
  };
  const Case cases[] = {{"zero divisor", 5, 5, 3, 3, 0.0},
                        {"divisor without integer part", 5, 5, 3, 3, 0.7},
                        {"kernel wider than image", 2, 5, 3, 3, 9.0},
                        {"kernel taller than image", 5, 2, 3, 3, 9.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Image img = makeImage(c.w, c.h, 1, 8, 0);
    fillPattern(img, 5);
    Image before = img;
    img.pixelsDirty = false;
    convolution_matrix(img, box, c.xw, c.yw, c.divisor);
    EXPECT_TRUE(samePixels(img, before));
    EXPECT_FALSE(img.pixelsDirty);
  }
  Image empty;
  convolution_matrix(empty, box, 3, 3, 9.0);
  EXPECT_EQ(empty.data, nullptr);
}

TEST(SeparableConvolution, ChangesOnlyTheInterior)
{
  Image img = makeImage(10, 10, 1, 8, 0);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x)
      setSampleAt(img, x, y, 0, (x * 37 + y * 11) % 200);
  Image before = img;
  const double h[3] = {0.25, 0.5, 0.25}, v[3] = {-0.25, -0.5, -0.25};
  decomposable_convolution_matrix(img, h, v, 3, 3, 2.0);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) {
      const bool interior = x >= 1 && x <= 7 && y >= 1 && y <= 7;
      if (!interior) {
        EXPECT_EQ(sampleAt(img, x, y), sampleAt(before, x, y)) << x << "," << y;
        continue;
      }
      double want = sampleAt(before, x, y) * 2.0;
      for (int j = 0; j < 3; ++j) {
        double t = 0.0;
        for (int i = 0; i < 3; ++i)
          t += sampleAt(before, x - 1 + i, y - 1 + j) * h[i];
        want += t * v[j];
      }
      EXPECT_EQ(sampleAt(img, x, y), saturate_cast<uint8_t>(want)) << x << "," << y;
    }
}

TEST(SeparableConvolution, HonoursRowStrideAndRefusesOtherTypes)
{
  const double h[3] = {0.25, 0.5, 0.25}, v[3] = {0.25, 0.5, 0.25};
  Image padded = makeImage(6, 5, 1, 8, 13);
  fillPattern(padded, 9);
  Image tight = padded;
  decomposable_convolution_matrix(padded, h, v, 3, 3, 0.0);
  decomposable_convolution_matrix(tight, h, v, 3, 3, 0.0);
  EXPECT_TRUE(samePixels(padded, tight));
  for (int y = 0; y < 5; ++y) // padding untouched
    for (unsigned i = 6; i < 13; ++i)
      EXPECT_EQ(padded.data[y * 13 + i], 0xA5);

  for (const PixelType& t : kTypes) {
    if (t.spp == 1 && t.bps == 8)
      continue;
    Image img = makeImage(6, 5, t.spp, t.bps, 0);
    fillPattern(img, 4);
    Image before = img;
    decomposable_convolution_matrix(img, h, v, 3, 3, 0.0);
    EXPECT_TRUE(samePixels(img, before)) << t.name;
  }
}
