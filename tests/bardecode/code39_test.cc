#include <gtest/gtest.h>

#include "bardecode/code39.hh"
#include "symbols.hh"

using namespace BarDecode;
using bartest::tokensOf;

namespace {

scanner_result_t read(const std::vector<token_t>& t, bool mirrored)
{
  token_iterator it = t.begin();
  return mirrored ? code39_impl.reverse_scan(it, t.end(), 5, 6, t.front().second)
                  : code39_impl.scan(it, t.end(), 5, 6, t.front().second);
}

} // namespace

TEST(Code39, ZintSymbolsBothWays)
{
  const auto all = bartest::family("code39");
  ASSERT_EQ(all.size(), 6u);
  for (const auto& s : all)
    for (unsigned u = 1; u <= 4; ++u) {
      const auto fwd = read(tokensOf(s.modules, u, 10 * u), false);
      EXPECT_TRUE(fwd.valid) << s.text << " u " << u;
      EXPECT_EQ(fwd.type, code39);
      EXPECT_EQ(fwd.code, s.text) << "no check character removed, no pair expanded";
      EXPECT_EQ(fwd.x, 5);
      const auto rev = read(tokensOf(bartest::mirrored(s.modules), u, 10 * u), true);
      EXPECT_TRUE(rev.valid) << "mirrored " << s.text << " u " << u;
      EXPECT_EQ(rev.code, s.text);
      EXPECT_FALSE(read(tokensOf(bartest::mirrored(s.modules), u, 10 * u), false).valid);
    }
}

TEST(Code39, BrokenSymbols)
{
  const auto a = bartest::family("code39")[2]; // "A": start, gap, A, gap, stop
  ASSERT_EQ(a.text, "A");
  const std::vector<token_t> good = tokensOf(a.modules, 3, 30);
  ASSERT_TRUE(read(good, false).valid);

  // Start and stop only.
  const std::string startStop = a.modules.substr(0, 13) + a.modules.substr(26);
  EXPECT_FALSE(read(tokensOf(startStop, 3, 30), false).valid);

  struct Case {
    const char* what;
    size_t token;  // index into good's tokens (0 = quiet zone)
    unsigned width;
    bool valid;
  };
  // The start character is 36 px wide: gaps from 1.2 to 5.14 px pass.
  const Case cases[] = {
    {"gap of 1 px", 10, 1, false},
    {"gap of 2 px", 10, 2, true},
    {"gap of 5 px", 10, 5, true},
    {"gap of 6 px", 10, 6, false},
    {"quiet zone 14 px (0.4 x 36 = 14.4)", 0, 14, false},
    {"quiet zone 15 px", 0, 15, true},
  };
  for (const Case& c : cases) {
    auto t = good;
    t[c.token].second = c.width;
    EXPECT_EQ(read(t, false).valid, c.valid) << c.what;
  }

  // A character twice as wide as the one before.
  auto wide = good;
  for (size_t i = 11; i < 20; ++i)
    wide[i].second *= 2;
  EXPECT_FALSE(read(wide, false).valid);

  // No character: the first bar and space of "A" trade widths.
  auto odd = good;
  std::swap(odd[11].second, odd[12].second);
  EXPECT_FALSE(read(odd, false).valid);

  // Tokens ending before the stop character.
  auto cut = good;
  cut.resize(cut.size() - 5);
  EXPECT_FALSE(read(cut, false).valid);
}
