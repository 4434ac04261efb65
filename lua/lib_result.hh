// The result shape of the io and os functions that wrap a system call:
// true, or nil, "name: message" (or the message alone) and errno.
#pragma once

#include <cerrno>
#include <cstring>

#include "lua.h"

inline int lib_pushresult(lua_State* L, int ok, const char* filename) {
  int en = errno;
  if (ok) {
    lua_pushboolean(L, 1);
    return 1;
  }
  lua_pushnil(L);
  if (filename)
    lua_pushfstring(L, "%s: %s", filename, std::strerror(en));
  else
    lua_pushfstring(L, "%s", std::strerror(en));
  lua_pushinteger(L, en);
  return 3;
}
