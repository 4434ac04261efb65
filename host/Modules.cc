#include "host/Modules.hh"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bind/LuaWrapper.hh"

// Plain zero-initialised storage: registration runs from static
// initialisers of other files, before any constructor of this one could.
ModuleEntry* extmods = nullptr;
unsigned extmodn = 0;

void regmodule(const char* name, lua_CFunction open) {
  void* grown = std::realloc(extmods, (extmodn + 1) * sizeof(ModuleEntry));
  if (grown == nullptr) {
    std::fprintf(stderr, "regmodule: no memory for %s\n", name);
    return;
  }
  extmods = static_cast<ModuleEntry*>(grown);
  extmods[extmodn] = ModuleEntry{name, open};
  ++extmodn;
}

int builtin_loader(lua_State* L, const std::string& name) {
  for (unsigned i = 0; i < extmodn; ++i) {
    if (name.size() == std::strlen(extmods[i].name) && name == extmods[i].name) {
      lua_pushcfunction(L, extmods[i].open);
      return 1;
    }
  }
  return 0;
}

int builtin_loader_entry(lua_State* L) { return LuaWrapper::FunctionWrapper<&builtin_loader>::Wrapper(L); }
