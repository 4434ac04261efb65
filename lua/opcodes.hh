// Instruction layout and opcode numbering (fixed: stored chunks use them).
#pragma once

#include "lua/object.hh"

enum OpMode : int { iABC, iABx, iAsBx };

#define SIZE_C 9
#define SIZE_B 9
#define SIZE_Bx (SIZE_C + SIZE_B)
#define SIZE_A 8
#define SIZE_OP 6
#define POS_OP 0
#define POS_A (POS_OP + SIZE_OP)
#define POS_C (POS_A + SIZE_A)
#define POS_B (POS_C + SIZE_C)
#define POS_Bx POS_C

#define MAXARG_Bx ((1 << SIZE_Bx) - 1)
#define MAXARG_sBx (MAXARG_Bx >> 1)
#define MAXARG_A ((1 << SIZE_A) - 1)
#define MAXARG_B ((1 << SIZE_B) - 1)
#define MAXARG_C ((1 << SIZE_C) - 1)

#define MASK1(n, p) ((~((~(Instruction)0) << (n))) << (p))
#define MASK0(n, p) (~MASK1(n, p))

#define GET_OPCODE(i) (static_cast<OpCode>(((i) >> POS_OP) & MASK1(SIZE_OP, 0)))
#define SET_OPCODE(i, o) ((i) = (((i) & MASK0(SIZE_OP, POS_OP)) | ((static_cast<Instruction>(o) << POS_OP) & MASK1(SIZE_OP, POS_OP))))
#define GETARG_A(i) (static_cast<int>(((i) >> POS_A) & MASK1(SIZE_A, 0)))
#define SETARG_A(i, u) ((i) = (((i) & MASK0(SIZE_A, POS_A)) | ((static_cast<Instruction>(u) << POS_A) & MASK1(SIZE_A, POS_A))))
#define GETARG_B(i) (static_cast<int>(((i) >> POS_B) & MASK1(SIZE_B, 0)))
#define SETARG_B(i, b) ((i) = (((i) & MASK0(SIZE_B, POS_B)) | ((static_cast<Instruction>(b) << POS_B) & MASK1(SIZE_B, POS_B))))
#define GETARG_C(i) (static_cast<int>(((i) >> POS_C) & MASK1(SIZE_C, 0)))
#define SETARG_C(i, b) ((i) = (((i) & MASK0(SIZE_C, POS_C)) | ((static_cast<Instruction>(b) << POS_C) & MASK1(SIZE_C, POS_C))))
#define GETARG_Bx(i) (static_cast<int>(((i) >> POS_Bx) & MASK1(SIZE_Bx, 0)))
#define SETARG_Bx(i, b) ((i) = (((i) & MASK0(SIZE_Bx, POS_Bx)) | ((static_cast<Instruction>(b) << POS_Bx) & MASK1(SIZE_Bx, POS_Bx))))
#define GETARG_sBx(i) (GETARG_Bx(i) - MAXARG_sBx)
#define SETARG_sBx(i, b) SETARG_Bx((i), static_cast<unsigned int>((b) + MAXARG_sBx))

#define CREATE_ABC(o, a, b, c) ((static_cast<Instruction>(o) << POS_OP) | (static_cast<Instruction>(a) << POS_A) \
  | (static_cast<Instruction>(b) << POS_B) | (static_cast<Instruction>(c) << POS_C))
#define CREATE_ABx(o, a, bc) ((static_cast<Instruction>(o) << POS_OP) | (static_cast<Instruction>(a) << POS_A) \
  | (static_cast<Instruction>(bc) << POS_Bx))

// B or C of kind K: 256 and above name constants
#define BITRK (1 << (SIZE_B - 1))
#define ISK(x) ((x) & BITRK)
#define INDEXK(r) (static_cast<int>(r) & ~BITRK)
#define MAXINDEXRK (BITRK - 1)
#define RKASK(x) ((x) | BITRK)

#define NO_REG MAXARG_A

enum OpCode : int {
  OP_MOVE, OP_LOADK, OP_LOADBOOL, OP_LOADNIL, OP_GETUPVAL, OP_GETGLOBAL, OP_GETTABLE,
  OP_SETGLOBAL, OP_SETUPVAL, OP_SETTABLE, OP_NEWTABLE, OP_SELF,
  OP_ADD, OP_SUB, OP_MUL, OP_DIV, OP_MOD, OP_POW,
  OP_BOR, OP_BAND, OP_BXOR, OP_BLSHFT, OP_BRSHFT, OP_BNOT, OP_INTDIV,
  OP_UNM, OP_NOT, OP_LEN, OP_CONCAT, OP_JMP, OP_EQ, OP_LT, OP_LE, OP_TEST, OP_TESTSET,
  OP_CALL, OP_TAILCALL, OP_RETURN, OP_FORLOOP, OP_FORPREP, OP_TFORLOOP, OP_SETLIST,
  OP_CLOSE, OP_CLOSURE, OP_VARARG
};
#define NUM_OPCODES (static_cast<int>(OP_VARARG) + 1)
static_assert(NUM_OPCODES == 45, "opcode count");

enum OpArgMask : int { OpArgN, OpArgU, OpArgR, OpArgK };

extern const lu_byte luaP_opmodes[NUM_OPCODES];
extern const char* const luaP_opnames[NUM_OPCODES + 1];

#define getOpMode(m) (static_cast<OpMode>(luaP_opmodes[m] & 3))
#define getBMode(m) (static_cast<OpArgMask>((luaP_opmodes[m] >> 4) & 3))
#define getCMode(m) (static_cast<OpArgMask>((luaP_opmodes[m] >> 2) & 3))
#define testAMode(m) (luaP_opmodes[m] & (1 << 6))
#define testTMode(m) (luaP_opmodes[m] & (1 << 7))

#define LFIELDS_PER_FLUSH 50
