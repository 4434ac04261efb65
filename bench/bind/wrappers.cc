// Cost of a wrapped call against a hand-written native function, from a
// script loop.
#include <benchmark/benchmark.h>

#include <string>

#include "bind/LuaWrapper.hh"
#include "lua/lualib.h"

namespace {

struct Point {
  double x = 0;
  void move(double dx) { x += dx; }
  size_t label(const std::string& s) { return s.size(); }
  int labelInt(const std::string& s) { return static_cast<int>(label(s)); }
};

int add(int a, int b) { return a + b; }

int rawAdd(lua_State* L) {
  lua_pushinteger(L, luaL_checkinteger(L, 1) + luaL_checkinteger(L, 2));
  return 1;
}

// A hand-written method: no class check beyond the userdata's presence.
int rawMove(lua_State* L) {
  auto** p = static_cast<Point**>(lua_touserdata(L, 1));
  double dx = luaL_checknumber(L, 2);
  if (p == nullptr || *p == nullptr) return luaL_error(L, "no point");
  (*p)->move(dx);
  return 0;
}

}  // namespace

TOLM_SCRIPT_CLASS(Point, "Point")

namespace {

using namespace LuaWrapper;

void runLoop(benchmark::State& st, const char* body) {
  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  DeclareToLua<Point>(L, "B");
  ExportToLua<CtorWrapper<Point()>>(L, "new");
  ExportToLua<DtorWrapper<Point>>(L, "__gc");
  ExportToLua<MethodWrapper<&Point::move>>(L, "move");
  ExportToLua<MethodWrapper<&Point::labelInt>>(L, "label");
  lua_register(L, "rawAdd", rawAdd);
  luaL_getmetatable(L, "Point");
  lua_getfield(L, -1, "__index");
  lua_pushcfunction(L, rawMove);
  lua_setfield(L, -2, "rawMove");
  lua_pop(L, 2);
  lua_register(L, "add", FunctionWrapper<&add>::Wrapper);
  std::string code = std::string("local p = B.Point.new(); for i = 1, 100000 do ") + body + " end";
  luaL_loadstring(L, code.c_str());
  lua_setglobal(L, "loop");
  for (auto _ : st) {
    lua_getglobal(L, "loop");
    if (lua_pcall(L, 0, 0, 0) != 0) st.SkipWithError(lua_tostring(L, -1));
  }
  st.SetItemsProcessed(st.iterations() * 100000);
  closeState(L);
}

void BM_RawFunction(benchmark::State& st) { runLoop(st, "rawAdd(i, 1)"); }
void BM_FunctionWrapper(benchmark::State& st) { runLoop(st, "add(i, 1)"); }
void BM_RawMethod(benchmark::State& st) { runLoop(st, "p:rawMove(1.5)"); }
void BM_MethodWrapper(benchmark::State& st) { runLoop(st, "p:move(1.5)"); }
void BM_MethodStringArgument(benchmark::State& st) { runLoop(st, "p:label('some text')"); }

BENCHMARK(BM_RawFunction);
BENCHMARK(BM_FunctionWrapper);
BENCHMARK(BM_RawMethod);
BENCHMARK(BM_MethodWrapper);
BENCHMARK(BM_MethodStringArgument);

}  // namespace

BENCHMARK_MAIN();
