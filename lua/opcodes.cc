// Opcode names and modes.
#include "lua/opcodes.hh"

const char* const luaP_opnames[NUM_OPCODES + 1] = {
  "MOVE", "LOADK", "LOADBOOL", "LOADNIL", "GETUPVAL", "GETGLOBAL", "GETTABLE",
  "SETGLOBAL", "SETUPVAL", "SETTABLE", "NEWTABLE", "SELF",
  "ADD", "SUB", "MUL", "DIV", "MOD", "POW",
  "BOR", "BAND", "BXOR", "BLSHFT", "BRSHFT", "BNOT", "INTDIV",
  "UNM", "NOT", "LEN", "CONCAT", "JMP", "EQ", "LT", "LE", "TEST", "TESTSET",
  "CALL", "TAILCALL", "RETURN", "FORLOOP", "FORPREP", "TFORLOOP", "SETLIST",
  "CLOSE", "CLOSURE", "VARARG", nullptr
};

#define opmode(t, a, b, c, m) (((t) << 7) | ((a) << 6) | ((b) << 4) | ((c) << 2) | (m))

const lu_byte luaP_opmodes[NUM_OPCODES] = {
  opmode(0, 1, OpArgR, OpArgN, iABC),   // MOVE
  opmode(0, 1, OpArgK, OpArgN, iABx),   // LOADK
  opmode(0, 1, OpArgU, OpArgU, iABC),   // LOADBOOL
  opmode(0, 1, OpArgR, OpArgN, iABC),   // LOADNIL
  opmode(0, 1, OpArgU, OpArgN, iABC),   // GETUPVAL
  opmode(0, 1, OpArgK, OpArgN, iABx),   // GETGLOBAL
  opmode(0, 1, OpArgR, OpArgK, iABC),   // GETTABLE
  opmode(0, 0, OpArgK, OpArgN, iABx),   // SETGLOBAL
  opmode(0, 0, OpArgU, OpArgN, iABC),   // SETUPVAL
  opmode(0, 0, OpArgK, OpArgK, iABC),   // SETTABLE
  opmode(0, 1, OpArgU, OpArgU, iABC),   // NEWTABLE
  opmode(0, 1, OpArgR, OpArgK, iABC),   // SELF
  opmode(0, 1, OpArgK, OpArgK, iABC),   // ADD
  opmode(0, 1, OpArgK, OpArgK, iABC),   // SUB
  opmode(0, 1, OpArgK, OpArgK, iABC),   // MUL
  opmode(0, 1, OpArgK, OpArgK, iABC),   // DIV
  opmode(0, 1, OpArgK, OpArgK, iABC),   // MOD
  opmode(0, 1, OpArgK, OpArgK, iABC),   // POW
  opmode(0, 1, OpArgK, OpArgK, iABC),   // BOR
  opmode(0, 1, OpArgK, OpArgK, iABC),   // BAND
  opmode(0, 1, OpArgK, OpArgK, iABC),   // BXOR
  opmode(0, 1, OpArgK, OpArgK, iABC),   // BLSHFT
  opmode(0, 1, OpArgK, OpArgK, iABC),   // BRSHFT
  opmode(0, 1, OpArgR, OpArgN, iABC),   // BNOT
  opmode(0, 1, OpArgK, OpArgK, iABC),   // INTDIV
  opmode(0, 1, OpArgR, OpArgN, iABC),   // UNM
  opmode(0, 1, OpArgR, OpArgN, iABC),   // NOT
  opmode(0, 1, OpArgR, OpArgN, iABC),   // LEN
  opmode(0, 1, OpArgR, OpArgR, iABC),   // CONCAT
  opmode(0, 0, OpArgR, OpArgN, iAsBx),  // JMP
  opmode(1, 0, OpArgK, OpArgK, iABC),   // EQ
  opmode(1, 0, OpArgK, OpArgK, iABC),   // LT
  opmode(1, 0, OpArgK, OpArgK, iABC),   // LE
  opmode(1, 1, OpArgR, OpArgU, iABC),   // TEST
  opmode(1, 1, OpArgR, OpArgU, iABC),   // TESTSET
  opmode(0, 1, OpArgU, OpArgU, iABC),   // CALL
  opmode(0, 1, OpArgU, OpArgU, iABC),   // TAILCALL
  opmode(0, 0, OpArgU, OpArgN, iABC),   // RETURN
  opmode(0, 1, OpArgR, OpArgN, iAsBx),  // FORLOOP
  opmode(0, 1, OpArgR, OpArgN, iAsBx),  // FORPREP
  opmode(1, 0, OpArgN, OpArgU, iABC),   // TFORLOOP
  opmode(0, 0, OpArgU, OpArgU, iABC),   // SETLIST
  opmode(0, 0, OpArgN, OpArgN, iABC),   // CLOSE
  opmode(0, 1, OpArgU, OpArgN, iABx),   // CLOSURE
  opmode(0, 1, OpArgU, OpArgN, iABC),   // VARARG
};
