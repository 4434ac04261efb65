// Instruction listing of compiled functions (for tests and the runner).
#include <cctype>
#include <cstdio>

#include "lua/debug.hh"
#include "lua/opcodes.hh"
#include "lua/print.hh"

static void printstring(FILE* out, const TString* ts) {
  const char* s = getstr(ts);
  size_t n = ts->len;
  putc('"', out);
  for (size_t i = 0; i < n; i++) {
    int c = static_cast<unsigned char>(s[i]);
    switch (c) {
      case '"': fputs("\\\"", out); break;
      case '\\': fputs("\\\\", out); break;
      case '\a': fputs("\\a", out); break;
      case '\b': fputs("\\b", out); break;
      case '\f': fputs("\\f", out); break;
      case '\n': fputs("\\n", out); break;
      case '\r': fputs("\\r", out); break;
      case '\t': fputs("\\t", out); break;
      case '\v': fputs("\\v", out); break;
      default:
        if (isprint(c)) putc(c, out);
        else fprintf(out, "\\%03d", c);
    }
  }
  putc('"', out);
}

static void printconstant(FILE* out, const Proto* f, int i) {
  const TValue* o = &f->k[i];
  switch (ttype(o)) {
    case LUA_TNIL: fputs("nil", out); break;
    case LUA_TBOOLEAN: fputs(bvalue(o) ? "true" : "false", out); break;
    case LUA_TNUMBER: fprintf(out, LUA_NUMBER_FMT, nvalue(o)); break;
    case LUA_TSTRING: printstring(out, rawtsvalue(o)); break;
    default: fprintf(out, "? type=%d", ttype(o)); break;
  }
}

static void printcode(FILE* out, const Proto* f) {
  const Instruction* code = f->code;
  int n = f->sizecode;
  for (int pc = 0; pc < n; pc++) {
    Instruction i = code[pc];
    OpCode o = GET_OPCODE(i);
    int a = GETARG_A(i);
    int b = GETARG_B(i);
    int c = GETARG_C(i);
    int bx = GETARG_Bx(i);
    int sbx = GETARG_sBx(i);
    int line = getline_(f, pc);
    fprintf(out, "\t%d\t", pc + 1);
    if (line > 0) fprintf(out, "[%d]\t", line);
    else fputs("[-]\t", out);
    if (static_cast<int>(o) >= NUM_OPCODES) {
      fprintf(out, "%-9s\t%u\n", "?", static_cast<unsigned>(i));
      continue;
    }
    fprintf(out, "%-9s\t", luaP_opnames[o]);
    switch (getOpMode(o)) {
      case iABC:
        fprintf(out, "%d", a);
        if (getBMode(o) != OpArgN) fprintf(out, " %d", ISK(b) ? (-1 - INDEXK(b)) : b);
        if (getCMode(o) != OpArgN) fprintf(out, " %d", ISK(c) ? (-1 - INDEXK(c)) : c);
        break;
      case iABx:
        if (getBMode(o) == OpArgK) fprintf(out, "%d %d", a, -1 - bx);
        else fprintf(out, "%d %d", a, bx);
        break;
      case iAsBx:
        if (o == OP_JMP) fprintf(out, "%d", sbx);
        else fprintf(out, "%d %d", a, sbx);
        break;
    }
    switch (o) {
      case OP_LOADK:
        fputs("\t; ", out);
        printconstant(out, f, bx);
        break;
      case OP_GETUPVAL:
      case OP_SETUPVAL:
        fprintf(out, "\t; %s", (f->sizeupvalues > 0 && b < f->sizeupvalues) ? getstr(f->upvalues[b]) : "-");
        break;
      case OP_GETGLOBAL:
      case OP_SETGLOBAL:
        fprintf(out, "\t; %s", ttisstring(&f->k[bx]) ? svalue(&f->k[bx]) : "?");
        break;
      case OP_GETTABLE:
      case OP_SELF:
        if (ISK(c)) {
          fputs("\t; ", out);
          printconstant(out, f, INDEXK(c));
        }
        break;
      // MOD carries no comment, as in the reference listing
      case OP_SETTABLE: case OP_ADD: case OP_SUB: case OP_MUL: case OP_DIV:
      case OP_POW: case OP_BOR: case OP_BAND: case OP_BXOR: case OP_BLSHFT: case OP_BRSHFT:
      case OP_INTDIV: case OP_EQ: case OP_LT: case OP_LE:
        if (ISK(b) || ISK(c)) {
          fputs("\t; ", out);
          if (ISK(b)) printconstant(out, f, INDEXK(b));
          else fputs("-", out);
          fputs(" ", out);
          if (ISK(c)) printconstant(out, f, INDEXK(c));
          else fputs("-", out);
        }
        break;
      case OP_JMP:
      case OP_FORLOOP:
      case OP_FORPREP:
        fprintf(out, "\t; to %d", sbx + pc + 2);
        break;
      case OP_CLOSURE:
        fprintf(out, "\t; %p", static_cast<const void*>(f->p[bx]));
        break;
      case OP_SETLIST:
        if (c == 0) fprintf(out, "\t; %d", static_cast<int>(code[++pc]));
        else fprintf(out, "\t; %d", c);
        break;
      default: break;
    }
    putc('\n', out);
  }
}

#define SS(x) ((x) == 1 ? "" : "s")

static void printheader(FILE* out, const Proto* f) {
  const char* s = getstr(f->source);
  if (*s == '@' || *s == '=') s++;
  else if (*s == LUA_SIGNATURE[0]) s = "(bstring)";
  else s = "(string)";
  fprintf(out, "\n%s <%s:%d,%d> (%d instruction%s, %d bytes at %p)\n",
          (f->linedefined == 0) ? "main" : "function", s, f->linedefined, f->lastlinedefined,
          f->sizecode, SS(f->sizecode), f->sizecode * static_cast<int>(sizeof(Instruction)),
          static_cast<const void*>(f));
  fprintf(out, "%d%s param%s, %d slot%s, %d upvalue%s, ", f->numparams, f->is_vararg ? "+" : "",
          SS(f->numparams), f->maxstacksize, SS(f->maxstacksize), f->nups, SS(f->nups));
  fprintf(out, "%d local%s, %d constant%s, %d function%s\n", f->sizelocvars, SS(f->sizelocvars),
          f->sizek, SS(f->sizek), f->sizep, SS(f->sizep));
}

static void printdebug(FILE* out, const Proto* f) {
  fprintf(out, "constants (%d) for %p:\n", f->sizek, static_cast<const void*>(f));
  for (int i = 0; i < f->sizek; i++) {
    fprintf(out, "\t%d\t", i + 1);
    printconstant(out, f, i);
    putc('\n', out);
  }
  fprintf(out, "locals (%d) for %p:\n", f->sizelocvars, static_cast<const void*>(f));
  for (int i = 0; i < f->sizelocvars; i++) {
    fprintf(out, "\t%d\t%s\t%d\t%d\n", i, getstr(f->locvars[i].varname), f->locvars[i].startpc + 1,
            f->locvars[i].endpc + 1);
  }
  fprintf(out, "upvalues (%d) for %p:\n", f->sizeupvalues, static_cast<const void*>(f));
  for (int i = 0; i < f->sizeupvalues; i++) fprintf(out, "\t%d\t%s\n", i, getstr(f->upvalues[i]));
}

void luaU_print(FILE* out, const Proto* f, int full) {
  printheader(out, f);
  printcode(out, f);
  if (full) printdebug(out, f);
  for (int i = 0; i < f->sizep; i++) luaU_print(out, f->p[i], full);
}
