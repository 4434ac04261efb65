// Built-in script modules: a process-wide table filled by static
// registration before main, searched by a loader that the host puts in
// front of package.loaders.
#pragma once

#include <string>

#include "lua/lua.h"

struct ModuleEntry {
  const char* name;
  lua_CFunction open;
};

extern ModuleEntry* extmods;
extern unsigned extmodn;

// Appends a module; called from static initialisers only (see RegisterModule).
void regmodule(const char* name, lua_CFunction open);

// Pushes the open function of the module called exactly `name` and returns
// 1, or returns 0 so that require goes on with the next loader.
int builtin_loader(lua_State* L, const std::string& name);

// The loader as a script function (one string argument).
int builtin_loader_entry(lua_State* L);

// Registers a module at start-up:  static RegisterModule posix("Posix", luaopen_posix);
struct RegisterModule {
  RegisterModule(const char* name, lua_CFunction open) { regmodule(name, open); }
};
