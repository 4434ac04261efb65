// Allocation through the state's allocator, with accounting.
#pragma once

#include "lua/state.hh"

// Every allocation of the interpreter goes through here; failure raises
// LUA_ERRMEM ("not enough memory").
void* luaM_realloc_(lua_State* L, void* block, size_t oldsize, size_t size);
void luaM_toobig(lua_State* L);
void* luaM_growaux_(lua_State* L, void* block, int* size, size_t size_elem, int limit,
                    const char* errormsg);

#define MINSIZEARRAY 4

#define luaM_reallocv(L, b, on, n, e)                                             \
  ((static_cast<size_t>(n) + 1 <= MAX_SIZET / (e)) ? luaM_realloc_(L, (b), (on) * (e), (n) * (e)) \
                                                   : (luaM_toobig(L), static_cast<void*>(nullptr)))
#define luaM_freemem(L, b, s) luaM_realloc_(L, (b), (s), 0)
#define luaM_free(L, b) luaM_realloc_(L, (b), sizeof(*(b)), 0)
#define luaM_freearray(L, b, n, t) luaM_reallocv(L, (b), n, 0, sizeof(t))
#define luaM_malloc(L, t) luaM_realloc_(L, nullptr, 0, (t))
#define luaM_new(L, t) static_cast<t*>(luaM_malloc(L, sizeof(t)))
#define luaM_newvector(L, n, t) static_cast<t*>(luaM_reallocv(L, nullptr, 0, n, sizeof(t)))
#define luaM_growvector(L, v, nelems, size, t, limit, e) \
  if ((nelems) + 1 > (size)) ((v) = static_cast<t*>(luaM_growaux_(L, v, &(size), sizeof(t), limit, e)))
#define luaM_reallocvector(L, v, oldn, n, t) \
  ((v) = static_cast<t*>(luaM_reallocv(L, v, oldn, n, sizeof(t))))

// buffers
#define luaZ_initbuffer(L, buff) ((buff)->buffer = nullptr, (buff)->buffsize = 0, (buff)->n = 0)
#define luaZ_buffer(buff) ((buff)->buffer)
#define luaZ_sizebuffer(buff) ((buff)->buffsize)
#define luaZ_bufflen(buff) ((buff)->n)
#define luaZ_resetbuffer(buff) ((buff)->n = 0)
#define luaZ_resizebuffer(L, buff, size) \
  (luaM_reallocvector(L, (buff)->buffer, (buff)->buffsize, size, char), (buff)->buffsize = size)
#define luaZ_freebuffer(L, buff) luaZ_resizebuffer(L, buff, 0)
char* luaZ_openspace(lua_State* L, Mbuffer* buff, size_t n);
