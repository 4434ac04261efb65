#include <gtest/gtest.h>

#include <cmath>

#include "bardecode/scanner_utils.hh"

using namespace BarDecode;

namespace {

bar_vector_t bars(std::initializer_list<token_t> t)
{
  bar_vector_t b(0);
  for (const token_t& x : t) {
    b.push_back(x);
    (x.first ? b.black_width : b.white_width) += x.second;
  }
  b.total_width = b.black_width + b.white_width;
  return b;
}

const token_t W(unsigned w) { return token_t(false, w); }
const token_t B(unsigned w) { return token_t(true, w); }

} // namespace

TEST(ScannerUtils, GetAndAddBars)
{
  const std::vector<token_t> line{W(9), B(3), W(5), B(2)};
  token_iterator cur = line.begin();
  bar_vector_t b(4);
  EXPECT_EQ(get_bars(cur, line.cend(), b, 1), 1u);
  EXPECT_EQ(add_bars(cur, line.cend(), b, 1), 1u);
  EXPECT_EQ(b.black_width, 3u);
  EXPECT_EQ(b.white_width, 5u);
  EXPECT_EQ(b.total_width, 8u);
  EXPECT_EQ(&*cur, &line[2]) << "the cursor stands on the last token taken";

  // Asking for more than the line holds: a short count, the rest kept.
  cur = line.begin() + 1;
  EXPECT_EQ(get_bars(cur, line.cend(), b, 4), 2u);
  ASSERT_EQ(b.size(), 2u);
  EXPECT_EQ(b.total_width, 7u);
  EXPECT_TRUE(cur == line.cend());

  cur = line.begin();
  EXPECT_EQ(get_bars(cur, line.cend(), b, 0), 0u);
  EXPECT_TRUE(b.empty());
  EXPECT_EQ(b.total_width, 0u);
}

TEST(ScannerUtils, ModuleWords)
{
  const bar_vector_t b = bars({W(6), B(4), W(2), B(2)});
  EXPECT_EQ(get_module_word(b, 2.0, 7), 13);
  EXPECT_EQ(get_module_word(b, 2.0, 8), 0);
  EXPECT_EQ(reverse_get_module_word(b, 2.0, 7), 88);
  EXPECT_EQ(get_module_word(bars({B(1)}), 2.0, 1), 1) << "half a module rounds up";
  EXPECT_EQ(get_module_word(bars({B(10), W(2)}), 2.0, 6), 0) << "five modules are none";
  EXPECT_EQ(get_module_word(bar_vector_t(0), 2.0, 0), 0);
}

TEST(ScannerUtils, DegenerateModuleWidths)
{
  // Zero-width tokens give u = 0: no word, and no rounding of inf or NaN.
  const bar_vector_t zero = bars({B(0), W(0), B(0)});
  double u = zero.total_width / 3.0;
  EXPECT_EQ(get_module_word(zero, u, 3), 0);
  EXPECT_EQ(get_module_word_adjust_u(zero, u, 3), 0);
  const bar_vector_t b = bars({B(2), W(2), B(2)});
  for (double bad : std::vector<double>{0.0, -1.0, NAN, INFINITY, 1e-300}) {
    EXPECT_EQ(get_module_word(b, bad, 3), 0) << bad;
    double v = bad;
    EXPECT_EQ(get_module_word_adjust_u(b, v, 3), 0) << bad;
  }
}

TEST(ScannerUtils, AdjustModuleWidth)
{
  // Mean 3.0 equals u: no refinement; 2.25 and 3.75 fail too, and the
  // copy with bars a pixel narrower and spaces a pixel wider resolves.
  {
    const bar_vector_t b = bars({B(4), W(4), B(4), W(4), B(5)});
    double u = 3.0;
    EXPECT_EQ(get_module_word_adjust_u(b, u, 7), 0b1001001);
    EXPECT_EQ(u, 3.0);
  }
  // Mean 2.0 near u = 3.0: u refined to 7/3 and written back.
  {
    const bar_vector_t b = bars({B(2), W(6), B(2)});
    double u = 3.0;
    EXPECT_EQ(get_module_word_adjust_u(b, u, 5), 0b10001);
    EXPECT_DOUBLE_EQ(u, 7.0 / 3);
  }
  // k = 2, total 9: mean 4.5 is more than 0.4 u away, no further attempt.
  {
    const bar_vector_t b = bars({B(4), W(5)});
    double u = 3.0;
    EXPECT_EQ(get_module_word_adjust_u(b, u, 2), 0);
    EXPECT_DOUBLE_EQ(u, 3.0);
  }
  // k = 5, total 18 (mean 3.6): u refined to 3.4 and left so on failure.
  {
    const bar_vector_t b = bars({B(18)});
    double u = 3.0;
    EXPECT_EQ(get_module_word_adjust_u(b, u, 5), 0);
    EXPECT_NEAR(u, 3.4, 1e-12);
  }
}
