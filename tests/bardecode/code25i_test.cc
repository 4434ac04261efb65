#include <gtest/gtest.h>

#include "bardecode/code25i.hh"
#include "symbols.hh"

using namespace BarDecode;
using bartest::tokensOf;

namespace {

scanner_result_t read(const std::vector<token_t>& t, bool mirrored)
{
  token_iterator it = t.begin();
  return mirrored ? code25i_impl.reverse_scan(it, t.end(), 1, 2, t.front().second)
                  : code25i_impl.scan(it, t.end(), 1, 2, t.front().second);
}

} // namespace

TEST(Code25i, ZintSymbolsBothWays)
{
  const auto all = bartest::family("code25");
  ASSERT_EQ(all.size(), 5u);
  for (const auto& s : all)
    for (unsigned u = 1; u <= 4; ++u) {
      const auto fwd = read(tokensOf(s.modules, u, 10 * u), false);
      EXPECT_TRUE(fwd.valid) << s.text << " u " << u;
      EXPECT_EQ(fwd.type, code25i);
      EXPECT_EQ(fwd.code, s.text) << "every digit, the check digit included";
      const auto rev = read(tokensOf(bartest::mirrored(s.modules), u, 10 * u), true);
      EXPECT_TRUE(rev.valid) << "mirrored " << s.text << " u " << u;
      EXPECT_EQ(rev.code, s.text);
    }
}

TEST(Code25i, BrokenSymbols)
{
  const auto s = bartest::family("code25")[1]; // "1234"
  ASSERT_EQ(s.text, "1234");
  const auto good = tokensOf(s.modules, 2, 20);
  ASSERT_TRUE(read(good, false).valid);

  // Start pattern straight into the stop pattern.
  const std::string empty = s.modules.substr(0, 4) + s.modules.substr(s.modules.size() - 5);
  EXPECT_FALSE(read(tokensOf(empty, 2, 20), false).valid);
  EXPECT_FALSE(read(tokensOf(bartest::mirrored(empty), 2, 20), true).valid);

  // Quiet zone against 2.5 times the first bar and space (2 + 2 px).
  auto q = good;
  q[0].second = 9;
  EXPECT_FALSE(read(q, false).valid);
  q[0].second = 10;
  EXPECT_TRUE(read(q, false).valid);

  // The light run after the stop pattern must exceed 1.3 times its width
  // (5 modules, 10 px).
  auto tail = good;
  tail.back().second = 13;
  EXPECT_FALSE(read(tail, false).valid);
  tail.back().second = 14;
  EXPECT_TRUE(read(tail, false).valid);
  tail.pop_back();
  EXPECT_FALSE(read(tail, false).valid);

  // The second pair one and a half times as wide as the first.
  auto wide = good;
  for (size_t i = 15; i < 25; ++i)
    wide[i].second = wide[i].second * 3 / 2;
  EXPECT_FALSE(read(wide, false).valid);

  // Three wide bars in the first pair.
  auto three = good;
  three[7].second = 6;
  EXPECT_FALSE(read(three, false).valid);
}
