// Package library: require, module and the search loaders. This platform
// has no dynamic loading of native modules; the native loaders still search
// package.cpath so that messages name the files found.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lauxlib.h"
#include "lualib.h"

#define LUA_PATH_DEFAULT                                                             \
  "./?.lua;/usr/share/lua/5.1/?.lua;/usr/share/lua/5.1/?/init.lua;/usr/lib/lua/5.1/?.lua;" \
  "/usr/lib/lua/5.1/?/init.lua"
#define LUA_CPATH_DEFAULT "./?.so;/usr/lib/lua/5.1/?.so;/usr/lib/lua/5.1/loadall.so"

#define LIBPREFIX "LOADLIB: "
#define DLMSG "dynamic libraries not enabled; check your Lua installation"

// The package table is upvalue 1 of the loaders and of require.
#define PACKAGE lua_upvalueindex(1)

enum { ERRLIB = 1, ERRFUNC = 2 };

// Handle record of a native library, kept in the registry per path.
static void** ll_register(lua_State* L, const char* path) {
  void** plib;
  lua_pushfstring(L, "%s%s", LIBPREFIX, path);
  lua_gettable(L, LUA_REGISTRYINDEX);
  if (!lua_isnil(L, -1)) {
    plib = static_cast<void**>(lua_touserdata(L, -1));
  } else {
    lua_pop(L, 1);
    plib = static_cast<void**>(lua_newuserdata(L, sizeof(void*)));
    *plib = nullptr;
    luaL_getmetatable(L, "_LOADLIB");
    lua_setmetatable(L, -2);
    lua_pushfstring(L, "%s%s", LIBPREFIX, path);
    lua_pushvalue(L, -2);
    lua_settable(L, LUA_REGISTRYINDEX);
  }
  return plib;
}

// Releases nothing: no library is ever opened.
static int gctm(lua_State* L) {
  void** lib = static_cast<void**>(luaL_checkudata(L, 1, "_LOADLIB"));
  *lib = nullptr;
  return 0;
}

static int ll_loadfunc(lua_State* L, const char* path, const char*) {
  void** reg = ll_register(L, path);
  if (*reg == nullptr) {
    lua_pushliteral(L, DLMSG);
    return ERRLIB;
  }
  return ERRFUNC;  // not reached: no handle is ever stored
}

static int ll_loadlib(lua_State* L) {
  const char* path = luaL_checkstring(L, 1);
  const char* init = luaL_checkstring(L, 2);
  int stat = ll_loadfunc(L, path, init);
  if (stat == 0) return 1;
  lua_pushnil(L);
  lua_insert(L, -2);
  lua_pushstring(L, stat == ERRLIB ? "absent" : "init");
  return 3;
}

// ---- searching --------------------------------------------------------------

static int readable(const char* filename) {
  FILE* f = std::fopen(filename, "r");
  if (f == nullptr) return 0;
  std::fclose(f);
  return 1;
}

static const char* pushnexttemplate(lua_State* L, const char* path) {
  while (*path == ';') path++;
  if (*path == '\0') return nullptr;
  const char* l = std::strchr(path, ';');
  if (l == nullptr) l = path + std::strlen(path);
  lua_pushlstring(L, path, size_t(l - path));
  return l;
}

// Returns the first readable file of package[pname] for the module name,
// or NULL with the list of files tried on the stack.
static const char* findfile(lua_State* L, const char* name, const char* pname) {
  name = luaL_gsub(L, name, ".", "/");
  lua_getfield(L, PACKAGE, pname);
  const char* path = lua_tostring(L, -1);
  if (path == nullptr) luaL_error(L, "'package.%s' must be a string", pname);
  lua_pushliteral(L, "");
  while ((path = pushnexttemplate(L, path)) != nullptr) {
    const char* filename = luaL_gsub(L, lua_tostring(L, -1), "?", name);
    lua_remove(L, -2);
    if (readable(filename)) return filename;
    lua_pushfstring(L, "\n\tno file '%s'", filename);
    lua_remove(L, -2);
    lua_concat(L, 2);
  }
  return nullptr;
}

static void loader_error(lua_State* L, const char* filename) {
  luaL_error(L, "error loading module '%s' from file '%s':\n\t%s", lua_tostring(L, 1), filename,
             lua_tostring(L, -1));
}

static int loader_Lua(lua_State* L) {
  const char* name = luaL_checkstring(L, 1);
  const char* filename = findfile(L, name, "path");
  if (filename == nullptr) return 1;
  if (luaL_loadfile(L, filename) != 0) loader_error(L, filename);
  return 1;
}

static const char* mkfuncname(lua_State* L, const char* modname) {
  const char* mark = std::strchr(modname, '-');
  if (mark) modname = mark + 1;
  const char* funcname = luaL_gsub(L, modname, ".", "_");
  funcname = lua_pushfstring(L, "luaopen_%s", funcname);
  lua_remove(L, -2);
  return funcname;
}

static int loader_C(lua_State* L) {
  const char* name = luaL_checkstring(L, 1);
  const char* filename = findfile(L, name, "cpath");
  if (filename == nullptr) return 1;
  const char* funcname = mkfuncname(L, name);
  if (ll_loadfunc(L, filename, funcname) != 0) loader_error(L, filename);
  return 1;
}

static int loader_Croot(lua_State* L) {
  const char* name = luaL_checkstring(L, 1);
  const char* p = std::strchr(name, '.');
  if (p == nullptr) return 0;  // a root name is handled by loader_C
  lua_pushlstring(L, name, size_t(p - name));
  const char* filename = findfile(L, lua_tostring(L, -1), "cpath");
  if (filename == nullptr) return 1;
  const char* funcname = mkfuncname(L, name);
  int stat = ll_loadfunc(L, filename, funcname);
  if (stat != 0) {
    if (stat != ERRFUNC) loader_error(L, filename);
    lua_pushfstring(L, "\n\tno module '%s' in file '%s'", name, filename);
  }
  return 1;
}

static int loader_preload(lua_State* L) {
  const char* name = luaL_checkstring(L, 1);
  lua_getfield(L, PACKAGE, "preload");
  if (!lua_istable(L, -1)) luaL_error(L, "'package.preload' must be a table");
  lua_getfield(L, -1, name);
  if (lua_isnil(L, -1)) lua_pushfstring(L, "\n\tno field package.preload['%s']", name);
  return 1;
}

// Marks a module whose loading is under way.
static const int sentinel_ = 0;
#define sentinel (const_cast<int*>(&sentinel_))

static int ll_require(lua_State* L) {
  const char* name = luaL_checkstring(L, 1);
  lua_settop(L, 1);
  lua_getfield(L, LUA_REGISTRYINDEX, "_LOADED");  // 2
  lua_getfield(L, 2, name);
  if (lua_toboolean(L, -1)) {
    if (lua_touserdata(L, -1) == sentinel)
      luaL_error(L, "loop or previous error loading module '%s'", name);
    return 1;
  }
  lua_getfield(L, PACKAGE, "loaders");
  if (!lua_istable(L, -1)) luaL_error(L, "'package.loaders' must be a table");
  lua_pushliteral(L, "");  // messages of the loaders that failed
  for (int i = 1;; i++) {
    lua_rawgeti(L, -2, i);
    if (lua_isnil(L, -1)) luaL_error(L, "module '%s' not found:%s", name, lua_tostring(L, -2));
    lua_pushstring(L, name);
    lua_call(L, 1, 1);
    if (lua_isfunction(L, -1)) break;
    if (lua_isstring(L, -1))
      lua_concat(L, 2);
    else
      lua_pop(L, 1);
  }
  lua_pushlightuserdata(L, sentinel);
  lua_setfield(L, 2, name);
  lua_pushstring(L, name);
  lua_call(L, 1, 1);
  if (!lua_isnil(L, -1)) lua_setfield(L, 2, name);
  lua_getfield(L, 2, name);
  if (lua_touserdata(L, -1) == sentinel) {  // the module set no value
    lua_pushboolean(L, 1);
    lua_pushvalue(L, -1);
    lua_setfield(L, 2, name);
  }
  return 1;
}

// ---- module -----------------------------------------------------------------

// Gives the calling script function the table on top as its environment.
static void setcallerenv(lua_State* L) {
  lua_Debug ar;
  if (lua_getstack(L, 1, &ar) == 0 || lua_getinfo(L, "f", &ar) == 0 || lua_iscfunction(L, -1))
    luaL_error(L, "'module' not called from a Lua function");
  lua_pushvalue(L, -2);
  lua_setfenv(L, -2);
  lua_pop(L, 1);
}

static void dooptions(lua_State* L, int n) {
  for (int i = 2; i <= n; i++) {
    lua_pushvalue(L, i);   // an option is a function
    lua_pushvalue(L, -2);  // applied to the module
    lua_call(L, 1, 0);
  }
}

static void modinit(lua_State* L, const char* modname) {
  lua_pushvalue(L, -1);
  lua_setfield(L, -2, "_M");
  lua_pushstring(L, modname);
  lua_setfield(L, -2, "_NAME");
  const char* dot = std::strrchr(modname, '.');
  dot = dot ? dot + 1 : modname;
  lua_pushlstring(L, modname, size_t(dot - modname));  // the name without its last part
  lua_setfield(L, -2, "_PACKAGE");
}

static int ll_module(lua_State* L) {
  const char* modname = luaL_checkstring(L, 1);
  int loaded = lua_gettop(L) + 1;
  lua_getfield(L, LUA_REGISTRYINDEX, "_LOADED");
  lua_getfield(L, loaded, modname);
  if (!lua_istable(L, -1)) {
    lua_pop(L, 1);
    if (luaL_findtable(L, LUA_GLOBALSINDEX, modname, 1) != nullptr)
      return luaL_error(L, "name conflict for module '%s'", modname);
    lua_pushvalue(L, -1);
    lua_setfield(L, loaded, modname);
  }
  lua_getfield(L, -1, "_NAME");
  bool initialised = !lua_isnil(L, -1);
  lua_pop(L, 1);
  if (!initialised) modinit(L, modname);
  lua_pushvalue(L, -1);
  setcallerenv(L);
  dooptions(L, loaded - 1);
  return 0;
}

static int ll_seeall(lua_State* L) {
  luaL_checktype(L, 1, LUA_TTABLE);
  if (!lua_getmetatable(L, 1)) {
    lua_createtable(L, 0, 1);
    lua_pushvalue(L, -1);
    lua_setmetatable(L, 1);
  }
  lua_pushvalue(L, LUA_GLOBALSINDEX);
  lua_setfield(L, -2, "__index");
  return 0;
}

// ";;" in the variable stands for the default path.
static void setpath(lua_State* L, const char* fieldname, const char* envname, const char* def) {
  const char* path = std::getenv(envname);
  if (path == nullptr) {
    lua_pushstring(L, def);
  } else {
    path = luaL_gsub(L, path, ";;", ";\1;");
    luaL_gsub(L, path, "\1", def);
    lua_remove(L, -2);
  }
  lua_setfield(L, -2, fieldname);
}

static const luaL_Reg pk_funcs[] = {{"loadlib", ll_loadlib}, {"seeall", ll_seeall}, {nullptr, nullptr}};

static const luaL_Reg ll_funcs[] = {{"module", ll_module}, {"require", ll_require}, {nullptr, nullptr}};

static const lua_CFunction loaders[] = {loader_preload, loader_Lua, loader_C, loader_Croot, nullptr};

int luaopen_package(lua_State* L) {
  luaL_newmetatable(L, "_LOADLIB");
  lua_pushcfunction(L, gctm);
  lua_setfield(L, -2, "__gc");
  luaL_register(L, LUA_LOADLIBNAME, pk_funcs);
  lua_createtable(L, 0, 0);
  for (int i = 0; loaders[i] != nullptr; i++) {
    lua_pushvalue(L, -2);
    lua_pushcclosure(L, loaders[i], 1);
    lua_rawseti(L, -2, i + 1);
  }
  lua_setfield(L, -2, "loaders");
  setpath(L, "path", "LUA_PATH", LUA_PATH_DEFAULT);
  setpath(L, "cpath", "LUA_CPATH", LUA_CPATH_DEFAULT);
  lua_pushliteral(L, "/\n;\n?\n!\n-");
  lua_setfield(L, -2, "config");
  luaL_findtable(L, LUA_REGISTRYINDEX, "_LOADED", 2);
  lua_setfield(L, -2, "loaded");
  lua_newtable(L);
  lua_setfield(L, -2, "preload");
  lua_pushvalue(L, LUA_GLOBALSINDEX);
  lua_pushvalue(L, -2);  // the package table, upvalue of require
  luaI_openlib(L, nullptr, ll_funcs, 1);
  lua_pop(L, 1);
  return 1;
}
