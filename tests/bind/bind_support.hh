// A script state for the binding tests: run a chunk, get its first result
// as bytes or the error message.
#pragma once

#include <string>

#include "bind/LuaWrapper.hh"
#include "lua/lualib.h"

namespace bindtest {

struct Outcome {
  bool ok;
  std::string value;  // first result through tostring, or the error message
};

class State {
 public:
  State() : L(luaL_newstate()) { luaL_openlibs(L); }
  ~State() { LuaWrapper::closeState(L); }
  State(const State&) = delete;
  State& operator=(const State&) = delete;

  template <lua_CFunction F>
  void global(const char* name) {
    lua_pushcfunction(L, F);
    lua_setglobal(L, name);
  }

  Outcome run(const std::string& code) {
    int top = lua_gettop(L);
    Outcome out{true, ""};
    if (luaL_loadbuffer(L, code.data(), code.size(), "=test") != 0 || lua_pcall(L, 0, 1, 0) != 0) out.ok = false;
    lua_getglobal(L, "tostring");
    lua_pushvalue(L, -2);
    lua_call(L, 1, 1);
    size_t n = 0;
    const char* p = lua_tolstring(L, -1, &n);
    out.value.assign(p ? p : "", p ? n : 0);
    lua_settop(L, top);
    return out;
  }

  lua_State* L;
};

}  // namespace bindtest
