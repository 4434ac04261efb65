// A native loader in front of package.loaders.
#include "bind/LuaWrapper.hh"

namespace LuaWrapper {

void insertLoader(lua_State* L, lua_CFunction loader) {
  lua_getglobal(L, "package");
  if (!lua_istable(L, -1)) {
    lua_pop(L, 1);
    return;
  }
  lua_getfield(L, -1, "loaders");
  LuaTable loaders(L, -1);
  lua_pop(L, 2);
  if (loaders.empty()) return;
  loaders.push(L);
  int n = 0;
  for (;;) {
    lua_rawgeti(L, -1, n + 1);
    bool end = lua_isnil(L, -1);
    lua_pop(L, 1);
    if (end) break;
    ++n;
  }
  for (int i = n; i >= 1; --i) {
    lua_rawgeti(L, -1, i);
    lua_rawseti(L, -2, i + 1);
  }
  lua_pushcfunction(L, loader);
  lua_rawseti(L, -2, 1);
  lua_pop(L, 1);
  loaders.release();
}

}  // namespace LuaWrapper
