// A script state with the standard libraries and the built-in module loader,
// as the host makes it.
#pragma once

#include <string>

#include "bind/LuaWrapper.hh"
#include "host/Modules.hh"
#include "lua/lualib.h"

namespace hosttest {

struct Outcome {
  bool ok;
  std::string value;  // first result through tostring, or the error message
};

class State {
 public:
  State() : L(luaL_newstate()) {
    luaL_openlibs(L);
    LuaWrapper::insertLoader(L, builtin_loader_entry);
  }
  ~State() { LuaWrapper::closeState(L); }
  State(const State&) = delete;
  State& operator=(const State&) = delete;

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
  void setString(const char* name, const std::string& v) {
    lua_pushlstring(L, v.data(), v.size());
    lua_setglobal(L, name);
  }

  lua_State* L;
};

}  // namespace hosttest
