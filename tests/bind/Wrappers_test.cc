// Wrapper families, class tables and instances, the exception barrier and
// the release list.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>

#include "bind_support.hh"

namespace {
int g_alive = 0;

struct Counter {
  int value;
  explicit Counter(int v = 0) : value(v) { ++g_alive; }
  Counter(lua_State* L, int v, const std::string& tag) : value(v + static_cast<int>(tag.size())) {
    (void)L;
    ++g_alive;
  }
  ~Counter() { --g_alive; }
  void add(int n) { value += n; }
  int get() const { return value; }
  Counter* clone() const { return new Counter(value); }
  int both(lua_State* L) {
    lua_pushinteger(L, value);
    lua_pushinteger(L, -value);
    return 2;
  }
  void overflow() { throw std::overflow_error("counter overflow"); }
};

struct Other {};
}  // namespace

TOLM_SCRIPT_CLASS(Counter, "Counter")
TOLM_SCRIPT_CLASS(Other, "Other")

using namespace LuaWrapper;

namespace {

int sum(Counter& a, Counter* b) { return a.value + b->value; }
void noMemory() { throw std::bad_alloc(); }
void tooBig(const std::string& what) { throw std::overflow_error(what + " too big"); }
void oddThrow() { throw 42; }
int count(lua_State* L, int n) {
  for (int i = 1; i <= n; ++i) lua_pushinteger(L, i);
  return n;
}

class WrapperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_alive = 0;
    DeclareToLua<Counter>(s.L, "T.sub");
    DeclareToLua<Other>(s.L, "T");
    ExportToLua<CtorWrapper<Counter(int), Optional>>(s.L, "new");
    ExportToLua<CtorWrapper<Counter(lua_State*, int, const std::string&)>>(s.L, "tagged");
    ExportToLua<DtorWrapper<Counter>>(s.L, "delete");
    ExportToLua<DtorWrapper<Counter>>(s.L, "__gc");
    ExportToLua<MethodWrapper<&Counter::add>>(s.L, "add");
    ExportToLua<MethodWrapper<&Counter::get>>(s.L, "get");
    ExportToLua<MethodWrapper<&Counter::clone>>(s.L, "clone");
    ExportToLua<MethodWrapper<&Counter::both>>(s.L, "both");
    ExportToLua<MethodWrapper<&Counter::overflow>>(s.L, "overflow");
    ExportToLua<Counter, FunctionWrapper<&sum>>(s.L, "sum");
    ExportToLua<CtorWrapper<Other()>>(s.L, "new");
    ExportToLua<DtorWrapper<Other>>(s.L, "__gc");
    s.global<FunctionWrapper<&noMemory>::Wrapper>("noMemory");
    s.global<FunctionWrapper<&tooBig>::Wrapper>("tooBig");
    s.global<FunctionWrapper<&oddThrow>::Wrapper>("oddThrow");
    s.global<FunctionWrapper<&count>::Wrapper>("count");
  }
  void expectRun(const std::string& code, const std::string& value) {
    bindtest::Outcome out = s.run(code);
    EXPECT_TRUE(out.ok) << code << " -> " << out.value;
    EXPECT_EQ(out.value, value) << code;
  }
  bindtest::State s;
};

TEST_F(WrapperTest, MethodsResultsAndClassTables) {
  expectRun("local c = T.sub.Counter.new(5); c:add(2); return c:get()", "7");
  expectRun("return T.sub.Counter.new():get()", "0");
  expectRun("return T.sub.Counter.tagged(1, 'abc'):get()", "4");
  expectRun("local a, b = T.sub.Counter.new(3):both(); return a .. ',' .. b", "3,-3");
  expectRun("local c = T.sub.Counter.new(9):clone(); return c:get()", "9");
  expectRun("local C = T.sub.Counter; return C.sum(C.new(2), C.new(40))", "42");
  expectRun("return select('#', count(3))", "3");
  // constructors and class functions live on the class table, not on instances
  expectRun("local c = T.sub.Counter.new(); return tostring(c.new) .. tostring(c.sum)", "nilnil");
  expectRun("local c = T.sub.Counter.new(); return type(c.delete) .. type(c.get)", "functionfunction");
  expectRun("return type(getmetatable(T.sub.Counter.new()).__gc)", "function");
}

TEST_F(WrapperTest, DeleteTwiceThenMethodRaises) {
  expectRun("c = T.sub.Counter.new(1); c:delete(); c:delete(); return 'ok'", "ok");
  bindtest::Outcome out = s.run("return c:get()");
  EXPECT_FALSE(out.ok);
  EXPECT_EQ(out.value, "cannot convert argument #1 from userdata to Counter (current stackframe: 'get' )");
  lua_gc(s.L, LUA_GCCOLLECT, 0);
  EXPECT_EQ(g_alive, 0);
}

TEST_F(WrapperTest, WrongReceiverRaisesForArgumentOne) {
  struct Row {
    const char* code;
    const char* message;
  } rows[] = {
      {"local c = T.sub.Counter.new(); return c.get({})",
       "cannot convert argument #1 from table to Counter (current stackframe: 'get' )"},
      {"local c = T.sub.Counter.new(); return c.get(T.Other.new())",
       "cannot convert argument #1 from userdata to Counter (current stackframe: 'get' )"},
      {"local c = T.sub.Counter.new(); local d = c.delete; return d(1)",
       "cannot convert argument #1 from number to Counter (current stackframe: 'd' )"},
      {"local c = T.sub.Counter.new(); return c:add('x')",
       "cannot convert argument #2 from string to int (current stackframe: 'add' )"},
      // another userdata given the class metatable is still no instance
      {"local c = T.sub.Counter.new(); local u = newproxy(); debug.setmetatable(u, getmetatable(c)); return u:get()",
       "cannot convert argument #1 from userdata to Counter (current stackframe: 'get' )"},
  };
  for (const Row& r : rows) {
    bindtest::Outcome out = s.run(r.code);
    EXPECT_FALSE(out.ok) << r.code;
    EXPECT_EQ(out.value, r.message) << r.code;
  }
}

TEST_F(WrapperTest, CollectorAndCloseDeleteInstances) {
  expectRun("for i = 1, 50 do T.sub.Counter.new(i) end; collectgarbage(); return 1", "1");
  EXPECT_EQ(g_alive, 0);
  expectRun("keep = {}; for i = 1, 5 do keep[i] = T.sub.Counter.new(i) end; return 1", "1");
  EXPECT_EQ(g_alive, 5);
}

TEST_F(WrapperTest, NativeExceptionsBecomeScriptErrors) {
  struct Row {
    const char* code;
    const char* message;
  } rows[] = {
      {"return noMemory()", "std::bad_alloc"},
      {"return tooBig('page')", "page too big"},
      {"return T.sub.Counter.new():overflow()", "counter overflow"},
      {"return oddThrow()", "unknown native exception"},
  };
  for (const Row& r : rows) {
    bindtest::Outcome out = s.run(r.code);
    EXPECT_FALSE(out.ok) << r.code;
    EXPECT_EQ(out.value, r.message) << r.code;
    EXPECT_EQ(autoReleaseHead(s.L), nullptr) << r.code;
  }
  // the state goes on working, inside coroutines too
  expectRun("local co = coroutine.create(function() return pcall(tooBig, 'x') end);"
            "local _, ok, e = coroutine.resume(co); return tostring(ok) .. ' ' .. e",
            "false x too big");
}

TEST(Instances, ClosingTheStateDeletesThem) {
  g_alive = 0;
  {
    bindtest::State s;
    DeclareToLua<Counter>(s.L, nullptr);
    ExportToLua<CtorWrapper<Counter(int)>>(s.L, "new");
    ExportToLua<DtorWrapper<Counter>>(s.L, "__gc");
    lua_getfield(s.L, LUA_REGISTRYINDEX, "Counter");
    lua_setglobal(s.L, "Counter");
    ASSERT_TRUE(s.run("keep = {}; for i = 1, 5 do keep[i] = Counter.new(i) end; return 1").ok);
    EXPECT_EQ(g_alive, 5);
  }
  EXPECT_EQ(g_alive, 0);
}

struct Probe : AutoReleaseItem {
  int* destroyed;
  explicit Probe(int* d) : destroyed(d) {}
  ~Probe() override { ++*destroyed; }
};

TEST(AutoRelease, ListIsPerUniverseAndReleasedNewestFirst) {
  bindtest::State a;
  bindtest::State b;
  int destroyed = 0;
  autoRelease(a.L, new Probe(&destroyed));
  autoRelease(a.L, new Probe(&destroyed));
  EXPECT_EQ(autoReleaseHead(b.L), nullptr);
  lua_State* co = lua_newthread(a.L);
  EXPECT_EQ(autoReleaseHead(co), autoReleaseHead(a.L));  // coroutines share the list
  lua_pop(a.L, 1);
  lua_gc(a.L, LUA_GCCOLLECT, 0);  // the slot survives collections
  EXPECT_NE(autoReleaseHead(a.L), nullptr);
  runAutoRelease(a.L);
  EXPECT_EQ(destroyed, 2);
  EXPECT_EQ(autoReleaseHead(a.L), nullptr);
}

// Items parked outside any wrapper outlive wrapped calls; a wrapper releases
// only its own, also when it ends in an error.
const std::string* g_outer = nullptr;
std::string g_seen;
void inner(const std::string& s) { g_seen += s + "|" + *g_outer + ";"; }
void innerFails(const std::string& s, int) { g_seen += s; }
void outer(lua_State* L, const std::string& s, LuaFunction f) {
  g_outer = &s;
  Call_0(L, f);
  g_seen += "after:" + s;
}
int outerN(lua_State* L, const std::string& s, LuaFunction f) {
  outer(L, s, f);
  return 0;
}

TEST(AutoRelease, NestedCallsKeepTheEnclosingTemporaries) {
  bindtest::State s;
  int destroyed = 0;
  autoRelease(s.L, new Probe(&destroyed));
  s.global<FunctionWrapper<&inner>::Wrapper>("inner");
  s.global<FunctionWrapper<&innerFails>::Wrapper>("innerFails");
  s.global<FunctionWrapper<&outerN>::Wrapper>("outer");
  g_seen.clear();
  bindtest::Outcome out = s.run("outer('A', function() inner('B'); pcall(innerFails, 'C', {}) end); return 1");
  EXPECT_TRUE(out.ok) << out.value;
  EXPECT_EQ(g_seen, "B|A;after:A");
  EXPECT_EQ(destroyed, 0);
  // an error inside the nested script call reaches outer as a native
  // exception and leaves as a script error
  out = s.run("outer('A', function() error('deep', 0) end)");
  EXPECT_FALSE(out.ok);
  EXPECT_EQ(out.value, "deep");
  EXPECT_EQ(destroyed, 0);
  runAutoRelease(s.L);
  EXPECT_EQ(destroyed, 1);
}

TEST(AutoRelease, TemporariesOfAFailedCallAreGone) {
  bindtest::State s;
  s.global<FunctionWrapper<&innerFails>::Wrapper>("innerFails");
  s.global<FunctionWrapper<&tooBig>::Wrapper>("tooBig");
  g_seen.clear();
  // the string of argument 1 was parked before argument 2 failed
  EXPECT_FALSE(s.run("innerFails('kept?', {})").ok);
  EXPECT_EQ(autoReleaseHead(s.L), nullptr);
  EXPECT_FALSE(s.run("tooBig(string.rep('x', 100000))").ok);
  EXPECT_EQ(autoReleaseHead(s.L), nullptr);
  EXPECT_EQ(g_seen, "");
}

}  // namespace
