// Buffered input over a reader function.
#include <cstring>
#include <exception>
#include <new>

#include "lua/do.hh"
#include "lua/zio.hh"

int luaZ_fill(ZIO* z) {
  size_t size = 0;
  const char* buff;
  // the reader is host code: its exceptions become load errors here
  try {
    buff = z->reader(z->L, z->data, &size);
  } catch (const LuaThrow&) {  // a script error raised by the reader goes on as it is
    throw;
  } catch (const std::bad_alloc&) {
    luaD_throw(z->L, LUA_ERRMEM);
  } catch (const std::exception& e) {
    lua_pushstring(z->L, e.what());
    luaD_throw(z->L, LUA_ERRSYNTAX);
  } catch (...) {
    lua_pushstring(z->L, "unknown native exception in chunk reader");
    luaD_throw(z->L, LUA_ERRSYNTAX);
  }
  if (buff == nullptr || size == 0) return EOZ;
  z->n = size - 1;
  z->p = buff;
  return static_cast<int>(static_cast<unsigned char>(*(z->p++)));
}

int luaZ_lookahead(ZIO* z) {
  if (z->n == 0) {
    if (luaZ_fill(z) == EOZ) return EOZ;
    z->n++;  // luaZ_fill removed first byte; put back it
    z->p--;
  }
  return static_cast<int>(static_cast<unsigned char>(*z->p));
}

void luaZ_init(lua_State* L, ZIO* z, lua_Reader reader, void* data) {
  z->L = L;
  z->reader = reader;
  z->data = data;
  z->n = 0;
  z->p = nullptr;
}

size_t luaZ_read(ZIO* z, void* b, size_t n) {
  while (n) {
    if (luaZ_lookahead(z) == EOZ) return n;  // return number of missing bytes
    size_t m = (n <= z->n) ? n : z->n;
    memcpy(b, z->p, m);
    z->n -= m;
    z->p += m;
    b = static_cast<char*>(b) + m;
    n -= m;
  }
  return 0;
}
