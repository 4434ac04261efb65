// Metamethod lookup and the event names.
#include "lua/string.hh"
#include "lua/table.hh"
#include "lua/tm.hh"

const char* const luaT_typenames[] = {
  "nil", "boolean", "userdata", "number", "string", "table", "function", "userdata",
  "thread", "proto", "upval"
};

void luaT_init(lua_State* L) {
  static const char* const luaT_eventname[] = {
    "__index", "__newindex", "__gc", "__mode", "__eq",
    "__add", "__sub", "__mul", "__div", "__mod", "__pow", "__unm", "__len", "__lt", "__le",
    "__concat", "__call", "__or", "__and", "__xor", "__shl", "__shr", "__not", "__intdiv"
  };
  static_assert(sizeof(luaT_eventname) / sizeof(luaT_eventname[0]) == TM_N, "events");
  for (int i = 0; i < TM_N; i++) {
    G(L)->tmname[i] = luaS_new(L, luaT_eventname[i]);
    luaS_fix(G(L)->tmname[i]);  // never collect these names
  }
}

// Caches absence only for the events with fast access (flags byte).
const TValue* luaT_gettm(Table* events, TMS event, TString* ename) {
  const TValue* tm = luaH_getstr(events, ename);
  if (ttisnil(tm)) {
    if (event <= TM_EQ) events->flags |= static_cast<lu_byte>(1u << event);
    return nullptr;
  }
  return tm;
}

const TValue* luaT_gettmbyobj(lua_State* L, const TValue* o, TMS event) {
  Table* mt;
  switch (ttype(o)) {
    case LUA_TTABLE: mt = hvalue(o)->metatable; break;
    case LUA_TUSERDATA: mt = uvalue(o)->metatable; break;
    default: mt = G(L)->mt[ttype(o)];
  }
  return (mt ? luaH_getstr(mt, G(L)->tmname[event]) : luaO_nilobject);
}
