// Shared part of the loader fuzz targets: a state with a memory ceiling and
// an instruction budget, so every input ends quickly one way or another.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>

#include "lua/lauxlib.h"
#include "lua/lua.h"
#include "lua/lualib.h"

namespace fuzztarget {

// Memory and work of one input. Work is shared by every thread of the
// state: coroutines inherit the hook but count from zero, so a tree of
// coroutines each running a few instructions would never reach a count of
// its own.
struct Budget {
  size_t used = 0;
  size_t limit = 32u << 20;
  long steps = 20000; // instructions (counted by the hundred) and calls
};

inline void* budgetAlloc(void* ud, void* ptr, size_t osize, size_t nsize) {
  Budget* b = static_cast<Budget*>(ud);
  if (nsize == 0) {
    std::free(ptr);
    b->used -= osize;
    return nullptr;
  }
  if (nsize > osize && b->used + (nsize - osize) > b->limit) return nullptr;
  void* p = std::realloc(ptr, nsize);
  if (p != nullptr) b->used = b->used - osize + nsize;
  return p;
}

// Loads the bytes as a chunk (source or precompiled by the first byte) and
// runs what loads, with a bounded number of instructions.
inline void loadAndRun(const uint8_t* data, size_t size) {
  Budget budget;
  lua_State* L = lua_newstate(budgetAlloc, &budget);
  if (L == nullptr) return;
  if (lua_cpcall(L, [](lua_State* L) { luaL_openlibs(L); return 0; }, nullptr) == 0) {
    lua_pushnil(L);
    lua_setglobal(L, "print");
    lua_pushnil(L);
    lua_setglobal(L, "io");
    lua_pushnil(L);
    lua_setglobal(L, "os");
    // Once spent, the budget stays spent: the hook fires at every
    // instruction from then on, and nothing more can be allocated, so the
    // error it raises (its message cannot be made) is a memory error. Those
    // run no error handler: a handler that calls back into the script
    // (every error in a handler runs the handler again, with hooks off
    // while the hook's own error is being raised) cannot keep it going.
    lua_sethook(L,
                [](lua_State* L, lua_Debug* ar) {
                  void* ud = nullptr;
                  lua_getallocf(L, &ud);
                  Budget* b = static_cast<Budget*>(ud);
                  b->steps -= ar->event == LUA_HOOKCOUNT ? 100 : 1;
                  if (b->steps > 0) return;
                  b->limit = 0;
                  lua_sethook(L, lua_gethook(L), LUA_MASKCOUNT, 1);
                  luaL_error(L, "instruction budget spent");
                },
                LUA_MASKCOUNT | LUA_MASKCALL, 100);
    if (luaL_loadbuffer(L, reinterpret_cast<const char*>(data), size, "=fuzz") == 0)
      lua_pcall(L, 0, 0, 0);
  }
  lua_close(L);
  if (budget.used != 0) std::abort();  // everything must be released
}

}  // namespace fuzztarget
