// Metamethod events.
#pragma once

#include "lua/state.hh"

// The order is fixed: it is the event numbering.
enum TMS : int {
  TM_INDEX, TM_NEWINDEX, TM_GC, TM_MODE, TM_EQ,  // last tag method with `fast' access
  TM_ADD, TM_SUB, TM_MUL, TM_DIV, TM_MOD, TM_POW, TM_UNM, TM_LEN, TM_LT, TM_LE, TM_CONCAT,
  TM_CALL, TM_OR, TM_AND, TM_XOR, TM_SHL, TM_SHR, TM_NOT, TM_INTDIV
};
static_assert(TM_INTDIV + 1 == TM_N, "event count");

#define gfasttm(g, et, e) ((et) == nullptr ? nullptr : \
  ((et)->flags & (1u << (e))) ? nullptr : luaT_gettm(et, e, (g)->tmname[e]))
#define fasttm(l, et, e) gfasttm(G(l), et, e)

const TValue* luaT_gettm(Table* events, TMS event, TString* ename);
const TValue* luaT_gettmbyobj(lua_State* L, const TValue* o, TMS event);
void luaT_init(lua_State* L);

extern const char* const luaT_typenames[];
