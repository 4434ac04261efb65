// The Posix script module: file system, environment, time and extended
// attributes.
#pragma once

#include "lua/lua.h"

int luaopen_posix(lua_State* L);
