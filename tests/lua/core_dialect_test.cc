// The dialect: operators, priorities, numerals, escapes, constant folding.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "lua/lauxlib.h"
#include "lua/lua.h"
#include "lua/lualib.h"
#include "lua/object.hh"
#include "lua/print.hh"

namespace {

// Replaces every "0x" + hex digits with ADDR (addresses differ between runs).
std::string withoutAddresses(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    if (text.compare(i, 2, "0x") == 0 && i + 2 < text.size() && isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out += "ADDR";
      i += 2;
      while (i < text.size() && isxdigit(static_cast<unsigned char>(text[i]))) i++;
    } else {
      out += text[i++];
    }
  }
  return out;
}

struct StringReader {
  const char* s;
  size_t n;
};

const char* readString(lua_State*, void* ud, size_t* size) {
  StringReader* r = static_cast<StringReader*>(ud);
  if (r->n == 0) return nullptr;
  *size = r->n;
  r->n = 0;
  return r->s;
}

class Dialect : public ::testing::Test {
 protected:
  lua_State* L = luaL_newstate();
  Dialect() { luaL_openlibs(L); }
  ~Dialect() override { lua_close(L); }

  int load(const std::string& code) {
    StringReader r{code.data(), code.size()};
    return lua_load(L, readString, &r, "=t");
  }
  // Value of an expression as text ("%.14g" for numbers), or the error message.
  std::string eval(const std::string& expr) {
    lua_settop(L, 0);
    if (load("return " + expr) != 0 || lua_pcall(L, 0, 1, 0) != 0) return "error: " + std::string(lua_tostring(L, -1));
    if (lua_isnil(L, -1)) return "nil";
    if (lua_isboolean(L, -1)) return lua_toboolean(L, -1) ? "true" : "false";
    if (!lua_isstring(L, -1)) return lua_typename(L, lua_type(L, -1));
    return lua_tostring(L, -1);
  }
  std::string exec(const std::string& code) {
    lua_settop(L, 0);
    if (load(code) != 0 || lua_pcall(L, 0, 1, 0) != 0) return "error: " + std::string(lua_tostring(L, -1));
    return lua_isstring(L, -1) ? lua_tostring(L, -1) : "nil";
  }
  std::string compileError(const std::string& code) {
    lua_settop(L, 0);
    if (load(code) == 0) return "compiled";
    return lua_tostring(L, -1);
  }
  // Instruction listing of the main function (no addresses).
  std::string listing(const std::string& code) {
    lua_settop(L, 0);
    if (load(code) != 0) return "error: " + std::string(lua_tostring(L, -1));
    const Closure* cl = static_cast<const Closure*>(lua_topointer(L, -1));
    char* buf = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&buf, &size);
    luaU_print(out, static_cast<const LClosure*>(cl)->p, 1);
    fclose(out);
    std::string text(buf, size);
    free(buf);
    return withoutAddresses(text);
  }
};

TEST_F(Dialect, BitwiseAndIntegerDivisionResults) {
  struct Case {
    const char* expr;
    const char* value;
  } cases[] = {
    {"~0", "4294967295"},
    {"-1 | 0", "4294967295"},
    {"1 << 31", "2147483648"},
    {"1 << 32", "1"},
    {"1 << 33", "2"},
    {"-8 >> 1", "4294967292"},
    {"8 >> 1", "4"},
    {"-1 >> 31", "4294967295"},
    {"(2^32 + 5) & 7", "5"},
    {"5.9 | 0", "5"},
    {"-5.9 | 0", "4294967291"},
    {"(0/0) | 1", "1"},
    {"2^63 | 0", "0"},
    {"(1/0) | 0", "0"},
    {"6 ^^ 3", "5"},
    {"12 & 10", "8"},
    {"12 | 3", "15"},
    {"7 \\ 2", "3"},
    {"-7 \\ 2", "-3"},
    {"7.5 \\ 2.5", "3"},
    {"1 \\ 0", "-2147483648"},
    {"-1 \\ 0", "-2147483648"},
    {"0 \\ 0", "-2147483648"},
    {"2^40 \\ 1", "-2147483648"},
    {"2^31 \\ 1", "-2147483648"},
    {"(2^31 - 1) \\ 1", "2147483647"},
    {"-(2^31) \\ 1", "-2147483648"},
    {"'12' | 1", "13"},
    {"'0x10' \\ 3", "5"},
    {"~'3'", "4294967292"},
    {"~5", "4294967290"},
    {"~-1", "0"},
  };
  for (const Case& c : cases) EXPECT_EQ(eval(c.expr), c.value) << c.expr;
}

TEST_F(Dialect, BitwiseErrorsAndMetamethods) {
  EXPECT_EQ(eval("{} | 1"), "error: t:1: attempt to perform bitwise operation on a table value");
  EXPECT_EQ(exec("local t = {} return t & 1"),
            "error: t:1: attempt to perform bitwise operation on local 't' (a table value)");
  EXPECT_EQ(exec("local s = 'x' return 1 << s"),
            "error: t:1: attempt to perform bitwise operation on local 's' (a string value)");
  EXPECT_EQ(exec("local t = {} return ~t"),
            "error: t:1: attempt to perform bitwise operation on local 't' (a table value)");
  EXPECT_EQ(exec("local t = {} return t \\ 2"),
            "error: t:1: attempt to perform arithmetic on local 't' (a table value)");
  // each new event reaches its metamethod with both operands
  EXPECT_EQ(exec("local mt = {} local log = {} "
                 "for _, e in ipairs{'__or','__and','__xor','__shl','__shr','__intdiv'} do "
                 "  mt[e] = function(a, b) return e .. ':' .. type(a) .. ',' .. type(b) end end "
                 "local t = setmetatable({}, mt) "
                 "return table.concat({t | 1, 1 & t, t ^^ t, t << 2, 3 >> t, t \\ 4}, ' ')"),
            "__or:table,number __and:number,table __xor:table,table __shl:table,number "
            "__shr:number,table __intdiv:table,number");
  EXPECT_EQ(exec("local t = setmetatable({}, {__not = function(a, b) return rawequal(a, b) end}) return tostring(~t)"),
            "true");
  EXPECT_EQ(exec("local t = setmetatable({}, {__div = function() return 1 end}) return t \\ 2"),
            "error: t:1: attempt to perform arithmetic on local 't' (a table value)");
}

TEST_F(Dialect, Priorities) {
  struct Case {
    const char* expr;
    const char* value;
  } cases[] = {
    {"1 | 2 ^^ 3 & 4 << 1", "0"},
    {"((1 | 2) ^^ 3) & (4 << 1)", "0"},
    {"1 + 2 << 3", "17"},
    {"5 | 2 & 3", "3"},
    {"2 ^ 3 ^ 2", "512"},
    {"'a' .. 1 | 2", "a3"},
    {"3 < 1 << 2", "true"},
    {"7 \\ 2 * 2", "6"},
    {"-2 \\ 3", "0"},
    {"1 ~= 2", "true"},
    {"1 != 2", "true"},
    {"1 != 1", "false"},
    {"not 1 != 1", "true"},
  };
  for (const Case& c : cases) EXPECT_EQ(eval(c.expr), c.value) << c.expr;
  // != and ~= compile to the same code
  EXPECT_EQ(listing("local a, b = 1, 2 return a != b"), listing("local a, b = 1, 2 return a ~= b"));
  EXPECT_EQ(compileError("return !a"), "t:1: unexpected symbol near '!'");
  EXPECT_EQ(compileError("x = << 1"), "t:1: unexpected symbol near '<<'");
  EXPECT_EQ(compileError("x = >> 1"), "t:1: unexpected symbol near '>>'");
  EXPECT_EQ(compileError("x = ^^ 1"), "t:1: unexpected symbol near '^^'");
}

TEST_F(Dialect, Numerals) {
  struct Case {
    const char* text;
    const char* value;
  } cases[] = {
    {"0b1010", "10"}, {"0B11", "3"}, {"0o777", "511"}, {"0O17", "15"}, {"0x10", "16"},
    {"0xff", "255"}, {"0b", "0"}, {"1e2b1", "1"}, {"12b101", "5"}, {"1.5o7", "7"},
    {"3", "3"}, {"3.25", "3.25"}, {".5", "0.5"}, {"1e-2", "0.01"},
  };
  for (const Case& c : cases) EXPECT_EQ(eval(c.text), c.value) << c.text;
  EXPECT_EQ(compileError("return 0b102"), "t:1: malformed number near '0b102'");
  EXPECT_EQ(compileError("return 1e"), "t:1: malformed number near '1e'");
  EXPECT_EQ(compileError("return 3x"), "t:1: malformed number near '3x'");

  struct Str {
    const char* text;
    int ok;
    double value;
  } conv[] = {
    {" 0o10 ", 1, 8}, {"-0b10", 1, 2}, {"-0b101", 1, 5}, {"0x1F", 1, 31}, {"  12  ", 1, 12},
    {"1e2", 1, 100}, {"", 0, 0}, {"abc", 0, 0}, {"1 2", 0, 0}, {"0b12", 0, 0}, {"12b101", 1, 5},
  };
  for (const Str& c : conv) {
    lua_Number n = -1;
    EXPECT_EQ(luaO_str2d(c.text, &n), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(n, c.value) << c.text;
    }
  }
  // the arithmetic coercion uses the same conversion
  EXPECT_EQ(eval("'0b11' + 0"), "3");
  EXPECT_EQ(eval("' 0o10 ' * 1"), "8");
}

TEST_F(Dialect, Escapes) {
  EXPECT_EQ(eval("'\\x41\\x6a'"), "Aj");
  EXPECT_EQ(eval("'\\x4A\\x4a'"), "JJ");
  EXPECT_EQ(eval("#'\\x00\\xff'"), "2");
  EXPECT_EQ(eval("'\\65\\066\\0677'"), "ABC7");
  EXPECT_EQ(eval("'a\\\nb'"), "a\nb");
  EXPECT_EQ(eval("'\\q'"), "q");
  EXPECT_EQ(compileError("return '\\x4'"), "t:1: no hex digits given in hex escape sequence near '''");
  EXPECT_EQ(compileError("return '\\xg0'"), "t:1: no hex digits given in hex escape sequence near '''");
  EXPECT_EQ(compileError("return '\\x"), "t:1: no hex digits given in hex escape sequence near '''");
  EXPECT_EQ(compileError("return '\\256'"), "t:1: escape sequence too large near '''");
  EXPECT_EQ(compileError("return 'abc"), "t:1: unfinished string near '<eof>'");
  EXPECT_EQ(compileError("return 'abc\n'"), "t:1: unfinished string near ''abc'");
}

TEST_F(Dialect, ConstantFolding) {
  struct Case {
    const char* code;
    const char* expect;  // a line fragment the listing must hold
  } cases[] = {
    {"return 1 << 4", "BLSHFT   \t0 -1 -2\t; 1 4"},
    {"return 1 | 2", "BOR      \t0 -1 -2\t; 1 2"},
    {"return 7 \\ 2", "INTDIV   \t0 -1 -2\t; 7 2"},
    {"return ~5", "LOADK    \t0 -1\t; 4294967290"},
    {"return ~0", "LOADK    \t0 -1\t; 4294967295"},
    {"return -(2)", "LOADK    \t0 -1\t; -2"},
    {"return 2 * 3 + 1", "LOADK    \t0 -1\t; 7"},
    {"return 7 % 0", "MOD      \t0 -2 -1\n"},
    {"return 1 / 0", "DIV      \t0 -2 -1\t; 1 0"},
    {"return 0 / 0", "DIV      \t0 -1 -1\t; 0 0"},
    {"return #'abc'", "LEN      \t0 0"},
    {"local x return ~x", "BNOT     \t1 0"},
    {"return ~nil", "BNOT     \t0 0"},
    {"return ~'7'", "BNOT     \t0 0"},
  };
  for (const Case& c : cases) {
    std::string text = listing(c.code);
    EXPECT_NE(text.find(c.expect), std::string::npos) << c.code << "\n" << text;
  }
}

TEST_F(Dialect, DeepRecursionEndsWithStackOverflow) {
  std::string r = exec("local function f(n) return 1 + f(n + 1) end return f(1)");
  EXPECT_NE(r.find("stack overflow"), std::string::npos) << r;
  r = exec("local t = setmetatable({}, {}) getmetatable(t).__index = function(t, k) return t[k] end return t.x");
  EXPECT_NE(r.find("stack overflow"), std::string::npos) << r;
}

TEST_F(Dialect, LimitsAndMessages) {
  std::string many = "local a1";
  for (int i = 2; i <= 201; i++) many += ", a" + std::to_string(i);
  EXPECT_EQ(compileError(many), "t:1: main function has more than 200 local variables");
  EXPECT_EQ(compileError("return " + std::string(300, '(') + "1" + std::string(300, ')')),
            "t:1: chunk has too many syntax levels");
  EXPECT_EQ(compileError("x = [==[ abc ]=]"), "t:1: unfinished long string near '<eof>'");
  EXPECT_EQ(compileError("x = [=x"), "t:1: invalid long string delimiter near '[='");
  EXPECT_EQ(compileError("for i = 1 do end"), "t:1: ',' expected near 'do'");
  EXPECT_EQ(compileError("if x then\n\nx = 1"), "t:3: 'end' expected (to close 'if' at line 1) near '<eof>'");
}

}  // namespace
