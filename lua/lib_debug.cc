// Debug library.
#include <cstdio>
#include <cstring>

#include "lauxlib.h"
#include "lualib.h"

static int db_getregistry(lua_State* L) {
  lua_pushvalue(L, LUA_REGISTRYINDEX);
  return 1;
}

static int db_getmetatable(lua_State* L) {
  luaL_checkany(L, 1);
  if (!lua_getmetatable(L, 1)) lua_pushnil(L);
  return 1;
}

static int db_setmetatable(lua_State* L) {
  int t = lua_type(L, 2);
  luaL_argcheck(L, t == LUA_TNIL || t == LUA_TTABLE, 2, "nil or table expected");
  lua_settop(L, 2);
  lua_pushboolean(L, lua_setmetatable(L, 1));
  return 1;
}

static int db_getfenv(lua_State* L) {
  lua_getfenv(L, 1);
  return 1;
}

static int db_setfenv(lua_State* L) {
  luaL_checktype(L, 2, LUA_TTABLE);
  lua_settop(L, 2);
  if (lua_setfenv(L, 1) == 0)
    luaL_error(L, "'setfenv' cannot change environment of given object");
  return 1;
}

static void settabss(lua_State* L, const char* i, const char* v) {
  lua_pushstring(L, v);
  lua_setfield(L, -2, i);
}

static void settabsi(lua_State* L, const char* i, int v) {
  lua_pushinteger(L, v);
  lua_setfield(L, -2, i);
}

// The thread argument is optional in front of the others.
static lua_State* getthread(lua_State* L, int* arg) {
  if (lua_isthread(L, 1)) {
    *arg = 1;
    return lua_tothread(L, 1);
  }
  *arg = 0;
  return L;
}

static void treatstackoption(lua_State* L, lua_State* L1, const char* fname) {
  if (L == L1) {
    lua_pushvalue(L, -2);
    lua_remove(L, -3);
  } else {
    lua_xmove(L1, L, 1);
  }
  lua_setfield(L, -2, fname);
}

static int db_getinfo(lua_State* L) {
  lua_Debug ar;
  int arg;
  lua_State* L1 = getthread(L, &arg);
  const char* options = luaL_optstring(L, arg + 2, "flnSu");
  // '>' is the native interface's "function on the stack top": from a
  // script it would take whatever value is there for one.
  luaL_argcheck(L, options[0] != '>', arg + 2, "invalid option");
  if (lua_isnumber(L, arg + 1)) {
    if (!lua_getstack(L1, int(lua_tointeger(L, arg + 1)), &ar)) {
      lua_pushnil(L);  // level out of range
      return 1;
    }
  } else if (lua_isfunction(L, arg + 1)) {
    lua_pushfstring(L, ">%s", options);
    options = lua_tostring(L, -1);
    lua_pushvalue(L, arg + 1);
    lua_xmove(L, L1, 1);
  } else {
    return luaL_argerror(L, arg + 1, "function or level expected");
  }
  if (!lua_getinfo(L1, options, &ar)) return luaL_argerror(L, arg + 2, "invalid option");
  lua_createtable(L, 0, 2);
  if (std::strchr(options, 'S')) {
    settabss(L, "source", ar.source);
    settabss(L, "short_src", ar.short_src);
    settabsi(L, "linedefined", ar.linedefined);
    settabsi(L, "lastlinedefined", ar.lastlinedefined);
    settabss(L, "what", ar.what);
  }
  if (std::strchr(options, 'l')) settabsi(L, "currentline", ar.currentline);
  if (std::strchr(options, 'u')) settabsi(L, "nups", ar.nups);
  if (std::strchr(options, 'n')) {
    settabss(L, "name", ar.name);
    settabss(L, "namewhat", ar.namewhat);
  }
  if (std::strchr(options, 'L')) treatstackoption(L, L1, "activelines");
  if (std::strchr(options, 'f')) treatstackoption(L, L1, "func");
  return 1;
}

static int db_getlocal(lua_State* L) {
  int arg;
  lua_State* L1 = getthread(L, &arg);
  lua_Debug ar;
  if (!lua_getstack(L1, luaL_checkint(L, arg + 1), &ar))
    return luaL_argerror(L, arg + 1, "level out of range");
  const char* name = lua_getlocal(L1, &ar, luaL_checkint(L, arg + 2));
  if (name) {
    lua_xmove(L1, L, 1);
    lua_pushstring(L, name);
    lua_pushvalue(L, -2);
    return 2;
  }
  lua_pushnil(L);
  return 1;
}

static int db_setlocal(lua_State* L) {
  int arg;
  lua_State* L1 = getthread(L, &arg);
  lua_Debug ar;
  if (!lua_getstack(L1, luaL_checkint(L, arg + 1), &ar))
    return luaL_argerror(L, arg + 1, "level out of range");
  luaL_checkany(L, arg + 3);
  lua_settop(L, arg + 3);
  lua_xmove(L, L1, 1);
  lua_pushstring(L, lua_setlocal(L1, &ar, luaL_checkint(L, arg + 2)));
  return 1;
}

static int auxupvalue(lua_State* L, int get) {
  int n = luaL_checkint(L, 2);
  luaL_checktype(L, 1, LUA_TFUNCTION);
  if (lua_iscfunction(L, 1)) return 0;  // native upvalues have no names
  const char* name = get ? lua_getupvalue(L, 1, n) : lua_setupvalue(L, 1, n);
  if (name == nullptr) return 0;
  lua_pushstring(L, name);
  lua_insert(L, -(get + 1));
  return get + 1;
}

static int db_getupvalue(lua_State* L) { return auxupvalue(L, 1); }

static int db_setupvalue(lua_State* L) {
  luaL_checkany(L, 3);
  return auxupvalue(L, 0);
}

// ---- hooks ------------------------------------------------------------------

// Registry key of the table mapping threads to their script hooks.
static const char KEY_HOOK = 'h';
#define HOOKKEY (const_cast<char*>(&KEY_HOOK))

static void hookf(lua_State* L, lua_Debug* ar) {
  static const char* const hooknames[] = {"call", "return", "line", "count", "tail return"};
  lua_pushlightuserdata(L, HOOKKEY);
  lua_rawget(L, LUA_REGISTRYINDEX);
  lua_pushlightuserdata(L, L);
  lua_rawget(L, -2);
  if (lua_isfunction(L, -1)) {
    lua_pushstring(L, hooknames[ar->event]);
    if (ar->currentline >= 0)
      lua_pushinteger(L, ar->currentline);
    else
      lua_pushnil(L);
    lua_call(L, 2, 0);
  }
}

static int makemask(const char* smask, int count) {
  int mask = 0;
  if (std::strchr(smask, 'c')) mask |= LUA_MASKCALL;
  if (std::strchr(smask, 'r')) mask |= LUA_MASKRET;
  if (std::strchr(smask, 'l')) mask |= LUA_MASKLINE;
  if (count > 0) mask |= LUA_MASKCOUNT;
  return mask;
}

static char* unmakemask(int mask, char* smask) {
  int i = 0;
  if (mask & LUA_MASKCALL) smask[i++] = 'c';
  if (mask & LUA_MASKRET) smask[i++] = 'r';
  if (mask & LUA_MASKLINE) smask[i++] = 'l';
  smask[i] = '\0';
  return smask;
}

static void gethooktable(lua_State* L) {
  lua_pushlightuserdata(L, HOOKKEY);
  lua_rawget(L, LUA_REGISTRYINDEX);
  if (!lua_istable(L, -1)) {
    lua_pop(L, 1);
    lua_createtable(L, 0, 1);
    lua_pushlightuserdata(L, HOOKKEY);
    lua_pushvalue(L, -2);
    lua_rawset(L, LUA_REGISTRYINDEX);
  }
}

static int db_sethook(lua_State* L) {
  int arg, mask, count;
  lua_Hook func;
  lua_State* L1 = getthread(L, &arg);
  if (lua_isnoneornil(L, arg + 1)) {
    lua_settop(L, arg + 1);
    func = nullptr;
    mask = 0;
    count = 0;  // turn the hook off
  } else {
    const char* smask = luaL_checkstring(L, arg + 2);
    luaL_checktype(L, arg + 1, LUA_TFUNCTION);
    count = luaL_optint(L, arg + 3, 0);
    func = hookf;
    mask = makemask(smask, count);
  }
  gethooktable(L);
  lua_pushlightuserdata(L, L1);
  lua_pushvalue(L, arg + 1);
  lua_rawset(L, -3);
  lua_pop(L, 1);
  lua_sethook(L1, func, mask, count);
  return 0;
}

static int db_gethook(lua_State* L) {
  int arg;
  lua_State* L1 = getthread(L, &arg);
  char buff[5];
  int mask = lua_gethookmask(L1);
  lua_Hook hook = lua_gethook(L1);
  if (hook != nullptr && hook != hookf) {
    lua_pushliteral(L, "external hook");
  } else {
    gethooktable(L);
    lua_pushlightuserdata(L, L1);
    lua_rawget(L, -2);
    lua_remove(L, -2);
  }
  lua_pushstring(L, unmakemask(mask, buff));
  lua_pushinteger(L, lua_gethookcount(L1));
  return 3;
}

static int db_debug(lua_State* L) {
  for (;;) {
    char buffer[250];
    std::fputs("lua_debug> ", stderr);
    if (std::fgets(buffer, sizeof(buffer), stdin) == nullptr || std::strcmp(buffer, "cont\n") == 0)
      return 0;
    if (luaL_loadbuffer(L, buffer, std::strlen(buffer), "=(debug command)") ||
        lua_pcall(L, 0, 0, 0)) {
      std::fputs(lua_tostring(L, -1), stderr);
      std::fputs("\n", stderr);
    }
    lua_settop(L, 0);
  }
}

// ---- traceback ----------------------------------------------------------------

static const int LEVELS1 = 12;  // levels shown at the top
static const int LEVELS2 = 10;  // levels shown at the bottom

static int db_errorfb(lua_State* L) {
  int level;
  bool firstpart = true;
  int arg;
  lua_State* L1 = getthread(L, &arg);
  lua_Debug ar;
  if (lua_isnumber(L, arg + 2)) {
    level = int(lua_tointeger(L, arg + 2));
    lua_pop(L, 1);
  } else {
    level = (L == L1) ? 1 : 0;  // level 0 of this thread is traceback itself
  }
  if (lua_gettop(L) == arg)
    lua_pushliteral(L, "");
  else if (!lua_isstring(L, arg + 1))
    return 1;  // a message that is not a string is returned untouched
  else
    lua_pushliteral(L, "\n");
  lua_pushliteral(L, "stack traceback:");
  while (lua_getstack(L1, level++, &ar)) {
    if (level > LEVELS1 && firstpart) {
      if (!lua_getstack(L1, level + LEVELS2, &ar)) {
        level--;  // few levels left: show them all
      } else {
        lua_pushliteral(L, "\n\t...");
        while (lua_getstack(L1, level + LEVELS2, &ar)) level++;
      }
      firstpart = false;
      continue;
    }
    lua_pushliteral(L, "\n\t");
    lua_getinfo(L1, "Snl", &ar);
    lua_pushfstring(L, "%s:", ar.short_src);
    if (ar.currentline > 0) lua_pushfstring(L, "%d:", ar.currentline);
    if (*ar.namewhat != '\0') {
      lua_pushfstring(L, " in function '%s'", ar.name);
    } else if (*ar.what == 'm') {
      lua_pushliteral(L, " in main chunk");
    } else if (*ar.what == 'C' || *ar.what == 't') {
      lua_pushliteral(L, " ?");
    } else {
      lua_pushfstring(L, " in function <%s:%d>", ar.short_src, ar.linedefined);
    }
    lua_concat(L, lua_gettop(L) - arg);
  }
  lua_concat(L, lua_gettop(L) - arg);
  return 1;
}

static const luaL_Reg dblib[] = {
    {"debug", db_debug},           {"getfenv", db_getfenv},
    {"gethook", db_gethook},       {"getinfo", db_getinfo},
    {"getlocal", db_getlocal},     {"getregistry", db_getregistry},
    {"getmetatable", db_getmetatable}, {"getupvalue", db_getupvalue},
    {"setfenv", db_setfenv},       {"sethook", db_sethook},
    {"setlocal", db_setlocal},     {"setmetatable", db_setmetatable},
    {"setupvalue", db_setupvalue}, {"traceback", db_errorfb},
    {nullptr, nullptr}};

int luaopen_debug(lua_State* L) {
  luaL_register(L, LUA_DBLIBNAME, dblib);
  return 1;
}
