// Error raising with positions, variable names for messages, code checks.
#pragma once

#include "lua/state.hh"

#define pcRel(pc, p) (static_cast<int>((pc) - (p)->code) - 1)
#define getline_(f, pc) (((f)->lineinfo) ? (f)->lineinfo[pc] : 0)
#define resethookcount(L) ((L)->hookcount = (L)->basehookcount)

[[noreturn]] void luaG_typeerror(lua_State* L, const TValue* o, const char* opname);
[[noreturn]] void luaG_concaterror(lua_State* L, StkId p1, StkId p2);
[[noreturn]] void luaG_aritherror(lua_State* L, const TValue* p1, const TValue* p2);
[[noreturn]] void luaG_biterror(lua_State* L, const TValue* p1, const TValue* p2);
[[noreturn]] int luaG_ordererror(lua_State* L, const TValue* p1, const TValue* p2);
[[noreturn]] void luaG_runerror(lua_State* L, const char* fmt, ...);
[[noreturn]] void luaG_errormsg(lua_State* L);
int luaG_checkcode(const Proto* pt);
