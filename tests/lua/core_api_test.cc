// Native interface: stack, values, tables, closures, errors, collector.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "lua/lauxlib.h"
#include "lua/lua.h"
#include "lua/lualib.h"

namespace {

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

int load(lua_State* L, const std::string& code, const char* name = "=test") {
  StringReader r{code.data(), code.size()};
  return lua_load(L, readString, &r, name);
}

// Runs code; returns the status and leaves results (or the message) on the stack.
int run(lua_State* L, const std::string& code, int nresults = LUA_MULTRET) {
  int status = load(L, code);
  if (status != 0) return status;
  return lua_pcall(L, 0, nresults, 0);
}

struct State {
  lua_State* L;
  State() : L(luaL_newstate()) { luaL_openlibs(L); }
  ~State() {
    if (L) lua_close(L);
  }
};

// Allocator that counts live bytes and can be told to fail.
struct CountingAlloc {
  long long live = 0;
  long long limit = -1;  // fail when live would exceed it
  static void* fn(void* ud, void* ptr, size_t osize, size_t nsize) {
    CountingAlloc* a = static_cast<CountingAlloc*>(ud);
    if (nsize == 0) {
      if (ptr) a->live -= static_cast<long long>(osize);
      free(ptr);
      return nullptr;
    }
    long long oldsize = ptr ? static_cast<long long>(osize) : 0;
    if (a->limit >= 0 && a->live - oldsize + static_cast<long long>(nsize) > a->limit) return nullptr;
    void* p = realloc(ptr, nsize);
    if (p) a->live += static_cast<long long>(nsize) - oldsize;
    return p;
  }
};

TEST(LuaApi, StackManipulation) {
  State s;
  lua_State* L = s.L;
  EXPECT_EQ(lua_gettop(L), 0);
  for (int i = 1; i <= 5; i++) lua_pushinteger(L, i);
  lua_insert(L, 1);  // 5 1 2 3 4
  lua_remove(L, 2);  // 5 2 3 4
  lua_pushinteger(L, 9);
  lua_replace(L, 2);  // 5 9 3 4
  lua_pushvalue(L, -1);  // 5 9 3 4 4
  std::vector<int> got;
  for (int i = 1; i <= lua_gettop(L); i++) got.push_back(static_cast<int>(lua_tointeger(L, i)));
  EXPECT_EQ(got, (std::vector<int>{5, 9, 3, 4, 4}));
  lua_settop(L, 7);
  EXPECT_TRUE(lua_isnil(L, 6));
  EXPECT_TRUE(lua_isnil(L, 7));
  EXPECT_EQ(lua_type(L, 8), LUA_TNONE);
  EXPECT_STREQ(lua_typename(L, LUA_TNONE), "no value");
  lua_pop(L, 3);
  EXPECT_EQ(lua_gettop(L), 4);
  EXPECT_TRUE(lua_checkstack(L, 100));
  EXPECT_FALSE(lua_checkstack(L, 8001));
  EXPECT_FALSE(lua_checkstack(L, 7999));  // the total would pass 8000
}

TEST(LuaApi, PushAndConvert) {
  State s;
  lua_State* L = s.L;
  lua_pushnumber(L, -3.75);
  EXPECT_EQ(lua_tointeger(L, -1), -3);
  lua_pushstring(L, " 0x1A ");
  EXPECT_TRUE(lua_isnumber(L, -1));
  EXPECT_EQ(lua_tonumber(L, -1), 26);
  lua_pushstring(L, "abc");
  EXPECT_FALSE(lua_isnumber(L, -1));
  EXPECT_EQ(lua_tointeger(L, -1), 0);
  lua_pushlstring(L, "a\0b", 3);
  size_t len = 0;
  const char* p = lua_tolstring(L, -1, &len);
  EXPECT_EQ(len, 3u);
  EXPECT_EQ(std::string(p, len), std::string("a\0b", 3));
  lua_pushstring(L, nullptr);
  EXPECT_TRUE(lua_isnil(L, -1));
  lua_pushboolean(L, 7);
  EXPECT_EQ(lua_toboolean(L, -1), 1);
  int x;
  lua_pushlightuserdata(L, &x);
  EXPECT_EQ(lua_touserdata(L, -1), &x);
  EXPECT_EQ(lua_type(L, -1), LUA_TLIGHTUSERDATA);
  void* block = lua_newuserdata(L, 24);
  EXPECT_EQ(lua_touserdata(L, -1), block);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u);
  EXPECT_EQ(lua_objlen(L, -1), 24u);
  EXPECT_STREQ(lua_typename(L, lua_type(L, -1)), "userdata");
  EXPECT_EQ(lua_touserdata(L, 1), nullptr);
  // lua_tolstring turns a number into a string in place
  lua_pushnumber(L, 0.1);
  EXPECT_STREQ(lua_tostring(L, -1), "0.1");
  EXPECT_EQ(lua_type(L, -1), LUA_TSTRING);
  lua_pushnumber(L, 1e15);
  EXPECT_STREQ(lua_tostring(L, -1), "1e+15");
  lua_pushnumber(L, 123456789012.0);
  EXPECT_STREQ(lua_tostring(L, -1), "123456789012");
  lua_pushinteger(L, 42);
  EXPECT_EQ(lua_tointeger(L, -1), 42);
  lua_pushnumber(L, NAN);
  EXPECT_EQ(lua_tointeger(L, -1), 0);
  lua_pushnumber(L, 1e300);
  EXPECT_EQ(lua_tointeger(L, -1), INT64_MAX);
  lua_pushnumber(L, -1e300);
  EXPECT_EQ(lua_tointeger(L, -1), INT64_MIN);
  EXPECT_STREQ(lua_pushfstring(L, "%s|%d|%f|%c|%%|%x|%s", "s", 12, 2.5, 'z', static_cast<const char*>(nullptr)),
               "s|12|2.5|z|%|%x|(null)");
}

int nativeFn(lua_State*) { return 0; }

TEST(LuaApi, ComparisonConcatAndIdentity) {
  State s;
  lua_State* L = s.L;
  EXPECT_EQ(lua_pushthread(L), 1);
  EXPECT_EQ(lua_tothread(L, -1), L);
  lua_State* co = lua_newthread(L);
  EXPECT_EQ(lua_tothread(L, -1), co);
  EXPECT_EQ(lua_pushthread(co), 0);
  lua_pop(co, 1);
  lua_settop(L, 0);
  lua_pushcfunction(L, nativeFn);
  EXPECT_TRUE(lua_iscfunction(L, -1));
  EXPECT_EQ(lua_tocfunction(L, -1), &nativeFn);
  EXPECT_NE(lua_topointer(L, -1), nullptr);
  lua_getfenv(L, -1);
  EXPECT_TRUE(lua_rawequal(L, -1, LUA_GLOBALSINDEX));
  lua_settop(L, 0);
  // comparisons, with and without metamethods
  lua_pushnumber(L, 1);
  lua_pushnumber(L, 2);
  EXPECT_TRUE(lua_lessthan(L, 1, 2));
  EXPECT_FALSE(lua_lessthan(L, 2, 1));
  EXPECT_FALSE(lua_equal(L, 1, 2));
  EXPECT_FALSE(lua_equal(L, 1, 5));  // index without value
  lua_pushstring(L, "1");
  EXPECT_FALSE(lua_equal(L, 1, 3));
  EXPECT_FALSE(lua_rawequal(L, 1, 3));
  ASSERT_EQ(run(L, "local mt = {__eq = function() return true end} return setmetatable({}, mt), setmetatable({}, mt)"), 0);
  EXPECT_TRUE(lua_equal(L, -1, -2));
  EXPECT_FALSE(lua_rawequal(L, -1, -2));
  lua_settop(L, 0);
  // concatenation of strings and numbers; 0 gives the empty string
  lua_pushstring(L, "a");
  lua_pushnumber(L, 1.5);
  lua_pushstring(L, "b");
  lua_concat(L, 3);
  EXPECT_STREQ(lua_tostring(L, -1), "a1.5b");
  lua_concat(L, 0);
  EXPECT_STREQ(lua_tostring(L, -1), "");
  EXPECT_EQ(lua_gettop(L), 2);
  // moving values between threads
  lua_State* t = lua_newthread(L);
  lua_pushinteger(L, 5);
  lua_pushinteger(L, 6);
  lua_xmove(L, t, 2);
  EXPECT_EQ(lua_gettop(t), 2);
  EXPECT_EQ(lua_tointeger(t, 1), 5);
  EXPECT_EQ(lua_tointeger(t, 2), 6);
  // raw access ignores metamethods
  ASSERT_EQ(run(L, "return setmetatable({}, {__index = function() return 'meta' end, __newindex = function() error('no') end})", 1), 0);
  lua_pushstring(L, "k");
  lua_pushstring(L, "v");
  lua_rawset(L, -3);
  lua_pushstring(L, "k");
  lua_rawget(L, -2);
  EXPECT_STREQ(lua_tostring(L, -1), "v");
  lua_pop(L, 1);
  lua_getfield(L, -1, "other");
  EXPECT_STREQ(lua_tostring(L, -1), "meta");
}

TEST(LuaApi, TablesAndBorders) {
  State s;
  lua_State* L = s.L;
  lua_createtable(L, 4, 4);
  int t = lua_gettop(L);
  for (int i = 1; i <= 4; i++) {
    lua_pushinteger(L, i * 10);
    lua_rawseti(L, t, i);
  }
  EXPECT_EQ(lua_objlen(L, t), 4u);
  lua_pushnil(L);
  lua_rawseti(L, t, 4);
  EXPECT_EQ(lua_objlen(L, t), 3u);
  lua_pushinteger(L, 5);
  lua_rawseti(L, t, 5);  // hole at 4: any border is fine, but it must be a border
  size_t n = lua_objlen(L, t);
  EXPECT_TRUE(n == 3 || n == 5);
  // -0 and 0 are one key
  lua_pushnumber(L, -0.0);
  lua_pushstring(L, "zero");
  lua_settable(L, t);
  lua_pushnumber(L, 0.0);
  lua_gettable(L, t);
  EXPECT_STREQ(lua_tostring(L, -1), "zero");
  lua_pop(L, 1);
  // NaN cannot be a key; reading with it gives nil
  lua_pushnumber(L, NAN);
  lua_gettable(L, t);
  EXPECT_TRUE(lua_isnil(L, -1));
  lua_pop(L, 1);
  ASSERT_EQ(run(L, "local t = {} t[0/0] = 1"), LUA_ERRRUN);
  EXPECT_STREQ(lua_tostring(L, -1), "test:1: table index is NaN");
  lua_pop(L, 1);
  ASSERT_EQ(run(L, "local t = {} t[nil] = 1"), LUA_ERRRUN);
  EXPECT_STREQ(lua_tostring(L, -1), "test:1: table index is nil");
  lua_pop(L, 1);
  // next visits every key once
  int count = 0;
  lua_pushnil(L);
  while (lua_next(L, t)) {
    count++;
    lua_pop(L, 1);
  }
  EXPECT_EQ(count, 5);  // 1, 2, 3, 5 and the key 0
  // a hash-only table grows an unbounded border
  ASSERT_EQ(run(L, "local t = {} for i = 1, 100 do t[i] = i end local u = {n = 1} u[1] = 1 u[2] = 2 u[3] = 3 return #t, #u, #{nil, nil, 3}", 3), 0);
  EXPECT_EQ(lua_tointeger(L, -3), 100);
  EXPECT_EQ(lua_tointeger(L, -2), 3);
  EXPECT_EQ(lua_tointeger(L, -1), 3);
}

int envField(lua_State* L) {
  lua_getfield(L, LUA_ENVIRONINDEX, "marker");
  return 1;
}

int upcount(lua_State* L) {
  lua_Integer n = lua_tointeger(L, lua_upvalueindex(1)) + 1;
  lua_pushinteger(L, n);
  lua_replace(L, lua_upvalueindex(1));
  lua_pushinteger(L, n);
  lua_pushvalue(L, lua_upvalueindex(2));
  lua_pushboolean(L, lua_isnone(L, lua_upvalueindex(3)));  // beyond the count: no value
  return 3;
}

TEST(LuaApi, RegistryEnvironmentsAndClosures) {
  State s;
  lua_State* L = s.L;
  lua_pushstring(L, "kept");
  lua_setfield(L, LUA_REGISTRYINDEX, "mykey");
  lua_getfield(L, LUA_REGISTRYINDEX, "mykey");
  EXPECT_STREQ(lua_tostring(L, -1), "kept");
  lua_pop(L, 1);

  lua_pushcfunction(L, envField);
  lua_newtable(L);
  lua_pushstring(L, "env!");
  lua_setfield(L, -2, "marker");
  EXPECT_EQ(lua_setfenv(L, -2), 1);
  lua_call(L, 0, 1);
  EXPECT_STREQ(lua_tostring(L, -1), "env!");
  lua_pop(L, 1);

  lua_pushinteger(L, 10);
  lua_pushstring(L, "second");
  lua_pushcclosure(L, upcount, 2);
  lua_setglobal(L, "upc");
  ASSERT_EQ(run(L, "upc() return upc()"), 0);
  EXPECT_EQ(lua_tointeger(L, -3), 12);
  EXPECT_STREQ(lua_tostring(L, -2), "second");
  EXPECT_TRUE(lua_toboolean(L, -1));
  lua_settop(L, 0);
  EXPECT_STREQ(lua_getupvalue(L, (lua_getglobal(L, "upc"), -1), 2), "");
  lua_settop(L, 0);

  // globals through the pseudo-index
  lua_pushnumber(L, 3);
  lua_setfield(L, LUA_GLOBALSINDEX, "g");
  ASSERT_EQ(run(L, "return g * 2", 1), 0);
  EXPECT_EQ(lua_tonumber(L, -1), 6);
}

TEST(LuaApi, NoCallingEnvironmentOutsideNativeFunction) {
  State s;
  lua_State* L = s.L;
  int status = lua_cpcall(L, [](lua_State* L1) -> int {
    // a native function has an environment
    lua_pushvalue(L1, LUA_ENVIRONINDEX);
    return 0;
  }, nullptr);
  EXPECT_EQ(status, 0);
}

int raiseTable(lua_State* L) {
  lua_newtable(L);
  lua_pushinteger(L, 7);
  lua_setfield(L, -2, "code");
  return lua_error(L);
}

int throwsStd(lua_State*) { throw std::runtime_error("native failure"); }
int throwsAlloc(lua_State*) { throw std::bad_alloc(); }
int throwsInt(lua_State*) { throw 5; }

TEST(LuaApi, ErrorsAndProtectedCalls) {
  State s;
  lua_State* L = s.L;
  ASSERT_EQ(run(L, "error('boom')"), LUA_ERRRUN);
  EXPECT_STREQ(lua_tostring(L, -1), "test:1: boom");
  lua_settop(L, 0);  // removes the message
  EXPECT_EQ(lua_gettop(L), 0);

  EXPECT_EQ(load(L, "x = = 1"), LUA_ERRSYNTAX);
  EXPECT_STREQ(lua_tostring(L, -1), "test:1: unexpected symbol near '='");
  lua_settop(L, 0);

  // an error object that is not a string
  lua_pushcfunction(L, raiseTable);
  ASSERT_EQ(lua_pcall(L, 0, 0, 0), LUA_ERRRUN);
  ASSERT_TRUE(lua_istable(L, -1));
  lua_getfield(L, -1, "code");
  EXPECT_EQ(lua_tointeger(L, -1), 7);
  lua_settop(L, 0);

  // message handler
  lua_pushcfunction(L, [](lua_State* L1) -> int {
    lua_pushfstring(L1, "handled<%s>", lua_tostring(L1, 1));
    return 1;
  });
  ASSERT_EQ(load(L, "local x = nil; return x.f"), 0);
  ASSERT_EQ(lua_pcall(L, 0, 0, 1), LUA_ERRRUN);
  EXPECT_STREQ(lua_tostring(L, -1), "handled<test:1: attempt to index local 'x' (a nil value)>");
  lua_settop(L, 0);

  // an error inside the handler
  lua_pushcfunction(L, [](lua_State* L1) -> int { return lua_error(L1); });
  ASSERT_EQ(load(L, "error('x')"), 0);
  EXPECT_EQ(lua_pcall(L, 0, 0, 1), LUA_ERRERR);
  EXPECT_STREQ(lua_tostring(L, -1), "error in error handling");
  lua_settop(L, 0);

  // LUA_MULTRET raises the frame top when needed
  ASSERT_EQ(run(L, "local t = {} for i = 1, 200 do t[i] = i end return unpack and unpack(t) or 1"), 0);
  lua_settop(L, 0);
  ASSERT_EQ(run(L, "return 1, 2, 3"), 0);
  EXPECT_EQ(lua_gettop(L), 3);
  lua_settop(L, 0);
}

TEST(LuaApi, NativeExceptionsBecomeScriptErrors) {
  State s;
  lua_State* L = s.L;
  lua_pushcfunction(L, throwsStd);
  EXPECT_EQ(lua_pcall(L, 0, 0, 0), LUA_ERRRUN);
  EXPECT_STREQ(lua_tostring(L, -1), "native failure");
  lua_pushcfunction(L, throwsAlloc);
  EXPECT_EQ(lua_pcall(L, 0, 0, 0), LUA_ERRMEM);
  EXPECT_STREQ(lua_tostring(L, -1), "not enough memory");
  lua_pushcfunction(L, throwsInt);
  EXPECT_EQ(lua_pcall(L, 0, 0, 0), LUA_ERRRUN);
  lua_settop(L, 0);
  // through script frames: the state stays usable
  lua_pushcfunction(L, throwsStd);
  lua_setglobal(L, "bad");
  ASSERT_EQ(run(L, "local function f() bad() end local ok, m = pcall(f) return ok, m"), 0);
  EXPECT_FALSE(lua_toboolean(L, -2));
  EXPECT_STREQ(lua_tostring(L, -1), "native failure");
  lua_settop(L, 0);
  ASSERT_EQ(run(L, "return 1 + 1", 1), 0);
  EXPECT_EQ(lua_tonumber(L, -1), 2);
  lua_settop(L, 0);
  // a chunk reader that throws
  lua_Reader bad = [](lua_State*, void*, size_t*) -> const char* { throw std::runtime_error("disk gone"); };
  EXPECT_EQ(lua_load(L, bad, nullptr, "=r"), LUA_ERRSYNTAX);
  EXPECT_STREQ(lua_tostring(L, -1), "disk gone");
}

int recurseNative(lua_State* L) {
  lua_pushvalue(L, lua_upvalueindex(1));
  lua_pushvalue(L, lua_upvalueindex(1));
  lua_call(L, 0, 0);
  return 0;
}

TEST(LuaApi, StackOverflows) {
  State s;
  lua_State* L = s.L;
  ASSERT_EQ(run(L, "local function f() return 1 + f() end f()"), LUA_ERRRUN);
  EXPECT_NE(std::string(lua_tostring(L, -1)).find("stack overflow"), std::string::npos);
  lua_settop(L, 0);
  // nested native calls
  lua_pushnil(L);
  lua_pushcclosure(L, recurseNative, 1);
  lua_pushvalue(L, -1);
  lua_setupvalue(L, -2, 1);
  EXPECT_EQ(lua_pcall(L, 0, 0, 0), LUA_ERRRUN);
  EXPECT_STREQ(lua_tostring(L, -1), "C stack overflow");
  lua_settop(L, 0);
  ASSERT_EQ(run(L, "return 'still alive'", 1), 0);
}

TEST(LuaApiDeathTest, PanicOutsideProtectedCall) {
  EXPECT_EXIT(
      {
        lua_State* L = luaL_newstate();
        lua_pushstring(L, "boom");
        lua_error(L);
      },
      ::testing::ExitedWithCode(1), "PANIC: unprotected error in call to Lua API \\(boom\\)");
}

int recordGc(lua_State* L) {
  int* id = static_cast<int*>(lua_touserdata(L, 1));
  lua_getfield(L, LUA_REGISTRYINDEX, "gcorder");
  std::string* order = static_cast<std::string*>(lua_touserdata(L, -1));
  order->push_back(static_cast<char>('0' + *id));
  return 0;
}

TEST(LuaApi, CollectorFinalisersAndWeakTables) {
  CountingAlloc alloc;
  lua_State* L = lua_newstate(&CountingAlloc::fn, &alloc);
  ASSERT_NE(L, nullptr);
  luaL_openlibs(L);
  std::string order;
  lua_pushlightuserdata(L, &order);
  lua_setfield(L, LUA_REGISTRYINDEX, "gcorder");
  lua_newtable(L);  // shared metatable with __gc
  lua_pushcfunction(L, recordGc);
  lua_setfield(L, -2, "__gc");
  lua_setfield(L, LUA_REGISTRYINDEX, "mt");
  lua_newtable(L);  // holds the three until they die together
  for (int i = 1; i <= 3; i++) {
    int* id = static_cast<int*>(lua_newuserdata(L, sizeof(int)));
    *id = i;
    lua_getfield(L, LUA_REGISTRYINDEX, "mt");
    lua_setmetatable(L, -2);
    lua_rawseti(L, -2, i);
  }
  lua_pop(L, 1);
  lua_gc(L, LUA_GCCOLLECT, 0);
  EXPECT_EQ(order, "321");  // reverse order of creation

  ASSERT_EQ(run(L, "weak = setmetatable({}, {__mode = 'k'}) weak[{}] = 1 weak.s = {} "
                   "vals = setmetatable({}, {__mode = 'v'}) vals[1] = {} vals[2] = 'str' vals[3] = 3"),
            0);
  int before = lua_gc(L, LUA_GCCOUNT, 0);
  ASSERT_EQ(run(L, "keep = {} for i = 1, 5000 do keep[i] = {i} end"), 0);
  EXPECT_GT(lua_gc(L, LUA_GCCOUNT, 0), before);
  ASSERT_EQ(run(L, "keep = nil"), 0);
  lua_gc(L, LUA_GCCOLLECT, 0);
  EXPECT_LE(lua_gc(L, LUA_GCCOUNT, 0), before + 1);
  ASSERT_EQ(run(L, "local n = 0 for k in pairs(weak) do n = n + 1 end return n, vals[1], vals[2], vals[3]"), 0);
  EXPECT_EQ(lua_tointeger(L, -4), 1);  // only the string key stays
  EXPECT_TRUE(lua_isnil(L, -3));
  EXPECT_STREQ(lua_tostring(L, -2), "str");
  EXPECT_EQ(lua_tointeger(L, -1), 3);
  lua_settop(L, 0);

  // the accounting matches the allocator's view
  int kb = lua_gc(L, LUA_GCCOUNT, 0);
  int rem = lua_gc(L, LUA_GCCOUNTB, 0);
  EXPECT_EQ(static_cast<long long>(kb) * 1024 + rem, alloc.live);
  EXPECT_EQ(lua_gc(L, 99, 0), -1);
  EXPECT_EQ(lua_gc(L, LUA_GCSETPAUSE, 150), 200);
  EXPECT_EQ(lua_gc(L, LUA_GCSETSTEPMUL, 300), 200);
  lua_gc(L, LUA_GCSTOP, 0);
  ASSERT_EQ(run(L, "for i = 1, 1000 do local t = {} end"), 0);
  lua_gc(L, LUA_GCRESTART, 0);
  while (lua_gc(L, LUA_GCSTEP, 1) == 0) {
  }
  // userdata that are still alive are finalised by lua_close
  order.clear();
  int* id = static_cast<int*>(lua_newuserdata(L, sizeof(int)));
  *id = 7;
  lua_getfield(L, LUA_REGISTRYINDEX, "mt");
  lua_setmetatable(L, -2);
  lua_close(L);
  EXPECT_EQ(order, "7");
  EXPECT_EQ(alloc.live, 0);
}

TEST(LuaApi, AllocationFailureIsMemoryError) {
  CountingAlloc alloc;
  lua_State* L = lua_newstate(&CountingAlloc::fn, &alloc);
  ASSERT_NE(L, nullptr);
  luaL_openlibs(L);
  alloc.limit = alloc.live + 200000;
  int status = run(L, "local t = {} for i = 1, 1e7 do t[i] = i end");
  EXPECT_EQ(status, LUA_ERRMEM);
  EXPECT_STREQ(lua_tostring(L, -1), "not enough memory");
  alloc.limit = -1;
  lua_settop(L, 0);
  EXPECT_EQ(run(L, "return 1", 1), 0);
  lua_close(L);
  EXPECT_EQ(alloc.live, 0);

  // a state whose start-up cannot allocate is not made
  CountingAlloc tiny;
  tiny.limit = 600;
  EXPECT_EQ(lua_newstate(&CountingAlloc::fn, &tiny), nullptr);
  EXPECT_EQ(tiny.live, 0);
}

TEST(LuaApi, AllocatorUserDataSlot) {
  State s;
  lua_State* L = s.L;
  void* ud = reinterpret_cast<void*>(1);
  lua_Alloc f = lua_getallocf(L, &ud);
  EXPECT_EQ(ud, nullptr);
  int marker;
  lua_setallocf(L, f, &marker);
  ASSERT_EQ(run(L, "local t = {} for i = 1, 1000 do t[i] = {} end"), 0);
  lua_gc(L, LUA_GCCOLLECT, 0);
  lua_getallocf(L, &ud);
  EXPECT_EQ(ud, &marker);
  lua_setallocf(L, f, nullptr);
}

TEST(LuaApi, ChunkNamesInMessages) {
  State s;
  lua_State* L = s.L;
  struct Case {
    const char* name;
    const char* expected;
  } cases[] = {
    {"=stdin", "stdin:1: x"},
    {"@short.lua", "short.lua:1: x"},
    {"@/a/very/long/path/name/that/goes/on/and/on/for/quite/a/while/x.lua",
     "...ath/name/that/goes/on/and/on/for/quite/a/while/x.lua:1: x"},
    {"error('x')", "[string \"error('x')\"]:1: x"},
    {"error('x')\n--second line", "[string \"error('x')...\"]:1: x"},
  };
  for (const Case& c : cases) {
    std::string code = "error('x')";
    ASSERT_EQ(load(L, code, c.name), 0);
    ASSERT_EQ(lua_pcall(L, 0, 0, 0), LUA_ERRRUN);
    EXPECT_STREQ(lua_tostring(L, -1), c.expected) << c.name;
    lua_settop(L, 0);
  }
}

std::vector<int>* hookLines;
int hookCalls;

void lineHook(lua_State* L, lua_Debug* ar) {
  if (ar->event == LUA_HOOKLINE) hookLines->push_back(ar->currentline);
  if (ar->event == LUA_HOOKCALL) {
    lua_getinfo(L, "S", ar);
    if (ar->what == std::string("Lua")) hookCalls++;
  }
}

void countHook(lua_State*, lua_Debug* ar) {
  if (ar->event == LUA_HOOKCOUNT) hookCalls++;
}

TEST(LuaApi, Hooks) {
  State s;
  lua_State* L = s.L;
  std::vector<int> lines;
  hookLines = &lines;
  hookCalls = 0;
  lua_sethook(L, lineHook, LUA_MASKLINE | LUA_MASKCALL, 0);
  EXPECT_EQ(lua_gethookmask(L), LUA_MASKLINE | LUA_MASKCALL);
  ASSERT_EQ(run(L, "local function f(x)\n  return x + 1\nend\nlocal y = f(1)\ny = f(y)\n"), 0);
  lua_sethook(L, nullptr, 0, 0);
  EXPECT_EQ(lines, (std::vector<int>{3, 4, 2, 5, 2}));  // as the reference interpreter reports them
  EXPECT_EQ(hookCalls, 2);
  hookCalls = 0;
  lua_sethook(L, countHook, LUA_MASKCOUNT, 5);
  EXPECT_EQ(lua_gethookcount(L), 5);
  ASSERT_EQ(run(L, "local s = 0 for i = 1, 100 do s = s + i end"), 0);
  lua_sethook(L, nullptr, 0, 0);
  EXPECT_EQ(hookCalls, 41);  // one call per 5 of the 205 instructions run
  EXPECT_EQ(lua_gethook(L), nullptr);
}

int yielder(lua_State* L) { return lua_yield(L, lua_gettop(L)); }

TEST(LuaApi, ThreadsResumeAndYield) {
  State s;
  lua_State* L = s.L;
  lua_pushcfunction(L, yielder);
  lua_setglobal(L, "yield");
  lua_State* co = lua_newthread(L);
  ASSERT_EQ(load(co, "local a = yield(1, 2) return a * 10"), 0);
  EXPECT_EQ(lua_resume(co, 0), LUA_YIELD);
  EXPECT_EQ(lua_gettop(co), 2);
  lua_settop(co, 0);
  lua_pushinteger(co, 4);
  EXPECT_EQ(lua_resume(co, 1), 0);
  EXPECT_EQ(lua_tointeger(co, -1), 40);
  lua_settop(co, 0);
  EXPECT_EQ(lua_resume(co, 0), LUA_ERRRUN);
  EXPECT_STREQ(lua_tostring(co, -1), "cannot resume non-suspended coroutine");
  lua_State* co2 = lua_newthread(L);
  ASSERT_EQ(load(co2, "error('inside')"), 0);
  EXPECT_EQ(lua_resume(co2, 0), LUA_ERRRUN);
  EXPECT_STREQ(lua_tostring(co2, -1), "test:1: inside");
  EXPECT_EQ(lua_status(co2), LUA_ERRRUN);
}

}  // namespace
