// Interned strings and userdata allocation.
#pragma once

#include "lua/gc.hh"

#define sizestring(s) (sizeof(TString) + ((s)->len + 1) * sizeof(char))
#define sizeudata(u) (sizeof(Udata) + (u)->len)
#define luaS_new(L, s) (luaS_newlstr(L, s, strlen(s)))
#define luaS_newliteral(L, s) (luaS_newlstr(L, "" s, (sizeof(s) / sizeof(char)) - 1))
#define luaS_fix(s) l_setbit((s)->marked, FIXEDBIT)

void luaS_resize(lua_State* L, int newsize);
Udata* luaS_newudata(lua_State* L, size_t s, Table* e);
TString* luaS_newlstr(lua_State* L, const char* str, size_t l);
unsigned int luaS_hash(const char* str, size_t l);
// A string written in place, for results whose length is known: luaS_reserve
// gives an unlinked string of length l (terminated) whose bytes the caller
// writes without allocating in between; luaS_intern then returns it, or the
// equal string already interned, freeing the new one.
TString* luaS_reserve(lua_State* L, size_t l);
TString* luaS_intern(lua_State* L, TString* ts);
