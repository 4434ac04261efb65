// Verification of loaded code: a chunk from outside runs only if every
// instruction is safe to dispatch: opcodes in range, registers inside the
// frame, constants, upvalues and nested functions that exist, jumps that
// land on instructions, and open result counts handed only to instructions
// that take them.
#include <algorithm>
#include <string>
#include <vector>

#include "lua/debug.hh"
#include "lua/object.hh"
#include "lua/opcodes.hh"

namespace {

bool isOpenConsumer(Instruction i) {
  switch (GET_OPCODE(i)) {
    case OP_CALL:
    case OP_TAILCALL:
    case OP_RETURN:
    case OP_SETLIST:
      return GETARG_B(i) == 0;
    default:
      return false;
  }
}

// A NEWTABLE size in its one-byte floating form must describe a table the
// runtime can make.
bool sizeFitsTable(int x) {
  if (x > 0xFF) return false;
  int e = (x >> 3) & 31;
  return e == 0 || e - 1 <= 22;
}

}  // namespace

int luaG_checkcode(const Proto* f) {
  const int ncode = f->sizecode;
  const int maxstack = f->maxstacksize;
  if (maxstack > MAXSTACK) return 0;
  if (f->numparams + (f->is_vararg & VARARG_HASARG) > maxstack) return 0;
  if ((f->is_vararg & VARARG_NEEDSARG) && !(f->is_vararg & VARARG_HASARG)) return 0;
  if (f->sizeupvalues > f->nups) return 0;
  if (f->sizelineinfo != 0 && f->sizelineinfo != ncode) return 0;
  for (int i = 0; i < f->sizeupvalues; i++)
    if (f->upvalues[i] == nullptr) return 0;
  for (int i = 0; i < f->sizelocvars; i++)
    if (f->locvars[i].varname == nullptr) return 0;
  for (int i = 0; i < f->sizep; i++)
    if (f->p[i] == nullptr) return 0;
  if (ncode == 0 || GET_OPCODE(f->code[ncode - 1]) != OP_RETURN) return 0;

  // words that are operands of the SETLIST before them, never instructions
  std::string isData(static_cast<size_t>(ncode), '\0');
  // capture words after CLOSURE: read by the closure, never executed
  std::string isCapture(static_cast<size_t>(ncode), '\0');
  auto reg = [maxstack](int r) { return r >= 0 && r < maxstack; };
  auto rk = [f, maxstack](int x) { return ISK(x) ? INDEXK(x) < f->sizek : x < maxstack; };

  for (int pc = 0; pc < ncode; pc++) {
    if (isData[static_cast<size_t>(pc)]) continue;
    const Instruction i = f->code[pc];
    const int opi = static_cast<int>(GET_OPCODE(i));
    if (opi >= NUM_OPCODES) return 0;
    const OpCode op = static_cast<OpCode>(opi);
    const int a = GETARG_A(i);
    const int b = GETARG_B(i);
    const int c = GETARG_C(i);
    if (op != OP_JMP && op != OP_EQ && op != OP_LT && op != OP_LE && !reg(a)) return 0;
    switch (getOpMode(op)) {
      case iABC:
        if (getBMode(op) == OpArgR && !reg(b)) return 0;
        if (getBMode(op) == OpArgK && !rk(b)) return 0;
        if (getCMode(op) == OpArgR && !reg(c)) return 0;
        if (getCMode(op) == OpArgK && !rk(c)) return 0;
        break;
      case iABx:
        if (getBMode(op) == OpArgK && GETARG_Bx(i) >= f->sizek) return 0;
        break;
      case iAsBx: {
        const int dest = pc + 1 + GETARG_sBx(i);
        if (dest < 0 || dest >= ncode) return 0;
        break;
      }
    }
    if (testTMode(op)) {  // followed by the jump it guards
      if (pc + 2 >= ncode || GET_OPCODE(f->code[pc + 1]) != OP_JMP) return 0;
    }
    switch (op) {
      case OP_LOADBOOL:
        if (c != 0 && pc + 2 >= ncode) return 0;
        break;
      case OP_GETUPVAL:
      case OP_SETUPVAL:
        if (b >= f->nups) return 0;
        break;
      case OP_GETGLOBAL:
      case OP_SETGLOBAL:
        if (!ttisstring(&f->k[GETARG_Bx(i)])) return 0;
        break;
      case OP_NEWTABLE:
        if (!sizeFitsTable(b) || !sizeFitsTable(c)) return 0;
        break;
      case OP_SELF:
        if (!reg(a + 1)) return 0;
        break;
      case OP_CONCAT:
        if (b >= c) return 0;
        break;
      case OP_TFORLOOP:
        if (!reg(a + 3) || !reg(a + 2 + c)) return 0;
        break;
      case OP_FORLOOP:
      case OP_FORPREP:
        if (!reg(a + 3)) return 0;
        break;
      case OP_CALL:
      case OP_TAILCALL:
        if (b != 0 && !reg(a + b - 1)) return 0;
        if (c == 0) {
          if (pc + 1 >= ncode || !isOpenConsumer(f->code[pc + 1])) return 0;
        } else if (c >= 2 && !reg(a + c - 2)) {
          return 0;
        }
        break;
      case OP_RETURN:
        if (b >= 2 && !reg(a + b - 2)) return 0;
        break;
      case OP_SETLIST:
        if (b > 0 && !reg(a + b)) return 0;
        if (c == 0) {
          if (pc + 1 >= ncode) return 0;
          if (f->code[pc + 1] > static_cast<Instruction>(MAX_INT / LFIELDS_PER_FLUSH)) return 0;
          isData[static_cast<size_t>(pc + 1)] = 1;
        }
        break;
      case OP_CLOSURE: {
        const int bx = GETARG_Bx(i);
        if (bx >= f->sizep) return 0;
        const int nup = f->p[bx]->nups;
        if (pc + nup >= ncode) return 0;
        for (int j = 1; j <= nup; j++) {  // how the new closure captures each upvalue
          const Instruction u = f->code[pc + j];
          isCapture[static_cast<size_t>(pc + j)] = 1;
          if (GET_OPCODE(u) == OP_MOVE) {
            if (!reg(GETARG_B(u))) return 0;
          } else if (GET_OPCODE(u) == OP_GETUPVAL) {
            if (GETARG_B(u) >= f->nups) return 0;
          } else {
            return 0;
          }
        }
        break;
      }
      case OP_VARARG:
        if (!(f->is_vararg & VARARG_ISVARARG) || (f->is_vararg & VARARG_NEEDSARG)) return 0;
        if (b == 0) {
          if (pc + 1 >= ncode || !isOpenConsumer(f->code[pc + 1])) return 0;
        } else if (b >= 2 && !reg(a + b - 2)) {
          return 0;
        }
        break;
      default:
        break;
    }
  }
  // control transfers other than falling through: none may land on a
  // data or capture word
  std::vector<int> minSrc(static_cast<size_t>(ncode), ncode), maxSrc(static_cast<size_t>(ncode), -1);
  auto transfer = [&](int from, int to) {
    if (to < 0 || to >= ncode || isData[static_cast<size_t>(to)] || isCapture[static_cast<size_t>(to)])
      return false;
    minSrc[static_cast<size_t>(to)] = std::min(minSrc[static_cast<size_t>(to)], from);
    maxSrc[static_cast<size_t>(to)] = std::max(maxSrc[static_cast<size_t>(to)], from);
    return true;
  };
  for (int pc = 0; pc < ncode; pc++) {
    if (isData[static_cast<size_t>(pc)] || isCapture[static_cast<size_t>(pc)]) continue;
    const Instruction i = f->code[pc];
    const OpCode op = GET_OPCODE(i);
    if (getOpMode(op) == iAsBx && !transfer(pc, pc + 1 + GETARG_sBx(i))) return 0;
    if ((op == OP_LOADBOOL && GETARG_C(i) != 0) || testTMode(op) || (op == OP_SETLIST && GETARG_C(i) == 0))
      if (!transfer(pc, pc + 2)) return 0;
    if (op == OP_CLOSURE && !transfer(pc, pc + 1 + f->p[GETARG_Bx(i)]->nups)) return 0;
  }
  // SETLIST stores into the table in its register A: that register must
  // have been set by a NEWTABLE that every path to the SETLIST runs
  // through. Sufficient: the last instruction before it (in code order)
  // writing A is NEWTABLE A, and nothing outside jumps between the two.
  std::vector<int> lastWriter(MAXSTACK + 1, -1);
  std::vector<int> checkedUpTo(static_cast<size_t>(ncode), -1);
  for (int pc = 0; pc < ncode; pc++) {
    if (isData[static_cast<size_t>(pc)] || isCapture[static_cast<size_t>(pc)]) continue;
    const Instruction i = f->code[pc];
    const OpCode op = GET_OPCODE(i);
    const int a = GETARG_A(i);
    if (op == OP_SETLIST) {
      const int q = lastWriter[static_cast<size_t>(a)];
      if (q < 0 || GET_OPCODE(f->code[q]) != OP_NEWTABLE) return 0;
      int& from = checkedUpTo[static_cast<size_t>(q)];
      for (int t = std::max(from, q) + 1; t <= pc; t++)
        if (minSrc[static_cast<size_t>(t)] < q || maxSrc[static_cast<size_t>(t)] > pc) return 0;
      from = std::max(from, pc);
      continue;
    }
    int lo = a, hi = -1;  // registers the instruction may change
    switch (op) {
      case OP_LOADNIL:
        lo = std::min(a, GETARG_B(i));
        hi = std::max(a, GETARG_B(i));
        break;
      case OP_SELF:
        hi = a + 1;
        break;
      case OP_CONCAT:  // works in place on B..C
        lo = std::min(a, GETARG_B(i));
        hi = GETARG_C(i);
        break;
      case OP_FORLOOP:
      case OP_FORPREP:
        hi = a + 3;
        break;
      case OP_CALL:
      case OP_TAILCALL:
      case OP_VARARG:  // a called frame overlaps every register from A
        hi = MAXSTACK;
        break;
      case OP_TFORLOOP:
        lo = a + 3;
        hi = MAXSTACK;
        break;
      case OP_SETTABLE:
      case OP_SETGLOBAL:
      case OP_SETUPVAL:
      case OP_JMP:
      case OP_EQ:
      case OP_LT:
      case OP_LE:
      case OP_RETURN:
      case OP_CLOSE:
        break;
      default:
        hi = a;
        break;
    }
    for (int r = lo; r <= hi && r <= MAXSTACK; r++) lastWriter[static_cast<size_t>(r)] = pc;
  }
  return 1;
}
