// The per-thread state, the shared global state and call records.
#pragma once

#include "lua/object.hh"

struct lua_longjmp;  // protected-call record (do.cc)

// Interned string table.
struct stringtable {
  GCObject** hash;
  lu_int32 nuse;  // number of elements
  int size;
};

// Growable byte buffer (lexer, concatenation).
struct Mbuffer {
  char* buffer;
  size_t n;
  size_t buffsize;
};

// Information about a call.
struct CallInfo {
  StkId base;  // base for this function
  StkId func;  // function index in the stack
  StkId top;   // top for this function
  const Instruction* savedpc;
  int nresults;  // expected number of results from this function
  int tailcalls;  // number of tail calls lost under this entry
};

#define curr_func(L) (clvalue((L)->ci->func))
#define ci_func(ci) (clvalue((ci)->func))
#define f_isLua(ci) (!ci_func(ci)->isC)
#define isLua(ci) (ttisfunction((ci)->func) && f_isLua(ci))

#define TM_N 24  // number of metamethod events

struct global_State {
  stringtable strt;
  lua_Alloc frealloc;
  void* ud;  // allocator user data; owned by the host's binding layer
  lu_byte currentwhite;
  lu_byte gcstate;
  int sweepstrgc;  // position of sweep in `strt'
  GCObject* rootgc;  // list of all collectable objects
  GCObject** sweepgc;
  GCObject* gray;
  GCObject* grayagain;
  GCObject* weak;
  GCObject* tmudata;  // last element of list of userdata to be finalised
  Mbuffer buff;
  lu_mem GCthreshold;
  lu_mem totalbytes;
  lu_mem estimate;
  lu_mem gcdept;
  int gcpause;
  int gcstepmul;
  lua_CFunction panic;
  TValue l_registry;
  lua_State* mainthread;
  UpVal uvhead;  // head of double-linked list of all open upvalues
  Table* mt[LUA_TTHREAD + 1];  // metatables for basic types
  TString* tmname[TM_N];  // event names
  TString* memerrmsg;  // "not enough memory", fixed
  lu_byte closing;  // lua_close has begun: its finalisers are running
};

struct lua_State : GCObject {
  lu_byte status;
  StkId top;
  StkId base;
  global_State* l_G;
  CallInfo* ci;
  const Instruction* savedpc;
  StkId stack_last;  // last free slot in the stack
  StkId stack;
  CallInfo* end_ci;
  CallInfo* base_ci;
  int stacksize;
  int size_ci;
  unsigned short nCcalls;  // nested native calls
  unsigned short baseCcalls;  // nested native calls when resuming coroutine
  lu_byte hookmask;
  lu_byte allowhook;
  int basehookcount;
  int hookcount;
  lua_Hook hook;
  TValue l_gt;  // table of globals
  TValue env;   // temporary place for environments
  GCObject* openupval;
  GCObject* gclist;
  lua_longjmp* errorJmp;
  ptrdiff_t errfunc;
};

#define G(L) ((L)->l_G)
#define registry(L) (&G(L)->l_registry)
#define gt(L) (&(L)->l_gt)

#define EXTRA_STACK 5
#define BASIC_CI_SIZE 8
#define BASIC_STACK_SIZE (2 * LUA_MINSTACK)

inline lua_State* gco2th(GCObject* o) { return static_cast<lua_State*>(o); }
inline GCObject* obj2gco(lua_State* L) { return static_cast<GCObject*>(L); }

void luaE_freethread(lua_State* L, lua_State* L1);
lua_State* luaE_newthread(lua_State* L);
