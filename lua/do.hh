// Stack and call handling, errors and protected execution.
#pragma once

#include "lua/state.hh"
#include "lua/zio.hh"

#define luaD_checkstack(L, n)                                                     \
  if (reinterpret_cast<char*>((L)->stack_last) - reinterpret_cast<char*>((L)->top) \
      <= static_cast<ptrdiff_t>((n) * sizeof(TValue)))                             \
    luaD_growstack(L, n);

#define incr_top(L) { luaD_checkstack(L, 1); (L)->top++; }
#define savestack(L, p) (reinterpret_cast<char*>(p) - reinterpret_cast<char*>((L)->stack))
#define restorestack(L, n) (reinterpret_cast<TValue*>(reinterpret_cast<char*>((L)->stack) + (n)))
#define saveci(L, p) (reinterpret_cast<char*>(p) - reinterpret_cast<char*>((L)->base_ci))
#define restoreci(L, n) (reinterpret_cast<CallInfo*>(reinterpret_cast<char*>((L)->base_ci) + (n)))

// results from luaD_precall
#define PCRLUA 0  // initiated a call to a script function
#define PCRC 1    // did a call to a native function
#define PCRYIELD 2  // native function yielded

typedef void (*Pfunc)(lua_State* L, void* ud);

// The unwinding object: never derived from std::exception so that native
// catch-alls for std::exception in host code do not swallow script errors.
struct LuaThrow {
  int status;
};

int luaD_protectedparser(lua_State* L, ZIO* z, const char* name);
void luaD_callhook(lua_State* L, int event, int line);
int luaD_precall(lua_State* L, StkId func, int nresults);
void luaD_call(lua_State* L, StkId func, int nResults);
int luaD_pcall(lua_State* L, Pfunc func, void* u, ptrdiff_t oldtop, ptrdiff_t ef);
int luaD_poscall(lua_State* L, StkId firstResult);
void luaD_reallocCI(lua_State* L, int newsize);
void luaD_reallocstack(lua_State* L, int newsize);
void luaD_growstack(lua_State* L, int n);
[[noreturn]] void luaD_throw(lua_State* L, int errcode);
int luaD_rawrunprotected(lua_State* L, Pfunc f, void* ud);
void luaD_seterrorobj(lua_State* L, int errcode, StkId oldtop);

// Chunk reader and writer (chunk format); the parser is used for source.
Proto* luaU_undump(lua_State* L, ZIO* Z, Mbuffer* buff, const char* name);
int luaU_dump(lua_State* L, const Proto* f, lua_Writer w, void* data, int strip);
