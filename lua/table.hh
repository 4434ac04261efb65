// Tables: array part and hash part.
#pragma once

#include "lua/state.hh"

const TValue* luaH_getnum(Table* t, int key);
TValue* luaH_setnum(lua_State* L, Table* t, int key);
TValue* luaH_setstr(lua_State* L, Table* t, TString* key);
const TValue* luaH_get(Table* t, const TValue* key);
TValue* luaH_set(lua_State* L, Table* t, const TValue* key);
// Stores a key known to be absent, neither nil nor NaN.
TValue* luaH_newkey(lua_State* L, Table* t, const TValue* key);
Table* luaH_new(lua_State* L, int narray, int lnhash);
void luaH_resizearray(lua_State* L, Table* t, int nasize);
void luaH_free(lua_State* L, Table* t);
int luaH_next(lua_State* L, Table* t, StkId key);
int luaH_getn(Table* t);

// String lookup, inline for the interpreter's field accesses.
inline const TValue* luaH_getstr(Table* t, TString* key) {
  Node* n = &t->node[lmod(key->hash, sizenode(t))];
  do {
    if (ttisstring(gkey(n)) && rawtsvalue(gkey(n)) == key) return gval(n);
    n = gnext(n);
  } while (n);
  return luaO_nilobject;
}
