// Base library: the global functions and the coroutine table.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lauxlib.h"
#include "lualib.h"

static int luaB_print(lua_State* L) {
  int n = lua_gettop(L);
  lua_getglobal(L, "tostring");
  for (int i = 1; i <= n; i++) {
    lua_pushvalue(L, -1);
    lua_pushvalue(L, i);
    lua_call(L, 1, 1);
    const char* s = lua_tostring(L, -1);
    if (s == nullptr) return luaL_error(L, "'tostring' must return a string to 'print'");
    if (i > 1) std::fputs("\t", stdout);
    std::fputs(s, stdout);
    lua_pop(L, 1);
  }
  std::fputs("\n", stdout);
  return 0;
}

static int luaB_tonumber(lua_State* L) {
  int base = luaL_optint(L, 2, 10);
  if (base == 10) {
    luaL_checkany(L, 1);
    if (lua_isnumber(L, 1)) {
      lua_pushnumber(L, lua_tonumber(L, 1));
      return 1;
    }
  } else {
    const char* s1 = luaL_checkstring(L, 1);
    luaL_argcheck(L, 2 <= base && base <= 36, 2, "base out of range");
    char* s2;
    unsigned long n = std::strtoul(s1, &s2, base);
    if (s1 != s2) {
      while (std::isspace(static_cast<unsigned char>(*s2))) s2++;
      if (*s2 == '\0') {
        lua_pushnumber(L, lua_Number(n));
        return 1;
      }
    }
  }
  lua_pushnil(L);
  return 1;
}

static int luaB_error(lua_State* L) {
  int level = luaL_optint(L, 2, 1);
  lua_settop(L, 1);
  if (lua_isstring(L, 1) && level > 0) {
    luaL_where(L, level);
    lua_pushvalue(L, 1);
    lua_concat(L, 2);
  }
  return lua_error(L);
}

static int luaB_getmetatable(lua_State* L) {
  luaL_checkany(L, 1);
  if (!lua_getmetatable(L, 1)) {
    lua_pushnil(L);
    return 1;
  }
  luaL_getmetafield(L, 1, "__metatable");
  return 1;  // the protecting field if there is one, else the metatable
}

static int luaB_setmetatable(lua_State* L) {
  int t = lua_type(L, 2);
  luaL_checktype(L, 1, LUA_TTABLE);
  luaL_argcheck(L, t == LUA_TNIL || t == LUA_TTABLE, 2, "nil or table expected");
  if (luaL_getmetafield(L, 1, "__metatable"))
    luaL_error(L, "cannot change a protected metatable");
  lua_settop(L, 2);
  lua_setmetatable(L, 1);
  return 1;
}

// Pushes the function named by argument 1: a function, or a call level.
static void getfunc(lua_State* L, int opt) {
  if (lua_isfunction(L, 1)) {
    lua_pushvalue(L, 1);
    return;
  }
  lua_Debug ar;
  int level = opt ? luaL_optint(L, 1, 1) : luaL_checkint(L, 1);
  luaL_argcheck(L, level >= 0, 1, "level must be non-negative");
  if (lua_getstack(L, level, &ar) == 0) luaL_argerror(L, 1, "invalid level");
  lua_getinfo(L, "f", &ar);
  if (lua_isnil(L, -1))
    luaL_error(L, "no function environment for tail call at level %d", level);
}

static int luaB_getfenv(lua_State* L) {
  getfunc(L, 1);
  if (lua_iscfunction(L, -1))
    lua_pushvalue(L, LUA_GLOBALSINDEX);  // native functions show the thread's globals
  else
    lua_getfenv(L, -1);
  return 1;
}

static int luaB_setfenv(lua_State* L) {
  luaL_checktype(L, 2, LUA_TTABLE);
  getfunc(L, 0);
  lua_pushvalue(L, 2);
  if (lua_isnumber(L, 1) && lua_tonumber(L, 1) == 0) {
    lua_pushthread(L);
    lua_insert(L, -2);
    lua_setfenv(L, -2);
    return 0;
  }
  if (lua_iscfunction(L, -2) || lua_setfenv(L, -2) == 0)
    luaL_error(L, "'setfenv' cannot change environment of given object");
  return 1;
}

static int luaB_rawequal(lua_State* L) {
  luaL_checkany(L, 1);
  luaL_checkany(L, 2);
  lua_pushboolean(L, lua_rawequal(L, 1, 2));
  return 1;
}

static int luaB_rawget(lua_State* L) {
  luaL_checktype(L, 1, LUA_TTABLE);
  luaL_checkany(L, 2);
  lua_settop(L, 2);
  lua_rawget(L, 1);
  return 1;
}

static int luaB_rawset(lua_State* L) {
  luaL_checktype(L, 1, LUA_TTABLE);
  luaL_checkany(L, 2);
  luaL_checkany(L, 3);
  lua_settop(L, 3);
  lua_rawset(L, 1);
  return 1;
}

static int luaB_gcinfo(lua_State* L) {
  lua_pushinteger(L, lua_getgccount(L));
  return 1;
}

static int luaB_collectgarbage(lua_State* L) {
  static const char* const opts[] = {"stop", "restart", "collect", "count", "step",
                                     "setpause", "setstepmul", nullptr};
  static const int optsnum[] = {LUA_GCSTOP, LUA_GCRESTART, LUA_GCCOLLECT, LUA_GCCOUNT,
                                LUA_GCSTEP, LUA_GCSETPAUSE, LUA_GCSETSTEPMUL};
  int o = luaL_checkoption(L, 1, "collect", opts);
  int ex = luaL_optint(L, 2, 0);
  int res = lua_gc(L, optsnum[o], ex);
  switch (optsnum[o]) {
    case LUA_GCCOUNT: {
      int b = lua_gc(L, LUA_GCCOUNTB, 0);
      lua_pushnumber(L, res + (lua_Number(b) / 1024));
      return 1;
    }
    case LUA_GCSTEP:
      lua_pushboolean(L, res);
      return 1;
    default:
      lua_pushnumber(L, res);
      return 1;
  }
}

static int luaB_type(lua_State* L) {
  luaL_checkany(L, 1);
  lua_pushstring(L, luaL_typename(L, 1));
  return 1;
}

static int luaB_next(lua_State* L) {
  luaL_checktype(L, 1, LUA_TTABLE);
  lua_settop(L, 2);
  if (lua_next(L, 1)) return 2;
  lua_pushnil(L);
  return 1;
}

static int luaB_pairs(lua_State* L) {
  luaL_checktype(L, 1, LUA_TTABLE);
  lua_pushvalue(L, lua_upvalueindex(1));  // next
  lua_pushvalue(L, 1);
  lua_pushnil(L);
  return 3;
}

static int ipairsaux(lua_State* L) {
  int i = luaL_checkint(L, 2);
  luaL_checktype(L, 1, LUA_TTABLE);
  i++;
  lua_pushinteger(L, i);
  lua_rawgeti(L, 1, i);
  return lua_isnil(L, -1) ? 0 : 2;
}

static int luaB_ipairs(lua_State* L) {
  luaL_checktype(L, 1, LUA_TTABLE);
  lua_pushvalue(L, lua_upvalueindex(1));
  lua_pushvalue(L, 1);
  lua_pushinteger(L, 0);
  return 3;
}

static int load_aux(lua_State* L, int status) {
  if (status == 0) return 1;
  lua_pushnil(L);
  lua_insert(L, -2);
  return 2;
}

static int luaB_loadstring(lua_State* L) {
  size_t l;
  const char* s = luaL_checklstring(L, 1, &l);
  const char* chunkname = luaL_optstring(L, 2, s);
  return load_aux(L, luaL_loadbuffer(L, s, l, chunkname));
}

static int luaB_loadfile(lua_State* L) {
  const char* fname = luaL_optstring(L, 1, nullptr);
  return load_aux(L, luaL_loadfile(L, fname));
}

// Reader for load(): calls the function at index 1 and keeps the piece it
// returned in slot 3, so the collector cannot free it while it is read.
// A failure is kept in slot 4 and ends the input; load() reports it after
// lua_load returns, as the loader's own error would be.
static const char* generic_reader(lua_State* L, void*, size_t* size) {
  *size = 0;
  if (!lua_checkstack(L, 2)) {
    lua_pushliteral(L, "too many nested functions");
    lua_replace(L, 4);
    return nullptr;
  }
  lua_pushvalue(L, 1);
  if (lua_pcall(L, 0, 1, 0) != 0) {
    lua_replace(L, 4);
    return nullptr;
  }
  if (lua_isnil(L, -1)) {
    lua_pop(L, 1);
    return nullptr;
  }
  if (lua_isstring(L, -1)) {
    lua_replace(L, 3);
    return lua_tolstring(L, 3, size);
  }
  lua_pop(L, 1);
  luaL_where(L, 1);
  lua_pushliteral(L, "reader function must return a string");
  lua_concat(L, 2);
  lua_replace(L, 4);
  return nullptr;
}

static int luaB_load(lua_State* L) {
  const char* cname = luaL_optstring(L, 2, "=(load)");
  luaL_checktype(L, 1, LUA_TFUNCTION);
  lua_settop(L, 4);
  int status = lua_load(L, generic_reader, nullptr, cname);
  if (!lua_isnil(L, 4)) {  // the reader failed: that is the error
    lua_pushnil(L);
    lua_pushvalue(L, 4);
    return 2;
  }
  return load_aux(L, status);
}

static int luaB_dofile(lua_State* L) {
  const char* fname = luaL_optstring(L, 1, nullptr);
  int n = lua_gettop(L);
  if (luaL_loadfile(L, fname) != 0) lua_error(L);
  lua_call(L, 0, LUA_MULTRET);
  return lua_gettop(L) - n;
}

static int luaB_assert(lua_State* L) {
  luaL_checkany(L, 1);
  if (!lua_toboolean(L, 1))
    return luaL_error(L, "%s", luaL_optstring(L, 2, "assertion failed!"));
  return lua_gettop(L);
}

static int luaB_unpack(lua_State* L) {
  luaL_checktype(L, 1, LUA_TTABLE);
  int i = luaL_optint(L, 2, 1);
  int e = luaL_opt(L, luaL_checkint, 3, int(lua_objlen(L, 1)));
  if (i > e) return 0;
  long long n = (long long)e - i + 1;
  if (n <= 0 || n >= 0x7fffffff || !lua_checkstack(L, int(n)))
    return luaL_error(L, "too many results to unpack");
  for (int k = 0; k < int(n); k++) lua_rawgeti(L, 1, i + k);  // i + k <= e: no overflow at INT_MAX
  return int(n);
}

static int luaB_select(lua_State* L) {
  int n = lua_gettop(L);
  if (lua_type(L, 1) == LUA_TSTRING && *lua_tostring(L, 1) == '#') {
    lua_pushinteger(L, n - 1);
    return 1;
  }
  int i = luaL_checkint(L, 1);
  if (i < 0)
    i = n + i;
  else if (i > n)
    i = n;
  luaL_argcheck(L, 1 <= i, 1, "index out of range");
  return n - i;
}

static int luaB_pcall(lua_State* L) {
  luaL_checkany(L, 1);
  int status = lua_pcall(L, lua_gettop(L) - 1, LUA_MULTRET, 0);
  lua_pushboolean(L, status == 0);
  lua_insert(L, 1);
  return lua_gettop(L);
}

static int luaB_xpcall(lua_State* L) {
  luaL_checkany(L, 2);
  lua_settop(L, 2);
  lua_insert(L, 1);  // the handler goes below the function
  int status = lua_pcall(L, 0, LUA_MULTRET, 1);
  lua_pushboolean(L, status == 0);
  lua_replace(L, 1);
  return lua_gettop(L);
}

static int luaB_tostring(lua_State* L) {
  luaL_checkany(L, 1);
  if (luaL_callmeta(L, 1, "__tostring")) return 1;
  switch (lua_type(L, 1)) {
    case LUA_TNUMBER:
      lua_pushstring(L, lua_tostring(L, 1));
      break;
    case LUA_TSTRING:
      lua_pushvalue(L, 1);
      break;
    case LUA_TBOOLEAN:
      lua_pushstring(L, lua_toboolean(L, 1) ? "true" : "false");
      break;
    case LUA_TNIL:
      lua_pushliteral(L, "nil");
      break;
    default:
      lua_pushfstring(L, "%s: %p", luaL_typename(L, 1), lua_topointer(L, 1));
      break;
  }
  return 1;
}

static int luaB_newproxy(lua_State* L) {
  lua_settop(L, 1);
  lua_newuserdata(L, 0);
  if (lua_toboolean(L, 1) == 0) return 1;
  if (lua_isboolean(L, 1)) {
    lua_newtable(L);
    lua_pushvalue(L, -1);
    lua_pushboolean(L, 1);
    lua_rawset(L, lua_upvalueindex(1));  // remember it as a proxy metatable
  } else {
    int validproxy = 0;
    if (lua_getmetatable(L, 1)) {
      lua_rawget(L, lua_upvalueindex(1));
      validproxy = lua_toboolean(L, -1);
      lua_pop(L, 1);
    }
    luaL_argcheck(L, validproxy, 1, "boolean or proxy expected");
    lua_getmetatable(L, 1);
  }
  lua_setmetatable(L, 2);
  return 1;
}

static const luaL_Reg base_funcs[] = {
    {"assert", luaB_assert},
    {"collectgarbage", luaB_collectgarbage},
    {"dofile", luaB_dofile},
    {"error", luaB_error},
    {"gcinfo", luaB_gcinfo},
    {"getfenv", luaB_getfenv},
    {"getmetatable", luaB_getmetatable},
    {"loadfile", luaB_loadfile},
    {"load", luaB_load},
    {"loadstring", luaB_loadstring},
    {"next", luaB_next},
    {"pcall", luaB_pcall},
    {"print", luaB_print},
    {"rawequal", luaB_rawequal},
    {"rawget", luaB_rawget},
    {"rawset", luaB_rawset},
    {"select", luaB_select},
    {"setfenv", luaB_setfenv},
    {"setmetatable", luaB_setmetatable},
    {"tonumber", luaB_tonumber},
    {"tostring", luaB_tostring},
    {"type", luaB_type},
    {"unpack", luaB_unpack},
    {"xpcall", luaB_xpcall},
    {nullptr, nullptr}};

// ---- coroutines -----------------------------------------------------------

enum CoStatus { CO_RUN, CO_SUS, CO_NOR, CO_DEAD };
static const char* const statnames[] = {"running", "suspended", "normal", "dead"};

static int costatus(lua_State* L, lua_State* co) {
  if (L == co) return CO_RUN;
  switch (lua_status(co)) {
    case LUA_YIELD:
      return CO_SUS;
    case 0: {
      lua_Debug ar;
      if (lua_getstack(co, 0, &ar) > 0) return CO_NOR;  // it resumed another one
      if (lua_gettop(co) == 0) return CO_DEAD;
      return CO_SUS;  // not started yet
    }
    default:
      return CO_DEAD;  // ended with an error
  }
}

static int luaB_costatus(lua_State* L) {
  lua_State* co = lua_tothread(L, 1);
  luaL_argcheck(L, co, 1, "coroutine expected");
  lua_pushstring(L, statnames[costatus(L, co)]);
  return 1;
}

static int auxresume(lua_State* L, lua_State* co, int narg) {
  int status = costatus(L, co);
  if (!lua_checkstack(co, narg)) luaL_error(L, "too many arguments to resume");
  if (status != CO_SUS) {
    lua_pushfstring(L, "cannot resume %s coroutine", statnames[status]);
    return -1;
  }
  lua_xmove(L, co, narg);
  lua_setlevel(L, co);  // the coroutine runs on this native stack: it counts its nesting from here
  status = lua_resume(co, narg);
  if (status == 0 || status == LUA_YIELD) {
    int nres = lua_gettop(co);
    if (!lua_checkstack(L, nres + 1)) luaL_error(L, "too many results to resume");
    lua_xmove(co, L, nres);
    return nres;
  }
  lua_xmove(co, L, 1);  // the error object
  return -1;
}

static int luaB_coresume(lua_State* L) {
  lua_State* co = lua_tothread(L, 1);
  luaL_argcheck(L, co, 1, "coroutine expected");
  int r = auxresume(L, co, lua_gettop(L) - 1);
  if (r < 0) {
    lua_pushboolean(L, 0);
    lua_insert(L, -2);
    return 2;
  }
  lua_pushboolean(L, 1);
  lua_insert(L, -(r + 1));
  return r + 1;
}

static int luaB_auxwrap(lua_State* L) {
  lua_State* co = lua_tothread(L, lua_upvalueindex(1));
  int r = auxresume(L, co, lua_gettop(L));
  if (r < 0) {
    if (lua_isstring(L, -1)) {
      luaL_where(L, 1);
      lua_insert(L, -2);
      lua_concat(L, 2);
    }
    lua_error(L);
  }
  return r;
}

static int luaB_cocreate(lua_State* L) {
  lua_State* NL = lua_newthread(L);
  luaL_argcheck(L, lua_isfunction(L, 1) && !lua_iscfunction(L, 1), 1, "Lua function expected");
  lua_pushvalue(L, 1);
  lua_xmove(L, NL, 1);
  return 1;
}

static int luaB_cowrap(lua_State* L) {
  luaB_cocreate(L);
  lua_pushcclosure(L, luaB_auxwrap, 1);
  return 1;
}

static int luaB_yield(lua_State* L) { return lua_yield(L, lua_gettop(L)); }

static int luaB_corunning(lua_State* L) {
  if (lua_pushthread(L)) lua_pushnil(L);  // the main thread is not a coroutine
  return 1;
}

static const luaL_Reg co_funcs[] = {
    {"create", luaB_cocreate},   {"resume", luaB_coresume}, {"running", luaB_corunning},
    {"status", luaB_costatus},   {"wrap", luaB_cowrap},     {"yield", luaB_yield},
    {nullptr, nullptr}};

static void auxopen(lua_State* L, const char* name, lua_CFunction f, lua_CFunction u) {
  lua_pushcfunction(L, u);
  lua_pushcclosure(L, f, 1);
  lua_setfield(L, -2, name);
}

static void base_open(lua_State* L) {
  lua_pushvalue(L, LUA_GLOBALSINDEX);
  lua_setglobal(L, "_G");
  luaL_register(L, "_G", base_funcs);
  lua_pushliteral(L, "Lua 5.1");
  lua_setglobal(L, "_VERSION");
  auxopen(L, "ipairs", luaB_ipairs, ipairsaux);
  auxopen(L, "pairs", luaB_pairs, luaB_next);
  lua_createtable(L, 0, 1);  // weak table of the metatables made by newproxy
  lua_pushvalue(L, -1);
  lua_setmetatable(L, -2);
  lua_pushliteral(L, "kv");
  lua_setfield(L, -2, "__mode");
  lua_pushcclosure(L, luaB_newproxy, 1);
  lua_setglobal(L, "newproxy");
}

int luaopen_base(lua_State* L) {
  base_open(L);
  luaL_register(L, LUA_COLIBNAME, co_funcs);
  return 2;
}
