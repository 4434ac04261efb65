// Incremental mark-and-sweep collector.
#pragma once

#include "lua/state.hh"

// phases
#define GCSpause 0
#define GCSpropagate 1
#define GCSsweepstring 2
#define GCSsweep 3
#define GCSfinalize 4

#define MAX_LUMEM (~static_cast<lu_mem>(0) - 2)

#define resetbits(x, m) ((x) &= static_cast<lu_byte>(~(m)))
#define setbits(x, m) ((x) |= (m))
#define testbits(x, m) ((x) & (m))
#define bitmask(b) (1 << (b))
#define bit2mask(b1, b2) (bitmask(b1) | bitmask(b2))
#define l_setbit(x, b) setbits(x, bitmask(b))
#define resetbit(x, b) resetbits(x, bitmask(b))
#define testbit(x, b) testbits(x, bitmask(b))
#define set2bits(x, b1, b2) setbits(x, (bit2mask(b1, b2)))
#define reset2bits(x, b1, b2) resetbits(x, (bit2mask(b1, b2)))
#define test2bits(x, b1, b2) testbits(x, (bit2mask(b1, b2)))

// marked bits: 0/1 white, 2 black, 3 finalised (userdata), 4 fixed (strings)
// / key-weak (tables), 5 value-weak (tables), 6 super-fixed (main thread)
#define WHITE0BIT 0
#define WHITE1BIT 1
#define BLACKBIT 2
#define FINALIZEDBIT 3
#define KEYWEAKBIT 3
#define VALUEWEAKBIT 4
#define FIXEDBIT 5
#define SFIXEDBIT 6
#define WHITEBITS bit2mask(WHITE0BIT, WHITE1BIT)

#define iswhite(x) test2bits((x)->marked, WHITE0BIT, WHITE1BIT)
#define isblack(x) testbit((x)->marked, BLACKBIT)
#define isgray(x) (!isblack(x) && !iswhite(x))
#define otherwhite(g) ((g)->currentwhite ^ WHITEBITS)
#define isdead(g, v) ((v)->marked & otherwhite(g) & WHITEBITS)
#define changewhite(x) ((x)->marked ^= WHITEBITS)
#define gray2black(x) l_setbit((x)->marked, BLACKBIT)
#define valiswhite(x) (iscollectable(x) && iswhite(gcvalue(x)))
#define luaC_white(g) static_cast<lu_byte>((g)->currentwhite & WHITEBITS)

void luaC_step(lua_State* L);
void luaC_fullgc(lua_State* L);

#ifdef TOLM_LUA_GC_STRESS
#define luaC_checkGC(L) { luaC_fullgc(L); }
#else
#define luaC_checkGC(L) { if (G(L)->totalbytes >= G(L)->GCthreshold) luaC_step(L); }
#endif

#define luaC_barrier(L, p, v) { if (valiswhite(v) && isblack(static_cast<GCObject*>(p))) \
    luaC_barrierf(L, static_cast<GCObject*>(p), gcvalue(v)); }
#define luaC_barriert(L, t, v) { if (valiswhite(v) && isblack(static_cast<GCObject*>(t))) \
    luaC_barrierback(L, t); }
#define luaC_objbarrier(L, p, o) { if (iswhite(static_cast<GCObject*>(o)) && isblack(static_cast<GCObject*>(p))) \
    luaC_barrierf(L, static_cast<GCObject*>(p), static_cast<GCObject*>(o)); }
#define luaC_objbarriert(L, t, o) { if (iswhite(static_cast<GCObject*>(o)) && isblack(static_cast<GCObject*>(t))) \
    luaC_barrierback(L, t); }

size_t luaC_separateudata(lua_State* L, int all);
void luaC_callGCTM(lua_State* L);
void luaC_freeall(lua_State* L);
void luaC_link(lua_State* L, GCObject* o, lu_byte tt);
void luaC_linkupval(lua_State* L, UpVal* uv);
void luaC_barrierf(lua_State* L, GCObject* o, GCObject* v);
void luaC_barrierback(lua_State* L, Table* t);
