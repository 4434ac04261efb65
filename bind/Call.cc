// Protected calls into scripts.
#include <stdexcept>

#include "bind/Call.hh"

namespace LuaWrapper {
namespace detail {

void reserve(lua_State* L, int n) {
  if (!lua_checkstack(L, n)) throw std::runtime_error("stack overflow");
}

void pcallOrThrow(lua_State* L, int nargs, int nresults) {
  if (lua_pcall(L, nargs, nresults, 0) == 0) return;
  std::string message;
  int t = lua_type(L, -1);
  if (t == LUA_TSTRING || t == LUA_TNUMBER) {
    size_t n = 0;
    const char* p = lua_tolstring(L, -1, &n);
    message.assign(p, n);
  }
  lua_pop(L, 1);
  throw std::runtime_error(message);
}

}  // namespace detail
}  // namespace LuaWrapper
