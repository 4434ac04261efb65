// In-process script runner for the library tests: a state with every
// library open whose `print` writes into a string instead of stdout.
#pragma once

#include <cstring>
#include <string>

#include "lua/lauxlib.h"
#include "lua/lua.h"
#include "lua/lualib.h"

namespace libtest {

// Same text as the base library's print, including the cut at a zero byte
// that writing through fputs gives.
inline int capturePrint(lua_State* L) {
  std::string* out = static_cast<std::string*>(lua_touserdata(L, lua_upvalueindex(1)));
  int n = lua_gettop(L);
  lua_getglobal(L, "tostring");
  for (int i = 1; i <= n; i++) {
    lua_pushvalue(L, -1);
    lua_pushvalue(L, i);
    lua_call(L, 1, 1);
    const char* s = lua_tostring(L, -1);
    if (s == nullptr) return luaL_error(L, "'tostring' must return a string to 'print'");
    if (i > 1) *out += '\t';
    *out += s;  // stops at a zero byte, as fputs does
    lua_pop(L, 1);
  }
  *out += '\n';
  return 0;
}

class Lua {
public:
  Lua() : L(luaL_newstate()) {
    luaL_openlibs(L);
    lua_pushlightuserdata(L, &out);
    lua_pushcclosure(L, capturePrint, 1);
    lua_setglobal(L, "print");
  }
  ~Lua() { lua_close(L); }
  Lua(const Lua&) = delete;
  Lua& operator=(const Lua&) = delete;

  // Runs source text; returns what it printed, plus "ERROR: " and the
  // message when it failed.
  std::string run(const std::string& code, const char* name = "=test") {
    out.clear();
    int status = luaL_loadbuffer(L, code.data(), code.size(), name);
    if (status == 0) status = lua_pcall(L, 0, 0, 0);
    finish(status);
    return out;
  }

  // Runs a file the way the standalone interpreter does: called from a
  // native function, so tracebacks end in the same "[C]: ?" line.
  std::string runFile(const std::string& path) {
    out.clear();
    int status = lua_cpcall(L, runFileMain, const_cast<char*>(path.c_str()));
    finish(status);
    return out;
  }

  lua_State* L;
  std::string out;

private:
  static int runFileMain(lua_State* L) {
    const char* path = static_cast<const char*>(lua_touserdata(L, 1));
    if (luaL_loadfile(L, path) != 0) lua_error(L);
    lua_call(L, 0, 0);
    return 0;
  }
  void finish(int status) {
    if (status != 0) {
      const char* msg = lua_tostring(L, -1);
      out += "ERROR: ";
      out += msg ? msg : "(non-string error)";
      out += '\n';
      lua_pop(L, 1);
    }
  }
};

}  // namespace libtest
