#include <gtest/gtest.h>

#include <set>

#include "bardecode/bardecode.hh"

using namespace BarDecode;

TEST(Results, TypeNames)
{
  const std::pair<int, const char*> names[] = {
    {1, "ean8"}, {2, "ean13"}, {4, "upca"}, {8, "upce"}, {16, "code128"}, {32, "code128"},
    {64, "code39"}, {128, "code39"}, {256, "code39"}, {512, "code25"},
    {0, "?"}, {3, "?"}, {1024, "?"}, {-1, "?"},
  };
  for (auto& n : names)
    EXPECT_STREQ(bartype2string(n.first), n.second) << n.first;
}

TEST(Results, OrderByTypeThenText)
{
  const scanner_result_t a(16, "12", 0, 0), b(16, "123", 5, 5), c(2, "zzz", 0, 0);
  comp less;
  EXPECT_TRUE(less(a, b));
  EXPECT_FALSE(less(b, a));
  EXPECT_TRUE(less(c, a));
  // Position and validity are no part of the key.
  scanner_result_t moved(16, "12", 99, 7);
  moved.valid = false;
  EXPECT_FALSE(less(a, moved));
  EXPECT_FALSE(less(moved, a));
  std::set<scanner_result_t, comp> s{a, b, c, moved};
  EXPECT_EQ(s.size(), 3u);
}

TEST(Results, DefaultRecord)
{
  const scanner_result_t r;
  EXPECT_FALSE(r.valid);
  EXPECT_EQ(r.type, 0);
  EXPECT_EQ(r.code, "");
  EXPECT_EQ(r.x, 0);
  EXPECT_EQ(r.y, 0);
}
