// Allocation with accounting; failures raise memory errors.
#include "lua/debug.hh"
#include "lua/do.hh"
#include "lua/mem.hh"

void* luaM_growaux_(lua_State* L, void* block, int* size, size_t size_elems, int limit,
                    const char* errormsg) {
  int newsize;
  if (*size >= limit / 2) {  // cannot double it?
    if (*size >= limit) luaG_runerror(L, errormsg);
    newsize = limit;  // still have at least one free place
  } else {
    newsize = (*size) * 2;
    if (newsize < MINSIZEARRAY) newsize = MINSIZEARRAY;
  }
  void* newblock = luaM_reallocv(L, block, *size, newsize, size_elems);
  *size = newsize;
  return newblock;
}

void luaM_toobig(lua_State* L) {
  luaG_runerror(L, "memory allocation error: block too big");
}

void* luaM_realloc_(lua_State* L, void* block, size_t osize, size_t nsize) {
  global_State* g = G(L);
  void* result;
  try {
    result = (*g->frealloc)(g->ud, block, osize, nsize);
  } catch (const LuaThrow&) {
    throw;
  } catch (...) {  // a throwing host allocator counts as a failed one
    result = nullptr;
    if (nsize == 0) return nullptr;
  }
  if (result == nullptr && nsize > 0) luaD_throw(L, LUA_ERRMEM);
  block = result;
  g->totalbytes = (g->totalbytes - osize) + nsize;
  return block;
}

char* luaZ_openspace(lua_State* L, Mbuffer* buff, size_t n) {
  if (n > buff->buffsize) {
    if (n < 32) n = 32;
    luaZ_resizebuffer(L, buff, n);
  }
  return buff->buffer;
}
