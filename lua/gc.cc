// Incremental tri-colour mark and sweep with write barriers, weak tables
// and userdata finalisers.
#include <cstring>

#include "lua/do.hh"
#include "lua/func.hh"
#include "lua/gc.hh"
#include "lua/mem.hh"
#include "lua/string.hh"
#include "lua/table.hh"
#include "lua/tm.hh"

#define GCSTEPSIZE 1024u
#define GCSWEEPMAX 40
#define GCSWEEPCOST 10
#define GCFINALIZECOST 100

#define maskmarks static_cast<lu_byte>(~(bitmask(BLACKBIT) | WHITEBITS))
#define makewhite(g, x) ((x)->marked = static_cast<lu_byte>(((x)->marked & maskmarks) | luaC_white(g)))
#define white2gray(x) reset2bits((x)->marked, WHITE0BIT, WHITE1BIT)
#define black2gray(x) resetbit((x)->marked, BLACKBIT)
#define stringmark(s) reset2bits((s)->marked, WHITE0BIT, WHITE1BIT)
#define isfinalized(u) testbit((u)->marked, FINALIZEDBIT)
#define markfinalized(u) l_setbit((u)->marked, FINALIZEDBIT)

#define KEYWEAK bitmask(KEYWEAKBIT)
#define VALUEWEAK bitmask(VALUEWEAKBIT)

#define markvalue(g, o) { if (iscollectable(o) && iswhite(gcvalue(o))) reallymarkobject(g, gcvalue(o)); }
#define markobject(g, t) { if (iswhite(static_cast<GCObject*>(t))) reallymarkobject(g, static_cast<GCObject*>(t)); }
#define setthreshold(g) ((g)->GCthreshold = ((g)->estimate / 100) * (g)->gcpause)

static void removeentry(Node* n) {
  if (iscollectable(gkey(n))) setttype(gkey(n), LUA_TDEADKEY);  // dead key; remove it
}

static GCObject** gclistof(GCObject* o) {
  switch (o->tt) {
    case LUA_TTABLE: return &static_cast<Table*>(o)->gclist;
    case LUA_TFUNCTION: return &static_cast<Closure*>(o)->gclist;
    case LUA_TTHREAD: return &gco2th(o)->gclist;
    case LUA_TPROTO: return &static_cast<Proto*>(o)->gclist;
    default: return nullptr;
  }
}

static void reallymarkobject(global_State* g, GCObject* o) {
  white2gray(o);
  switch (o->tt) {
    case LUA_TSTRING: return;
    case LUA_TUSERDATA: {
      Udata* u = static_cast<Udata*>(o);
      gray2black(o);  // udata are never gray
      if (u->metatable) markobject(g, u->metatable);
      markobject(g, u->env);
      return;
    }
    case LUA_TUPVAL: {
      UpVal* uv = static_cast<UpVal*>(o);
      markvalue(g, uv->v);
      if (uv->v == &uv->u.value) gray2black(o);  // closed upvalues are never gray
      return;
    }
    default: {
      GCObject** l = gclistof(o);
      *l = g->gray;
      g->gray = o;
      return;
    }
  }
}

static void marktmu(global_State* g) {
  GCObject* u = g->tmudata;
  if (u) {
    do {
      u = u->next;
      makewhite(g, u);  // may be marked, if left from previous GC
      reallymarkobject(g, u);
    } while (u != g->tmudata);
  }
}

// Moves userdata with __gc that are dead (or all, on close) to the tmudata list.
size_t luaC_separateudata(lua_State* L, int all) {
  global_State* g = G(L);
  size_t deadmem = 0;
  GCObject** p = &g->mainthread->next;
  GCObject* curr;
  while ((curr = *p) != nullptr) {
    if (!(iswhite(curr) || all) || isfinalized(curr)) {
      p = &curr->next;  // don't bother with them
    } else if (fasttm(L, static_cast<Udata*>(curr)->metatable, TM_GC) == nullptr) {
      markfinalized(curr);  // don't need finalization
      p = &curr->next;
    } else {  // must call its gc method
      deadmem += sizeudata(static_cast<Udata*>(curr));
      markfinalized(curr);
      *p = curr->next;
      // link `curr' at the end of `tmudata' list
      if (g->tmudata == nullptr) {
        g->tmudata = curr->next = curr;
      } else {
        curr->next = g->tmudata->next;
        g->tmudata->next = curr;
        g->tmudata = curr;
      }
    }
  }
  return deadmem;
}

static int traversetable(global_State* g, Table* h) {
  int weakkey = 0;
  int weakvalue = 0;
  if (h->metatable) markobject(g, h->metatable);
  const TValue* mode = gfasttm(g, h->metatable, TM_MODE);
  if (mode && ttisstring(mode)) {
    weakkey = (strchr(svalue(mode), 'k') != nullptr);
    weakvalue = (strchr(svalue(mode), 'v') != nullptr);
    if (weakkey || weakvalue) {
      h->marked &= static_cast<lu_byte>(~(KEYWEAK | VALUEWEAK));
      h->marked |= static_cast<lu_byte>((weakkey << KEYWEAKBIT) | (weakvalue << VALUEWEAKBIT));
      h->gclist = g->weak;  // must be cleared after GC, ...
      g->weak = h;  // ... so put in the appropriate list
    }
  }
  if (weakkey && weakvalue) return 1;
  if (!weakvalue) {
    int i = h->sizearray;
    while (i--) markvalue(g, &h->array[i]);
  }
  int i = sizenode(h);
  while (i--) {
    Node* n = &h->node[i];
    if (ttisnil(gval(n))) {
      removeentry(n);
    } else {
      if (!weakkey) markvalue(g, gkey(n));
      if (!weakvalue) markvalue(g, gval(n));
    }
  }
  return weakkey || weakvalue;
}

static void traverseproto(global_State* g, Proto* f) {
  if (f->source) stringmark(f->source);
  for (int i = 0; i < f->sizek; i++) markvalue(g, &f->k[i]);
  for (int i = 0; i < f->sizeupvalues; i++) {
    if (f->upvalues[i]) stringmark(f->upvalues[i]);
  }
  for (int i = 0; i < f->sizep; i++) {
    if (f->p[i]) markobject(g, f->p[i]);
  }
  for (int i = 0; i < f->sizelocvars; i++) {
    if (f->locvars[i].varname) stringmark(f->locvars[i].varname);
  }
}

static void traverseclosure(global_State* g, Closure* cl) {
  markobject(g, cl->env);
  if (cl->isC) {
    CClosure* c = cclosure(cl);
    for (int i = 0; i < cl->nupvalues; i++) markvalue(g, &c->upvalue()[i]);
  } else {
    LClosure* c = lclosure(cl);
    markobject(g, c->p);
    for (int i = 0; i < cl->nupvalues; i++) {
      if (c->upvals()[i]) markobject(g, c->upvals()[i]);
    }
  }
}

static void checkstacksizes(lua_State* L, StkId max) {
  int ci_used = static_cast<int>(L->ci - L->base_ci);
  int s_used = static_cast<int>(max - L->stack);
  if (L->size_ci > LUAI_MAXCALLS) return;  // handling overflow: do not touch
  if (4 * ci_used < L->size_ci && 2 * BASIC_CI_SIZE < L->size_ci) luaD_reallocCI(L, L->size_ci / 2);
  if (4 * s_used < L->stacksize && 2 * (BASIC_STACK_SIZE + EXTRA_STACK) < L->stacksize)
    luaD_reallocstack(L, L->stacksize / 2);
}

static void traversestack(global_State* g, lua_State* l) {
  markvalue(g, gt(l));
  StkId lim = l->top;
  for (CallInfo* ci = l->base_ci; ci <= l->ci; ci++) {
    if (lim < ci->top) lim = ci->top;
  }
  StkId o;
  for (o = l->stack; o < l->top; o++) markvalue(g, o);
  for (; o <= lim; o++) setnilvalue(o);
  checkstacksizes(l, lim);
}

// Traverses one gray object, turning it black; returns an estimate of its size.
static l_mem propagatemark(global_State* g) {
  GCObject* o = g->gray;
  gray2black(o);
  switch (o->tt) {
    case LUA_TTABLE: {
      Table* h = static_cast<Table*>(o);
      g->gray = h->gclist;
      if (traversetable(g, h)) black2gray(o);  // keep it gray
      return sizeof(Table) + sizeof(TValue) * h->sizearray + sizeof(Node) * sizenode(h);
    }
    case LUA_TFUNCTION: {
      Closure* cl = static_cast<Closure*>(o);
      g->gray = cl->gclist;
      traverseclosure(g, cl);
      return static_cast<l_mem>(cl->isC ? sizeCclosure(cl->nupvalues) : sizeLclosure(cl->nupvalues));
    }
    case LUA_TTHREAD: {
      lua_State* th = gco2th(o);
      g->gray = th->gclist;
      th->gclist = g->grayagain;
      g->grayagain = o;
      black2gray(o);
      traversestack(g, th);
      return sizeof(lua_State) + sizeof(TValue) * th->stacksize + sizeof(CallInfo) * th->size_ci;
    }
    case LUA_TPROTO: {
      Proto* p = static_cast<Proto*>(o);
      g->gray = p->gclist;
      traverseproto(g, p);
      return sizeof(Proto) + sizeof(Instruction) * p->sizecode + sizeof(Proto*) * p->sizep +
             sizeof(TValue) * p->sizek + sizeof(int) * p->sizelineinfo +
             sizeof(LocVar) * p->sizelocvars + sizeof(TString*) * p->sizeupvalues;
    }
    default: return 0;
  }
}

static size_t propagateall(global_State* g) {
  size_t m = 0;
  while (g->gray) m += propagatemark(g);
  return m;
}

// Strings are values; userdata are objects that may be finalised later.
static int iscleared(const TValue* o, int iskey) {
  if (!iscollectable(o)) return 0;
  if (ttisstring(o)) {
    stringmark(rawtsvalue(o));  // strings are `values', so are never weak
    return 0;
  }
  return iswhite(gcvalue(o)) || (ttisuserdata(o) && (!iskey && isfinalized(uvalue(o))));
}

static void cleartable(GCObject* l) {
  while (l) {
    Table* h = static_cast<Table*>(l);
    int i = h->sizearray;
    if (testbit(h->marked, VALUEWEAKBIT)) {
      while (i--) {
        TValue* o = &h->array[i];
        if (iscleared(o, 0)) setnilvalue(o);
      }
    }
    i = sizenode(h);
    while (i--) {
      Node* n = &h->node[i];
      if (!ttisnil(gval(n)) &&
          (iscleared(key2tval(n), 1) || iscleared(gval(n), 0))) {
        setnilvalue(gval(n));
        removeentry(n);
      }
    }
    l = h->gclist;
  }
}

static void freeobj(lua_State* L, GCObject* o) {
  switch (o->tt) {
    case LUA_TPROTO: luaF_freeproto(L, static_cast<Proto*>(o)); break;
    case LUA_TFUNCTION: luaF_freeclosure(L, static_cast<Closure*>(o)); break;
    case LUA_TUPVAL: luaF_freeupval(L, static_cast<UpVal*>(o)); break;
    case LUA_TTABLE: luaH_free(L, static_cast<Table*>(o)); break;
    case LUA_TTHREAD: luaE_freethread(L, gco2th(o)); break;
    case LUA_TSTRING: {
      G(L)->strt.nuse--;
      luaM_freemem(L, o, sizestring(static_cast<TString*>(o)));
      break;
    }
    case LUA_TUSERDATA: luaM_freemem(L, o, sizeudata(static_cast<Udata*>(o))); break;
    default: break;
  }
}

#define sweepwholelist(L, p) sweeplist(L, p, MAX_LUMEM)

static GCObject** sweeplist(lua_State* L, GCObject** p, lu_mem count) {
  global_State* g = G(L);
  int deadmask = otherwhite(g);
  GCObject* curr;
  while ((curr = *p) != nullptr && count-- > 0) {
    if (curr->tt == LUA_TTHREAD) sweepwholelist(L, &gco2th(curr)->openupval);  // sweep open upvalues
    if ((curr->marked ^ WHITEBITS) & deadmask) {  // not dead?
      makewhite(g, curr);  // make it white (for next cycle)
      p = &curr->next;
    } else {  // must erase `curr'
      *p = curr->next;
      if (curr == g->rootgc) g->rootgc = curr->next;  // adjust first
      freeobj(L, curr);
    }
  }
  return p;
}

static void checkSizes(lua_State* L) {
  global_State* g = G(L);
  // check size of string hash
  if (g->strt.nuse < static_cast<lu_int32>(g->strt.size / 4) && g->strt.size > 64)
    luaS_resize(L, g->strt.size / 2);  // table is too big
  // check size of buffer
  if (luaZ_sizebuffer(&g->buff) > 64) {  // buffer too big?
    size_t newsize = luaZ_sizebuffer(&g->buff) / 2;
    luaZ_resizebuffer(L, &g->buff, newsize);
  }
}

static void GCTM(lua_State* L) {
  global_State* g = G(L);
  GCObject* o = g->tmudata->next;  // get first element
  Udata* udata = static_cast<Udata*>(o);
  // remove udata from `tmudata'
  if (o == g->tmudata) g->tmudata = nullptr;  // last element
  else g->tmudata->next = udata->next;
  udata->next = g->mainthread->next;  // return it to `root' list
  g->mainthread->next = o;
  makewhite(g, o);
  const TValue* tm = fasttm(L, udata->metatable, TM_GC);
  if (tm != nullptr) {
    lu_byte oldah = L->allowhook;
    lu_mem oldt = g->GCthreshold;
    L->allowhook = 0;  // stop debug hooks during GC tag method
    g->GCthreshold = 2 * g->totalbytes;  // avoid GC steps
    setobj2s(L, L->top, tm);
    setuvalue(L, L->top + 1, udata);
    L->top += 2;
    luaD_call(L, L->top - 2, 0);
    L->allowhook = oldah;  // restore hooks
    g->GCthreshold = oldt;  // restore threshold
  }
}

void luaC_callGCTM(lua_State* L) {
  while (G(L)->tmudata) GCTM(L);
}

void luaC_freeall(lua_State* L) {
  global_State* g = G(L);
  g->currentwhite = WHITEBITS | bitmask(SFIXEDBIT);  // mask to collect all elements
  sweepwholelist(L, &g->rootgc);
  for (int i = 0; i < g->strt.size; i++) sweepwholelist(L, &g->strt.hash[i]);
}

static void markmt(global_State* g) {
  for (int i = 0; i < LUA_TTHREAD + 1; i++) {
    if (g->mt[i]) markobject(g, g->mt[i]);
  }
}

static void markroot(lua_State* L) {
  global_State* g = G(L);
  g->gray = nullptr;
  g->grayagain = nullptr;
  g->weak = nullptr;
  markobject(g, g->mainthread);
  // make global table be traversed before main stack
  markvalue(g, gt(g->mainthread));
  markvalue(g, registry(L));
  markmt(g);
  g->gcstate = GCSpropagate;
}

static void remarkupvals(global_State* g) {
  for (UpVal* uv = g->uvhead.u.l.next; uv != &g->uvhead; uv = uv->u.l.next) {
    if (isgray(uv)) markvalue(g, uv->v);
  }
}

static void atomic(lua_State* L) {
  global_State* g = G(L);
  remarkupvals(g);
  propagateall(g);
  // remark weak tables
  g->gray = g->weak;
  g->weak = nullptr;
  markobject(g, L);  // mark running thread
  markmt(g);
  propagateall(g);
  // remark gray again
  g->gray = g->grayagain;
  g->grayagain = nullptr;
  propagateall(g);
  size_t udsize = luaC_separateudata(L, 0);  // separate userdata to be finalized
  marktmu(g);  // mark `preserved' userdata
  udsize += propagateall(g);  // remark, to propagate `preserveness'
  cleartable(g->weak);  // remove collected objects from weak tables
  // flip current white
  g->currentwhite = static_cast<lu_byte>(otherwhite(g));
  g->sweepstrgc = 0;
  g->sweepgc = &g->rootgc;
  g->gcstate = GCSsweepstring;
  g->estimate = g->totalbytes - udsize;  // first estimate
}

static l_mem singlestep(lua_State* L) {
  global_State* g = G(L);
  switch (g->gcstate) {
    case GCSpause: {
      markroot(L);  // start a new collection
      return 0;
    }
    case GCSpropagate: {
      if (g->gray) return propagatemark(g);
      atomic(L);  // no more `gray' objects: finish propagate phase
      return 0;
    }
    case GCSsweepstring: {
      lu_mem old = g->totalbytes;
      sweepwholelist(L, &g->strt.hash[g->sweepstrgc++]);
      if (g->sweepstrgc >= g->strt.size) g->gcstate = GCSsweep;  // end sweep-string phase
      g->estimate -= old - g->totalbytes;
      return GCSWEEPCOST;
    }
    case GCSsweep: {
      lu_mem old = g->totalbytes;
      g->sweepgc = sweeplist(L, g->sweepgc, GCSWEEPMAX);
      if (*g->sweepgc == nullptr) {  // nothing more to sweep?
        checkSizes(L);
        g->gcstate = GCSfinalize;  // end sweep phase
      }
      g->estimate -= old - g->totalbytes;
      return GCSWEEPMAX * GCSWEEPCOST;
    }
    case GCSfinalize: {
      if (g->tmudata) {
        GCTM(L);
        if (g->estimate > GCFINALIZECOST) g->estimate -= GCFINALIZECOST;
        return GCFINALIZECOST;
      }
      g->gcstate = GCSpause;  // end collection
      g->gcdept = 0;
      return 0;
    }
    default: return 0;
  }
}

void luaC_step(lua_State* L) {
  global_State* g = G(L);
  l_mem lim = static_cast<l_mem>((GCSTEPSIZE / 100) * g->gcstepmul);
  if (lim == 0) lim = static_cast<l_mem>((MAX_LUMEM - 1) / 2);  // no limit
  g->gcdept += g->totalbytes - g->GCthreshold;
  do {
    lim -= singlestep(L);
    if (g->gcstate == GCSpause) break;
  } while (lim > 0);
  if (g->gcstate != GCSpause) {
    if (g->gcdept < GCSTEPSIZE) {
      g->GCthreshold = g->totalbytes + GCSTEPSIZE;
    } else {
      g->gcdept -= GCSTEPSIZE;
      g->GCthreshold = g->totalbytes;
    }
  } else {
    setthreshold(g);
  }
}

void luaC_fullgc(lua_State* L) {
  global_State* g = G(L);
  if (g->gcstate <= GCSpropagate) {
    // reset sweep marks to sweep all elements (returning them to white)
    g->sweepstrgc = 0;
    g->sweepgc = &g->rootgc;
    // reset other collector lists
    g->gray = nullptr;
    g->grayagain = nullptr;
    g->weak = nullptr;
    g->gcstate = GCSsweepstring;
  }
  // finish any pending sweep phase
  while (g->gcstate != GCSfinalize) singlestep(L);
  markroot(L);
  while (g->gcstate != GCSpause) singlestep(L);
  setthreshold(g);
}

void luaC_barrierf(lua_State* L, GCObject* o, GCObject* v) {
  global_State* g = G(L);
  // must keep invariant?
  if (g->gcstate == GCSpropagate) reallymarkobject(g, v);  // restore invariant
  else makewhite(g, o);  // mark as white just to avoid other barriers
}

void luaC_barrierback(lua_State* L, Table* t) {
  global_State* g = G(L);
  black2gray(t);  // make table gray (again)
  t->gclist = g->grayagain;
  g->grayagain = t;
}

void luaC_link(lua_State* L, GCObject* o, lu_byte tt) {
  global_State* g = G(L);
  o->next = g->rootgc;
  g->rootgc = o;
  o->marked = luaC_white(g);
  o->tt = tt;
}

void luaC_linkupval(lua_State* L, UpVal* uv) {
  global_State* g = G(L);
  GCObject* o = uv;
  o->next = g->rootgc;  // link upvalue into `rootgc' list
  g->rootgc = o;
  if (isgray(o)) {
    if (g->gcstate == GCSpropagate) {
      gray2black(o);  // closed upvalues need barrier
      luaC_barrier(L, uv, uv->v);
    } else {  // sweep phase: sweep it (turning it into white)
      makewhite(g, o);
    }
  }
}
