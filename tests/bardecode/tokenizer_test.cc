#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "bardecode/tokenizer.hh"
#include "tests/support/TestSupport.hh"

using namespace BarDecode;
using testsupport::imageFromSamples;

namespace {

std::vector<token_t> tokensOfLine(const std::vector<uint16_t>& v)
{
  std::vector<token_t> t;
  tokenizer_scratch s;
  tokenize(v.data(), (int64_t)v.size(), t, s);
  return t;
}

std::vector<uint16_t> runs(std::initializer_list<std::pair<int, int>> r)
{
  std::vector<uint16_t> v;
  for (auto& p : r)
    v.insert(v.end(), p.second, (uint16_t)p.first);
  return v;
}

const token_t W(int w) { return token_t(false, (unsigned)w); }
const token_t B(int w) { return token_t(true, (unsigned)w); }

} // namespace

TEST(Tokenizer, LinesToRuns)
{
  struct Case {
    const char* what;
    std::vector<uint16_t> line;
    std::vector<token_t> tokens;
  };
  const Case cases[] = {
    {"crisp bar", {255, 255, 255, 0, 0, 0, 255, 255, 255, 255}, {W(2), B(3), W(4)}},
    {"blurred bar, halves truncated", {255, 255, 128, 0, 0, 0, 128, 255, 255, 255},
     {W(1), B(4), W(3)}},
    {"constant dark line", std::vector<uint16_t>(10, 0), {W(9)}},
    {"constant light line", std::vector<uint16_t>(10, 255), {W(9)}},
    {"one pixel", {200}, {W(0)}},
    {"fall at once", {255, 0}, {W(0), B(1)}},
    {"too weak to be an edge", {255, 240}, {W(1)}},
    {"two-step fall merged", runs({{255, 3}, {120, 4}, {0, 4}}), {W(2), B(8)}},
    {"weak edge near a strong one", runs({{0, 10}, {255, 10}, {195, 10}}), {B(9), W(20)}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(tokensOfLine(c.line), c.tokens) << c.what;
}

TEST(Tokenizer, SameColourStretches)
{
  // Three falls in a row: the middle run of the three dark ones flips.
  const auto t = tokensOfLine(runs({{255, 6}, {170, 6}, {85, 6}, {0, 6}}));
  ASSERT_FALSE(t.empty());
  for (size_t i = 1; i < t.size(); ++i)
    EXPECT_NE(t[i].first, t[i - 1].first) << "colours alternate after clean-up at " << i;
}

TEST(PixelIterator, GroupsOfRows)
{
  struct Case {
    int h, lines, skip;
    std::vector<int> starts;
  };
  const Case cases[] = {
    {100, 3, 8, {0, 8, 16, 24, 32, 40, 48, 56, 64, 72, 80, 88, 96}},
    {97, 3, 8, {0, 8, 16, 24, 32, 40, 48, 56, 64, 72, 80, 88}},
    {2, 3, 8, {0}},
    {1, 1, 1, {0}},
    {5, 1, 1, {0, 1, 2, 3}},
  };
  for (const Case& c : cases) {
    Image img = testsupport::makeImage(3, c.h, 1, 8);
    Tokenizer<false> tk(&img, c.lines, c.skip);
    std::vector<int> starts;
    std::vector<token_t> tokens;
    while (!tk.it.end()) {
      starts.push_back(tk.it.y);
      tk.next_line(tokens);
      ASSERT_LT(starts.size(), 1000u);
    }
    EXPECT_EQ(starts, c.starts) << "h " << c.h;
  }
}

TEST(PixelIterator, MeanOfGroupRepeatsLastLine)
{
  // Rows 0 and 1 of a 2-row image averaged as 0, 1, 1.
  Image img = imageFromSamples(2, 2, 1, 8, {30, 90, 0, 60});
  PixelIterator<false> it(&img, 3, 8);
  EXPECT_EQ(*it, (30 + 0 + 0) / 3);
  ++it;
  EXPECT_EQ(*it, (90 + 60 + 60) / 3);
  ++it;
  EXPECT_TRUE(it.end());

  // Columns walk down: columns 0, 1, 1 of a 2-column image.
  PixelIterator<true> col(&img, 3, 8);
  EXPECT_EQ(*col, (30 + 90 + 90) / 3);
  ++col;
  EXPECT_EQ(*col, (0 + 60 + 60) / 3);
  ++col;
  EXPECT_TRUE(col.end());

  // A hostile group size stores one iterator per real line.
  PixelIterator<false> big(&img, 1 << 30, 1);
  EXPECT_EQ(big.line_its.size(), 2u);
  EXPECT_EQ(*big, (uint16_t)((30 + 0 * (uint64_t)((1 << 30) - 1)) / (1 << 30)));
}

TEST(PixelIterator, SixteenBitMeanDoesNotWrap)
{
  Image img = imageFromSamples(1, 3, 1, 16, {60000, 60000, 60000});
  PixelIterator<false> it(&img, 3, 8);
  EXPECT_EQ(*it, 60000);
}

TEST(PixelIterator, EveryPixelTypeAndBitPacking)
{
  // A column walk across packed rows must step through each row's padding.
  for (int bps : {1, 2, 4, 8, 16}) {
    const int max = bps == 16 ? 65535 : (1 << bps) - 1;
    Image img = imageFromSamples(3, 3, 1, bps, {0, max, 0, max, 0, max, 0, max, 0});
    PixelIterator<true> it(&img, 1, 1);
    std::vector<int> seen;
    while (!it.end()) {
      seen.push_back(*it ? 1 : 0);
      ++it;
      ASSERT_LT(seen.size(), 100u);
    }
    // Columns 0 and 1; the last column never starts a group.
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 0, 1, 0, 1})) << "bps " << bps;

    PixelIterator<false> rows(&img, 1, 1);
    seen.clear();
    while (!rows.end()) {
      seen.push_back(*rows ? 1 : 0);
      ++rows;
      ASSERT_LT(seen.size(), 100u);
    }
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 0, 1, 0, 1})) << "rows, bps " << bps;
  }
}

TEST(PixelIterator, NothingToWalkEndsAtOnce)
{
  Image empty;
  Image img = testsupport::makeImage(4, 4, 1, 8);
  struct Case {
    const Image* img;
    int lines, skip;
  };
  const Case cases[] = {
    {&empty, 3, 8}, {&img, 0, 8}, {&img, -3, 8}, {&img, 3, 0}, {&img, 3, -1}, {nullptr, 3, 8},
  };
  for (const Case& c : cases) {
    Tokenizer<false> rows(c.img, c.lines, c.skip);
    Tokenizer<true> cols(c.img, c.lines, c.skip);
    EXPECT_TRUE(rows.it.end());
    EXPECT_TRUE(cols.it.end());
    EXPECT_EQ(*rows.it, 0) << "no division by a group size of " << c.lines;
  }
  Image odd = testsupport::makeImage(4, 0, 1, 8);
  EXPECT_TRUE(PixelIterator<false>(&odd, 3, 8).end());
}

TEST(PixelIterator, UnsupportedPixelTypeSaysSoOnce)
{
  Image img = testsupport::makeImage(8, 8, 1, 8);
  img.spp = 5; // 40 bits per pixel: no pixel type
  testing::internal::CaptureStderr();
  PixelIterator<false> it(&img, 3, 8);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(it.end());
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

namespace {

// Thresholds edge by edge, each strong edge walking its cone out as far as
// it reaches: what edge_thresholds must equal.
std::vector<int32_t> conesOneByOne(const std::vector<int32_t>& s)
{
  const int64_t m = (int64_t)s.size();
  std::vector<int32_t> T(m, 16);
  for (int64_t i = 0; i < m; ++i) {
    const int32_t h = std::abs(s[i]) / 2;
    if (h <= T[i])
      continue;
    for (int64_t k = 0; h - k > 16; ++k) {
      if (i - k >= 0)
        T[i - k] = std::max<int32_t>(T[i - k], (int32_t)(h - k));
      if (i + k <= m - 1)
        T[i + k] = std::max<int32_t>(T[i + k], (int32_t)(h - k));
    }
  }
  return T;
}

} // namespace

TEST(Tokenizer, ThresholdEnvelopeMatchesEdgeByEdge)
{
  std::mt19937 rng(5);
  for (int scale : {40, 255, 65535 * 2})
    for (int round = 0; round < 50; ++round) {
      const int m = 1 + (int)(rng() % 300);
      std::vector<int32_t> s(m);
      for (int32_t& v : s)
        v = rng() % 4 ? (int32_t)(rng() % 41) - 20 : (int32_t)(rng() % (2 * scale + 1)) - scale;
      std::vector<int32_t> T(m);
      edge_thresholds(s.data(), m, T.data());
      ASSERT_EQ(T, conesOneByOne(s)) << "scale " << scale << " round " << round;
    }
}
