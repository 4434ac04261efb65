// Auxiliary library: references, buffers, argument errors, registration.
#include <gtest/gtest.h>

#include <string>

#include "libs_support.hh"

namespace {

using libtest::Lua;

TEST(AuxRef, NilIsNotStoredAndFreedRefsAreReused) {
  Lua lua;
  lua_State* L = lua.L;
  lua_newtable(L);
  int t = lua_gettop(L);
  lua_pushnil(L);
  EXPECT_EQ(luaL_ref(L, t), LUA_REFNIL);
  EXPECT_EQ(lua_gettop(L), t);
  lua_pushstring(L, "a");
  int r1 = luaL_ref(L, t);
  lua_pushstring(L, "b");
  int r2 = luaL_ref(L, t);
  EXPECT_GT(r1, 0);
  EXPECT_NE(r1, r2);
  lua_rawgeti(L, t, r2);
  EXPECT_STREQ(lua_tostring(L, -1), "b");
  lua_pop(L, 1);
  luaL_unref(L, t, r1);
  luaL_unref(L, t, LUA_NOREF);  // negative references are ignored
  lua_pushstring(L, "c");
  EXPECT_EQ(luaL_ref(L, t), r1);
  lua_pushstring(L, "d");
  EXPECT_GT(luaL_ref(L, t), r2);
  EXPECT_EQ(lua_gettop(L), t);
}

TEST(AuxBuffer, ManyPiecesOfEverySizeJoinInOrder) {
  Lua lua;
  lua_State* L = lua.L;
  std::string expected;
  luaL_Buffer b;
  luaL_buffinit(L, &b);
  for (int i = 0; i < 300; i++) {
    std::string piece(size_t(i * 7 % 1500), char('a' + i % 26));
    expected += piece;
    if (i % 3 == 0) {
      luaL_addlstring(&b, piece.data(), piece.size());
    } else if (i % 3 == 1) {
      lua_pushlstring(L, piece.data(), piece.size());
      luaL_addvalue(&b);
    } else {
      for (char c : piece) luaL_addchar(&b, c);
    }
    EXPECT_LE(lua_gettop(L), LUA_MINSTACK);  // the pieces stay few
  }
  luaL_pushresult(&b);
  size_t len;
  const char* s = lua_tolstring(L, -1, &len);
  EXPECT_EQ(std::string(s, len), expected);
}

int checkself(lua_State* L) {
  luaL_checkinteger(L, 1);
  luaL_checklstring(L, 2, nullptr);
  return 0;
}

int checkopts(lua_State* L) {
  static const char* const opts[] = {"one", "two", nullptr};
  lua_pushinteger(L, luaL_checkoption(L, 1, "two", opts));
  return 1;
}

int checkud(lua_State* L) {
  luaL_checkudata(L, 1, "MyClass");
  return 0;
}

TEST(AuxArgs, MessagesNameTheFunctionAndCountSelf) {
  Lua lua;
  lua_State* L = lua.L;
  lua_register(L, "checkself", checkself);
  lua_register(L, "checkopts", checkopts);
  lua_register(L, "checkud", checkud);
  luaL_newmetatable(L, "MyClass");
  lua_pop(L, 1);
  EXPECT_EQ(lua.run("print(pcall(checkself, 'x'))"),
            "false\tbad argument #1 to '?' (number expected, got string)\n");
  EXPECT_EQ(lua.run("local ok, e = pcall(function() checkself(1) end) print(e)"),
            "test:1: bad argument #2 to 'checkself' (string expected, got no value)\n");
  EXPECT_EQ(lua.run("local o = {m = checkself} local ok, e = pcall(function() o:m('x') end) print(e)"),
            "test:1: calling 'm' on bad self (number expected, got table)\n");
  EXPECT_EQ(lua.run("local o = {m = checkself} local ok, e = pcall(function() o.m(1, 2) o:m() end) print(e)"),
            "test:1: calling 'm' on bad self (number expected, got table)\n");
  EXPECT_EQ(lua.run("print(checkopts(), checkopts('one'), pcall(checkopts, 'three'))"),
            "1\t0\tfalse\tbad argument #1 to '?' (invalid option 'three')\n");
  EXPECT_EQ(lua.run("print(pcall(checkud, newproxy()))"),
            "false\tbad argument #1 to '?' (MyClass expected, got userdata)\n");
}

int registerConflict(lua_State* L) {
  static const luaL_Reg none[] = {{nullptr, nullptr}};
  luaL_register(L, "q.r", none);
  return 0;
}

TEST(AuxRegister, FindTableAndNameConflicts) {
  Lua lua;
  lua_State* L = lua.L;
  EXPECT_EQ(luaL_findtable(L, LUA_GLOBALSINDEX, "a.b.c", 0), nullptr);
  lua_pushinteger(L, 5);
  lua_setfield(L, -2, "x");
  lua_pop(L, 1);
  EXPECT_EQ(lua.run("print(a.b.c.x)"), "5\n");
  lua.run("q = {r = 1}");
  EXPECT_STREQ(luaL_findtable(L, LUA_GLOBALSINDEX, "q.r.s", 0), "r.s");
  static const luaL_Reg fns[] = {{"f", checkself}, {nullptr, nullptr}};
  luaL_register(L, "mylib.sub", fns);
  lua_pop(L, 1);
  EXPECT_EQ(lua.run("print(type(mylib.sub.f), package.loaded['mylib.sub'] == mylib.sub)"), "function\ttrue\n");
  lua_pushcfunction(L, registerConflict);
  ASSERT_NE(lua_pcall(L, 0, 0, 0), 0);
  EXPECT_STREQ(lua_tostring(L, -1), "name conflict for module 'q.r'");
  lua_pop(L, 1);
}

TEST(AuxMisc, GsubWhereAndMetafields) {
  Lua lua;
  lua_State* L = lua.L;
  EXPECT_STREQ(luaL_gsub(L, "a.b.c", ".", "::"), "a::b::c");
  EXPECT_STREQ(luaL_gsub(L, "xxx", "x", ""), "");
  lua_pop(L, 2);
  lua.run("obj = setmetatable({}, {__tostring = function() return 'OBJ' end, kind = 'k'})");
  lua_getglobal(L, "obj");
  EXPECT_EQ(luaL_getmetafield(L, -1, "kind"), 1);
  EXPECT_STREQ(lua_tostring(L, -1), "k");
  lua_pop(L, 1);
  EXPECT_EQ(luaL_getmetafield(L, -1, "missing"), 0);
  EXPECT_EQ(luaL_callmeta(L, -1, "__tostring"), 1);
  EXPECT_STREQ(lua_tostring(L, -1), "OBJ");
  lua_pop(L, 2);
  EXPECT_EQ(lua.run("print(pcall(error, 'e', 1))"), "false\te\n");  // called from pcall: no line
  EXPECT_EQ(lua.run("local ok, e = pcall(function() error('e') end) print(e)"), "test:1: e\n");
}

}  // namespace
