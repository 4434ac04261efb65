// Input stream over a lua_Reader, used by the parser and the chunk reader.
#pragma once

#include "lua/state.hh"

#define EOZ (-1)

struct Zio {
  size_t n;  // bytes still unread
  const char* p;  // current position in buffer
  lua_Reader reader;
  void* data;
  lua_State* L;
};
typedef Zio ZIO;

int luaZ_fill(ZIO* z);
#define zgetc(z) (((z)->n--) > 0 ? static_cast<int>(static_cast<unsigned char>(*(z)->p++)) : luaZ_fill(z))
void luaZ_init(lua_State* L, ZIO* z, lua_Reader reader, void* data);
size_t luaZ_read(ZIO* z, void* b, size_t n);  // returns the bytes missing
int luaZ_lookahead(ZIO* z);
