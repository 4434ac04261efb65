// Creation and destruction of states and threads.
#include <cstdio>
#include <cstdlib>
#include <new>

#include "lua/debug.hh"
#include "lua/do.hh"
#include "lua/func.hh"
#include "lua/gc.hh"
#include "lua/lex.hh"
#include "lua/mem.hh"
#include "lua/string.hh"
#include "lua/table.hh"
#include "lua/tm.hh"

namespace {
// The main thread and the global state live in one block.
struct LG {
  lua_State l;
  global_State g;
};
}  // namespace

static void stack_init(lua_State* L1, lua_State* L) {
  L1->base_ci = luaM_newvector(L, BASIC_CI_SIZE, CallInfo);
  L1->ci = L1->base_ci;
  L1->size_ci = BASIC_CI_SIZE;
  L1->end_ci = L1->base_ci + L1->size_ci - 1;
  L1->stack = luaM_newvector(L, BASIC_STACK_SIZE + EXTRA_STACK, TValue);
  L1->stacksize = BASIC_STACK_SIZE + EXTRA_STACK;
  L1->top = L1->stack;
  L1->stack_last = L1->stack + (L1->stacksize - EXTRA_STACK) - 1;
  // initialize first ci
  L1->ci->func = L1->top;
  setnilvalue(L1->top++);  // `function' entry for this `ci'
  L1->base = L1->ci->base = L1->top;
  L1->ci->top = L1->top + LUA_MINSTACK;
  L1->ci->savedpc = nullptr;
  L1->ci->nresults = 0;
  L1->ci->tailcalls = 0;
}

static void freestack(lua_State* L, lua_State* L1) {
  luaM_freearray(L, L1->base_ci, L1->size_ci, CallInfo);
  luaM_freearray(L, L1->stack, L1->stacksize, TValue);
}

// open parts that may cause memory-allocation errors
static void f_luaopen(lua_State* L, void*) {
  global_State* g = G(L);
  stack_init(L, L);
  sethvalue(L, gt(L), luaH_new(L, 0, 2));  // table of globals
  sethvalue(L, registry(L), luaH_new(L, 0, 2));  // registry
  luaS_resize(L, 32);  // initial size of string table
  luaT_init(L);
  luaX_init(L);
  g->memerrmsg = luaS_newliteral(L, "not enough memory");
  luaS_fix(g->memerrmsg);
  g->GCthreshold = 4 * g->totalbytes;
}

static void preinit_state(lua_State* L, global_State* g) {
  L->l_G = g;
  L->stack = nullptr;
  L->stacksize = 0;
  L->errorJmp = nullptr;
  L->hook = nullptr;
  L->hookmask = 0;
  L->basehookcount = 0;
  L->allowhook = 1;
  L->hookcount = L->basehookcount;
  L->openupval = nullptr;
  L->size_ci = 0;
  L->nCcalls = L->baseCcalls = 0;
  L->status = 0;
  L->base_ci = L->ci = nullptr;
  L->savedpc = nullptr;
  L->errfunc = 0;
  L->gclist = nullptr;
  setnilvalue(gt(L));
  setnilvalue(&L->env);
}

static void close_state(lua_State* L) {
  global_State* g = G(L);
  luaF_close(L, L->stack);  // close all upvalues for this thread
  luaC_freeall(L);  // collect all objects
  luaM_freearray(L, G(L)->strt.hash, G(L)->strt.size, TString*);
  luaZ_freebuffer(L, &g->buff);
  freestack(L, L);
  (*g->frealloc)(g->ud, L, sizeof(LG), 0);
}

lua_State* luaE_newthread(lua_State* L) {
  lua_State* L1 = static_cast<lua_State*>(luaM_malloc(L, sizeof(lua_State)));
  new (L1) lua_State();
  luaC_link(L, L1, LUA_TTHREAD);
  preinit_state(L1, G(L));
  stack_init(L1, L);  // init stack
  setobj2n(L, gt(L1), gt(L));  // share table of globals
  L1->hookmask = L->hookmask;
  L1->basehookcount = L->basehookcount;
  L1->hook = L->hook;
  resethookcount(L1);
  return L1;
}

void luaE_freethread(lua_State* L, lua_State* L1) {
  luaF_close(L1, L1->stack);  // close all upvalues for this thread
  freestack(L, L1);
  luaM_freemem(L, L1, sizeof(lua_State));
}

lua_State* lua_newstate(lua_Alloc f, void* ud) {
  void* l = (*f)(ud, nullptr, 0, sizeof(LG));
  if (l == nullptr) return nullptr;
  LG* lg = new (l) LG();
  lua_State* L = &lg->l;
  global_State* g = &lg->g;
  L->next = nullptr;
  L->tt = LUA_TTHREAD;
  g->currentwhite = bit2mask(WHITE0BIT, FIXEDBIT);
  L->marked = luaC_white(g);
  set2bits(L->marked, FIXEDBIT, SFIXEDBIT);
  preinit_state(L, g);
  g->frealloc = f;
  g->ud = ud;
  g->mainthread = L;
  g->uvhead.u.l.prev = &g->uvhead;
  g->uvhead.u.l.next = &g->uvhead;
  g->GCthreshold = 0;  // mark it as unfinished state
  g->strt.size = 0;
  g->strt.nuse = 0;
  g->strt.hash = nullptr;
  setnilvalue(registry(L));
  luaZ_initbuffer(L, &g->buff);
  g->panic = nullptr;
  g->gcstate = GCSpause;
  g->rootgc = L;
  g->sweepstrgc = 0;
  g->sweepgc = &g->rootgc;
  g->gray = nullptr;
  g->grayagain = nullptr;
  g->weak = nullptr;
  g->tmudata = nullptr;
  g->totalbytes = sizeof(LG);
  g->estimate = 0;
  g->gcpause = 200;
  g->gcstepmul = 200;
  g->gcdept = 0;
  g->memerrmsg = nullptr;
  g->closing = 0;
  for (int i = 0; i < LUA_TTHREAD + 1; i++) g->mt[i] = nullptr;
  for (int i = 0; i < TM_N; i++) g->tmname[i] = nullptr;
  if (luaD_rawrunprotected(L, f_luaopen, nullptr) != 0) {
    // memory allocation error: free partial state
    close_state(L);
    L = nullptr;
  }
  return L;
}

static void callallgcTM(lua_State* L, void*) {
  luaC_callGCTM(L);  // call GC metamethods for all udata
}

// A close asked for while one runs (os.exit in a finaliser) runs the
// finalisers still due, on top of the one that asked, and leaves the rest
// to the close that began: whether or not the process ends now, no object
// misses its finaliser and nothing is freed under a running one.
void lua_close(lua_State* L) {
  if (G(L)->closing) {
    const ptrdiff_t top = savestack(L, L->top);
    while (luaD_pcall(L, callallgcTM, nullptr, top, 0) != 0) L->top = restorestack(L, top);
    return;
  }
  G(L)->closing = 1;
  L = G(L)->mainthread;  // only the main thread can be closed
  luaF_close(L, L->stack);  // close all upvalues for this thread
  luaC_separateudata(L, 1);  // separate udata that have GC metamethods
  L->errfunc = 0;  // no error function during GC metamethods
  do {  // repeat until no more errors
    L->ci = L->base_ci;
    L->base = L->top = L->ci->base;
    L->nCcalls = L->baseCcalls = 0;
  } while (luaD_rawrunprotected(L, callallgcTM, nullptr) != 0);
  close_state(L);
}

static void* l_alloc(void*, void* ptr, size_t, size_t nsize) {
  if (nsize == 0) {
    free(ptr);
    return nullptr;
  }
  if (ptr == nullptr) return malloc(nsize);  // realloc of no block, without its detour
  return realloc(ptr, nsize);
}

static int panic(lua_State* L) {
  fprintf(stderr, "PANIC: unprotected error in call to Lua API (%s)\n", lua_tostring(L, -1));
  fflush(stderr);
  return 0;
}

lua_State* luaL_newstate(void) {
  lua_State* L = lua_newstate(l_alloc, nullptr);
  if (L) lua_atpanic(L, &panic);
  return L;
}
