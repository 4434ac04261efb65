// The "istream" script class, driven from scripts over a string stream.
#include "pdfreader/lua_istream.hh"

#include "bind/LuaWrapper.hh"
#include "lua/lualib.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

struct IstreamScript : ::testing::Test {
  lua_State* L = nullptr;
  std::istringstream* in = nullptr;

  void SetUp() override
  {
    L = luaL_newstate();
    luaL_openlibs(L);
    exportIstreamClass(L);
    open("first line\nsecond\nthe rest");
  }
  void TearDown() override { lua_close(L); }

  // Makes the global `s` an istream over text (owned by the object).
  void open(const std::string& text)
  {
    in = new std::istringstream(text);
    LuaWrapper::LuaClass<LuaIstream>::packPtr(L, new LuaIstream(in));
    lua_setglobal(L, "s");
  }

  // Runs the chunk; its results as text joined by "|", or "error: <msg>".
  std::string run(const std::string& code)
  {
    const int top = lua_gettop(L);
    if (luaL_loadstring(L, code.c_str()) != 0 || lua_pcall(L, 0, LUA_MULTRET, 0) != 0) {
      std::string msg = std::string("error: ") + lua_tostring(L, -1);
      lua_settop(L, top);
      return msg;
    }
    std::string out;
    for (int i = top + 1; i <= lua_gettop(L); ++i) {
      if (i > top + 1)
        out += "|";
      if (lua_type(L, i) == LUA_TSTRING || lua_type(L, i) == LUA_TNUMBER)
        out += lua_tostring(L, i);
      else
        out += luaL_typename(L, i);
    }
    lua_settop(L, top);
    return out;
  }
};

TEST_F(IstreamScript, ReadsLinesCountsAndTheRest)
{
  struct Case {
    const char* code;
    const char* result;
  } cases[] = {
      {"return s:read()", "first line"},
      {"return s:read(3)", "sec"},
      {"return s:read()", "ond"},
      {"return s:read(1e12)", "the rest"}, // only what is there
      {"return s:read('*all')", ""},       // exhausted
      {"return s:read(4)", "boolean"},     // failed state: false
      {"return s:read()", "boolean"},
      {"return s:seek('end', 0)", "26"},   // clears the failed state first
      {"return s:seek('set', 6)", "6"},
      {"return s:read('*all')", "line\nsecond\nthe rest"},
      {"return s:seek('set', 0), s:seek('cur', 5), s:read(2)", "0|5| l"},
      {"return s:seek('end', -4), s:read(0), s:read('*all')", "22||rest"},
      {"return s:seek('set', -1)", "nil"}, // nowhere to go
      {"return s:seek('set', 3), s:read(2)", "3|st"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(run(c.code), c.result) << c.code;
}

TEST_F(IstreamScript, UnsupportedModesAndWrongSelf)
{
  EXPECT_EQ(run("return s:read('*l')"), "error: unsupported read mode");
  EXPECT_EQ(run("return s:read({})"), "error: unsupported read mode");
  testing::internal::CaptureStderr();
  EXPECT_EQ(run("s:seek('set', 3); return s:seek('middle', 10)"), "3");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "unknown seek mode: middle\n");
  EXPECT_NE(run("return s.read({})").find("to istream"), std::string::npos);
  EXPECT_NE(run("return s.seek(1, 'set', 0)").find("cannot convert argument #1"),
            std::string::npos);
  EXPECT_EQ(run("return istream.__index.read == s.read"), "boolean");
  EXPECT_EQ(run("return type(istream.__gc)"), "function");
}

TEST_F(IstreamScript, ClosedAndDeletedStreams)
{
  EXPECT_EQ(run("s:close(); return s:read(), s:read(3), s:read('*all'), s:seek('set', 0)"), "nil|nil|nil|nil");
  EXPECT_EQ(run("s:close(); s:delete(); s:delete()"), "");
  EXPECT_NE(run("return s:read()").find("cannot convert argument #1"), std::string::npos);
  // the collector deletes what the script dropped
  open("x");
  EXPECT_EQ(run("s = nil; collectgarbage('collect')"), "");
}

TEST(Istream, CloseLeavesStandardInputAndBorrowedStreamsAlone)
{
  {
    LuaIstream s(&std::cin);
    s.close();
    EXPECT_EQ(s.stream, nullptr);
  }
  std::istringstream borrowed("abc");
  {
    LuaIstream s(&borrowed, false);
  }
  std::string text;
  borrowed >> text;
  EXPECT_EQ(text, "abc");
}

} // namespace
