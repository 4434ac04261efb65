// The "TWAIN" script module: scripts select a source, negotiate its
// capabilities, enable it and take pages by memory or native transfer; the
// source's notifications reach the script globals twainXferReady and
// twainCloseRequest on the main run loop.
#pragma once

#include <cstddef>

#include "lua/lua.h"
#include "twain/Twain.hh"

// Fills the global table TWAIN with the module's functions; no results.
int luaopen_twain(lua_State* L);

namespace twainmodule {

// The module's bridge (null until TWAIN.init) and the state notifications
// go to (null until the module is opened, and again once that state closed).
Norvel::Twain* bridge();
lua_State* state();

// Bytes of one item of the type, 0 for types that cannot be stepped over.
unsigned conv2size(TW_UINT16 itemType);

// Stores the item at `item` (of which `avail` bytes may be read) in the
// table at `table` under the key, converted by its type; a type it cannot
// convert stores nothing and says so on standard error.
void conv2lt(lua_State* L, int table, const char* key, TW_UINT16 itemType, const void* item,
             size_t avail);
void conv2lt(lua_State* L, int table, int key, TW_UINT16 itemType, const void* item, size_t avail);

} // namespace twainmodule
