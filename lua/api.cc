// The native programming interface.
#include <cmath>
#include <cstdarg>
#include <cstring>

#include "lua/debug.hh"
#include "lua/do.hh"
#include "lua/func.hh"
#include "lua/gc.hh"
#include "lua/mem.hh"
#include "lua/string.hh"
#include "lua/table.hh"
#include "lua/tm.hh"
#include "lua/vm.hh"
#include "utility/Saturate.hh"

#define api_incr_top(L) { L->top++; }
#define api_checknelems(L, n) ((void)0)
#define api_checkvalidindex(L, i) ((void)0)

static TValue* index2adr(lua_State* L, int idx) {
  if (idx > 0) {
    TValue* o = L->base + (idx - 1);
    if (o >= L->top) return const_cast<TValue*>(luaO_nilobject);
    return o;
  } else if (idx > LUA_REGISTRYINDEX) {
    return L->top + idx;
  } else {
    switch (idx) {  // pseudo-indices
      case LUA_REGISTRYINDEX: return registry(L);
      case LUA_ENVIRONINDEX: {
        if (L->ci == L->base_ci || !ttisfunction(L->ci->func) || !curr_func(L)->isC)
          luaG_runerror(L, "no calling environment");
        Closure* func = curr_func(L);
        sethvalue(L, &L->env, func->env);
        return &L->env;
      }
      case LUA_GLOBALSINDEX: return gt(L);
      default: {
        if (L->ci == L->base_ci || !ttisfunction(L->ci->func) || !curr_func(L)->isC)
          return const_cast<TValue*>(luaO_nilobject);
        CClosure* func = cclosure(curr_func(L));
        idx = LUA_GLOBALSINDEX - idx;
        return (idx <= func->nupvalues) ? &func->upvalue()[idx - 1] : const_cast<TValue*>(luaO_nilobject);
      }
    }
  }
}

static Table* getcurrenv(lua_State* L) {
  if (L->ci == L->base_ci) return hvalue(gt(L));  // no enclosing function? use global table as environment
  return curr_func(L)->env;
}

void luaA_pushobject(lua_State* L, const TValue* o) {
  setobj2s(L, L->top, o);
  api_incr_top(L);
}

int lua_checkstack(lua_State* L, int size) {
  int res = 1;
  if (size > LUAI_MAXCSTACK || (L->top - L->base + size) > LUAI_MAXCSTACK) {
    res = 0;  // stack overflow
  } else if (size > 0) {
    luaD_checkstack(L, size);
    if (L->ci->top < L->top + size) L->ci->top = L->top + size;
  }
  return res;
}

void lua_xmove(lua_State* from, lua_State* to, int n) {
  if (from == to) return;
  from->top -= n;
  for (int i = 0; i < n; i++) {
    setobj2s(to, to->top++, from->top + i);
  }
}

void lua_setlevel(lua_State* from, lua_State* to) { to->nCcalls = from->nCcalls; }

lua_CFunction lua_atpanic(lua_State* L, lua_CFunction panicf) {
  lua_CFunction old = G(L)->panic;
  G(L)->panic = panicf;
  return old;
}

lua_State* lua_newthread(lua_State* L) {
  luaC_checkGC(L);
  lua_State* L1 = luaE_newthread(L);
  setthvalue(L, L->top, L1);
  api_incr_top(L);
  return L1;
}

// basic stack manipulation

int lua_gettop(lua_State* L) { return static_cast<int>(L->top - L->base); }

void lua_settop(lua_State* L, int idx) {
  if (idx >= 0) {
    while (L->top < L->base + idx) setnilvalue(L->top++);
    L->top = L->base + idx;
  } else {
    L->top += idx + 1;  // `subtract' index (index is negative)
  }
}

void lua_remove(lua_State* L, int idx) {
  StkId p = index2adr(L, idx);
  while (++p < L->top) setobjs2s(L, p - 1, p);
  L->top--;
}

void lua_insert(lua_State* L, int idx) {
  StkId p = index2adr(L, idx);
  for (StkId q = L->top; q > p; q--) setobjs2s(L, q, q - 1);
  setobjs2s(L, p, L->top);
}

void lua_replace(lua_State* L, int idx) {
  // explicit test for incompatible code
  if (idx == LUA_ENVIRONINDEX && L->ci == L->base_ci) luaG_runerror(L, "no calling environment");
  StkId o = index2adr(L, idx);
  if (idx == LUA_ENVIRONINDEX) {
    Closure* func = curr_func(L);
    if (!ttistable(L->top - 1)) luaG_runerror(L, "table expected");
    func->env = hvalue(L->top - 1);
    luaC_barrier(L, func, L->top - 1);
  } else {
    setobj(L, o, L->top - 1);
    if (idx < LUA_GLOBALSINDEX) luaC_barrier(L, curr_func(L), L->top - 1);  // function upvalue?
  }
  L->top--;
}

void lua_pushvalue(lua_State* L, int idx) {
  setobj2s(L, L->top, index2adr(L, idx));
  api_incr_top(L);
}

// access functions (stack -> native)

int lua_type(lua_State* L, int idx) {
  StkId o = index2adr(L, idx);
  return (o == luaO_nilobject) ? LUA_TNONE : ttype(o);
}

const char* lua_typename(lua_State*, int t) { return (t == LUA_TNONE) ? "no value" : luaT_typenames[t]; }

int lua_iscfunction(lua_State* L, int idx) {
  StkId o = index2adr(L, idx);
  return iscfunction(o);
}

int lua_isnumber(lua_State* L, int idx) {
  TValue n;
  const TValue* o = index2adr(L, idx);
  return tonumber(o, &n);
}

int lua_isstring(lua_State* L, int idx) {
  int t = lua_type(L, idx);
  return (t == LUA_TSTRING || t == LUA_TNUMBER);
}

int lua_isuserdata(lua_State* L, int idx) {
  const TValue* o = index2adr(L, idx);
  return (ttisuserdata(o) || ttislightuserdata(o));
}

int lua_rawequal(lua_State* L, int index1, int index2) {
  StkId o1 = index2adr(L, index1);
  StkId o2 = index2adr(L, index2);
  return (o1 == luaO_nilobject || o2 == luaO_nilobject) ? 0 : luaO_rawequalObj(o1, o2);
}

int lua_equal(lua_State* L, int index1, int index2) {
  StkId o1 = index2adr(L, index1);
  StkId o2 = index2adr(L, index2);
  return (o1 == luaO_nilobject || o2 == luaO_nilobject) ? 0 : equalobj(L, o1, o2);
}

int lua_lessthan(lua_State* L, int index1, int index2) {
  StkId o1 = index2adr(L, index1);
  StkId o2 = index2adr(L, index2);
  return (o1 == luaO_nilobject || o2 == luaO_nilobject) ? 0 : luaV_lessthan(L, o1, o2);
}

lua_Number lua_tonumber(lua_State* L, int idx) {
  TValue n;
  const TValue* o = index2adr(L, idx);
  if (tonumber(o, &n)) return nvalue(o);
  return 0;
}

lua_Integer lua_tointeger(lua_State* L, int idx) {
  TValue n;
  const TValue* o = index2adr(L, idx);
  if (tonumber(o, &n)) {
    // truncation toward zero; NaN and out-of-range values saturate
    return saturate_cast<lua_Integer>(nvalue(o));
  }
  return 0;
}

int lua_toboolean(lua_State* L, int idx) {
  const TValue* o = index2adr(L, idx);
  return !l_isfalse(o);
}

const char* lua_tolstring(lua_State* L, int idx, size_t* len) {
  StkId o = index2adr(L, idx);
  if (!ttisstring(o)) {
    if (!luaV_tostring(L, o)) {  // conversion failed?
      if (len != nullptr) *len = 0;
      return nullptr;
    }
    luaC_checkGC(L);
    o = index2adr(L, idx);  // previous call may reallocate the stack
  }
  if (len != nullptr) *len = tsvalue(o)->len;
  return svalue(o);
}

size_t lua_objlen(lua_State* L, int idx) {
  StkId o = index2adr(L, idx);
  switch (ttype(o)) {
    case LUA_TSTRING: return tsvalue(o)->len;
    case LUA_TUSERDATA: return uvalue(o)->len;
    case LUA_TTABLE: return static_cast<size_t>(luaH_getn(hvalue(o)));
    case LUA_TNUMBER: {
      size_t l = luaV_tostring(L, o) ? tsvalue(o)->len : 0;
      return l;
    }
    default: return 0;
  }
}

lua_CFunction lua_tocfunction(lua_State* L, int idx) {
  StkId o = index2adr(L, idx);
  return (!iscfunction(o)) ? nullptr : cclosure(clvalue(o))->f;
}

void* lua_touserdata(lua_State* L, int idx) {
  StkId o = index2adr(L, idx);
  switch (ttype(o)) {
    case LUA_TUSERDATA: return udata_block(rawuvalue(o));
    case LUA_TLIGHTUSERDATA: return pvalue(o);
    default: return nullptr;
  }
}

lua_State* lua_tothread(lua_State* L, int idx) {
  StkId o = index2adr(L, idx);
  return (!ttisthread(o)) ? nullptr : thvalue(o);
}

const void* lua_topointer(lua_State* L, int idx) {
  StkId o = index2adr(L, idx);
  switch (ttype(o)) {
    case LUA_TTABLE: return hvalue(o);
    case LUA_TFUNCTION: return clvalue(o);
    case LUA_TTHREAD: return thvalue(o);
    case LUA_TUSERDATA:
    case LUA_TLIGHTUSERDATA: return lua_touserdata(L, idx);
    default: return nullptr;
  }
}

// push functions (native -> stack)

void lua_pushnil(lua_State* L) {
  setnilvalue(L->top);
  api_incr_top(L);
}

void lua_pushnumber(lua_State* L, lua_Number n) {
  setnvalue(L->top, n);
  api_incr_top(L);
}

void lua_pushinteger(lua_State* L, lua_Integer n) {
  setnvalue(L->top, static_cast<lua_Number>(n));
  api_incr_top(L);
}

void lua_pushlstring(lua_State* L, const char* s, size_t len) {
  luaC_checkGC(L);
  setsvalue2s(L, L->top, luaS_newlstr(L, s, len));
  api_incr_top(L);
}

void lua_pushstring(lua_State* L, const char* s) {
  if (s == nullptr) lua_pushnil(L);
  else lua_pushlstring(L, s, strlen(s));
}

const char* lua_pushvfstring(lua_State* L, const char* fmt, va_list argp) {
  luaC_checkGC(L);
  return luaO_pushvfstring(L, fmt, argp);
}

const char* lua_pushfstring(lua_State* L, const char* fmt, ...) {
  luaC_checkGC(L);
  va_list argp;
  va_start(argp, fmt);
  const char* ret = luaO_pushvfstring(L, fmt, argp);
  va_end(argp);
  return ret;
}

void lua_pushcclosure(lua_State* L, lua_CFunction fn, int n) {
  luaC_checkGC(L);
  Closure* cl = luaF_newCclosure(L, n, getcurrenv(L));
  cclosure(cl)->f = fn;
  L->top -= n;
  while (n--) setobj2n(L, &cclosure(cl)->upvalue()[n], L->top + n);
  setclvalue(L, L->top, cl);
  api_incr_top(L);
}

void lua_pushboolean(lua_State* L, int b) {
  setbvalue(L->top, (b != 0));  // ensure that true is 1
  api_incr_top(L);
}

void lua_pushlightuserdata(lua_State* L, void* p) {
  setpvalue(L->top, p);
  api_incr_top(L);
}

int lua_pushthread(lua_State* L) {
  setthvalue(L, L->top, L);
  api_incr_top(L);
  return (G(L)->mainthread == L);
}

// get functions (script -> stack)

void lua_gettable(lua_State* L, int idx) {
  StkId t = index2adr(L, idx);
  luaV_gettable(L, t, L->top - 1, L->top - 1);
}

void lua_getfield(lua_State* L, int idx, const char* k) {
  StkId t = index2adr(L, idx);
  TValue key;
  setsvalue(L, &key, luaS_new(L, k));
  luaV_gettable(L, t, &key, L->top);
  api_incr_top(L);
}

void lua_rawget(lua_State* L, int idx) {
  StkId t = index2adr(L, idx);
  setobj2s(L, L->top - 1, luaH_get(hvalue(t), L->top - 1));
}

void lua_rawgeti(lua_State* L, int idx, int n) {
  StkId o = index2adr(L, idx);
  setobj2s(L, L->top, luaH_getnum(hvalue(o), n));
  api_incr_top(L);
}

void lua_createtable(lua_State* L, int narray, int nrec) {
  luaC_checkGC(L);
  sethvalue(L, L->top, luaH_new(L, narray, nrec));
  api_incr_top(L);
}

int lua_getmetatable(lua_State* L, int objindex) {
  const TValue* obj = index2adr(L, objindex);
  Table* mt;
  switch (ttype(obj)) {
    case LUA_TTABLE: mt = hvalue(obj)->metatable; break;
    case LUA_TUSERDATA: mt = uvalue(obj)->metatable; break;
    default: mt = G(L)->mt[ttype(obj)]; break;
  }
  if (mt == nullptr) return 0;
  sethvalue(L, L->top, mt);
  api_incr_top(L);
  return 1;
}

void lua_getfenv(lua_State* L, int idx) {
  StkId o = index2adr(L, idx);
  switch (ttype(o)) {
    case LUA_TFUNCTION: sethvalue(L, L->top, clvalue(o)->env); break;
    case LUA_TUSERDATA: sethvalue(L, L->top, uvalue(o)->env); break;
    case LUA_TTHREAD: setobj2s(L, L->top, gt(thvalue(o))); break;
    default: setnilvalue(L->top); break;
  }
  api_incr_top(L);
}

// set functions (stack -> script)

void lua_settable(lua_State* L, int idx) {
  StkId t = index2adr(L, idx);
  luaV_settable(L, t, L->top - 2, L->top - 1);
  L->top -= 2;  // pop index and value
}

void lua_setfield(lua_State* L, int idx, const char* k) {
  StkId t = index2adr(L, idx);
  TValue key;
  setsvalue(L, &key, luaS_new(L, k));
  luaV_settable(L, t, &key, L->top - 1);
  L->top--;  // pop value
}

void lua_rawset(lua_State* L, int idx) {
  StkId t = index2adr(L, idx);
  setobj2t(L, luaH_set(L, hvalue(t), L->top - 2), L->top - 1);
  luaC_barriert(L, hvalue(t), L->top - 1);
  L->top -= 2;
}

void lua_rawseti(lua_State* L, int idx, int n) {
  StkId o = index2adr(L, idx);
  setobj2t(L, luaH_setnum(L, hvalue(o), n), L->top - 1);
  hvalue(o)->flags = 0;
  luaC_barriert(L, hvalue(o), L->top - 1);
  L->top--;
}

int lua_setmetatable(lua_State* L, int objindex) {
  TValue* obj = index2adr(L, objindex);
  Table* mt;
  if (ttisnil(L->top - 1)) mt = nullptr;
  else mt = hvalue(L->top - 1);
  switch (ttype(obj)) {
    case LUA_TTABLE: {
      hvalue(obj)->metatable = mt;
      if (mt) luaC_objbarriert(L, hvalue(obj), mt);
      break;
    }
    case LUA_TUSERDATA: {
      uvalue(obj)->metatable = mt;
      if (mt) luaC_objbarrier(L, rawuvalue(obj), mt);
      break;
    }
    default: {
      G(L)->mt[ttype(obj)] = mt;
      break;
    }
  }
  L->top--;
  return 1;
}

int lua_setfenv(lua_State* L, int idx) {
  int res = 1;
  StkId o = index2adr(L, idx);
  switch (ttype(o)) {
    case LUA_TFUNCTION: clvalue(o)->env = hvalue(L->top - 1); break;
    case LUA_TUSERDATA: uvalue(o)->env = hvalue(L->top - 1); break;
    case LUA_TTHREAD: sethvalue(L, gt(thvalue(o)), hvalue(L->top - 1)); break;
    default: res = 0; break;
  }
  if (res) luaC_objbarrier(L, gcvalue(o), hvalue(L->top - 1));
  L->top--;
  return res;
}

// `load' and `call' functions (run script code)

#define adjustresults(L, nres) \
  { if (nres == LUA_MULTRET && L->top >= L->ci->top) L->ci->top = L->top; }

void lua_call(lua_State* L, int nargs, int nresults) {
  StkId func = L->top - (nargs + 1);
  luaD_call(L, func, nresults);
  adjustresults(L, nresults);
}

struct CallS {  // data to `f_call'
  StkId func;
  int nresults;
};

static void f_call(lua_State* L, void* ud) {
  CallS* c = static_cast<CallS*>(ud);
  luaD_call(L, c->func, c->nresults);
}

int lua_pcall(lua_State* L, int nargs, int nresults, int errfunc) {
  ptrdiff_t func;
  if (errfunc == 0) {
    func = 0;
  } else {
    StkId o = index2adr(L, errfunc);
    func = savestack(L, o);
  }
  CallS c;
  c.func = L->top - (nargs + 1);  // function to be called
  c.nresults = nresults;
  int status = luaD_pcall(L, f_call, &c, savestack(L, c.func), func);
  adjustresults(L, nresults);
  return status;
}

struct CCallS {  // data to `f_Ccall'
  lua_CFunction func;
  void* ud;
};

static void f_Ccall(lua_State* L, void* ud) {
  CCallS* c = static_cast<CCallS*>(ud);
  Closure* cl = luaF_newCclosure(L, 0, getcurrenv(L));
  cclosure(cl)->f = c->func;
  setclvalue(L, L->top, cl);  // push function
  api_incr_top(L);
  setpvalue(L->top, c->ud);  // push only argument
  api_incr_top(L);
  luaD_call(L, L->top - 2, 0);
}

int lua_cpcall(lua_State* L, lua_CFunction func, void* ud) {
  CCallS c;
  c.func = func;
  c.ud = ud;
  return luaD_pcall(L, f_Ccall, &c, savestack(L, L->top), 0);
}

int lua_load(lua_State* L, lua_Reader reader, void* data, const char* chunkname) {
  ZIO z;
  if (!chunkname) chunkname = "?";
  luaZ_init(L, &z, reader, data);
  return luaD_protectedparser(L, &z, chunkname);
}

int lua_dump(lua_State* L, lua_Writer writer, void* data) {
  TValue* o = L->top - 1;
  if (isLfunction(o)) return luaU_dump(L, lclosure(clvalue(o))->p, writer, data, 0);
  return 1;
}

int lua_status(lua_State* L) { return L->status; }

// Garbage-collection function

int lua_gc(lua_State* L, int what, int data) {
  int res = 0;
  global_State* g = G(L);
  switch (what) {
    case LUA_GCSTOP: {
      g->GCthreshold = MAX_LUMEM;
      break;
    }
    case LUA_GCRESTART: {
      g->GCthreshold = g->totalbytes;
      break;
    }
    case LUA_GCCOLLECT: {
      luaC_fullgc(L);
      break;
    }
    case LUA_GCCOUNT: {
      // GC values are expressed in Kbytes: #bytes/2^10
      res = static_cast<int>(g->totalbytes >> 10);
      break;
    }
    case LUA_GCCOUNTB: {
      res = static_cast<int>(g->totalbytes & 0x3ff);
      break;
    }
    case LUA_GCSTEP: {
      lu_mem a = (static_cast<lu_mem>(data) << 10);
      if (a <= g->totalbytes) g->GCthreshold = g->totalbytes - a;
      else g->GCthreshold = 0;
      while (g->GCthreshold <= g->totalbytes) {
        luaC_step(L);
        if (g->gcstate == GCSpause) {  // end of cycle?
          res = 1;  // signal it
          break;
        }
      }
      break;
    }
    case LUA_GCSETPAUSE: {
      res = g->gcpause;
      g->gcpause = data;
      break;
    }
    case LUA_GCSETSTEPMUL: {
      res = g->gcstepmul;
      g->gcstepmul = data;
      break;
    }
    default: res = -1;  // invalid option
  }
  return res;
}

// miscellaneous functions

int lua_error(lua_State* L) {
  luaG_errormsg(L);
}

int lua_next(lua_State* L, int idx) {
  StkId t = index2adr(L, idx);
  int more = luaH_next(L, hvalue(t), L->top - 1);
  if (more) {
    api_incr_top(L);
  } else {  // no more elements
    L->top -= 1;  // remove key
  }
  return more;
}

void lua_concat(lua_State* L, int n) {
  if (n >= 2) {
    luaC_checkGC(L);
    luaV_concat(L, n, static_cast<int>(L->top - L->base) - 1);
    L->top -= (n - 1);
  } else if (n == 0) {  // push empty string
    setsvalue2s(L, L->top, luaS_newlstr(L, "", 0));
    api_incr_top(L);
  }
  // else n == 1; nothing to do
}

lua_Alloc lua_getallocf(lua_State* L, void** ud) {
  lua_Alloc f = G(L)->frealloc;
  if (ud) *ud = G(L)->ud;
  return f;
}

void lua_setallocf(lua_State* L, lua_Alloc f, void* ud) {
  G(L)->ud = ud;
  G(L)->frealloc = f;
}

void* lua_newuserdata(lua_State* L, size_t size) {
  luaC_checkGC(L);
  Udata* u = luaS_newudata(L, size, getcurrenv(L));
  setuvalue(L, L->top, u);
  api_incr_top(L);
  return udata_block(u);
}

static const char* aux_upvalue(StkId fi, int n, TValue** val) {
  if (!ttisfunction(fi)) return nullptr;
  Closure* f = clvalue(fi);
  if (f->isC) {
    if (!(1 <= n && n <= f->nupvalues)) return nullptr;
    *val = &cclosure(f)->upvalue()[n - 1];
    return "";
  }
  Proto* p = lclosure(f)->p;
  if (!(1 <= n && n <= p->sizeupvalues)) return nullptr;
  *val = lclosure(f)->upvals()[n - 1]->v;
  return getstr(p->upvalues[n - 1]);
}

const char* lua_getupvalue(lua_State* L, int funcindex, int n) {
  TValue* val = nullptr;
  const char* name = aux_upvalue(index2adr(L, funcindex), n, &val);
  if (name) {
    setobj2s(L, L->top, val);
    api_incr_top(L);
  }
  return name;
}

const char* lua_setupvalue(lua_State* L, int funcindex, int n) {
  TValue* val = nullptr;
  StkId fi = index2adr(L, funcindex);
  const char* name = aux_upvalue(fi, n, &val);
  if (name) {
    L->top--;
    setobj(L, val, L->top);
    luaC_barrier(L, clvalue(fi), L->top);
  }
  return name;
}
