// Command-line script runner: tlua [-l] script.lua [args...]
//   script  a file name, or "-" for standard input
//   -l      list the compiled instructions (with constants, locals, upvalues) instead of running
// Messages, the stack traceback of an uncaught error and the native call
// levels under the script are those script authors know from lua5.1.
#include <cstdio>
#include <cstring>

#include "lua/lauxlib.h"
#include "lua/lua.h"
#include "lua/lualib.h"
#include "lua/object.hh"
#include "lua/print.hh"

namespace {

const char* progname = "tlua";

struct Args {
  int argc;
  char** argv;
  int first;  // index of the script in argv
  bool list;
  int status;
};

void report(lua_State* L, int status) {
  if (status == 0 || lua_isnil(L, -1)) return;
  const char* msg = lua_tostring(L, -1);
  if (msg == nullptr) msg = "(error object is not a string)";
  std::fflush(stdout);
  std::fprintf(stderr, "%s: %s\n", progname, msg);
  std::fflush(stderr);
  lua_pop(L, 1);
}

// Message handler: a string message gains the traceback of the failed call.
int traceback(lua_State* L) {
  if (!lua_isstring(L, 1)) return 1;  // any other error object is passed on as it is
  lua_getfield(L, LUA_GLOBALSINDEX, "debug");
  if (!lua_istable(L, -1)) {
    lua_pop(L, 1);
    return 1;
  }
  lua_getfield(L, -1, "traceback");
  if (!lua_isfunction(L, -1)) {
    lua_pop(L, 2);
    return 1;
  }
  lua_pushvalue(L, 1);
  lua_pushinteger(L, 2);  // from the failed function on: skip this handler and traceback itself
  lua_call(L, 2, 1);
  return 1;
}

// Runs the script: the state's first native level, as under lua5.1's runner,
// so that nesting limits fall at the same depth.
int pmain(lua_State* L) {
  Args* a = static_cast<Args*>(lua_touserdata(L, 1));
  const char* script = a->argv[a->first];
  int status = luaL_loadfile(L, std::strcmp(script, "-") == 0 ? nullptr : script);
  if (status != 0) {
    report(L, status);
    a->status = status;
    return 0;
  }
  if (a->list) {
    const LClosure* cl = static_cast<const LClosure*>(static_cast<const Closure*>(lua_topointer(L, -1)));
    luaU_print(stdout, cl->p, 1);
    return 0;
  }
  lua_gc(L, LUA_GCSTOP, 0);
  luaL_openlibs(L);
  lua_gc(L, LUA_GCRESTART, 0);
  // arg table: script at 0, the words after it at 1..n, the runner and its options below 0
  lua_createtable(L, a->argc - a->first - 1, a->first + 1);
  for (int i = 0; i < a->argc; i++) {
    lua_pushstring(L, a->argv[i]);
    lua_rawseti(L, -2, i - a->first);
  }
  lua_setglobal(L, "arg");
  int nargs = a->argc - a->first - 1;
  luaL_checkstack(L, nargs + 2, "too many arguments to script");
  for (int i = a->first + 1; i < a->argc; i++) lua_pushstring(L, a->argv[i]);
  int base = lua_gettop(L) - nargs;  // the chunk
  lua_pushcfunction(L, traceback);
  lua_insert(L, base);  // below the chunk
  status = lua_pcall(L, nargs, 0, base);
  lua_remove(L, base);
  if (status != 0) lua_gc(L, LUA_GCCOLLECT, 0);  // the error may have come from a full heap
  report(L, status);
  a->status = status;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 0 && argv[0] && argv[0][0]) progname = argv[0];
  Args a{argc, argv, 1, false, 0};
  if (a.first < argc && std::strcmp(argv[a.first], "-l") == 0) {
    a.list = true;
    a.first++;
  }
  if (a.first >= argc) {
    std::fprintf(stderr, "usage: %s [-l] script.lua|- [args...]\n", progname);
    return 1;
  }
  lua_State* L = luaL_newstate();
  if (!L) {
    std::fprintf(stderr, "%s: cannot create state: not enough memory\n", progname);
    return 1;
  }
  int status = lua_cpcall(L, pmain, &a);
  report(L, status);
  lua_close(L);
  return (status != 0 || a.status != 0) ? 1 : 0;
}
