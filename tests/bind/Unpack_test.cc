// Argument conversion through the wrappers: one table of script values
// against every target type and policy.
#include <gtest/gtest.h>

#include <string>

#include "bind_support.hh"

using namespace LuaWrapper;

namespace {

std::string showInt(int v) { return std::to_string(v); }
std::string showUnsigned(unsigned v) { return std::to_string(v); }
std::string showDouble(double v) {
  char b[64];
  snprintf(b, sizeof b, "%.17g", v);
  return b;
}
std::string showBool(bool v) { return v ? "true" : "false"; }
std::string showCStr(const char* v) { return v ? std::string("<") + v + ">" : "null"; }
std::string showString(std::string v) { return "<" + v + ">"; }
std::string showStringRef(const std::string& v) { return "[" + v + "]"; }
int showTable(LuaTable t) { return t.empty() ? -1 : t.getD<int>(1); }
bool showFunction(LuaFunction f) { return !f.empty(); }
std::string two(int a, const std::string& b) { return std::to_string(a) + b; }

struct Case {
  const char* code;
  bool ok;
  const char* value;
};

const Case kCases[] = {
    // int: numbers, numeric strings, truncation toward zero, low 32 bits
    {"return int_req(12)", true, "12"},
    {"return int_req('12')", true, "12"},
    {"return int_req(' 0x10 ')", true, "16"},
    {"return int_req(2.9)", true, "2"},
    {"return int_req(-2.9)", true, "-2"},
    {"return int_req(4294967297)", true, "1"},
    {"return int_req({})", false, "cannot convert argument #1 from table to int (current stackframe: 'int_req' )"},
    {"return int_req('x')", false, "cannot convert argument #1 from string to int (current stackframe: 'int_req' )"},
    {"return int_req()", false, "cannot convert argument #1 from no value to int (current stackframe: 'int_req' )"},
    {"return int_req(nil)", false, "cannot convert argument #1 from nil to int (current stackframe: 'int_req' )"},
    {"return int_opt()", true, "0"},
    {"return int_opt(nil)", true, "0"},
    {"return int_opt('7')", true, "7"},
    {"return int_opt('x')", false, "cannot convert argument #1 from string to int (current stackframe: 'int_opt' )"},
    {"return int_or80()", true, "80"},
    {"return int_or80(5)", true, "5"},
    {"return int_len('x')", true, "0"},
    {"return int_len({})", true, "0"},
    // unsigned int
    {"return uint_req(-1)", true, "4294967295"},
    {"return uint_req(true)", false, "cannot convert argument #1 from boolean to unsigned int (current stackframe: 'uint_req' )"},
    // double
    {"return dbl_req('1.5')", true, "1.5"},
    {"return dbl_req(0.1)", true, "0.10000000000000001"},
    {"return dbl_req(true)", false, "cannot convert argument #1 from boolean to double (current stackframe: 'dbl_req' )"},
    {"return dbl_len('no number')", true, "0"},
    // bool: booleans only
    {"return bool_req(true)", true, "true"},
    {"return bool_req(false)", true, "false"},
    {"return bool_req(nil)", false, "cannot convert argument #1 from nil to bool (current stackframe: 'bool_req' )"},
    {"return bool_req(1)", false, "cannot convert argument #1 from number to bool (current stackframe: 'bool_req' )"},
    {"return bool_len(nil)", true, "false"},
    {"return bool_len(1)", true, "false"},
    {"return bool_len('true')", true, "false"},
    {"return bool_len(true)", true, "true"},
    {"return bool_opt()", true, "false"},
    {"return bool_opt(1)", false, "cannot convert argument #1 from number to bool (current stackframe: 'bool_opt' )"},
    // strings: numbers convert, zero bytes survive
    {"return cstr_req('ab')", true, "<ab>"},
    {"return cstr_req(12)", true, "<12>"},
    {"return cstr_req({})", false, "cannot convert argument #1 from table to const char* (current stackframe: 'cstr_req' )"},
    {"return cstr_len({})", true, "null"},
    {"return str_req('a\\0b')", true, "<a\\0b> (zero byte: see below)"},
    {"return str_req(1.5)", true, "<1.5>"},
    {"return str_req(false)", false, "cannot convert argument #1 from boolean to std::string (current stackframe: 'str_req' )"},
    {"return sref_req('x')", true, "[x]"},
    {"return sref_opt()", true, "[]"},
    {"return sref_req(nil)", false, "cannot convert argument #1 from nil to std::string (current stackframe: 'sref_req' )"},
    // handles
    {"return tbl_req({42})", true, "42"},
    {"return tbl_req(1)", false, "cannot convert argument #1 from number to LuaWrapper::LuaTable (current stackframe: 'tbl_req' )"},
    {"return tbl_len(1)", true, "-1"},
    {"return fn_req(print)", true, "true"},
    {"return fn_req({})", false, "cannot convert argument #1 from table to LuaWrapper::LuaFunction (current stackframe: 'fn_req' )"},
    // converted first to last: the first wrong argument is reported
    {"return two(3, 'x')", true, "3x"},
    {"return two('a', {})", false, "cannot convert argument #1 from string to int (current stackframe: 'two' )"},
    {"return two(1, {})", false, "cannot convert argument #2 from table to std::string (current stackframe: 'two' )"},
    // a local alias names the local in the frame
    {"local f = int_req; return f({})", false, "cannot convert argument #1 from table to int (current stackframe: 'f' )"},
    {"return select(2, pcall(int_req, {}))", true, "cannot convert argument #1 from table to int (current stackframe: '?' )"},
};

class UnpackTest : public ::testing::TestWithParam<Case> {};

TEST_P(UnpackTest, Converts) {
  bindtest::State s;
  s.global<FunctionWrapper<&showInt>::Wrapper>("int_req");
  s.global<FunctionWrapper<&showInt, Optional>::Wrapper>("int_opt");
  s.global<FunctionWrapper<&showInt, OptionalOr<80>>::Wrapper>("int_or80");
  s.global<FunctionWrapper<&showInt, Lenient>::Wrapper>("int_len");
  s.global<FunctionWrapper<&showUnsigned>::Wrapper>("uint_req");
  s.global<FunctionWrapper<&showDouble>::Wrapper>("dbl_req");
  s.global<FunctionWrapper<&showDouble, Lenient>::Wrapper>("dbl_len");
  s.global<FunctionWrapper<&showBool>::Wrapper>("bool_req");
  s.global<FunctionWrapper<&showBool, Lenient>::Wrapper>("bool_len");
  s.global<FunctionWrapper<&showBool, Optional>::Wrapper>("bool_opt");
  s.global<FunctionWrapper<&showCStr>::Wrapper>("cstr_req");
  s.global<FunctionWrapper<&showCStr, Lenient>::Wrapper>("cstr_len");
  s.global<FunctionWrapper<&showString>::Wrapper>("str_req");
  s.global<FunctionWrapper<&showStringRef>::Wrapper>("sref_req");
  s.global<FunctionWrapper<&showStringRef, Optional>::Wrapper>("sref_opt");
  s.global<FunctionWrapper<&showTable>::Wrapper>("tbl_req");
  s.global<FunctionWrapper<&showTable, Lenient>::Wrapper>("tbl_len");
  s.global<FunctionWrapper<&showFunction>::Wrapper>("fn_req");
  s.global<FunctionWrapper<&two>::Wrapper>("two");
  const Case& c = GetParam();
  bindtest::Outcome out = s.run(c.code);
  std::string expected = c.value;
  if (std::string(c.code).find("\\0") != std::string::npos) expected = std::string("<a\0b>", 5);
  EXPECT_EQ(out.ok, c.ok) << c.code << " -> " << out.value;
  EXPECT_EQ(out.value, expected) << c.code;
  EXPECT_EQ(autoReleaseHead(s.L), nullptr) << c.code;
}

INSTANTIATE_TEST_SUITE_P(Table, UnpackTest, ::testing::ValuesIn(kCases));

// Argument handles give their registry reference back when the call ends.
TEST(UnpackHandles, ArgumentReferencesAreReleased) {
  bindtest::State s;
  s.global<FunctionWrapper<&showTable>::Wrapper>("tbl_req");
  s.global<FunctionWrapper<&showFunction>::Wrapper>("fn_req");
  ASSERT_TRUE(s.run("for i = 1, 1000 do tbl_req({i}); fn_req(print) end").ok);
  lua_pushboolean(s.L, 1);
  int ref = makeRef(s.L, -1);
  lua_pop(s.L, 1);
  EXPECT_LE(ref, 3);  // the freed slots are reused
}

}  // namespace
