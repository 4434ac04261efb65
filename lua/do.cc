// Calls, returns, stack growth, errors and protected execution.
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>

#include "lua/debug.hh"
#include "lua/do.hh"
#include "lua/func.hh"
#include "lua/gc.hh"
#include "lua/mem.hh"
#include "lua/parser.hh"
#include "lua/string.hh"
#include "lua/table.hh"
#include "lua/tm.hh"
#include "lua/vm.hh"

// chain of active protected calls
struct lua_longjmp {
  lua_longjmp* previous;
  volatile int status;
};

void luaD_seterrorobj(lua_State* L, int errcode, StkId oldtop) {
  switch (errcode) {
    case LUA_ERRMEM: {
      setsvalue2s(L, oldtop, G(L)->memerrmsg);
      break;
    }
    case LUA_ERRERR: {
      setsvalue2s(L, oldtop, luaS_newliteral(L, "error in error handling"));
      break;
    }
    case LUA_ERRSYNTAX:
    case LUA_ERRRUN: {
      setobjs2s(L, oldtop, L->top - 1);  // error message on current top
      break;
    }
  }
  L->top = oldtop + 1;
}

static void restore_stack_limit(lua_State* L) {
  if (L->size_ci > LUAI_MAXCALLS) {  // there was an overflow?
    int inuse = static_cast<int>(L->ci - L->base_ci);
    if (inuse + 1 < LUAI_MAXCALLS) luaD_reallocCI(L, LUAI_MAXCALLS);  // can `undo' overflow?
  }
}

static void resetstack(lua_State* L, int status) {
  L->ci = L->base_ci;
  L->base = L->ci->base;
  luaF_close(L, L->base);  // close eventual pending closures
  luaD_seterrorobj(L, status, L->base);
  L->nCcalls = L->baseCcalls;
  L->allowhook = 1;
  restore_stack_limit(L);
  L->errfunc = 0;
  L->errorJmp = nullptr;
}

void luaD_throw(lua_State* L, int errcode) {
  if (L->errorJmp) {
    L->errorJmp->status = errcode;
    throw LuaThrow{errcode};
  }
  L->status = static_cast<lu_byte>(errcode);
  if (G(L)->panic) {
    resetstack(L, errcode);
    G(L)->panic(L);
  }
  exit(EXIT_FAILURE);
}

int luaD_rawrunprotected(lua_State* L, Pfunc f, void* ud) {
  lua_longjmp lj;
  lj.status = 0;
  lj.previous = L->errorJmp;  // chain new error handler
  L->errorJmp = &lj;
  try {
    (*f)(L, ud);
  } catch (const LuaThrow& e) {
    lj.status = e.status ? e.status : LUA_ERRRUN;
  }
  L->errorJmp = lj.previous;  // restore old error handler
  return lj.status;
}

static void correctstack(lua_State* L, TValue* oldstack) {
  L->top = (L->top - oldstack) + L->stack;
  for (GCObject* up = L->openupval; up != nullptr; up = up->next) {
    UpVal* uv = static_cast<UpVal*>(up);
    uv->v = (uv->v - oldstack) + L->stack;
  }
  for (CallInfo* ci = L->base_ci; ci <= L->ci; ci++) {
    ci->top = (ci->top - oldstack) + L->stack;
    ci->base = (ci->base - oldstack) + L->stack;
    ci->func = (ci->func - oldstack) + L->stack;
  }
  L->base = (L->base - oldstack) + L->stack;
}

void luaD_reallocstack(lua_State* L, int newsize) {
  TValue* oldstack = L->stack;
  int realsize = newsize + 1 + EXTRA_STACK;
  luaM_reallocvector(L, L->stack, L->stacksize, realsize, TValue);
  for (int i = L->stacksize; i < realsize; i++) setnilvalue(L->stack + i);
  L->stacksize = realsize;
  L->stack_last = L->stack + newsize;
  correctstack(L, oldstack);
}

void luaD_reallocCI(lua_State* L, int newsize) {
  CallInfo* oldci = L->base_ci;
  luaM_reallocvector(L, L->base_ci, L->size_ci, newsize, CallInfo);
  L->size_ci = newsize;
  L->ci = (L->ci - oldci) + L->base_ci;
  L->end_ci = L->base_ci + L->size_ci - 1;
}

void luaD_growstack(lua_State* L, int n) {
  if (n <= L->stacksize) luaD_reallocstack(L, 2 * L->stacksize);  // double size is enough?
  else luaD_reallocstack(L, L->stacksize + n);
}

static CallInfo* growCI(lua_State* L) {
  if (L->size_ci > LUAI_MAXCALLS) {  // overflow while handling overflow?
    luaD_throw(L, LUA_ERRERR);
  } else {
    luaD_reallocCI(L, 2 * L->size_ci);
    if (L->size_ci > LUAI_MAXCALLS) luaG_runerror(L, "stack overflow");
  }
  return ++L->ci;
}

// Runs a native function; native exceptions become script errors here.
template <typename F>
static int guarded_native(lua_State* L, F&& fn) {
  const char* what = nullptr;
  try {
    return fn();
  } catch (const LuaThrow&) {
    throw;
  } catch (const std::bad_alloc&) {
    luaD_throw(L, LUA_ERRMEM);
  } catch (const std::exception& e) {
    lua_pushstring(L, e.what());
    what = "";
  } catch (...) {
    lua_pushstring(L, "unknown native exception");
    what = "";
  }
  (void)what;
  luaG_errormsg(L);
}

void luaD_callhook(lua_State* L, int event, int line) {
  lua_Hook hook = L->hook;
  if (hook && L->allowhook) {
    ptrdiff_t top = savestack(L, L->top);
    ptrdiff_t ci_top = savestack(L, L->ci->top);
    lua_Debug ar;
    ar.event = event;
    ar.currentline = line;
    if (event == LUA_HOOKTAILRET) ar.i_ci = 0;  // tail call; no debug information about it
    else ar.i_ci = static_cast<int>(L->ci - L->base_ci);
    luaD_checkstack(L, LUA_MINSTACK);  // ensure minimum stack size
    L->ci->top = L->top + LUA_MINSTACK;
    L->allowhook = 0;  // cannot call hooks inside a hook
    guarded_native(L, [&] { (*hook)(L, &ar); return 0; });
    L->allowhook = 1;
    L->ci->top = restorestack(L, ci_top);
    L->top = restorestack(L, top);
  }
}

static StkId adjust_varargs(lua_State* L, Proto* p, int actual) {
  int nfixargs = p->numparams;
  Table* htab = nullptr;
  for (; actual < nfixargs; ++actual) setnilvalue(L->top++);
  if (p->is_vararg & VARARG_NEEDSARG) {  // compat. with old-style vararg?
    int nvar = actual - nfixargs;  // number of extra arguments
    luaC_checkGC(L);
    luaD_checkstack(L, p->maxstacksize);
    htab = luaH_new(L, nvar, 1);  // create `arg' table
    for (int i = 0; i < nvar; i++) setobj2n(L, luaH_setnum(L, htab, i + 1), L->top - nvar + i);
    setnvalue(luaH_setstr(L, htab, luaS_newliteral(L, "n")), static_cast<lua_Number>(nvar));
  }
  // move fixed parameters to final position
  StkId fixed = L->top - actual;  // first fixed argument
  StkId base = L->top;  // final position of first argument
  for (int i = 0; i < nfixargs; i++) {
    setobjs2s(L, L->top++, fixed + i);
    setnilvalue(fixed + i);
  }
  if (htab) {
    sethvalue(L, L->top++, htab);
  }
  return base;
}

static StkId tryfuncTM(lua_State* L, StkId func) {
  const TValue* tm = luaT_gettmbyobj(L, func, TM_CALL);
  ptrdiff_t funcr = savestack(L, func);
  if (!ttisfunction(tm)) luaG_typeerror(L, func, "call");
  // open a hole inside the stack at `func'
  for (StkId p = L->top; p > func; p--) setobjs2s(L, p, p - 1);
  incr_top(L);
  func = restorestack(L, funcr);  // previous call may change stack
  setobj2s(L, func, tm);  // tag method is the new function to be called
  return func;
}

#define inc_ci(L) \
  ((L->ci == L->end_ci) ? growCI(L) : (++L->ci))

int luaD_precall(lua_State* L, StkId func, int nresults) {
  if (!ttisfunction(func)) func = tryfuncTM(L, func);  // `func' is not a function? check the `function' tag method
  ptrdiff_t funcr = savestack(L, func);
  Closure* cl = clvalue(func);
  L->ci->savedpc = L->savedpc;
  if (!cl->isC) {  // script function? prepare its call
    CallInfo* ci;
    StkId st, base;
    Proto* p = lclosure(cl)->p;
    luaD_checkstack(L, p->maxstacksize);
    func = restorestack(L, funcr);
    if (!p->is_vararg) {  // no varargs?
      base = func + 1;
      if (L->top > base + p->numparams) L->top = base + p->numparams;
    } else {  // vararg function
      int nargs = static_cast<int>(L->top - func) - 1;
      base = adjust_varargs(L, p, nargs);
      func = restorestack(L, funcr);  // previous call may change the stack
    }
    ci = inc_ci(L);  // now `enter' new function
    ci->func = func;
    L->base = ci->base = base;
    ci->top = L->base + p->maxstacksize;
    L->savedpc = p->code;  // starting point
    ci->tailcalls = 0;
    ci->nresults = nresults;
    for (st = L->top; st < ci->top; st++) setnilvalue(st);
    L->top = ci->top;
    if (L->hookmask & LUA_MASKCALL) {
      L->savedpc++;  // hooks assume 'pc' is already incremented
      luaD_callhook(L, LUA_HOOKCALL, -1);
      L->savedpc--;  // correct 'pc'
    }
    return PCRLUA;
  } else {  // native function: call it
    CallInfo* ci;
    int n;
    luaD_checkstack(L, LUA_MINSTACK);  // ensure minimum stack size
    ci = inc_ci(L);  // now `enter' new function
    ci->func = restorestack(L, funcr);
    L->base = ci->base = ci->func + 1;
    ci->top = L->top + LUA_MINSTACK;
    ci->nresults = nresults;
    ci->tailcalls = 0;
    if (L->hookmask & LUA_MASKCALL) luaD_callhook(L, LUA_HOOKCALL, -1);
    lua_CFunction f = cclosure(curr_func(L))->f;
    n = guarded_native(L, [&] { return (*f)(L); });  // do the actual call
    if (n < 0) return PCRYIELD;  // yielding?
    luaD_poscall(L, L->top - n);
    return PCRC;
  }
}

static StkId callrethooks(lua_State* L, StkId firstResult) {
  ptrdiff_t fr = savestack(L, firstResult);  // next call may change stack
  luaD_callhook(L, LUA_HOOKRET, -1);
  if (f_isLua(L->ci)) {  // script function?
    while ((L->hookmask & LUA_MASKRET) && L->ci->tailcalls--)  // tail calls
      luaD_callhook(L, LUA_HOOKTAILRET, -1);
  }
  return restorestack(L, fr);
}

int luaD_poscall(lua_State* L, StkId firstResult) {
  if (L->hookmask & LUA_MASKRET) firstResult = callrethooks(L, firstResult);
  CallInfo* ci = L->ci--;
  StkId res = ci->func;  // res == final position of 1st result
  int wanted = ci->nresults;
  L->base = (ci - 1)->base;  // restore base
  L->savedpc = (ci - 1)->savedpc;  // restore savedpc
  int i;
  // move results to correct place
  for (i = wanted; i != 0 && firstResult < L->top; i--) setobjs2s(L, res++, firstResult++);
  while (i-- > 0) setnilvalue(res++);
  L->top = res;
  return (wanted - LUA_MULTRET);  // 0 iff wanted == LUA_MULTRET
}

void luaD_call(lua_State* L, StkId func, int nResults) {
  if (++L->nCcalls >= LUAI_MAXCCALLS) {
    if (L->nCcalls == LUAI_MAXCCALLS) luaG_runerror(L, "C stack overflow");
    else if (L->nCcalls >= (LUAI_MAXCCALLS + (LUAI_MAXCCALLS >> 3)))
      luaD_throw(L, LUA_ERRERR);  // error while handing stack error
  }
  if (luaD_precall(L, func, nResults) == PCRLUA) luaV_execute(L, 1);  // is a script function? call it
  L->nCcalls--;
  luaC_checkGC(L);
}

static void resume(lua_State* L, void* ud) {
  StkId firstArg = static_cast<StkId>(ud);
  CallInfo* ci = L->ci;
  if (L->status == 0) {  // start coroutine?
    if (luaD_precall(L, firstArg - 1, LUA_MULTRET) != PCRLUA) return;
  } else {  // resuming from previous yield
    L->status = 0;
    if (!f_isLua(ci)) {  // `common' yield? finish interrupted execution of `OP_CALL'
      if (luaD_poscall(L, firstArg)) L->top = L->ci->top;  // complete it and correct top if not multiple results
    } else {  // yielded inside a hook: just continue its execution
      L->base = L->ci->base;
    }
  }
  luaV_execute(L, static_cast<int>(L->ci - L->base_ci));
}

static int resume_error(lua_State* L, const char* msg) {
  L->top = L->ci->base;
  setsvalue2s(L, L->top, luaS_new(L, msg));
  incr_top(L);
  return LUA_ERRRUN;
}

int lua_resume(lua_State* L, int nargs) {
  if (L->status != LUA_YIELD && (L->status != 0 || L->ci != L->base_ci))
    return resume_error(L, "cannot resume non-suspended coroutine");
  if (L->status == 0 && L->top - nargs <= L->base)  // dead: nothing left to start
    return resume_error(L, "cannot resume non-suspended coroutine");
  if (L->nCcalls >= LUAI_MAXCCALLS) return resume_error(L, "C stack overflow");
  L->baseCcalls = ++L->nCcalls;
  int status = luaD_rawrunprotected(L, resume, L->top - nargs);
  if (status != 0) {  // error?
    L->status = static_cast<lu_byte>(status);  // mark thread as `dead'
    luaD_seterrorobj(L, status, L->top);
    L->ci->top = L->top;
  } else {
    status = L->status;
  }
  --L->nCcalls;
  return status;
}

int lua_yield(lua_State* L, int nresults) {
  if (L->nCcalls > L->baseCcalls) luaG_runerror(L, "attempt to yield across metamethod/C-call boundary");
  L->base = L->top - nresults;  // protect stack slots below
  L->status = LUA_YIELD;
  return -1;
}

int luaD_pcall(lua_State* L, Pfunc func, void* u, ptrdiff_t old_top, ptrdiff_t ef) {
  unsigned short oldnCcalls = L->nCcalls;
  ptrdiff_t old_ci = saveci(L, L->ci);
  lu_byte old_allowhooks = L->allowhook;
  ptrdiff_t old_errfunc = L->errfunc;
  L->errfunc = ef;
  int status = luaD_rawrunprotected(L, func, u);
  if (status != 0) {  // an error occurred?
    StkId oldtop = restorestack(L, old_top);
    luaF_close(L, oldtop);  // close eventual pending closures
    luaD_seterrorobj(L, status, oldtop);
    L->nCcalls = oldnCcalls;
    L->ci = restoreci(L, old_ci);
    L->base = L->ci->base;
    L->savedpc = L->ci->savedpc;
    L->allowhook = old_allowhooks;
    restore_stack_limit(L);
  }
  L->errfunc = old_errfunc;
  return status;
}

// Execute a protected parser.
struct SParser {
  ZIO* z;
  Mbuffer buff;  // buffer to be used by the scanner
  const char* name;
};

static void f_parser(lua_State* L, void* ud) {
  SParser* p = static_cast<SParser*>(ud);
  int c = luaZ_lookahead(p->z);
  luaC_checkGC(L);
  Proto* tf = (c == static_cast<unsigned char>(LUA_SIGNATURE[0]))
                  ? luaU_undump(L, p->z, &p->buff, p->name)
                  : luaY_parser(L, p->z, &p->buff, p->name);
  Closure* cl = luaF_newLclosure(L, tf->nups, hvalue(gt(L)));
  lclosure(cl)->p = tf;
  for (int i = 0; i < tf->nups; i++) lclosure(cl)->upvals()[i] = luaF_newupval(L);  // initialize eventual upvalues
  setclvalue(L, L->top, cl);
  incr_top(L);
}

int luaD_protectedparser(lua_State* L, ZIO* z, const char* name) {
  SParser p;
  p.z = z;
  p.name = name;
  luaZ_initbuffer(L, &p.buff);
  int status = luaD_pcall(L, f_parser, &p, savestack(L, L->top), L->errfunc);
  luaZ_freebuffer(L, &p.buff);
  return status;
}
