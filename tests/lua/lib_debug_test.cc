// Debug library: what scripts can ask of it without reaching the
// interpreter's internals.
#include <gtest/gtest.h>

#include "libs_support.hh"

namespace {

using libtest::Lua;

// An option string starting with '>' would make the info call take a
// "function" from the top of the thread's stack, whatever is there: it is
// refused as an invalid option, for levels and for functions alike.
TEST(DebugLib, OptionsCannotTakeAFunctionFromTheStack) {
  struct Case {
    const char* code;
    const char* out;
  } cases[] = {
      {"print(pcall(debug.getinfo, 1, '>S'))",
       "false\tbad argument #2 to '?' (invalid option)\n"},
      {"local ok, e = pcall(function() return debug.getinfo(1, '>>S' .. ('x'):rep(9)) end) print(e)",
       "test:1: bad argument #2 to 'getinfo' (invalid option)\n"},
      {"print(pcall(debug.getinfo, print, '>S'))",
       "false\tbad argument #2 to '?' (invalid option)\n"},
      {"print(debug.getinfo(print, 'S').what, debug.getinfo(1, 'S').what)", "C\tmain\n"},
  };
  for (const Case& c : cases) {
    Lua lua;
    EXPECT_EQ(lua.run(c.code), c.out) << c.code;
  }
}

}  // namespace
