// Writer of precompiled chunks: header, then the function records with every
// integer, instruction and number in VarioCode and every string masked.
#include <cassert>

#include "lua/do.hh"
#include "lua/object.hh"
#include "lua/state.hh"
#include "lua/vario.hh"

namespace {

const unsigned char kSignature[4] = {0xB7, 'Q', 'Z', 'R'};

struct DumpState {
  lua_State* L;
  lua_Writer writer;
  void* data;
  int status;  // first non-zero writer result; stops all further output
};

void dumpBlock(const void* b, size_t size, DumpState* D) {
  if (D->status == 0) D->status = (*D->writer)(D->L, b, size, D->data);
}

void dumpByte(int y, DumpState* D) {
  unsigned char x = static_cast<unsigned char>(y);
  dumpBlock(&x, 1, D);
}

void dumpBytes(const uint8_t* bytes, int n, DumpState* D) {
  for (int k = 0; k < n; k++) dumpByte(bytes[k], D);  // one piece per byte
}

void dumpInt(int x, DumpState* D) {
  uint8_t out[vario::kMaxBytes];
  dumpBytes(out, vario::encode4(static_cast<uint32_t>(x), out), D);
}

void dumpNumber(lua_Number x, DumpState* D) {
  uint8_t out[vario::kMaxBytes];
  dumpBytes(out, vario::encode8(x, out), D);
}

void dumpString(const TString* s, DumpState* D) {
  if (s == nullptr) {
    dumpInt(0, D);  // absent
    return;
  }
  dumpInt(static_cast<int>(s->len + 1), D);
  const char* str = getstr(s);
  for (size_t i = 0; i < s->len; i++) dumpByte(static_cast<unsigned char>(str[i]) ^ kSignature[i % 4], D);
}

void dumpFunction(const Proto* f, const TString* parentSource, DumpState* D);

void dumpConstants(const Proto* f, DumpState* D) {
  dumpInt(f->sizek, D);
  for (int i = 0; i < f->sizek; i++) {
    const TValue* o = &f->k[i];
    dumpByte(ttype(o), D);
    switch (ttype(o)) {
      case LUA_TNIL:
        break;
      case LUA_TBOOLEAN:
        dumpByte(bvalue(o), D);
        break;
      case LUA_TNUMBER:
        dumpNumber(nvalue(o), D);
        break;
      case LUA_TSTRING:
        dumpString(rawtsvalue(o), D);
        break;
      default:
        assert(0);  // the compiler makes no other constants
        break;
    }
  }
  dumpInt(f->sizep, D);
  for (int i = 0; i < f->sizep; i++) dumpFunction(f->p[i], f->source, D);
}

void dumpDebug(const Proto* f, DumpState* D) {
  dumpInt(f->sizelineinfo, D);
  for (int i = 0; i < f->sizelineinfo; i++) dumpInt(f->lineinfo[i], D);
  dumpInt(f->sizelocvars, D);
  for (int i = 0; i < f->sizelocvars; i++) {
    dumpString(f->locvars[i].varname, D);
    dumpInt(f->locvars[i].startpc, D);
    dumpInt(f->locvars[i].endpc, D);
  }
  dumpInt(f->sizeupvalues, D);
  for (int i = 0; i < f->sizeupvalues; i++) dumpString(f->upvalues[i], D);
}

void dumpFunction(const Proto* f, const TString* parentSource, DumpState* D) {
  dumpString((f->source == parentSource) ? nullptr : f->source, D);
  dumpInt(f->linedefined, D);
  dumpInt(f->lastlinedefined, D);
  dumpByte(f->nups, D);
  dumpByte(f->numparams, D);
  dumpByte(f->is_vararg, D);
  dumpByte(f->maxstacksize, D);
  dumpInt(f->sizecode, D);
  for (int i = 0; i < f->sizecode; i++) dumpInt(static_cast<int>(f->code[i]), D);
  dumpConstants(f, D);
  dumpDebug(f, D);
}

void dumpHeader(DumpState* D) {
  const unsigned char h[8] = {kSignature[0], kSignature[1], kSignature[2], kSignature[3],
                              0x51, 0x00, 0x08, 0x00};
  dumpBlock(h, sizeof h, D);
}

}  // namespace

// Debug information is always written in full; `strip` is ignored.
int luaU_dump(lua_State* L, const Proto* f, lua_Writer w, void* data, int) {
  DumpState D;
  D.L = L;
  D.writer = w;
  D.data = data;
  D.status = 0;
  dumpHeader(&D);
  dumpFunction(f, nullptr, &D);
  return D.status;
}

int VarioEnCode(const void* value, int width, VarioPut put, void* context) {
  uint8_t out[vario::kMaxBytes];
  int n;
  if (width == 4) {
    n = vario::encode4(*static_cast<const uint32_t*>(value), out);
  } else if (width == 8) {
    n = vario::encode8(*static_cast<const double*>(value), out);
  } else {
    varioBadWidth();
  }
  for (int k = 0; k < n; k++) put(out[k], context);
  return n;
}
