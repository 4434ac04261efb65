// Debug interface, run-time error messages with positions and names.
#include <cstdarg>
#include <cstring>

#include "lua/debug.hh"
#include "lua/do.hh"
#include "lua/func.hh"
#include "lua/gc.hh"
#include "lua/opcodes.hh"
#include "lua/string.hh"
#include "lua/table.hh"
#include "lua/tm.hh"
#include "lua/vm.hh"

static const char* getfuncname(lua_State* L, CallInfo* ci, const char** name);

static int currentpc(lua_State* L, CallInfo* ci) {
  if (!isLua(ci)) return -1;  // function is not a script function?
  if (ci == L->ci) ci->savedpc = L->savedpc;
  return pcRel(ci->savedpc, lclosure(ci_func(ci))->p);
}

static int currentline(lua_State* L, CallInfo* ci) {
  int pc = currentpc(L, ci);
  if (pc < 0) return -1;  // only active script functions have current-line information
  return getline_(lclosure(ci_func(ci))->p, pc);
}

int lua_sethook(lua_State* L, lua_Hook func, int mask, int count) {
  if (func == nullptr || mask == 0) {  // turn off hooks?
    mask = 0;
    func = nullptr;
  }
  L->hook = func;
  L->basehookcount = count;
  resethookcount(L);
  L->hookmask = static_cast<lu_byte>(mask);
  return 1;
}

lua_Hook lua_gethook(lua_State* L) { return L->hook; }
int lua_gethookmask(lua_State* L) { return L->hookmask; }
int lua_gethookcount(lua_State* L) { return L->basehookcount; }

int lua_getstack(lua_State* L, int level, lua_Debug* ar) {
  int status;
  CallInfo* ci;
  for (ci = L->ci; level > 0 && ci > L->base_ci; ci--) {
    level--;
    if (f_isLua(ci)) level -= ci->tailcalls;  // skip lost tail calls
  }
  if (level == 0 && ci > L->base_ci) {  // level found?
    status = 1;
    ar->i_ci = static_cast<int>(ci - L->base_ci);
  } else if (level < 0) {  // level is of a lost tail call?
    status = 1;
    ar->i_ci = 0;
  } else {
    status = 0;  // no such level
  }
  return status;
}

static Proto* getluaproto(CallInfo* ci) {
  return (isLua(ci) ? lclosure(ci_func(ci))->p : nullptr);
}

static const char* findlocal(lua_State* L, CallInfo* ci, int n) {
  Proto* fp = getluaproto(ci);
  const char* name;
  if (fp && (name = luaF_getlocalname(fp, n, currentpc(L, ci))) != nullptr) return name;  // is a local variable in a script function
  StkId limit = (ci == L->ci) ? L->top : (ci + 1)->func;
  if (limit - ci->base >= n && n > 0) return "(*temporary)";  // is `n' inside `ci' stack?
  return nullptr;
}

const char* lua_getlocal(lua_State* L, const lua_Debug* ar, int n) {
  CallInfo* ci = L->base_ci + ar->i_ci;
  const char* name = findlocal(L, ci, n);
  if (name) {
    luaD_checkstack(L, 1);
    setobj2s(L, L->top, ci->base + (n - 1));
    L->top++;
  }
  return name;
}

const char* lua_setlocal(lua_State* L, const lua_Debug* ar, int n) {
  CallInfo* ci = L->base_ci + ar->i_ci;
  const char* name = findlocal(L, ci, n);
  L->top--;  // pop value
  if (name) setobjs2s(L, ci->base + (n - 1), L->top);
  return name;
}

static void funcinfo(lua_Debug* ar, Closure* cl) {
  if (cl->isC) {
    ar->source = "=[C]";
    ar->linedefined = -1;
    ar->lastlinedefined = -1;
    ar->what = "C";
  } else {
    Proto* p = lclosure(cl)->p;
    ar->source = getstr(p->source);
    ar->linedefined = p->linedefined;
    ar->lastlinedefined = p->lastlinedefined;
    ar->what = (ar->linedefined == 0) ? "main" : "Lua";
  }
  luaO_chunkid(ar->short_src, ar->source, LUA_IDSIZE);
}

static void info_tailcall(lua_Debug* ar) {
  ar->name = ar->namewhat = "";
  ar->what = "tail";
  ar->lastlinedefined = ar->linedefined = ar->currentline = -1;
  ar->source = "=(tail call)";
  luaO_chunkid(ar->short_src, ar->source, LUA_IDSIZE);
  ar->nups = 0;
}

static void collectvalidlines(lua_State* L, Closure* f) {
  if (f == nullptr || f->isC) {
    setnilvalue(L->top);
  } else {
    Table* t = luaH_new(L, 0, 0);
    Proto* p = lclosure(f)->p;
    for (int i = 0; i < p->sizelineinfo; i++) setbvalue(luaH_setnum(L, t, p->lineinfo[i]), 1);
    sethvalue(L, L->top, t);
  }
  incr_top(L);
}

static int auxgetinfo(lua_State* L, const char* what, lua_Debug* ar, Closure* f, CallInfo* ci) {
  int status = 1;
  if (f == nullptr) {
    info_tailcall(ar);
    return status;
  }
  for (; *what; what++) {
    switch (*what) {
      case 'S': funcinfo(ar, f); break;
      case 'l': ar->currentline = (ci) ? currentline(L, ci) : -1; break;
      case 'u': ar->nups = f->nupvalues; break;
      case 'n': {
        ar->namewhat = (ci) ? getfuncname(L, ci, &ar->name) : nullptr;
        if (ar->namewhat == nullptr) {
          ar->namewhat = "";  // not found
          ar->name = nullptr;
        }
        break;
      }
      case 'L':
      case 'f': break;  // handled by lua_getinfo
      default: status = 0;  // invalid option
    }
  }
  return status;
}

int lua_getinfo(lua_State* L, const char* what, lua_Debug* ar) {
  Closure* f = nullptr;
  CallInfo* ci = nullptr;
  if (*what == '>') {
    StkId func = L->top - 1;
    what++;  // skip the '>'
    f = clvalue(func);
    L->top--;  // pop function
  } else if (ar->i_ci != 0) {  // no tail call?
    ci = L->base_ci + ar->i_ci;
    f = clvalue(ci->func);
  }
  int status = auxgetinfo(L, what, ar, f, ci);
  if (strchr(what, 'f')) {
    if (f == nullptr) {
      setnilvalue(L->top);
    } else {
      setclvalue(L, L->top, f);
    }
    incr_top(L);
  }
  if (strchr(what, 'L')) collectvalidlines(L, f);
  return status;
}

// Index of the last instruction before lastpc that wrote register reg, or -1.
static int findsetreg(const Proto* p, int lastpc, int reg) {
  int last = -1;
  for (int pc = 0; pc < lastpc; pc++) {
    Instruction i = p->code[pc];
    OpCode op = GET_OPCODE(i);
    int a = GETARG_A(i);
    if (testAMode(op) && a == reg) last = pc;
    switch (op) {
      case OP_LOADNIL:
        if (a <= reg && reg <= GETARG_B(i)) last = pc;
        break;
      case OP_TFORLOOP:
        if (reg >= a + 2) last = pc;
        break;
      case OP_CALL:
      case OP_TAILCALL:
        if (reg >= a) last = pc;
        break;
      case OP_JMP: {
        int dest = pc + 1 + GETARG_sBx(i);
        // a forward jump inside the range skips the code in between
        if (pc < dest && dest <= lastpc) pc += GETARG_sBx(i);
        break;
      }
      default: break;
    }
  }
  return last;
}

static const char* kname(Proto* p, int c) {
  if (ISK(c) && ttisstring(&p->k[INDEXK(c)])) return svalue(&p->k[INDEXK(c)]);
  return "?";
}

static const char* getobjname(lua_State* L, CallInfo* ci, int stackpos, const char** name) {
  if (!isLua(ci)) return nullptr;
  Proto* p = lclosure(ci_func(ci))->p;
  int pc = currentpc(L, ci);
  *name = luaF_getlocalname(p, stackpos + 1, pc);
  if (*name) return "local";
  int last = findsetreg(p, pc, stackpos);
  if (last < 0) return nullptr;
  Instruction i = p->code[last];
  switch (GET_OPCODE(i)) {
    case OP_GETGLOBAL: {
      int g = GETARG_Bx(i);
      if (!ttisstring(&p->k[g])) return nullptr;
      *name = svalue(&p->k[g]);
      return "global";
    }
    case OP_MOVE: {
      int a = GETARG_A(i);
      int b = GETARG_B(i);  // move from `b' to `a'
      if (b < a) return getobjname(L, ci, b, name);  // get name for `b'
      break;
    }
    case OP_GETTABLE: {
      *name = kname(p, GETARG_C(i));
      return "field";
    }
    case OP_GETUPVAL: {
      int u = GETARG_B(i);
      *name = (p->upvalues && u < p->sizeupvalues) ? getstr(p->upvalues[u]) : "?";
      return "upvalue";
    }
    case OP_SELF: {
      *name = kname(p, GETARG_C(i));
      return "method";
    }
    default: break;
  }
  return nullptr;
}

static const char* getfuncname(lua_State* L, CallInfo* ci, const char** name) {
  if ((isLua(ci) && ci->tailcalls > 0) || !isLua(ci - 1)) return nullptr;  // calling function is not a script function
  ci--;  // calling function
  Instruction i = lclosure(ci_func(ci))->p->code[currentpc(L, ci)];
  if (GET_OPCODE(i) == OP_CALL || GET_OPCODE(i) == OP_TAILCALL || GET_OPCODE(i) == OP_TFORLOOP)
    return getobjname(L, ci, GETARG_A(i), name);
  return nullptr;  // no useful name can be found
}

// only ANSI way to check whether a pointer points to an array
static int isinstack(CallInfo* ci, const TValue* o) {
  for (StkId p = ci->base; p < ci->top; p++) {
    if (o == p) return 1;
  }
  return 0;
}

void luaG_typeerror(lua_State* L, const TValue* o, const char* op) {
  const char* name = nullptr;
  const char* t = luaT_typenames[ttype(o)];
  const char* kind = (isinstack(L->ci, o)) ? getobjname(L, L->ci, static_cast<int>(o - L->base), &name) : nullptr;
  if (kind) luaG_runerror(L, "attempt to %s %s '%s' (a %s value)", op, kind, name, t);
  luaG_runerror(L, "attempt to %s a %s value", op, t);
}

void luaG_concaterror(lua_State* L, StkId p1, StkId p2) {
  if (ttisstring(p1) || ttisnumber(p1)) p1 = p2;
  luaG_typeerror(L, p1, "concatenate");
}

void luaG_aritherror(lua_State* L, const TValue* p1, const TValue* p2) {
  TValue temp;
  if (luaV_tonumber(p1, &temp) == nullptr) p2 = p1;  // first operand is wrong?
  luaG_typeerror(L, p2, "perform arithmetic on");
}

void luaG_biterror(lua_State* L, const TValue* p1, const TValue* p2) {
  TValue temp;
  if (luaV_tonumber(p1, &temp) == nullptr) p2 = p1;
  luaG_typeerror(L, p2, "perform bitwise operation on");
}

int luaG_ordererror(lua_State* L, const TValue* p1, const TValue* p2) {
  const char* t1 = luaT_typenames[ttype(p1)];
  const char* t2 = luaT_typenames[ttype(p2)];
  if (t1[2] == t2[2]) luaG_runerror(L, "attempt to compare two %s values", t1);
  luaG_runerror(L, "attempt to compare %s with %s", t1, t2);
}

static void addinfo(lua_State* L, const char* msg) {
  CallInfo* ci = L->ci;
  if (isLua(ci)) {  // is a script function?
    char buff[LUA_IDSIZE];  // add file:line information
    int line = currentline(L, ci);
    luaO_chunkid(buff, getstr(getluaproto(ci)->source), LUA_IDSIZE);
    luaO_pushfstring(L, "%s:%d: %s", buff, line, msg);
  }
}

void luaG_errormsg(lua_State* L) {
  if (L->errfunc != 0) {  // is there an error handling function?
    StkId errfunc = restorestack(L, L->errfunc);
    if (!ttisfunction(errfunc)) luaD_throw(L, LUA_ERRERR);
    setobjs2s(L, L->top, L->top - 1);  // move argument
    setobjs2s(L, L->top - 1, errfunc);  // push function
    incr_top(L);
    luaD_call(L, L->top - 2, 1);  // call it
  }
  luaD_throw(L, LUA_ERRRUN);
}

void luaG_runerror(lua_State* L, const char* fmt, ...) {
  va_list argp;
  va_start(argp, fmt);
  addinfo(L, luaO_pushvfstring(L, fmt, argp));
  va_end(argp);
  luaG_errormsg(L);
}
