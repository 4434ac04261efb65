// Prototypes, closures and upvalues.
#include "lua/func.hh"
#include "lua/gc.hh"
#include "lua/mem.hh"

Closure* luaF_newCclosure(lua_State* L, int nelems, Table* e) {
  CClosure* c = static_cast<CClosure*>(luaM_malloc(L, sizeCclosure(nelems)));
  luaC_link(L, c, LUA_TFUNCTION);
  c->isC = 1;
  c->env = e;
  c->nupvalues = static_cast<lu_byte>(nelems);
  c->gclist = nullptr;
  c->f = nullptr;
  for (int i = 0; i < nelems; i++) setnilvalue(&c->upvalue()[i]);
  return c;
}

Closure* luaF_newLclosure(lua_State* L, int nelems, Table* e) {
  LClosure* c = static_cast<LClosure*>(luaM_malloc(L, sizeLclosure(nelems)));
  luaC_link(L, c, LUA_TFUNCTION);
  c->isC = 0;
  c->env = e;
  c->nupvalues = static_cast<lu_byte>(nelems);
  c->gclist = nullptr;
  c->p = nullptr;
  while (nelems--) c->upvals()[nelems] = nullptr;
  return c;
}

UpVal* luaF_newupval(lua_State* L) {
  UpVal* uv = luaM_new(L, UpVal);
  luaC_link(L, uv, LUA_TUPVAL);
  uv->v = &uv->u.value;
  setnilvalue(uv->v);
  return uv;
}

UpVal* luaF_findupval(lua_State* L, StkId level) {
  global_State* g = G(L);
  GCObject** pp = &L->openupval;
  UpVal* p;
  while (*pp != nullptr && (p = static_cast<UpVal*>(*pp))->v >= level) {
    if (p->v == level) {  // found a corresponding upvalue?
      if (isdead(g, p)) changewhite(p);  // resurrect it
      return p;
    }
    pp = &p->next;
  }
  UpVal* uv = luaM_new(L, UpVal);  // not found: create a new one
  uv->tt = LUA_TUPVAL;
  uv->marked = luaC_white(g);
  uv->v = level;  // current value lives in the stack
  uv->next = *pp;  // chain it in the proper position
  *pp = uv;
  uv->u.l.prev = &g->uvhead;  // double link it in `uvhead' list
  uv->u.l.next = g->uvhead.u.l.next;
  uv->u.l.next->u.l.prev = uv;
  g->uvhead.u.l.next = uv;
  return uv;
}

static void unlinkupval(UpVal* uv) {
  uv->u.l.next->u.l.prev = uv->u.l.prev;  // remove from `uvhead' list
  uv->u.l.prev->u.l.next = uv->u.l.next;
}

void luaF_freeupval(lua_State* L, UpVal* uv) {
  if (uv->v != &uv->u.value) unlinkupval(uv);  // is it open?
  luaM_free(L, uv);
}

void luaF_close(lua_State* L, StkId level) {
  UpVal* uv;
  global_State* g = G(L);
  while (L->openupval != nullptr && (uv = static_cast<UpVal*>(L->openupval))->v >= level) {
    GCObject* o = uv;
    L->openupval = uv->next;  // remove from `open' list
    if (isdead(g, o)) {
      luaF_freeupval(L, uv);  // free upvalue
    } else {
      unlinkupval(uv);
      setobj(L, &uv->u.value, uv->v);
      uv->v = &uv->u.value;  // now current value lives here
      luaC_linkupval(L, uv);  // link upvalue into `gcroot' list
    }
  }
}

Proto* luaF_newproto(lua_State* L) {
  Proto* f = luaM_new(L, Proto);
  luaC_link(L, f, LUA_TPROTO);
  f->k = nullptr;
  f->sizek = 0;
  f->p = nullptr;
  f->sizep = 0;
  f->code = nullptr;
  f->sizecode = 0;
  f->sizelineinfo = 0;
  f->sizeupvalues = 0;
  f->nups = 0;
  f->upvalues = nullptr;
  f->numparams = 0;
  f->is_vararg = 0;
  f->maxstacksize = 0;
  f->lineinfo = nullptr;
  f->sizelocvars = 0;
  f->locvars = nullptr;
  f->linedefined = 0;
  f->lastlinedefined = 0;
  f->source = nullptr;
  f->gclist = nullptr;
  return f;
}

void luaF_freeproto(lua_State* L, Proto* f) {
  luaM_freearray(L, f->code, f->sizecode, Instruction);
  luaM_freearray(L, f->p, f->sizep, Proto*);
  luaM_freearray(L, f->k, f->sizek, TValue);
  luaM_freearray(L, f->lineinfo, f->sizelineinfo, int);
  luaM_freearray(L, f->locvars, f->sizelocvars, LocVar);
  luaM_freearray(L, f->upvalues, f->sizeupvalues, TString*);
  luaM_free(L, f);
}

void luaF_freeclosure(lua_State* L, Closure* c) {
  size_t size = (c->isC) ? sizeCclosure(c->nupvalues) : sizeLclosure(c->nupvalues);
  luaM_freemem(L, c, size);
}

// Name of the n-th local active at pc, or NULL.
const char* luaF_getlocalname(const Proto* f, int local_number, int pc) {
  for (int i = 0; i < f->sizelocvars && f->locvars[i].startpc <= pc; i++) {
    if (pc < f->locvars[i].endpc) {  // is variable active?
      local_number--;
      if (local_number == 0) return getstr(f->locvars[i].varname);
    }
  }
  return nullptr;
}
