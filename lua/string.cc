// Interned strings and userdata.
#include "lua/do.hh"
#include "lua/mem.hh"
#include "lua/string.hh"

void luaS_resize(lua_State* L, int newsize) {
  if (G(L)->gcstate == GCSsweepstring) return;  // cannot resize during GC traverse
  GCObject** newhash = luaM_newvector(L, newsize, GCObject*);
  stringtable* tb = &G(L)->strt;
  for (int i = 0; i < newsize; i++) newhash[i] = nullptr;
  for (int i = 0; i < tb->size; i++) {
    GCObject* p = tb->hash[i];
    while (p) {
      GCObject* next = p->next;
      unsigned int h = static_cast<TString*>(p)->hash;
      int h1 = lmod(h, newsize);
      p->next = newhash[h1];
      newhash[h1] = p;
      p = next;
    }
  }
  luaM_freearray(L, tb->hash, tb->size, TString*);
  tb->size = newsize;
  tb->hash = newhash;
}

unsigned int luaS_hash(const char* str, size_t l) {
  unsigned int h = static_cast<unsigned int>(l);
  size_t step = (l >> 5) + 1;  // long strings: hash only a sample
  for (size_t l1 = l; l1 >= step; l1 -= step)
    h = h ^ ((h << 5) + (h >> 2) + static_cast<unsigned char>(str[l1 - 1]));
  return h;
}

static TString* allocstr(lua_State* L, size_t l) {
  if (l + 1 > (MAX_SIZET - sizeof(TString)) / sizeof(char)) luaM_toobig(L);
  TString* ts = static_cast<TString*>(luaM_malloc(L, (l + 1) * sizeof(char) + sizeof(TString)));
  ts->len = l;
  ts->hash = 0;
  ts->marked = luaC_white(G(L));
  ts->tt = LUA_TSTRING;
  ts->reserved = 0;
  getstr(ts)[l] = '\0';
  return ts;
}

static TString* linkstr(lua_State* L, TString* ts, unsigned int h) {
  ts->hash = h;
  stringtable* tb = &G(L)->strt;
  h = lmod(h, tb->size);
  ts->next = tb->hash[h];
  tb->hash[h] = ts;
  tb->nuse++;
  if (tb->nuse > static_cast<lu_int32>(tb->size) && tb->size <= MAX_INT / 2)
    luaS_resize(L, tb->size * 2);
  return ts;
}

static TString* findstr(lua_State* L, const char* str, size_t l, unsigned int h) {
  for (GCObject* o = G(L)->strt.hash[lmod(h, G(L)->strt.size)]; o != nullptr; o = o->next) {
    TString* ts = static_cast<TString*>(o);
    if (ts->hash == h && ts->len == l && (l == 0 || memcmp(str, getstr(ts), l) == 0)) {
      // string may be dead
      if (isdead(G(L), o)) changewhite(o);
      return ts;
    }
  }
  return nullptr;
}

TString* luaS_newlstr(lua_State* L, const char* str, size_t l) {
  unsigned int h = luaS_hash(str, l);
  if (TString* ts = findstr(L, str, l, h)) return ts;
  TString* ts = allocstr(L, l);
  if (l) memcpy(getstr(ts), str, l * sizeof(char));  // str may be NULL when l is 0
  return linkstr(L, ts, h);
}

TString* luaS_reserve(lua_State* L, size_t l) { return allocstr(L, l); }

TString* luaS_intern(lua_State* L, TString* ts) {
  size_t l = ts->len;
  unsigned int h = luaS_hash(getstr(ts), l);
  if (TString* old = findstr(L, getstr(ts), l, h)) {
    luaM_freemem(L, ts, sizestring(ts));
    return old;
  }
  return linkstr(L, ts, h);
}

Udata* luaS_newudata(lua_State* L, size_t s, Table* e) {
  if (s > MAX_SIZET - sizeof(Udata)) luaM_toobig(L);
  Udata* u = static_cast<Udata*>(luaM_malloc(L, s + sizeof(Udata)));
  u->marked = luaC_white(G(L));  // is not finalized
  u->tt = LUA_TUSERDATA;
  u->len = s;
  u->metatable = nullptr;
  u->env = e;
  // chain it on udata list (after main thread)
  u->next = G(L)->mainthread->next;
  G(L)->mainthread->next = u;
  return u;
}
