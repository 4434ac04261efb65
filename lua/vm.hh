// The bytecode interpreter and the operations it shares with the API.
#pragma once

#include "lua/state.hh"

#define tostring(L, o) ((ttype(o) == LUA_TSTRING) || (luaV_tostring(L, o)))
#define tonumber(o, n) (ttype(o) == LUA_TNUMBER || (((o) = luaV_tonumber(o, n)) != nullptr))
#define equalobj(L, o1, o2) (ttype(o1) == ttype(o2) && luaV_equalval(L, o1, o2))

int luaV_lessthan(lua_State* L, const TValue* l, const TValue* r);
int luaV_equalval(lua_State* L, const TValue* t1, const TValue* t2);
const TValue* luaV_tonumber(const TValue* obj, TValue* n);
int luaV_tostring(lua_State* L, StkId obj);
void luaV_gettable(lua_State* L, const TValue* t, TValue* key, StkId val);
void luaV_settable(lua_State* L, const TValue* t, TValue* key, StkId val);
void luaV_execute(lua_State* L, int nexeccalls);
void luaV_concat(lua_State* L, int total, int last);

// The conversion used by the bitwise operators: truncation toward zero to
// 64 bits (out of range and NaN give -2^63), then the low 32 bits.
inline uint32_t luaV_toint32(lua_Number n) {
  int64_t v;
  if (n >= -9223372036854775808.0 && n < 9223372036854775808.0) v = static_cast<int64_t>(n);
  else v = INT64_MIN;
  return static_cast<uint32_t>(static_cast<uint64_t>(v));
}
// Integer division: the quotient truncated to 32 bits signed; NaN, infinite
// and out-of-range quotients give -2^31.
inline lua_Number luaV_intdiv(lua_Number a, lua_Number b) {
  lua_Number q = a / b;
  if (q >= -2147483648.0 && q < 2147483648.0) return static_cast<lua_Number>(static_cast<int32_t>(q));
  return -2147483648.0;
}
