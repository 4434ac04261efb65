// The bytecode interpreter: threaded dispatch over the 45 instructions,
// number fast paths inline, coercions and metamethods out of line.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "lua/debug.hh"
#include "lua/do.hh"
#include "lua/func.hh"
#include "lua/gc.hh"
#include "lua/mem.hh"
#include "lua/opcodes.hh"
#include "lua/string.hh"
#include "lua/table.hh"
#include "lua/tm.hh"
#include "lua/vm.hh"

#define MAXTAGLOOP 100

const TValue* luaV_tonumber(const TValue* obj, TValue* n) {
  lua_Number num;
  if (ttisnumber(obj)) return obj;
  if (ttisstring(obj) && luaO_str2d(svalue(obj), &num)) {
    setnvalue(n, num);
    return n;
  }
  return nullptr;
}

int luaV_tostring(lua_State* L, StkId obj) {
  if (!ttisnumber(obj)) return 0;
  char s[32];
  int len = luaO_num2str(s, nvalue(obj));
  setsvalue2s(L, obj, luaS_newlstr(L, s, static_cast<size_t>(len)));
  return 1;
}

static void traceexec(lua_State* L, const Instruction* pc) {
  lu_byte mask = L->hookmask;
  const Instruction* oldpc = L->savedpc;
  L->savedpc = pc;
  if ((mask & LUA_MASKCOUNT) && L->hookcount == 0) {
    resethookcount(L);
    luaD_callhook(L, LUA_HOOKCOUNT, -1);
  }
  if (mask & LUA_MASKLINE) {
    Proto* p = lclosure(ci_func(L->ci))->p;
    int npc = pcRel(pc, p);
    int newline = getline_(p, npc);
    // call linehook when enter a new function, when jump back (loop), or when enter a new line
    if (npc == 0 || pc <= oldpc || newline != getline_(p, pcRel(oldpc, p)))
      luaD_callhook(L, LUA_HOOKLINE, newline);
  }
}

static void callTMres(lua_State* L, StkId res, const TValue* f, const TValue* p1, const TValue* p2) {
  ptrdiff_t result = savestack(L, res);
  // the operands may live in the stack: copy them (into the spare slots
  // above the top) before the stack can move
  setobj2s(L, L->top, f);  // push function
  setobj2s(L, L->top + 1, p1);  // 1st argument
  setobj2s(L, L->top + 2, p2);  // 2nd argument
  luaD_checkstack(L, 3);
  L->top += 3;
  luaD_call(L, L->top - 3, 1);
  res = restorestack(L, result);
  L->top--;
  setobjs2s(L, res, L->top);
}

static void callTM(lua_State* L, const TValue* f, const TValue* p1, const TValue* p2, const TValue* p3) {
  setobj2s(L, L->top, f);  // copied before the stack can move, as above
  setobj2s(L, L->top + 1, p1);
  setobj2s(L, L->top + 2, p2);
  setobj2s(L, L->top + 3, p3);
  luaD_checkstack(L, 4);
  L->top += 4;
  luaD_call(L, L->top - 4, 0);
}

void luaV_gettable(lua_State* L, const TValue* t, TValue* key, StkId val) {
  for (int loop = 0; loop < MAXTAGLOOP; loop++) {
    const TValue* tm;
    if (ttistable(t)) {
      Table* h = hvalue(t);
      const TValue* res = luaH_get(h, key);
      if (!ttisnil(res) || (tm = fasttm(L, h->metatable, TM_INDEX)) == nullptr) {
        setobj2s(L, val, res);
        return;
      }
    } else if (ttisnil(tm = luaT_gettmbyobj(L, t, TM_INDEX))) {
      luaG_typeerror(L, t, "index");
    }
    if (ttisfunction(tm)) {
      callTMres(L, val, tm, t, key);
      return;
    }
    t = tm;  // else repeat with `tm'
  }
  luaG_runerror(L, "loop in gettable");
}

void luaV_settable(lua_State* L, const TValue* t, TValue* key, StkId val) {
  TValue temp;
  for (int loop = 0; loop < MAXTAGLOOP; loop++) {
    const TValue* tm;
    if (ttistable(t)) {
      Table* h = hvalue(t);
      TValue* oldval = luaH_set(L, h, key);
      if (!ttisnil(oldval) || (tm = fasttm(L, h->metatable, TM_NEWINDEX)) == nullptr) {
        setobj2t(L, oldval, val);
        luaC_barriert(L, h, val);
        return;
      }
    } else if (ttisnil(tm = luaT_gettmbyobj(L, t, TM_NEWINDEX))) {
      luaG_typeerror(L, t, "index");
    }
    if (ttisfunction(tm)) {
      callTM(L, tm, t, key, val);
      return;
    }
    // the table may be reallocated by the call; copy the value
    setobj(L, &temp, tm);
    t = &temp;
  }
  luaG_runerror(L, "loop in settable");
}

static int call_binTM(lua_State* L, const TValue* p1, const TValue* p2, StkId res, TMS event) {
  const TValue* tm = luaT_gettmbyobj(L, p1, event);  // try first operand
  if (ttisnil(tm)) tm = luaT_gettmbyobj(L, p2, event);  // try second operand
  if (ttisnil(tm)) return 0;
  callTMres(L, res, tm, p1, p2);
  return 1;
}

static const TValue* get_compTM(lua_State* L, Table* mt1, Table* mt2, TMS event) {
  const TValue* tm1 = fasttm(L, mt1, event);
  if (tm1 == nullptr) return nullptr;  // no metamethod
  if (mt1 == mt2) return tm1;  // same metatables => same metamethods
  const TValue* tm2 = fasttm(L, mt2, event);
  if (tm2 == nullptr) return nullptr;  // no metamethod
  if (luaO_rawequalObj(tm1, tm2)) return tm1;  // same metamethods?
  return nullptr;
}

static int call_orderTM(lua_State* L, const TValue* p1, const TValue* p2, TMS event) {
  const TValue* tm1 = luaT_gettmbyobj(L, p1, event);
  if (ttisnil(tm1)) return -1;  // no metamethod?
  const TValue* tm2 = luaT_gettmbyobj(L, p2, event);
  if (!luaO_rawequalObj(tm1, tm2)) return -1;  // different metamethods?
  callTMres(L, L->top, tm1, p1, p2);
  return !l_isfalse(L->top);
}

// Compares strings with strcoll, piece by piece across embedded zeros.
static int l_strcmp(const TString* ls, const TString* rs) {
  const char* l = getstr(ls);
  size_t ll = ls->len;
  const char* r = getstr(rs);
  size_t lr = rs->len;
  for (;;) {
    int temp = strcoll(l, r);
    if (temp != 0) return temp;
    size_t len = strlen(l);  // strings are equal up to a `\0'
    if (len == lr) return (len == ll) ? 0 : 1;  // r is finished?
    if (len == ll) return -1;  // l is finished (but r is not)
    len++;
    l += len;
    ll -= len;
    r += len;
    lr -= len;
  }
}

int luaV_lessthan(lua_State* L, const TValue* l, const TValue* r) {
  int res;
  if (ttype(l) != ttype(r)) return luaG_ordererror(L, l, r);
  if (ttisnumber(l)) return nvalue(l) < nvalue(r);
  if (ttisstring(l)) return l_strcmp(rawtsvalue(l), rawtsvalue(r)) < 0;
  if ((res = call_orderTM(L, l, r, TM_LT)) != -1) return res;
  return luaG_ordererror(L, l, r);
}

static int lessequal(lua_State* L, const TValue* l, const TValue* r) {
  int res;
  if (ttype(l) != ttype(r)) return luaG_ordererror(L, l, r);
  if (ttisnumber(l)) return nvalue(l) <= nvalue(r);
  if (ttisstring(l)) return l_strcmp(rawtsvalue(l), rawtsvalue(r)) <= 0;
  if ((res = call_orderTM(L, l, r, TM_LE)) != -1) return res;  // first try `le'
  if ((res = call_orderTM(L, r, l, TM_LT)) != -1) return !res;  // else try `lt'
  return luaG_ordererror(L, l, r);
}

int luaV_equalval(lua_State* L, const TValue* t1, const TValue* t2) {
  const TValue* tm;
  switch (ttype(t1)) {
    case LUA_TNIL: return 1;
    case LUA_TNUMBER: return nvalue(t1) == nvalue(t2);
    case LUA_TBOOLEAN: return bvalue(t1) == bvalue(t2);  // true must be 1 !!
    case LUA_TLIGHTUSERDATA: return pvalue(t1) == pvalue(t2);
    case LUA_TUSERDATA: {
      if (uvalue(t1) == uvalue(t2)) return 1;
      tm = get_compTM(L, uvalue(t1)->metatable, uvalue(t2)->metatable, TM_EQ);
      break;  // will try TM
    }
    case LUA_TTABLE: {
      if (hvalue(t1) == hvalue(t2)) return 1;
      tm = get_compTM(L, hvalue(t1)->metatable, hvalue(t2)->metatable, TM_EQ);
      break;  // will try TM
    }
    default: return gcvalue(t1) == gcvalue(t2);
  }
  if (tm == nullptr) return 0;  // no TM?
  callTMres(L, L->top, tm, t1, t2);  // call TM
  return !l_isfalse(L->top);
}

// Numbers met by one concatenation pass, formatted once: the first few keep
// their text for the copy, the rest are formatted again there.
struct ConcatNums {
  static const int kKept = 8;
  char text[kKept][32];
  int len[kKept];
};

// Length of operand top - i (a string or a number).
static size_t concat_len(const TValue* o, int i, ConcatNums& nums) {
  if (ttisstring(o)) return tsvalue(o)->len;
  if (i <= ConcatNums::kKept) {
    nums.len[i - 1] = luaO_num2str(nums.text[i - 1], nvalue(o));
    return static_cast<size_t>(nums.len[i - 1]);
  }
  char s[32];
  return static_cast<size_t>(luaO_num2str(s, nvalue(o)));
}

void luaV_concat(lua_State* L, int total, int last) {
  do {
    StkId top = L->base + last + 1;
    int n = 2;  // number of elements handled in this pass (at least 2)
    if (!(ttisstring(top - 2) || ttisnumber(top - 2)) || !(ttisstring(top - 1) || ttisnumber(top - 1))) {
      if (!call_binTM(L, top - 2, top - 1, top - 2, TM_CONCAT)) luaG_concaterror(L, top - 2, top - 1);
    } else if (ttisstring(top - 1) && tsvalue(top - 1)->len == 0) {  // second op is empty?
      (void)tostring(L, top - 2);  // result is first op (as string)
    } else {
      // at least two string values; get as many as possible
      ConcatNums nums;
      size_t tl = concat_len(top - 1, 1, nums);
      // collect total length
      for (n = 1; n < total && (ttisstring(top - n - 1) || ttisnumber(top - n - 1)); n++) {
        size_t l = concat_len(top - n - 1, n + 1, nums);
        if (l >= MAX_SIZET - tl) luaG_runerror(L, "string length overflow");
        tl += l;
      }
      char* buffer = luaZ_openspace(L, &G(L)->buff, tl);
      tl = 0;
      for (int i = n; i > 0; i--) {  // concat all strings
        const TValue* o = top - i;
        if (ttisstring(o)) {
          size_t l = tsvalue(o)->len;
          memcpy(buffer + tl, svalue(o), l);
          tl += l;
        } else if (i <= ConcatNums::kKept) {
          memcpy(buffer + tl, nums.text[i - 1], static_cast<size_t>(nums.len[i - 1]));
          tl += static_cast<size_t>(nums.len[i - 1]);
        } else {
          char s[32];
          size_t l = static_cast<size_t>(luaO_num2str(s, nvalue(o)));
          memcpy(buffer + tl, s, l);
          tl += l;
        }
      }
      setsvalue2s(L, top - n, luaS_newlstr(L, buffer, tl));
    }
    total -= n - 1;  // got `n' strings to create 1 new
    last -= n - 1;
  } while (total > 1);  // repeat until only 1 result left
}

static lua_Number arith_num(TMS op, lua_Number nb, lua_Number nc) {
  switch (op) {
    case TM_ADD: return nb + nc;
    case TM_SUB: return nb - nc;
    case TM_MUL: return nb * nc;
    case TM_DIV: return nb / nc;
    case TM_MOD: return nb - floor(nb / nc) * nc;
    case TM_POW: return pow(nb, nc);
    case TM_UNM: return -nb;
    case TM_OR: return static_cast<lua_Number>(luaV_toint32(nb) | luaV_toint32(nc));
    case TM_AND: return static_cast<lua_Number>(luaV_toint32(nb) & luaV_toint32(nc));
    case TM_XOR: return static_cast<lua_Number>(luaV_toint32(nb) ^ luaV_toint32(nc));
    case TM_SHL: return static_cast<lua_Number>(static_cast<uint32_t>(luaV_toint32(nb) << (luaV_toint32(nc) & 31)));
    case TM_SHR:
      return static_cast<lua_Number>(static_cast<uint32_t>(
          static_cast<int32_t>(luaV_toint32(nb)) >> (luaV_toint32(nc) & 31)));
    case TM_NOT: return static_cast<lua_Number>(static_cast<uint32_t>(~luaV_toint32(nb)));
    case TM_INTDIV: return luaV_intdiv(nb, nc);
    default: return 0;
  }
}

static void Arith(lua_State* L, StkId ra, const TValue* rb, const TValue* rc, TMS op) {
  TValue tempb, tempc;
  const TValue *b, *c;
  if ((b = luaV_tonumber(rb, &tempb)) != nullptr && (c = luaV_tonumber(rc, &tempc)) != nullptr) {
    setnvalue(ra, arith_num(op, nvalue(b), nvalue(c)));
  } else if (!call_binTM(L, rb, rc, ra, op)) {
    if (op >= TM_OR && op <= TM_NOT) luaG_biterror(L, rb, rc);
    luaG_aritherror(L, rb, rc);
  }
}

// Raw lookup with the common key kinds decided inline.
__attribute__((always_inline)) static inline const TValue* fastget(Table* h, const TValue* key) {
  if (ttisstring(key)) return luaH_getstr(h, rawtsvalue(key));
  if (ttisnumber(key)) {
    lua_Number n = nvalue(key);
    if (n >= 1 && n <= static_cast<lua_Number>(h->sizearray)) {
      int k = static_cast<int>(n);
      if (static_cast<lua_Number>(k) == n) return &h->array[k - 1];
    }
    // a hash part of one never-used slot (or none) holds no key at all
    if (h->lsizenode == 0 && ttisnil(gkey(h->node))) return luaO_nilobject;
  }
  return luaH_get(h, key);
}

// After a raw miss in a table with a metatable: follows an `__index` table
// that has no metatable of its own (an object's class). nullptr: the full
// lookup must run.
static const TValue* classget(lua_State* L, Table* h, const TValue* key) {
  const TValue* tm = fasttm(L, h->metatable, TM_INDEX);
  if (tm == nullptr) return luaO_nilobject;
  if (!ttistable(tm)) return nullptr;
  Table* c = hvalue(tm);
  const TValue* res = fastget(c, key);
  if (!ttisnil(res) || c->metatable == nullptr) return res;
  return nullptr;
}

// The number and plain-table cases are the ones to lay out straight: without
// the hint the compiler moves them out of line behind the metamethod calls.
#define likely(x) __builtin_expect(!!(x), 1)

#define runtime_check(L, c) { if (!(c)) break; }

#define RA(i) (base + GETARG_A(i))
// to be used after possible stack reallocation
#define RB(i) (base + GETARG_B(i))
#define RC(i) (base + GETARG_C(i))
#define RKB(i) (ISK(GETARG_B(i)) ? k + INDEXK(GETARG_B(i)) : base + GETARG_B(i))
#define RKC(i) (ISK(GETARG_C(i)) ? k + INDEXK(GETARG_C(i)) : base + GETARG_C(i))
#define KBx(i) (k + GETARG_Bx(i))

#define dojump(L, pc, i) { (pc) += (i); }

#define Protect(x) { L->savedpc = pc; {x;}; base = L->base; }

#define arith_op(op, tm) { \
    TValue* rb = RKB(i); \
    TValue* rc = RKC(i); \
    if (likely(ttisnumber(rb) && ttisnumber(rc))) { \
      lua_Number nb = nvalue(rb), nc = nvalue(rc); \
      setnvalue(ra, op(nb, nc)); \
    } else { \
      Protect(Arith(L, ra, rb, rc, tm)); \
    } }

#define num_add(a, b) ((a) + (b))
#define num_sub(a, b) ((a) - (b))
#define num_mul(a, b) ((a) * (b))
#define num_div(a, b) ((a) / (b))
#define num_mod(a, b) ((a) - floor((a) / (b)) * (b))
#define num_pow(a, b) (pow(a, b))
#define num_bor(a, b) (static_cast<lua_Number>(luaV_toint32(a) | luaV_toint32(b)))
#define num_band(a, b) (static_cast<lua_Number>(luaV_toint32(a) & luaV_toint32(b)))
#define num_bxor(a, b) (static_cast<lua_Number>(luaV_toint32(a) ^ luaV_toint32(b)))
#define num_shl(a, b) (static_cast<lua_Number>(static_cast<uint32_t>(luaV_toint32(a) << (luaV_toint32(b) & 31))))
#define num_shr(a, b) (static_cast<lua_Number>(static_cast<uint32_t>( \
    static_cast<int32_t>(luaV_toint32(a)) >> (luaV_toint32(b) & 31))))
#define num_intdiv(a, b) luaV_intdiv(a, b)

#define vmcase(op) L_##op:
#define vmdispatch() goto* disptab[GET_OPCODE(i)]
#define vmfetch() { \
    i = *pc++; \
    if (__builtin_expect((L->hookmask & (LUA_MASKLINE | LUA_MASKCOUNT)) != 0, 0) && \
        (--L->hookcount == 0 || L->hookmask & LUA_MASKLINE)) { \
      traceexec(L, pc); \
      if (L->status == LUA_YIELD) { /* did hook yield? */ \
        L->savedpc = pc - 1; \
        return; \
      } \
      base = L->base; \
    } \
    ra = RA(i); \
    vmdispatch(); }
#define vmbreak vmfetch()

void luaV_execute(lua_State* L, int nexeccalls) {
  static const void* const disptab[64] = {
    &&L_OP_MOVE, &&L_OP_LOADK, &&L_OP_LOADBOOL, &&L_OP_LOADNIL, &&L_OP_GETUPVAL,
    &&L_OP_GETGLOBAL, &&L_OP_GETTABLE, &&L_OP_SETGLOBAL, &&L_OP_SETUPVAL, &&L_OP_SETTABLE,
    &&L_OP_NEWTABLE, &&L_OP_SELF, &&L_OP_ADD, &&L_OP_SUB, &&L_OP_MUL, &&L_OP_DIV, &&L_OP_MOD,
    &&L_OP_POW, &&L_OP_BOR, &&L_OP_BAND, &&L_OP_BXOR, &&L_OP_BLSHFT, &&L_OP_BRSHFT,
    &&L_OP_BNOT, &&L_OP_INTDIV, &&L_OP_UNM, &&L_OP_NOT, &&L_OP_LEN, &&L_OP_CONCAT, &&L_OP_JMP,
    &&L_OP_EQ, &&L_OP_LT, &&L_OP_LE, &&L_OP_TEST, &&L_OP_TESTSET, &&L_OP_CALL, &&L_OP_TAILCALL,
    &&L_OP_RETURN, &&L_OP_FORLOOP, &&L_OP_FORPREP, &&L_OP_TFORLOOP, &&L_OP_SETLIST,
    &&L_OP_CLOSE, &&L_OP_CLOSURE, &&L_OP_VARARG,
    // opcodes the compiler never produces
    &&L_BAD, &&L_BAD, &&L_BAD, &&L_BAD, &&L_BAD, &&L_BAD, &&L_BAD, &&L_BAD, &&L_BAD, &&L_BAD,
    &&L_BAD, &&L_BAD, &&L_BAD, &&L_BAD, &&L_BAD, &&L_BAD, &&L_BAD, &&L_BAD, &&L_BAD
  };
  LClosure* cl;
  StkId base;
  TValue* k;
  const Instruction* pc;
  Instruction i;
  StkId ra;
reentry:  // entry point
  pc = L->savedpc;
  cl = lclosure(clvalue(L->ci->func));
  base = L->base;
  k = cl->p->k;
  vmfetch();

  vmcase(OP_MOVE) {
    setobjs2s(L, ra, RB(i));
    vmbreak;
  }
  vmcase(OP_LOADK) {
    setobj2s(L, ra, KBx(i));
    vmbreak;
  }
  vmcase(OP_LOADBOOL) {
    setbvalue(ra, GETARG_B(i));
    if (GETARG_C(i)) pc++;  // skip next instruction (if C)
    vmbreak;
  }
  vmcase(OP_LOADNIL) {
    TValue* rb = RB(i);
    do {
      setnilvalue(rb--);
    } while (rb >= ra);
    vmbreak;
  }
  vmcase(OP_GETUPVAL) {
    int b = GETARG_B(i);
    setobj2s(L, ra, cl->upvals()[b]->v);
    vmbreak;
  }
  vmcase(OP_GETGLOBAL) {
    TValue g;
    TValue* rb = KBx(i);
    const TValue* res = luaH_getstr(cl->env, rawtsvalue(rb));
    if (likely(!ttisnil(res))) {
      setobj2s(L, ra, res);
      vmbreak;
    }
    sethvalue(L, &g, cl->env);
    Protect(luaV_gettable(L, &g, rb, ra));
    vmbreak;
  }
  vmcase(OP_GETTABLE) {
    TValue* rb = RB(i);
    TValue* rc = RKC(i);
    if (likely(ttistable(rb))) {
      // fast path: a present value, or a miss that no metamethod function handles
      Table* h = hvalue(rb);
      const TValue* res = fastget(h, rc);
      if (likely(!ttisnil(res) || h->metatable == nullptr) || (res = classget(L, h, rc)) != nullptr) {
        setobj2s(L, ra, res);
        vmbreak;
      }
    }
    Protect(luaV_gettable(L, rb, rc, ra));
    vmbreak;
  }
  vmcase(OP_SETGLOBAL) {
    TValue g;
    sethvalue(L, &g, cl->env);
    Protect(luaV_settable(L, &g, KBx(i), ra));
    vmbreak;
  }
  vmcase(OP_SETUPVAL) {
    UpVal* uv = cl->upvals()[GETARG_B(i)];
    setobj(L, uv->v, ra);
    luaC_barrier(L, uv, ra);
    vmbreak;
  }
  vmcase(OP_SETTABLE) {
    TValue* rb = RKB(i);
    TValue* rc = RKC(i);
    if (likely(ttistable(ra))) {
      // fast path: overwriting a present value, or an array slot of a table
      // without metatable, creates no key and calls no metamethod
      Table* h = hvalue(ra);
      TValue* slot = const_cast<TValue*>(fastget(h, rb));
      if (likely(!ttisnil(slot)) || (h->metatable == nullptr && slot >= h->array && slot < h->array + h->sizearray)) {
        setobj2t(L, slot, rc);
        luaC_barriert(L, h, rc);
        vmbreak;
      }
      if (slot == luaO_nilobject && h->metatable == nullptr && ttisstring(rb)) {
        // a new field of a plain table: no second lookup
        L->savedpc = pc;  // a resize may raise errors
        slot = luaH_newkey(L, h, rb);
        setobj2t(L, slot, rc);
        luaC_barriert(L, h, rc);
        vmbreak;
      }
    }
    Protect(luaV_settable(L, ra, rb, rc));
    vmbreak;
  }
  vmcase(OP_NEWTABLE) {
    int b = GETARG_B(i);
    int c = GETARG_C(i);
    sethvalue(L, ra, luaH_new(L, luaO_fb2int(b), luaO_fb2int(c)));
    Protect(luaC_checkGC(L));
    vmbreak;
  }
  vmcase(OP_SELF) {
    StkId rb = RB(i);
    TValue* rc = RKC(i);
    setobjs2s(L, ra + 1, rb);
    if (ttistable(rb)) {
      Table* h = hvalue(rb);
      const TValue* res = fastget(h, rc);
      if ((likely(!ttisnil(res)) || h->metatable == nullptr) || (res = classget(L, h, rc)) != nullptr) {
        setobj2s(L, ra, res);
        vmbreak;
      }
    }
    // index through rb, not its copy: an error then names the variable rb came from
    Protect(luaV_gettable(L, rb, rc, ra));
    vmbreak;
  }
  vmcase(OP_ADD) { arith_op(num_add, TM_ADD); vmbreak; }
  vmcase(OP_SUB) { arith_op(num_sub, TM_SUB); vmbreak; }
  vmcase(OP_MUL) { arith_op(num_mul, TM_MUL); vmbreak; }
  vmcase(OP_DIV) { arith_op(num_div, TM_DIV); vmbreak; }
  vmcase(OP_MOD) { arith_op(num_mod, TM_MOD); vmbreak; }
  vmcase(OP_POW) { arith_op(num_pow, TM_POW); vmbreak; }
  vmcase(OP_BOR) { arith_op(num_bor, TM_OR); vmbreak; }
  vmcase(OP_BAND) { arith_op(num_band, TM_AND); vmbreak; }
  vmcase(OP_BXOR) { arith_op(num_bxor, TM_XOR); vmbreak; }
  vmcase(OP_BLSHFT) { arith_op(num_shl, TM_SHL); vmbreak; }
  vmcase(OP_BRSHFT) { arith_op(num_shr, TM_SHR); vmbreak; }
  vmcase(OP_INTDIV) { arith_op(num_intdiv, TM_INTDIV); vmbreak; }
  vmcase(OP_BNOT) {
    TValue* rb = RB(i);
    if (ttisnumber(rb)) {
      setnvalue(ra, static_cast<lua_Number>(static_cast<uint32_t>(~luaV_toint32(nvalue(rb)))));
    } else {
      Protect(Arith(L, ra, rb, rb, TM_NOT));
    }
    vmbreak;
  }
  vmcase(OP_UNM) {
    TValue* rb = RB(i);
    if (likely(ttisnumber(rb))) {
      lua_Number nb = nvalue(rb);
      setnvalue(ra, -nb);
    } else {
      Protect(Arith(L, ra, rb, rb, TM_UNM));
    }
    vmbreak;
  }
  vmcase(OP_NOT) {
    int res = l_isfalse(RB(i));  // next assignment may change this value
    setbvalue(ra, res);
    vmbreak;
  }
  vmcase(OP_LEN) {
    const TValue* rb = RB(i);
    switch (ttype(rb)) {
      case LUA_TTABLE: {
        setnvalue(ra, static_cast<lua_Number>(luaH_getn(hvalue(rb))));
        break;
      }
      case LUA_TSTRING: {
        setnvalue(ra, static_cast<lua_Number>(tsvalue(rb)->len));
        break;
      }
      default: {  // try metamethod
        Protect(if (!call_binTM(L, rb, luaO_nilobject, ra, TM_LEN)) luaG_typeerror(L, rb, "get length of"));
      }
    }
    vmbreak;
  }
  vmcase(OP_CONCAT) {
    int b = GETARG_B(i);
    int c = GETARG_C(i);
    Protect(luaV_concat(L, c - b + 1, c); luaC_checkGC(L));
    setobjs2s(L, RA(i), base + b);
    vmbreak;
  }
  vmcase(OP_JMP) {
    dojump(L, pc, GETARG_sBx(i));
    vmbreak;
  }
  vmcase(OP_EQ) {
    TValue* rb = RKB(i);
    TValue* rc = RKC(i);
    if (ttype(rb) != ttype(rc)) {
      if (GETARG_A(i) == 0) dojump(L, pc, GETARG_sBx(*pc));
    } else if (ttisnumber(rb)) {
      if ((nvalue(rb) == nvalue(rc)) == GETARG_A(i)) dojump(L, pc, GETARG_sBx(*pc));
    } else if (ttisstring(rb) || ttisnil(rb) || ttisboolean(rb)) {
      // interned strings compare by identity
      bool eq = ttisnil(rb) || (ttisboolean(rb) ? bvalue(rb) == bvalue(rc) : rawtsvalue(rb) == rawtsvalue(rc));
      if (eq == (GETARG_A(i) != 0)) dojump(L, pc, GETARG_sBx(*pc));
    } else {
      Protect(if (luaV_equalval(L, rb, rc) == GETARG_A(i)) dojump(L, pc, GETARG_sBx(*pc)););
    }
    pc++;
    vmbreak;
  }
  vmcase(OP_LT) {
    TValue* rb = RKB(i);
    TValue* rc = RKC(i);
    if (likely(ttisnumber(rb) && ttisnumber(rc))) {
      if ((nvalue(rb) < nvalue(rc)) == GETARG_A(i)) dojump(L, pc, GETARG_sBx(*pc));
    } else {
      Protect(if (luaV_lessthan(L, rb, rc) == GETARG_A(i)) dojump(L, pc, GETARG_sBx(*pc)););
    }
    pc++;
    vmbreak;
  }
  vmcase(OP_LE) {
    TValue* rb = RKB(i);
    TValue* rc = RKC(i);
    if (likely(ttisnumber(rb) && ttisnumber(rc))) {
      if ((nvalue(rb) <= nvalue(rc)) == GETARG_A(i)) dojump(L, pc, GETARG_sBx(*pc));
    } else {
      Protect(if (lessequal(L, rb, rc) == GETARG_A(i)) dojump(L, pc, GETARG_sBx(*pc)););
    }
    pc++;
    vmbreak;
  }
  vmcase(OP_TEST) {
    if (l_isfalse(ra) != GETARG_C(i)) dojump(L, pc, GETARG_sBx(*pc));
    pc++;
    vmbreak;
  }
  vmcase(OP_TESTSET) {
    TValue* rb = RB(i);
    if (l_isfalse(rb) != GETARG_C(i)) {
      setobjs2s(L, ra, rb);
      dojump(L, pc, GETARG_sBx(*pc));
    }
    pc++;
    vmbreak;
  }
  vmcase(OP_CALL) {
    int b = GETARG_B(i);
    int nresults = GETARG_C(i) - 1;
    if (b != 0) L->top = ra + b;  // else previous instruction set top
    L->savedpc = pc;
    if (ttisfunction(ra) && !clvalue(ra)->isC && !(L->hookmask & LUA_MASKCALL)) {
      // script function with fixed parameters: enter its frame here
      Proto* p = lclosure(clvalue(ra))->p;
      if (!p->is_vararg && L->ci != L->end_ci &&
          reinterpret_cast<char*>(L->stack_last) - reinterpret_cast<char*>(L->top) >
              static_cast<ptrdiff_t>(p->maxstacksize * sizeof(TValue))) {
        L->ci->savedpc = pc;
        StkId nbase = ra + 1;
        if (L->top > nbase + p->numparams) L->top = nbase + p->numparams;
        CallInfo* ci = ++L->ci;
        ci->func = ra;
        L->base = ci->base = nbase;
        ci->top = nbase + p->maxstacksize;
        L->savedpc = p->code;
        ci->tailcalls = 0;
        ci->nresults = nresults;
        for (StkId st = L->top; st < ci->top; st++) setnilvalue(st);
        L->top = ci->top;
        nexeccalls++;
        // enter with what is at hand rather than reloading it through L->ci
        cl = lclosure(clvalue(ra));
        base = nbase;
        k = p->k;
        pc = p->code;
        vmfetch();
      }
    }
    switch (luaD_precall(L, ra, nresults)) {
      case PCRLUA: {
        nexeccalls++;
        goto reentry;  // restart luaV_execute over new script function
      }
      case PCRC: {
        // it was a native function (`precall' called it); adjust results
        if (nresults >= 0) L->top = L->ci->top;
        base = L->base;
        vmbreak;
      }
      default: {
        return;  // yield
      }
    }
  }
  vmcase(OP_TAILCALL) {
    int b = GETARG_B(i);
    if (b != 0) L->top = ra + b;  // else previous instruction set top
    L->savedpc = pc;
    switch (luaD_precall(L, ra, LUA_MULTRET)) {
      case PCRLUA: {
        // tail call: put new frame in place of previous one
        CallInfo* ci = L->ci - 1;  // previous frame
        StkId func = ci->func;
        StkId pfunc = (ci + 1)->func;  // previous function index
        if (L->openupval && static_cast<UpVal*>(L->openupval)->v >= ci->base) luaF_close(L, ci->base);
        L->base = ci->base = ci->func + ((ci + 1)->base - pfunc);
        int aux;
        for (aux = 0; pfunc + aux < L->top; aux++)  // move frame down
          setobjs2s(L, func + aux, pfunc + aux);
        ci->top = L->top = func + aux;  // correct top
        ci->savedpc = L->savedpc;
        ci->tailcalls++;  // one more call lost
        L->ci--;  // remove new frame
        goto reentry;
      }
      case PCRC: {  // it was a native function (`precall' called it)
        base = L->base;
        vmbreak;
      }
      default: {
        return;  // yield
      }
    }
  }
  vmcase(OP_RETURN) {
    int b = GETARG_B(i);
    if (b != 0) L->top = ra + b - 1;
    if (L->openupval && static_cast<UpVal*>(L->openupval)->v >= base) luaF_close(L, base);
    L->savedpc = pc;
    if (!(L->hookmask & LUA_MASKRET)) {
      // the common return, as luaD_poscall without hooks
      CallInfo* ci = L->ci--;
      StkId res = ci->func;
      int wanted = ci->nresults;
      L->base = (ci - 1)->base;
      L->savedpc = (ci - 1)->savedpc;
      StkId first = ra;
      int n;
      for (n = wanted; n != 0 && first < L->top; n--) setobjs2s(L, res++, first++);
      while (n-- > 0) setnilvalue(res++);
      L->top = res;
      b = (wanted - LUA_MULTRET);
    } else {
      b = luaD_poscall(L, ra);
    }
    if (--nexeccalls == 0) {  // was previous function running `here'?
      return;  // no: return
    } else {  // yes: continue its execution
      if (b) L->top = L->ci->top;
      goto reentry;
    }
  }
  vmcase(OP_FORLOOP) {
    lua_Number step = nvalue(ra + 2);
    lua_Number idx = nvalue(ra) + step;  // increment index
    lua_Number limit = nvalue(ra + 1);
    if ((0 < step) ? (idx <= limit) : (limit <= idx)) {
      dojump(L, pc, GETARG_sBx(i));  // jump back
      setnvalue(ra, idx);  // update internal index...
      setnvalue(ra + 3, idx);  // ...and external index
    }
    vmbreak;
  }
  vmcase(OP_FORPREP) {
    const TValue* init = ra;
    const TValue* plimit = ra + 1;
    const TValue* pstep = ra + 2;
    L->savedpc = pc;  // next steps may throw errors
    if (!tonumber(init, ra)) luaG_runerror(L, "'for' initial value must be a number");
    else if (!tonumber(plimit, ra + 1)) luaG_runerror(L, "'for' limit must be a number");
    else if (!tonumber(pstep, ra + 2)) luaG_runerror(L, "'for' step must be a number");
    setnvalue(ra, nvalue(ra) - nvalue(pstep));
    dojump(L, pc, GETARG_sBx(i));
    vmbreak;
  }
  vmcase(OP_TFORLOOP) {
    StkId cb = ra + 3;  // call base
    setobjs2s(L, cb + 2, ra + 2);
    setobjs2s(L, cb + 1, ra + 1);
    setobjs2s(L, cb, ra);
    L->top = cb + 3;  // func. + 2 args (state and index)
    Protect(luaD_call(L, cb, GETARG_C(i)));
    L->top = L->ci->top;
    cb = RA(i) + 3;  // previous call may change the stack
    if (!ttisnil(cb)) {  // continue loop?
      setobjs2s(L, cb - 1, cb);  // save control variable
      dojump(L, pc, GETARG_sBx(*pc));  // jump back
    }
    pc++;
    vmbreak;
  }
  vmcase(OP_SETLIST) {
    int n = GETARG_B(i);
    int c = GETARG_C(i);
    if (n == 0) {
      n = static_cast<int>(L->top - ra) - 1;
      L->top = L->ci->top;
    }
    if (c == 0) c = static_cast<int>(*pc++);
    Table* h = hvalue(ra);
    int last = ((c - 1) * LFIELDS_PER_FLUSH) + n;
    if (last > h->sizearray) Protect(luaH_resizearray(L, h, last));  // needs more space? pre-alloc it at once
    for (; n > 0; n--) {
      TValue* val = ra + n;
      setobj2t(L, luaH_setnum(L, h, last--), val);
      luaC_barriert(L, h, val);
    }
    vmbreak;
  }
  vmcase(OP_CLOSE) {
    luaF_close(L, ra);
    vmbreak;
  }
  vmcase(OP_CLOSURE) {
    Proto* p = cl->p->p[GETARG_Bx(i)];
    int nup = p->nups;
    Closure* ncl = luaF_newLclosure(L, nup, cl->env);
    lclosure(ncl)->p = p;
    for (int j = 0; j < nup; j++, pc++) {
      if (GET_OPCODE(*pc) == OP_GETUPVAL) {
        lclosure(ncl)->upvals()[j] = cl->upvals()[GETARG_B(*pc)];
      } else {
        lclosure(ncl)->upvals()[j] = luaF_findupval(L, base + GETARG_B(*pc));
      }
    }
    setclvalue(L, ra, ncl);
    Protect(luaC_checkGC(L));
    vmbreak;
  }
  vmcase(OP_VARARG) {
    int b = GETARG_B(i) - 1;
    CallInfo* ci = L->ci;
    int n = static_cast<int>(ci->base - ci->func) - cl->p->numparams - 1;
    if (b == LUA_MULTRET) {
      Protect(luaD_checkstack(L, n));
      ra = RA(i);  // previous call may change the stack
      b = n;
      L->top = ra + n;
    }
    for (int j = 0; j < b; j++) {
      if (j < n) {
        setobjs2s(L, ra + j, ci->base - n + j);
      } else {
        setnilvalue(ra + j);
      }
    }
    vmbreak;
  }
L_BAD:
  L->savedpc = pc;
  luaG_runerror(L, "invalid opcode %d", static_cast<int>(GET_OPCODE(i)));
}
