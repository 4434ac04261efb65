// Reader of precompiled chunks. Everything read is untrusted: counts grow
// their vectors only as the bytes arrive, and the code of every function is
// verified before any of it can run.
#include <algorithm>
#include <cassert>
#include <string>

#include "lua/debug.hh"
#include "lua/do.hh"
#include "lua/func.hh"
#include "lua/gc.hh"
#include "lua/mem.hh"
#include "lua/object.hh"
#include "lua/opcodes.hh"
#include "lua/state.hh"
#include "lua/string.hh"
#include "lua/vario.hh"
#include "lua/zio.hh"

namespace {

const unsigned char kHeader[8] = {0xB7, 'Q', 'Z', 'R', 0x51, 0x00, 0x08, 0x00};
const int kMaxDepth = 200;
const int kFirstSlots = 64;  // vectors start this small and grow as data arrives
const size_t kStringPiece = 64 * 1024;

struct LoadState {
  lua_State* L;
  ZIO* Z;
  const char* name;
  int depth;
};

[[noreturn]] void error(LoadState* S, const char* why) {
  luaO_pushfstring(S->L, "%s: %s in precompiled chunk", S->name, why);
  luaD_throw(S->L, LUA_ERRSYNTAX);
}

void loadBlock(LoadState* S, void* b, size_t size) {
  if (luaZ_read(S->Z, b, size) != 0) error(S, "unexpected end");
}

int loadByte(LoadState* S) {
  int c = zgetc(S->Z);
  if (c == EOZ) error(S, "unexpected end");
  return c;
}

uint32_t loadWord(LoadState* S) {
  uint32_t v = 0;
  if (!vario::decode(4, [S]() { return zgetc(S->Z); }, &v, nullptr)) error(S, "unexpected end");
  return v;
}

int loadInt(LoadState* S) { return static_cast<int32_t>(loadWord(S)); }

int loadNonNegative(LoadState* S) {
  int n = loadInt(S);
  if (n < 0) error(S, "bad integer");
  return n;
}

lua_Number loadNumber(LoadState* S) {
  double d = 0;
  if (!vario::decode(8, [S]() { return zgetc(S->Z); }, nullptr, &d)) error(S, "unexpected end");
  return d;
}

TString* loadString(LoadState* S) {
  size_t size = static_cast<size_t>(loadNonNegative(S));
  if (size == 0) return nullptr;  // absent
  size_t len = size - 1;
  std::string bytes;
  while (bytes.size() < len) {  // a declared length is believed only as far as the bytes go
    size_t at = bytes.size();
    size_t piece = std::min(kStringPiece, len - at);
    bytes.resize(at + piece);
    loadBlock(S, &bytes[at], piece);
  }
  for (size_t i = 0; i < len; i++) bytes[i] = static_cast<char>(bytes[i] ^ kHeader[i % 4]);
  return luaS_newlstr(S->L, bytes.data(), len);
}

// Makes room for slot `index` of a vector that will hold `total` slots.
// The size field always equals the allocation, new slots are empty, so the
// collector sees a consistent prototype at every allocation.
template <typename T>
void reserveSlot(lua_State* L, T*& v, int& size, int index, int total) {
  if (index < size) return;
  int newsize = size == 0 ? std::min(total, kFirstSlots) : std::min(total, std::max(size * 2, index + 1));
  luaM_reallocvector(L, v, size, newsize, T);
  for (int i = size; i < newsize; i++) v[i] = T();
  size = newsize;
}

template <typename T>
void trimVector(lua_State* L, T*& v, int& size, int n) {
  if (size > n) {
    luaM_reallocvector(L, v, size, n, T);
    size = n;
  }
}

Proto* loadFunction(LoadState* S, TString* parentSource);

void loadCode(LoadState* S, Proto* f) {
  int n = loadNonNegative(S);
  for (int i = 0; i < n; i++) {
    reserveSlot(S->L, f->code, f->sizecode, i, n);
    f->code[i] = loadWord(S);
  }
  trimVector(S->L, f->code, f->sizecode, n);
}

void loadConstants(LoadState* S, Proto* f) {
  lua_State* L = S->L;
  int n = loadNonNegative(S);
  for (int i = 0; i < n; i++) {
    reserveSlot(L, f->k, f->sizek, i, n);
    TValue* o = &f->k[i];
    switch (loadByte(S)) {
      case LUA_TNIL:
        setnilvalue(o);
        break;
      case LUA_TBOOLEAN:
        setbvalue(o, loadByte(S) != 0);
        break;
      case LUA_TNUMBER:
        setnvalue(o, loadNumber(S));
        break;
      case LUA_TSTRING: {
        TString* s = loadString(S);
        if (s == nullptr) error(S, "bad constant");
        o = &f->k[i];
        setsvalue2n(L, o, s);
        luaC_objbarrier(L, f, s);
        break;
      }
      default:
        error(S, "bad constant");
    }
  }
  trimVector(L, f->k, f->sizek, n);
  n = loadNonNegative(S);
  for (int i = 0; i < n; i++) {
    reserveSlot(L, f->p, f->sizep, i, n);
    Proto* p = loadFunction(S, f->source);
    f->p[i] = p;
    luaC_objbarrier(L, f, p);
  }
  trimVector(L, f->p, f->sizep, n);
}

void loadDebug(LoadState* S, Proto* f) {
  lua_State* L = S->L;
  int n = loadNonNegative(S);
  for (int i = 0; i < n; i++) {
    reserveSlot(L, f->lineinfo, f->sizelineinfo, i, n);
    f->lineinfo[i] = loadInt(S);
  }
  trimVector(L, f->lineinfo, f->sizelineinfo, n);
  n = loadNonNegative(S);
  for (int i = 0; i < n; i++) {
    reserveSlot(L, f->locvars, f->sizelocvars, i, n);
    TString* name = loadString(S);
    f->locvars[i].varname = name;
    if (name) luaC_objbarrier(L, f, name);
    f->locvars[i].startpc = loadNonNegative(S);
    f->locvars[i].endpc = loadNonNegative(S);
  }
  trimVector(L, f->locvars, f->sizelocvars, n);
  n = loadNonNegative(S);
  for (int i = 0; i < n; i++) {
    reserveSlot(L, f->upvalues, f->sizeupvalues, i, n);
    TString* name = loadString(S);
    f->upvalues[i] = name;
    if (name) luaC_objbarrier(L, f, name);
  }
  trimVector(L, f->upvalues, f->sizeupvalues, n);
}

Proto* loadFunction(LoadState* S, TString* parentSource) {
  lua_State* L = S->L;
  if (++S->depth > kMaxDepth) error(S, "code too deep");
  Proto* f = luaF_newproto(L);
  setptvalue2s(L, L->top, f);  // anchored while it is read
  incr_top(L);
  TString* source = loadString(S);
  f->source = source ? source : parentSource;
  if (f->source) luaC_objbarrier(L, f, f->source);
  f->linedefined = loadNonNegative(S);
  f->lastlinedefined = loadNonNegative(S);
  f->nups = static_cast<lu_byte>(loadByte(S));
  f->numparams = static_cast<lu_byte>(loadByte(S));
  f->is_vararg = static_cast<lu_byte>(loadByte(S));
  f->maxstacksize = static_cast<lu_byte>(loadByte(S));
  loadCode(S, f);
  loadConstants(S, f);
  loadDebug(S, f);
  if (!luaG_checkcode(f)) error(S, "bad code");
  L->top--;
  S->depth--;
  return f;
}

void loadHeader(LoadState* S) {
  unsigned char h[sizeof kHeader];
  loadBlock(S, h, sizeof h);
  if (std::memcmp(h, kHeader, sizeof h) != 0) error(S, "bad header");
}

}  // namespace

Proto* luaU_undump(lua_State* L, ZIO* Z, Mbuffer*, const char* name) {
  LoadState S;
  if (*name == '@' || *name == '=')
    S.name = name + 1;
  else if (static_cast<unsigned char>(*name) == kHeader[0])
    S.name = "binary string";
  else
    S.name = name;
  S.L = L;
  S.Z = Z;
  S.depth = 0;
  loadHeader(&S);
  return loadFunction(&S, luaS_newliteral(L, "=?"));
}

const void* VarioDeCode(void* value, int width, VarioGet get, void* context) {
  auto next = [get, context]() { return get(context); };
  if (width == 4) {
    if (!vario::decode(4, next, static_cast<uint32_t*>(value), nullptr)) *static_cast<uint32_t*>(value) = 0;
  } else if (width == 8) {
    if (!vario::decode(8, next, nullptr, static_cast<double*>(value))) *static_cast<double*>(value) = 0;
  } else {
    varioBadWidth();
  }
  return value;
}
