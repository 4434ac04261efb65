#include <gtest/gtest.h>

#include <map>

#include "bardecode/code128.hh"
#include "symbols.hh"

using namespace BarDecode;
using bartest::tokensOf;

namespace {

scanner_result_t read(const std::vector<token_t>& t, bool mirrored)
{
  token_iterator it = t.begin();
  return mirrored ? code128_impl.reverse_scan(it, t.end(), 3, 4, t.front().second)
                  : code128_impl.scan(it, t.end(), 3, 4, t.front().second);
}

// The symbol words of values, for the decoding tests; the table itself is
// checked against zint's symbols.
std::list<unsigned short> words(std::initializer_list<int> values)
{
  std::map<int, unsigned short> of;
  for (unsigned w = 0; w < 512; ++w)
    if (code128_impl.table[w] != 255)
      of[code128_impl.table[w]] = (unsigned short)w;
  std::list<unsigned short> l;
  for (int v : values)
    l.push_back(of.at(v));
  return l;
}

// Values followed by their check value.
std::list<unsigned short> checked(std::initializer_list<int> values)
{
  std::vector<int> v(values);
  int sum = v[0];
  for (size_t i = 1; i < v.size(); ++i)
    sum += v[i] * (int)i;
  v.push_back(sum % 103);
  std::list<unsigned short> l;
  for (int x : v)
    l.push_back(words({x}).front());
  return l;
}

} // namespace

TEST(Code128, ZintSymbolsBothWays)
{
  std::vector<bartest::Symbol> all = bartest::family("code128");
  for (const auto& s : bartest::family("gs1_128"))
    all.push_back(s);
  ASSERT_EQ(all.size(), 12u);
  for (const auto& s : all)
    for (unsigned u = 1; u <= 4; ++u) {
      const auto fwd = read(tokensOf(s.modules, u, 10 * u), false);
      EXPECT_TRUE(fwd.valid) << s.text << " u " << u;
      EXPECT_EQ(fwd.type, s.type) << s.text;
      EXPECT_EQ(fwd.code, s.text);
      EXPECT_EQ(fwd.x, 3);
      const auto rev = read(tokensOf(bartest::mirrored(s.modules), u, 10 * u), true);
      EXPECT_TRUE(rev.valid) << "mirrored " << s.text << " u " << u;
      EXPECT_EQ(rev.type, s.type);
      EXPECT_EQ(rev.code, s.text);
      // Each read refuses the other orientation.
      EXPECT_FALSE(read(tokensOf(s.modules, u, 10 * u), true).valid);
    }
}

TEST(Code128, DecodeSymbolValues)
{
  struct Case {
    const char* what;
    std::list<unsigned short> list;
    bool valid;
    int type;
    std::string text;
  };
  const Case cases[] = {
    {"start B, A, B", words({104, 33, 34, 102}), true, 16, "AB"},
    {"set C pairs keep their leading zero", checked({105, 12, 5}), true, 16, "1205"},
    {"leading FNC1", checked({105, 102, 1, 23}), true, 32, "0123"},
    {"later FNC1 is a group separator", checked({104, 33, 102, 34}), true, 16, "A\x1d" "B"},
    {"SHIFT in set B for one symbol", checked({104, 98, 65, 65}), true, 16, "\x01" "a"},
    {"set A controls", checked({103, 64, 74, 33}), true, 16, std::string("\0\nA", 3)},
    {"CODE C then CODE A", checked({104, 33, 99, 42, 101, 34}), true, 16, "A42B"},
    {"no data", checked({104}), true, 16, ""},
    {"wrong check", words({104, 33, 34, 101}), false, 0, ""},
    {"stop inside", checked({104, 106, 33}), false, 0, ""},
    {"start alone", words({104}), false, 0, ""},
  };
  for (const Case& c : cases) {
    const auto r = code128_impl.decode_key_list(c.list, 1, 2);
    EXPECT_EQ(r.valid, c.valid) << c.what;
    EXPECT_EQ(r.type, c.type) << c.what;
    EXPECT_EQ(r.code, c.text) << c.what;
  }
}

TEST(Code128, FunctionCharactersWarnAndCount)
{
  testing::internal::CaptureStderr();
  const auto r = code128_impl.decode_key_list(checked({103, 101, 33}), 0, 0);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(r.valid);
  EXPECT_EQ(r.code, "A");
  EXPECT_EQ(err, "WARNING: Function charaters for code128 are not yet supported.\n");
}

TEST(Code128, FirstBarAgainstFirstSpace)
{
  // The width test passes when the read goes on past the first two tokens.
  for (unsigned bar : {11u, 12u, 30u, 31u}) {
    const std::vector<token_t> t{{false, 400}, {true, bar}, {false, 10}, {true, 5}, {false, 5},
                                 {true, 5}, {false, 5}, {true, 5}};
    token_iterator it = t.begin();
    code128_impl.scan(it, t.end(), 0, 0, 400);
    const bool passed = it - t.begin() > 2;
    EXPECT_EQ(passed, bar >= 12 && bar <= 30) << bar;
  }
}

TEST(Code128, QuietZoneAndTruncation)
{
  const auto s = bartest::family("code128").front();
  EXPECT_FALSE(read(tokensOf(s.modules, 2, 9), false).valid);
  EXPECT_TRUE(read(tokensOf(s.modules, 2, 10), false).valid);
  EXPECT_FALSE(read(tokensOf(bartest::mirrored(s.modules), 2, 9), true).valid);
  auto cut = tokensOf(s.modules, 2, 20);
  cut.resize(cut.size() - 4);
  EXPECT_FALSE(read(cut, false).valid);
  // A symbol that is not a start symbol in front.
  const std::string noStart = s.modules.substr(11);
  EXPECT_FALSE(read(tokensOf(noStart, 2, 20), false).valid);
}
