// Class metatables and where wrappers are registered in them.
#include "bind/Wrappers.hh"

namespace LuaWrapper {

bool LuaClassData::isCompatible(lua_State* L, int index) const {
  if (!lua_getmetatable(L, index)) return false;
  luaL_getmetatable(L, name);
  bool same = lua_rawequal(L, -1, -2) != 0;
  lua_pop(L, 2);
  return same;
}

namespace detail {

void declareClass(lua_State* L, const char* name, const char* space) {
  luaL_newmetatable(L, name);  // reuses the one already registered
  if (space != nullptr && *space != '\0') {
    luaL_findtable(L, LUA_GLOBALSINDEX, space, 1);
    if (lua_istable(L, -1)) {
      lua_pushvalue(L, -2);
      lua_setfield(L, -2, name);
    }
    lua_pop(L, 1);
  }
  lua_newtable(L);
  lua_setfield(L, -2, "__index");
  lua_pop(L, 1);
}

void exportEntry(lua_State* L, const char* className, const char* name, bool classLevel) {
  luaL_getmetatable(L, className);
  if (!lua_istable(L, -1)) {
    lua_pop(L, 2);
    luaL_error(L, "class %s is not declared", className);
  }
  bool meta = classLevel || (name[0] == '_' && name[1] == '_');
  if (!meta) {
    lua_getfield(L, -1, "__index");
    lua_remove(L, -2);
  }
  lua_pushvalue(L, -2);
  lua_setfield(L, -2, name);
  lua_pop(L, 2);
}

}  // namespace detail
}  // namespace LuaWrapper
