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
  std::string message = errorText(L, -1);
  lua_pop(L, 1);
  throw std::runtime_error(message);
}

}  // namespace detail

std::string errorText(lua_State* L, int index) {
  const int t = lua_type(L, index);
  if (t != LUA_TSTRING && t != LUA_TNUMBER) return "(error object is not a string)";
  // A copy: converting a number in place must not disturb a caller that
  // iterates over the stack.
  lua_pushvalue(L, index);
  size_t n = 0;
  const char* p = lua_tolstring(L, -1, &n);
  std::string text(p, n);
  lua_pop(L, 1);
  return text;
}
}  // namespace LuaWrapper
