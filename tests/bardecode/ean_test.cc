#include <gtest/gtest.h>

#include "bardecode/ean.hh"
#include "symbols.hh"

using namespace BarDecode;
using bartest::tokensOf;

namespace {

scanner_result_t read(const std::vector<token_t>& t, unsigned dir)
{
  token_iterator it = t.begin();
  return ean_impl.scan(it, t.end(), 7, 9, t.front().second, (directions_t)dir);
}

std::vector<bartest::Symbol> eanSymbols()
{
  std::vector<bartest::Symbol> r;
  for (const char* f : {"ean8", "ean13", "upca"})
    for (const auto& s : bartest::family(f))
      r.push_back(s);
  return r;
}

} // namespace

TEST(Ean, ZintSymbolsBothWays)
{
  const auto all = eanSymbols();
  ASSERT_EQ(all.size(), 20u);
  for (const auto& s : all)
    for (unsigned u = 1; u <= 4; ++u) {
      const auto fwd = read(tokensOf(s.modules, u, 10 * u), left_right | right_left);
      EXPECT_TRUE(fwd.valid) << s.text << " u " << u;
      EXPECT_EQ(fwd.type, s.type) << s.text;
      EXPECT_EQ(fwd.code, s.text);
      EXPECT_EQ(fwd.x, 7);
      EXPECT_EQ(fwd.y, 9);
      const auto rev = read(tokensOf(bartest::mirrored(s.modules), u, 10 * u), left_right | right_left);
      EXPECT_EQ(rev.type, s.type) << "mirrored " << s.text << " u " << u;
      EXPECT_EQ(rev.code, s.text);
    }
}

TEST(Ean, DirectionsAreObeyed)
{
  const auto s = bartest::family("ean13").front();
  EXPECT_TRUE(read(tokensOf(s.modules, 2, 20), left_right).valid);
  EXPECT_FALSE(read(tokensOf(s.modules, 2, 20), right_left).valid);
  EXPECT_FALSE(read(tokensOf(bartest::mirrored(s.modules), 2, 20), left_right).valid);
  EXPECT_TRUE(read(tokensOf(bartest::mirrored(s.modules), 2, 20), right_left).valid);
}

TEST(Ean, QuietZone)
{
  // Start guard modules 2 px: 9 px of light in front fail, 10 pass.
  const auto s = bartest::family("ean8").front();
  EXPECT_FALSE(read(tokensOf(s.modules, 2, 9), left_right).valid);
  EXPECT_TRUE(read(tokensOf(s.modules, 2, 10), left_right).valid);
}

TEST(Ean, BrokenSymbols)
{
  const auto ean13 = bartest::family("ean13");
  const std::string a = ean13[3].modules; // 1234567890128
  ASSERT_EQ(ean13[3].text, "123456789012");
  ASSERT_EQ(a.size(), 95u);

  // Last digit of another symbol: a wrong check digit.
  std::string wrong = a;
  wrong.replace(85, 7, ean13[0].modules.substr(85, 7)); // ...7 from 5901234123457
  EXPECT_FALSE(read(tokensOf(wrong, 2, 20), left_right | right_left).valid);

  // Left-half parities LLLLLG, not one of the ten first-digit patterns:
  // digits 1..6 taken from 212345678901 (LLGGLG) and 412345678901 (LGLLGG).
  const std::string two = bartest::family("ean13")[4].modules;
  const std::string four = bartest::family("ean13")[6].modules;
  ASSERT_EQ(ean13[4].text, "212345678901");
  ASSERT_EQ(ean13[6].text, "412345678901");
  std::string parity = two;
  for (int d : {2, 3})
    parity.replace(3 + 7 * d, 7, four.substr(3 + 7 * d, 7));
  EXPECT_FALSE(read(tokensOf(parity, 2, 20), left_right | right_left).valid);

  // Tokens that end inside the symbol.
  auto cut = tokensOf(a, 2, 20);
  cut.resize(cut.size() - 6);
  EXPECT_FALSE(read(cut, left_right | right_left).valid);
}

TEST(Ean, NoTrailingQuietZoneNeeded)
{
  const auto s = bartest::family("upca").front();
  auto t = tokensOf(s.modules + "0101", 2, 20);
  const auto r = read(t, left_right);
  EXPECT_EQ(r.type, upca);
  EXPECT_EQ(r.code, s.text);
}
