// Calls into scripts, table and function handles, and the loader insertion.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "bind_support.hh"

using namespace LuaWrapper;

namespace {

LuaFunction fnFrom(bindtest::State& s, const char* code) {
  luaL_loadbuffer(s.L, code, strlen(code), "=test");
  lua_call(s.L, 0, 1);
  LuaFunction f(s.L, -1);
  lua_pop(s.L, 1);
  return f;
}

TEST(Call, ResultsConvertLeniently) {
  bindtest::State s;
  int top = lua_gettop(s.L);
  LuaFunction yes = fnFrom(s, "return function() return true end");
  LuaFunction one = fnFrom(s, "return function() return 1 end");
  LuaFunction none = fnFrom(s, "return function() end");
  EXPECT_TRUE(Call_1<bool>(s.L, yes));
  EXPECT_FALSE(Call_1<bool>(s.L, one));  // only true is true
  EXPECT_FALSE(Call_1<bool>(s.L, none));
  EXPECT_EQ(Call_1<int>(s.L, one), 1);
  EXPECT_EQ(Call_1<int>(s.L, none), 0);

  LuaFunction echo = fnFrom(s, "return function(t, a, b, c, d, e, f) t.n = a + b; t.s = tostring(c) .. tostring(d) .. tostring(e) .. f; return t end");
  LuaTable t = LuaTable::create(s.L);
  LuaTable back = Call_1<LuaTable>(s.L, echo, t, 2, 3, true, false, true, 7);
  ASSERT_FALSE(back.empty());
  EXPECT_EQ(back.getD<int>("n"), 5);
  EXPECT_STREQ(back.getD<const char*>("s"), "truefalsetrue7");
  EXPECT_TRUE(Call_1<LuaTable>(s.L, none).empty());
  back.release();
  t.release();
  EXPECT_EQ(lua_gettop(s.L), top);
}

TEST(Call, ScriptErrorThrowsWithItsMessage) {
  bindtest::State s;
  int top = lua_gettop(s.L);
  LuaFunction boom = fnFrom(s, "return function() error('timer broke') end");
  try {
    Call_1<bool>(s.L, boom);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "test:1: timer broke");
  }
  LuaFunction table = fnFrom(s, "return function() error({}) end");
  try {
    Call_0(s.L, table);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "(error object is not a string)");
  }
  EXPECT_EQ(lua_gettop(s.L), top);
}

TEST(Call, GlobalsAndForeignHandles) {
  bindtest::State s;
  bindtest::State other;
  int top = lua_gettop(s.L);
  ASSERT_TRUE(s.run("function twice(t) return t[1] * 2 end; notfn = 5").ok);
  LuaTable t = LuaTable::create(s.L);
  t.set(1, 21);
  Global twice("twice");
  EXPECT_EQ(Call_1<int>(s.L, twice, t), 42);
  Global missing("nothere");
  Global notfn("notfn");
  EXPECT_EQ(Call_1<int>(s.L, missing, t), 0);
  EXPECT_EQ(Call_1<int>(s.L, notfn, t), 0);
  EXPECT_EQ(lua_gettop(s.L), top);
  // strict globals: looking a missing function up must not raise here,
  // outside any protected call
  ASSERT_TRUE(s.run("setmetatable(_G, {__index = function(_, k) error('undefined ' .. k) end})").ok);
  EXPECT_EQ(Call_1<int>(s.L, missing, t), 0);
  EXPECT_EQ(Call_1<int>(s.L, twice, t), 42);
  // a handle of another universe is never pushed on this one
  LuaFunction f = fnFrom(s, "return function() return true end");
  EXPECT_FALSE(Call_1<bool>(other.L, f));
  t.release();
}

// A function kept by native code outlives the coroutine that gave it.
LuaFunction g_kept;
void keepFn(LuaFunction f) { g_kept = f.keep(); }

TEST(Call, KeptFunctionsBelongToTheMainThread) {
  bindtest::State s;
  s.global<FunctionWrapper<&keepFn>::Wrapper>("keep");
  ASSERT_TRUE(s.run("local co = coroutine.wrap(function() keep(function() return true end) end); co(); return 1").ok);
  lua_gc(s.L, LUA_GCCOLLECT, 0);
  EXPECT_EQ(g_kept.state, s.L);
  EXPECT_TRUE(Call_1<bool>(s.L, g_kept));
  g_kept.release();
  EXPECT_TRUE(g_kept.empty());
}

TEST(Handles, TableAccessLeavesTheStackAlone) {
  bindtest::State s;
  int top = lua_gettop(s.L);
  LuaTable t = LuaTable::create(s.L);
  LuaTable inner = LuaTable::create(s.L);
  inner.set("k", "v");
  t.set("b", true);
  t.set("d", 2.5);
  t.set("i", -3);
  t.set("u", 4000000000u);
  t.set("s", std::string("a\0b", 3));
  t.set("c", "text");
  t.set("t", inner);
  t.set(1, inner);
  t.set(2, 7);
  EXPECT_EQ(t.getD<double>("d"), 2.5);
  EXPECT_EQ(t.getD<int>("i"), -3);
  EXPECT_EQ(t.getD<double>("u"), 4000000000.0);
  EXPECT_EQ(t.getD<int>("c"), 0);  // no number: the default
  EXPECT_STREQ(t.getD<const char*>("c"), "text");
  EXPECT_EQ(t.getD<const char*>("b"), nullptr);
  EXPECT_EQ(t.getD<std::string>("s"), std::string("a\0b", 3));
  EXPECT_TRUE(t.exists("b"));
  EXPECT_FALSE(t.exists("none"));
  EXPECT_TRUE(t.exists(2));
  EXPECT_FALSE(t.exists(3));
  LuaTable again = t.getD<LuaTable>(1);
  EXPECT_STREQ(again.getD<const char*>("k"), "v");
  EXPECT_TRUE(t.getD<LuaTable>(2).empty());
  again.release();
  LuaTable none;
  EXPECT_EQ(none.getD<int>("x"), 0);
  EXPECT_FALSE(none.exists(1));
  none.set("x", 1);  // nothing happens
  EXPECT_EQ(lua_gettop(s.L), top);
  lua_pushnumber(s.L, 1);
  EXPECT_TRUE(LuaTable(s.L, -1).empty());
  EXPECT_TRUE(LuaFunction(s.L, -1).empty());
  lua_pop(s.L, 1);
  t.push(s.L);
  lua_setglobal(s.L, "t");
  bindtest::Outcome out = s.run("return t.t.k .. t[2] .. #t.s .. tostring(t.b)");
  EXPECT_EQ(out.value, "v73true");
  t.release();
  inner.release();
}

int loaderOf(lua_State* L) {
  lua_pushstring(L, "mine");
  return 1;
}

TEST(Loader, InsertedFirstOthersKeepTheirOrder) {
  bindtest::State s;
  ASSERT_TRUE(s.run("before = {} for i, f in ipairs(package.loaders) do before[i] = f end").ok);
  insertLoader(s.L, loaderOf);
  bindtest::Outcome out = s.run(
      "local l = package.loaders; if #l ~= #before + 1 then return 'count' end "
      "for i = 1, #before do if l[i + 1] ~= before[i] then return 'order' end end "
      "return l[1]('x')");
  EXPECT_EQ(out.value, "mine");
}

TEST(AutoRelease, CloseStateEmptiesTheList) {
  lua_State* L = luaL_newstate();
  autoRelease(L, new EncapsulatedReleaseItem<std::string>("parked"));
  closeState(L);  // nothing leaks (the sanitizer build checks)
}

}  // namespace
