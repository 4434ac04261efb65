// String library: the edge cases scripts rely on and the bound on pattern
// recursion.
#include <gtest/gtest.h>

#include <string>

#include "libs_support.hh"

namespace {

using libtest::Lua;

TEST(StringLib, EdgeCases) {
  struct Case {
    const char* code;
    const char* out;
  } cases[] = {
      {"print(string.gfind == string.gmatch)", "true\n"},
      {"print(string.format('%5.2f', 3.14159))", " 3.14\n"},
      {"print(string.format('%q', 'a\\nb'))", "\"a\\\nb\"\n"},
      {"print(string.format('%d', 3.9), string.format('%x', -1))", "3\tffffffffffffffff\n"},
      {"print(string.format('%x', 2^63), string.format('%u', 2^64 - 2^11))",
       "8000000000000000\t18446744073709549568\n"},
      {"print(pcall(string.format, '%100d', 1))",
       "false\tinvalid format (width or precision too long)\n"},
      {"print(pcall(string.format, '%w', 1))", "false\tinvalid option '%w' to 'format'\n"},
      {"print(('x'):rep(0) == '', ('abc'):sub(-2), select('#', (''):byte()))", "true\tbc\t0\n"},
      {"print(('hello world'):gsub('o', '0', 1))", "hell0 world\t1\n"},
      {"print(('abc'):gsub('%w', '%%'))", "%%%\t3\n"},
      {"print(('a.c'):find('.', 1, true))", "2\t2\n"},
      {"print(#string.format('%s', ('a\\0'):rep(60)))", "120\n"},
      {"print(('abc'):upper(), ('ABC'):lower())", "ABC\tabc\n"},
  };
  for (const Case& c : cases) {
    Lua lua;
    EXPECT_EQ(lua.run(c.code), c.out) << c.code;
  }
}

TEST(StringLib, DeepPatternsRaiseInsteadOfCrashing) {
  Lua lua;
  std::string out = lua.run(
      "local s = string.rep('a', 100000)\n"
      "print(pcall(string.match, s, string.rep('a?', 100000) .. s))\n"
      "print(pcall(string.find, s, string.rep('(a)', 31) .. string.rep('a?', 5000)))\n"
      "print(pcall(string.gsub, s, string.rep('a-', 3000) .. 'b', ''))\n"
      "print(string.match(string.rep('a', 300), string.rep('a?', 400) .. '$') ~= nil)\n");
  EXPECT_EQ(out,
            "false\tpattern too complex\n"
            "false\tpattern too complex\n"
            "false\tpattern too complex\n"
            "true\n");
}

// Counts near the ends of a C int, where the reference interpreter overflows
// (a crash in unpack) or grinds through two billion empty appends.
TEST(StringLib, CountsAtTheLimitsOfAnInt) {
  Lua lua;
  EXPECT_EQ(lua.run("print(#string.rep('', 2^31 - 1), #string.rep('', 2^31))\n"
                    "print(pcall(unpack, {}, -2^31, 2^31 - 1))\n"
                    "print(unpack({}, 2^31 - 2, 2^31 - 1))\n"),
            "0\t0\n"
            "false\ttoo many results to unpack\n"
            "nil\tnil\n");
}

TEST(StringLib, DumpWritesOurChunkFormat) {
  Lua lua;
  EXPECT_EQ(lua.run("local d = string.dump(function(a) return a * 2 end)\n"
                    "print(d:byte(1, 8))\n"
                    "print(loadstring(d)(21))\n"
                    "print(pcall(string.dump, print))\n"
                    "print(pcall(string.dump, 1))\n"),
            "183\t81\t90\t82\t81\t0\t8\t0\n"
            "42\n"
            "false\tunable to dump given function\n"
            "false\tbad argument #1 to '?' (function expected, got number)\n");
}

}  // namespace
