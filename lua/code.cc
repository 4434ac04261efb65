// Code generator: registers, constants, jump lists and operator coding.
#include <cmath>
#include <cstdlib>

#include "lua/code.hh"
#include "lua/debug.hh"
#include "lua/do.hh"
#include "lua/gc.hh"
#include "lua/mem.hh"
#include "lua/table.hh"
#include "lua/vm.hh"

static bool hasjumps(const expdesc* e) { return e->t != e->f; }

static bool isnumeral(const expdesc* e) {
  return e->k == VKNUM && e->t == NO_JUMP && e->f == NO_JUMP;
}

static int code(FuncState* fs, Instruction i, int line);

void luaK_nil(FuncState* fs, int from, int n) {
  if (fs->pc > fs->lasttarget) {  // nothing jumps to the current position
    if (fs->pc == 0) {
      if (from >= fs->nactvar) return;  // fresh registers are nil already
    } else {
      Instruction* previous = &fs->f->code[fs->pc - 1];
      if (GET_OPCODE(*previous) == OP_LOADNIL) {
        int pfrom = GETARG_A(*previous);
        int pto = GETARG_B(*previous);
        if (pfrom <= from && from <= pto + 1) {  // extend the previous LOADNIL
          if (from + n - 1 > pto) SETARG_B(*previous, from + n - 1);
          return;
        }
      }
    }
  }
  luaK_codeABC(fs, OP_LOADNIL, from, from + n - 1, 0);
}

int luaK_jump(FuncState* fs) {
  int jpc = fs->jpc;  // jumps pending to here go on with the new jump
  fs->jpc = NO_JUMP;
  int j = luaK_codeAsBx(fs, OP_JMP, 0, NO_JUMP);
  luaK_concat(fs, &j, jpc);
  return j;
}

void luaK_ret(FuncState* fs, int first, int nret) { luaK_codeABC(fs, OP_RETURN, first, nret + 1, 0); }

static int condjump(FuncState* fs, OpCode op, int A, int B, int C) {
  luaK_codeABC(fs, op, A, B, C);
  return luaK_jump(fs);
}

static void fixjump(FuncState* fs, int pc, int dest) {
  Instruction* jmp = &fs->f->code[pc];
  int offset = dest - (pc + 1);
  if (abs(offset) > MAXARG_sBx) luaX_syntaxerror(fs->ls, "control structure too long");
  SETARG_sBx(*jmp, offset);
}

int luaK_getlabel(FuncState* fs) {
  fs->lasttarget = fs->pc;
  return fs->pc;
}

// next element of a jump list (the lists are chained through the offsets)
static int getjump(FuncState* fs, int pc) {
  int offset = GETARG_sBx(fs->f->code[pc]);
  return offset == NO_JUMP ? NO_JUMP : (pc + 1) + offset;
}

static Instruction* getjumpcontrol(FuncState* fs, int pc) {
  Instruction* pi = &fs->f->code[pc];
  if (pc >= 1 && testTMode(GET_OPCODE(*(pi - 1)))) return pi - 1;
  return pi;
}

// whether some jump of the list needs a value (is not a TESTSET)
static bool need_value(FuncState* fs, int list) {
  for (; list != NO_JUMP; list = getjump(fs, list)) {
    if (GET_OPCODE(*getjumpcontrol(fs, list)) != OP_TESTSET) return true;
  }
  return false;
}

static bool patchtestreg(FuncState* fs, int node, int reg) {
  Instruction* i = getjumpcontrol(fs, node);
  if (GET_OPCODE(*i) != OP_TESTSET) return false;
  if (reg != NO_REG && reg != GETARG_B(*i)) SETARG_A(*i, reg);
  else *i = CREATE_ABC(OP_TEST, GETARG_B(*i), 0, GETARG_C(*i));  // no register to put value
  return true;
}

static void removevalues(FuncState* fs, int list) {
  for (; list != NO_JUMP; list = getjump(fs, list)) patchtestreg(fs, list, NO_REG);
}

static void patchlistaux(FuncState* fs, int list, int vtarget, int reg, int dtarget) {
  while (list != NO_JUMP) {
    int next = getjump(fs, list);
    fixjump(fs, list, patchtestreg(fs, list, reg) ? vtarget : dtarget);
    list = next;
  }
}

static void dischargejpc(FuncState* fs) {
  patchlistaux(fs, fs->jpc, fs->pc, NO_REG, fs->pc);
  fs->jpc = NO_JUMP;
}

void luaK_patchlist(FuncState* fs, int list, int target) {
  if (target == fs->pc) luaK_patchtohere(fs, list);
  else patchlistaux(fs, list, target, NO_REG, target);
}

void luaK_patchtohere(FuncState* fs, int list) {
  luaK_getlabel(fs);
  luaK_concat(fs, &fs->jpc, list);
}

void luaK_concat(FuncState* fs, int* l1, int l2) {
  if (l2 == NO_JUMP) return;
  if (*l1 == NO_JUMP) {
    *l1 = l2;
    return;
  }
  int list = *l1;
  int next;
  while ((next = getjump(fs, list)) != NO_JUMP) list = next;
  fixjump(fs, list, l2);
}

void luaK_checkstack(FuncState* fs, int n) {
  int newstack = fs->freereg + n;
  if (newstack > fs->f->maxstacksize) {
    if (newstack >= MAXSTACK) luaX_syntaxerror(fs->ls, "function or expression too complex");
    fs->f->maxstacksize = static_cast<lu_byte>(newstack);
  }
}

void luaK_reserveregs(FuncState* fs, int n) {
  luaK_checkstack(fs, n);
  fs->freereg += n;
}

static void freereg(FuncState* fs, int reg) {
  if (!ISK(reg) && reg >= fs->nactvar) fs->freereg--;
}

static void freeexp(FuncState* fs, expdesc* e) {
  if (e->k == VNONRELOC) freereg(fs, e->u.s.info);
}

// Index of constant v, keyed by k in the function's constant map.
static int addk(FuncState* fs, TValue* k, TValue* v) {
  lua_State* L = fs->L;
  TValue* idx = luaH_set(L, fs->h, k);
  Proto* f = fs->f;
  if (ttisnumber(idx)) return static_cast<int>(nvalue(idx));
  int oldsize = f->sizek;
  setnvalue(idx, static_cast<lua_Number>(fs->nk));
  luaM_growvector(L, f->k, fs->nk, f->sizek, TValue, MAXARG_Bx, "constant table overflow");
  while (oldsize < f->sizek) setnilvalue(&f->k[oldsize++]);
  setobj(L, &f->k[fs->nk], v);
  luaC_barrier(L, f, v);
  return fs->nk++;
}

int luaK_stringK(FuncState* fs, TString* s) {
  TValue o;
  setsvalue(fs->L, &o, s);
  return addk(fs, &o, &o);
}

int luaK_numberK(FuncState* fs, lua_Number r) {
  TValue o;
  setnvalue(&o, r);
  return addk(fs, &o, &o);
}

static int boolK(FuncState* fs, int b) {
  TValue o;
  setbvalue(&o, b);
  return addk(fs, &o, &o);
}

static int nilK(FuncState* fs) {
  TValue k, v;
  setnilvalue(&v);
  sethvalue(fs->L, &k, fs->h);  // nil cannot be a key: the map itself stands for it
  return addk(fs, &k, &v);
}

void luaK_setreturns(FuncState* fs, expdesc* e, int nresults) {
  if (e->k == VCALL) {
    SETARG_C(getcode(fs, e), nresults + 1);
  } else if (e->k == VVARARG) {
    SETARG_B(getcode(fs, e), nresults + 1);
    SETARG_A(getcode(fs, e), fs->freereg);
    luaK_reserveregs(fs, 1);
  }
}

void luaK_setoneret(FuncState* fs, expdesc* e) {
  if (e->k == VCALL) {
    e->k = VNONRELOC;
    e->u.s.info = GETARG_A(getcode(fs, e));
  } else if (e->k == VVARARG) {
    SETARG_B(getcode(fs, e), 2);
    e->k = VRELOCABLE;
  }
}

void luaK_dischargevars(FuncState* fs, expdesc* e) {
  switch (e->k) {
    case VLOCAL: e->k = VNONRELOC; break;
    case VUPVAL:
      e->u.s.info = luaK_codeABC(fs, OP_GETUPVAL, 0, e->u.s.info, 0);
      e->k = VRELOCABLE;
      break;
    case VGLOBAL:
      e->u.s.info = luaK_codeABx(fs, OP_GETGLOBAL, 0, e->u.s.info);
      e->k = VRELOCABLE;
      break;
    case VINDEXED:
      freereg(fs, e->u.s.aux);
      freereg(fs, e->u.s.info);
      e->u.s.info = luaK_codeABC(fs, OP_GETTABLE, 0, e->u.s.info, e->u.s.aux);
      e->k = VRELOCABLE;
      break;
    case VVARARG:
    case VCALL: luaK_setoneret(fs, e); break;
    default: break;
  }
}

static int code_label(FuncState* fs, int A, int b, int jump) {
  luaK_getlabel(fs);  // these may be jump targets
  return luaK_codeABC(fs, OP_LOADBOOL, A, b, jump);
}

static void discharge2reg(FuncState* fs, expdesc* e, int reg) {
  luaK_dischargevars(fs, e);
  switch (e->k) {
    case VNIL: luaK_nil(fs, reg, 1); break;
    case VFALSE:
    case VTRUE: luaK_codeABC(fs, OP_LOADBOOL, reg, e->k == VTRUE, 0); break;
    case VK: luaK_codeABx(fs, OP_LOADK, reg, e->u.s.info); break;
    case VKNUM: luaK_codeABx(fs, OP_LOADK, reg, luaK_numberK(fs, e->u.nval)); break;
    case VRELOCABLE: SETARG_A(getcode(fs, e), reg); break;
    case VNONRELOC:
      if (reg != e->u.s.info) luaK_codeABC(fs, OP_MOVE, reg, e->u.s.info, 0);
      break;
    default: return;  // VVOID or VJMP: nothing to do
  }
  e->u.s.info = reg;
  e->k = VNONRELOC;
}

static void discharge2anyreg(FuncState* fs, expdesc* e) {
  if (e->k != VNONRELOC) {
    luaK_reserveregs(fs, 1);
    discharge2reg(fs, e, fs->freereg - 1);
  }
}

static void exp2reg(FuncState* fs, expdesc* e, int reg) {
  discharge2reg(fs, e, reg);
  if (e->k == VJMP) luaK_concat(fs, &e->t, e->u.s.info);
  if (hasjumps(e)) {
    int p_f = NO_JUMP;  // an eventual LOADBOOL false
    int p_t = NO_JUMP;  // an eventual LOADBOOL true
    if (need_value(fs, e->t) || need_value(fs, e->f)) {
      int fj = (e->k == VJMP) ? NO_JUMP : luaK_jump(fs);
      p_f = code_label(fs, reg, 0, 1);
      p_t = code_label(fs, reg, 1, 0);
      luaK_patchtohere(fs, fj);
    }
    int final = luaK_getlabel(fs);
    patchlistaux(fs, e->f, final, reg, p_f);
    patchlistaux(fs, e->t, final, reg, p_t);
  }
  e->f = e->t = NO_JUMP;
  e->u.s.info = reg;
  e->k = VNONRELOC;
}

void luaK_exp2nextreg(FuncState* fs, expdesc* e) {
  luaK_dischargevars(fs, e);
  freeexp(fs, e);
  luaK_reserveregs(fs, 1);
  exp2reg(fs, e, fs->freereg - 1);
}

int luaK_exp2anyreg(FuncState* fs, expdesc* e) {
  luaK_dischargevars(fs, e);
  if (e->k == VNONRELOC) {
    if (!hasjumps(e)) return e->u.s.info;
    if (e->u.s.info >= fs->nactvar) {  // a temporary: put the value there
      exp2reg(fs, e, e->u.s.info);
      return e->u.s.info;
    }
  }
  luaK_exp2nextreg(fs, e);
  return e->u.s.info;
}

void luaK_exp2val(FuncState* fs, expdesc* e) {
  if (hasjumps(e)) luaK_exp2anyreg(fs, e);
  else luaK_dischargevars(fs, e);
}

int luaK_exp2RK(FuncState* fs, expdesc* e) {
  luaK_exp2val(fs, e);
  switch (e->k) {
    case VKNUM:
    case VTRUE:
    case VFALSE:
    case VNIL:
      if (fs->nk <= MAXINDEXRK) {  // the constant still fits an RK operand
        e->u.s.info = (e->k == VNIL) ? nilK(fs)
                      : (e->k == VKNUM) ? luaK_numberK(fs, e->u.nval)
                                        : boolK(fs, e->k == VTRUE);
        e->k = VK;
        return RKASK(e->u.s.info);
      }
      break;
    case VK:
      if (e->u.s.info <= MAXINDEXRK) return RKASK(e->u.s.info);
      break;
    default: break;
  }
  return luaK_exp2anyreg(fs, e);
}

void luaK_storevar(FuncState* fs, expdesc* var, expdesc* ex) {
  switch (var->k) {
    case VLOCAL:
      freeexp(fs, ex);
      exp2reg(fs, ex, var->u.s.info);
      return;
    case VUPVAL: {
      int e = luaK_exp2anyreg(fs, ex);
      luaK_codeABC(fs, OP_SETUPVAL, e, var->u.s.info, 0);
      break;
    }
    case VGLOBAL: {
      int e = luaK_exp2anyreg(fs, ex);
      luaK_codeABx(fs, OP_SETGLOBAL, e, var->u.s.info);
      break;
    }
    case VINDEXED: {
      int e = luaK_exp2RK(fs, ex);
      luaK_codeABC(fs, OP_SETTABLE, var->u.s.info, var->u.s.aux, e);
      break;
    }
    default: break;
  }
  freeexp(fs, ex);
}

void luaK_self(FuncState* fs, expdesc* e, expdesc* key) {
  luaK_exp2anyreg(fs, e);
  freeexp(fs, e);
  int func = fs->freereg;
  luaK_reserveregs(fs, 2);
  luaK_codeABC(fs, OP_SELF, func, e->u.s.info, luaK_exp2RK(fs, key));
  freeexp(fs, key);
  e->u.s.info = func;
  e->k = VNONRELOC;
}

static void invertjump(FuncState* fs, expdesc* e) {
  Instruction* pc = getjumpcontrol(fs, e->u.s.info);
  SETARG_A(*pc, !(GETARG_A(*pc)));
}

static int jumponcond(FuncState* fs, expdesc* e, int cond) {
  if (e->k == VRELOCABLE) {
    Instruction ie = getcode(fs, e);
    if (GET_OPCODE(ie) == OP_NOT) {
      fs->pc--;  // drop the NOT and test its operand the other way
      return condjump(fs, OP_TEST, GETARG_B(ie), 0, !cond);
    }
  }
  discharge2anyreg(fs, e);
  freeexp(fs, e);
  return condjump(fs, OP_TESTSET, NO_REG, e->u.s.info, cond);
}

void luaK_goiftrue(FuncState* fs, expdesc* e) {
  int pc;
  luaK_dischargevars(fs, e);
  switch (e->k) {
    case VK:
    case VKNUM:
    case VTRUE: pc = NO_JUMP; break;  // always true
    case VFALSE: pc = luaK_jump(fs); break;  // always jump
    case VJMP:
      invertjump(fs, e);
      pc = e->u.s.info;
      break;
    default: pc = jumponcond(fs, e, 0); break;
  }
  luaK_concat(fs, &e->f, pc);
  luaK_patchtohere(fs, e->t);
  e->t = NO_JUMP;
}

static void goiffalse(FuncState* fs, expdesc* e) {
  int pc;
  luaK_dischargevars(fs, e);
  switch (e->k) {
    case VNIL:
    case VFALSE: pc = NO_JUMP; break;  // always false
    case VTRUE: pc = luaK_jump(fs); break;  // always jump
    case VJMP: pc = e->u.s.info; break;
    default: pc = jumponcond(fs, e, 1); break;
  }
  luaK_concat(fs, &e->t, pc);
  luaK_patchtohere(fs, e->f);
  e->f = NO_JUMP;
}

static void codenot(FuncState* fs, expdesc* e) {
  luaK_dischargevars(fs, e);
  switch (e->k) {
    case VNIL:
    case VFALSE: e->k = VTRUE; break;
    case VK:
    case VKNUM:
    case VTRUE: e->k = VFALSE; break;
    case VJMP: invertjump(fs, e); break;
    case VRELOCABLE:
    case VNONRELOC:
      discharge2anyreg(fs, e);
      freeexp(fs, e);
      e->u.s.info = luaK_codeABC(fs, OP_NOT, 0, e->u.s.info, 0);
      e->k = VRELOCABLE;
      break;
    default: break;
  }
  int temp = e->f;  // the true and false lists swap
  e->f = e->t;
  e->t = temp;
  removevalues(fs, e->f);
  removevalues(fs, e->t);
}

void luaK_indexed(FuncState* fs, expdesc* t, expdesc* k) {
  t->u.s.aux = luaK_exp2RK(fs, k);
  t->k = VINDEXED;
}

// Folds only + - * / % ^, unary minus and unary ~ (the bitwise binary
// operators reach here with their left operand already in RK form).
static bool constfolding(OpCode op, expdesc* e1, expdesc* e2) {
  if (!isnumeral(e1) || !isnumeral(e2)) return false;
  lua_Number v1 = e1->u.nval;
  lua_Number v2 = e2->u.nval;
  lua_Number r;
  switch (op) {
    case OP_ADD: r = v1 + v2; break;
    case OP_SUB: r = v1 - v2; break;
    case OP_MUL: r = v1 * v2; break;
    case OP_DIV:
      if (v2 == 0) return false;
      r = v1 / v2;
      break;
    case OP_MOD:
      if (v2 == 0) return false;
      r = v1 - floor(v1 / v2) * v2;
      break;
    case OP_POW: r = pow(v1, v2); break;
    case OP_UNM: r = -v1; break;
    case OP_BNOT: r = static_cast<lua_Number>(static_cast<uint32_t>(~luaV_toint32(v1))); break;
    default: return false;
  }
  if (std::isnan(r)) return false;
  e1->u.nval = r;
  return true;
}

static void codearith(FuncState* fs, OpCode op, expdesc* e1, expdesc* e2) {
  if (constfolding(op, e1, e2)) return;
  bool unary = (op == OP_UNM || op == OP_LEN || op == OP_BNOT);
  int o2 = unary ? 0 : luaK_exp2RK(fs, e2);
  int o1 = luaK_exp2RK(fs, e1);
  if (o1 > o2) {  // free the higher register first
    freeexp(fs, e1);
    freeexp(fs, e2);
  } else {
    freeexp(fs, e2);
    freeexp(fs, e1);
  }
  e1->u.s.info = luaK_codeABC(fs, op, 0, o1, o2);
  e1->k = VRELOCABLE;
}

static void codecomp(FuncState* fs, OpCode op, int cond, expdesc* e1, expdesc* e2) {
  int o1 = luaK_exp2RK(fs, e1);
  int o2 = luaK_exp2RK(fs, e2);
  freeexp(fs, e2);
  freeexp(fs, e1);
  if (cond == 0 && op != OP_EQ) {  // > and >= become < and <= with swapped operands
    int temp = o1;
    o1 = o2;
    o2 = temp;
    cond = 1;
  }
  e1->u.s.info = condjump(fs, op, cond, o1, o2);
  e1->k = VJMP;
}

void luaK_prefix(FuncState* fs, UnOpr op, expdesc* e) {
  expdesc e2;
  e2.t = e2.f = NO_JUMP;
  e2.k = VKNUM;
  e2.u.nval = 0;
  switch (op) {
    case OPR_MINUS:
      if (!isnumeral(e)) luaK_exp2anyreg(fs, e);
      codearith(fs, OP_UNM, e, &e2);
      break;
    case OPR_BNOT:
      if (!isnumeral(e)) luaK_exp2anyreg(fs, e);
      codearith(fs, OP_BNOT, e, &e2);
      break;
    case OPR_NOT: codenot(fs, e); break;
    case OPR_LEN:
      luaK_exp2anyreg(fs, e);
      codearith(fs, OP_LEN, e, &e2);
      break;
    default: break;
  }
}

void luaK_infix(FuncState* fs, BinOpr op, expdesc* v) {
  switch (op) {
    case OPR_AND: luaK_goiftrue(fs, v); break;
    case OPR_OR: goiffalse(fs, v); break;
    case OPR_CONCAT: luaK_exp2nextreg(fs, v); break;  // operand must be on the stack
    case OPR_ADD:
    case OPR_SUB:
    case OPR_MUL:
    case OPR_DIV:
    case OPR_MOD:
    case OPR_POW:
      if (!isnumeral(v)) luaK_exp2RK(fs, v);
      break;
    default: luaK_exp2RK(fs, v); break;
  }
}

void luaK_posfix(FuncState* fs, BinOpr op, expdesc* e1, expdesc* e2) {
  switch (op) {
    case OPR_AND:
      luaK_dischargevars(fs, e2);
      luaK_concat(fs, &e2->f, e1->f);
      *e1 = *e2;
      break;
    case OPR_OR:
      luaK_dischargevars(fs, e2);
      luaK_concat(fs, &e2->t, e1->t);
      *e1 = *e2;
      break;
    case OPR_CONCAT:
      luaK_exp2val(fs, e2);
      if (e2->k == VRELOCABLE && GET_OPCODE(getcode(fs, e2)) == OP_CONCAT) {
        freeexp(fs, e1);  // merge into the right operand's CONCAT
        SETARG_B(getcode(fs, e2), e1->u.s.info);
        e1->k = VRELOCABLE;
        e1->u.s.info = e2->u.s.info;
      } else {
        luaK_exp2nextreg(fs, e2);
        codearith(fs, OP_CONCAT, e1, e2);
      }
      break;
    case OPR_ADD: codearith(fs, OP_ADD, e1, e2); break;
    case OPR_SUB: codearith(fs, OP_SUB, e1, e2); break;
    case OPR_MUL: codearith(fs, OP_MUL, e1, e2); break;
    case OPR_DIV: codearith(fs, OP_DIV, e1, e2); break;
    case OPR_MOD: codearith(fs, OP_MOD, e1, e2); break;
    case OPR_POW: codearith(fs, OP_POW, e1, e2); break;
    case OPR_BOR: codearith(fs, OP_BOR, e1, e2); break;
    case OPR_BAND: codearith(fs, OP_BAND, e1, e2); break;
    case OPR_BXOR: codearith(fs, OP_BXOR, e1, e2); break;
    case OPR_SHL: codearith(fs, OP_BLSHFT, e1, e2); break;
    case OPR_SHR: codearith(fs, OP_BRSHFT, e1, e2); break;
    case OPR_INTDIV: codearith(fs, OP_INTDIV, e1, e2); break;
    case OPR_EQ: codecomp(fs, OP_EQ, 1, e1, e2); break;
    case OPR_NE: codecomp(fs, OP_EQ, 0, e1, e2); break;
    case OPR_LT: codecomp(fs, OP_LT, 1, e1, e2); break;
    case OPR_LE: codecomp(fs, OP_LE, 1, e1, e2); break;
    case OPR_GT: codecomp(fs, OP_LT, 0, e1, e2); break;
    case OPR_GE: codecomp(fs, OP_LE, 0, e1, e2); break;
    default: break;
  }
}

void luaK_fixline(FuncState* fs, int line) { fs->f->lineinfo[fs->pc - 1] = line; }

static int code(FuncState* fs, Instruction i, int line) {
  Proto* f = fs->f;
  dischargejpc(fs);  // pending jumps land on this instruction
  luaM_growvector(fs->L, f->code, fs->pc, f->sizecode, Instruction, MAX_INT, "code size overflow");
  f->code[fs->pc] = i;
  luaM_growvector(fs->L, f->lineinfo, fs->pc, f->sizelineinfo, int, MAX_INT, "code size overflow");
  f->lineinfo[fs->pc] = line;
  return fs->pc++;
}

int luaK_codeABC(FuncState* fs, OpCode o, int a, int b, int c) {
  return code(fs, CREATE_ABC(o, a, b, c), fs->ls->lastline);
}

int luaK_codeABx(FuncState* fs, OpCode o, int a, unsigned int bc) {
  return code(fs, CREATE_ABx(o, a, bc), fs->ls->lastline);
}

void luaK_setlist(FuncState* fs, int base, int nelems, int tostore) {
  int c = (nelems - 1) / LFIELDS_PER_FLUSH + 1;
  int b = (tostore == LUA_MULTRET) ? 0 : tostore;
  if (c <= MAXARG_C) {
    luaK_codeABC(fs, OP_SETLIST, base, b, c);
  } else {  // the batch number goes in the next word
    luaK_codeABC(fs, OP_SETLIST, base, b, 0);
    code(fs, static_cast<Instruction>(c), fs->ls->lastline);
  }
  fs->freereg = base + 1;
}
