// Operating-system library.
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unistd.h>

#include "lauxlib.h"
#include "lualib.h"
#include "lib_result.hh"
#include "utility/Saturate.hh"

static int os_execute(lua_State* L) {
  lua_pushinteger(L, std::system(luaL_optstring(L, 1, nullptr)));
  return 1;
}

static int os_remove(lua_State* L) {
  const char* filename = luaL_checkstring(L, 1);
  return lib_pushresult(L, std::remove(filename) == 0, filename);
}

static int os_rename(lua_State* L) {
  const char* fromname = luaL_checkstring(L, 1);
  const char* toname = luaL_checkstring(L, 2);
  return lib_pushresult(L, std::rename(fromname, toname) == 0, fromname);
}

// The name is made by creating the file, so no other process can take it
// between the choice of the name and its use.
static int os_tmpname(lua_State* L) {
  char buff[32];
  std::strcpy(buff, "/tmp/lua_XXXXXX");
  int fd = mkstemp(buff);
  if (fd == -1) return luaL_error(L, "unable to generate a unique filename");
  close(fd);
  lua_pushstring(L, buff);
  return 1;
}

static int os_getenv(lua_State* L) {
  lua_pushstring(L, std::getenv(luaL_checkstring(L, 1)));  // NULL pushes nil
  return 1;
}

static int os_clock(lua_State* L) {
  lua_pushnumber(L, lua_Number(std::clock()) / lua_Number(CLOCKS_PER_SEC));
  return 1;
}

static void setfield(lua_State* L, const char* key, int value) {
  lua_pushinteger(L, value);
  lua_setfield(L, -2, key);
}

static void setboolfield(lua_State* L, const char* key, int value) {
  if (value < 0) return;  // undefined
  lua_pushboolean(L, value);
  lua_setfield(L, -2, key);
}

static int getboolfield(lua_State* L, const char* key) {
  lua_getfield(L, -1, key);
  int res = lua_isnil(L, -1) ? -1 : lua_toboolean(L, -1);
  lua_pop(L, 1);
  return res;
}

static int getfield(lua_State* L, const char* key, int d) {
  lua_getfield(L, -1, key);
  int res;
  if (lua_isnumber(L, -1)) {
    res = int(lua_tointeger(L, -1));
  } else {
    if (d < 0) return luaL_error(L, "field '%s' missing in date table", key);
    res = d;
  }
  lua_pop(L, 1);
  return res;
}

static time_t checkTime(lua_State* L, int arg) {
  return time_t(saturate_cast<long long>(luaL_checknumber(L, arg)));
}

static int os_date(lua_State* L) {
  const char* s = luaL_optstring(L, 1, "%c");
  time_t t = lua_isnoneornil(L, 2) ? std::time(nullptr) : checkTime(L, 2);
  struct tm tmr;
  struct tm* stm;
  if (*s == '!') {
    stm = gmtime_r(&t, &tmr);
    s++;
  } else {
    stm = localtime_r(&t, &tmr);
  }
  if (stm == nullptr) {
    lua_pushnil(L);
  } else if (std::strcmp(s, "*t") == 0) {
    lua_createtable(L, 0, 9);
    setfield(L, "sec", stm->tm_sec);
    setfield(L, "min", stm->tm_min);
    setfield(L, "hour", stm->tm_hour);
    setfield(L, "day", stm->tm_mday);
    setfield(L, "month", stm->tm_mon + 1);
    setfield(L, "year", stm->tm_year + 1900);
    setfield(L, "wday", stm->tm_wday + 1);
    setfield(L, "yday", stm->tm_yday + 1);
    setboolfield(L, "isdst", stm->tm_isdst);
  } else {
    char cc[3] = {'%', 0, 0};
    luaL_Buffer b;
    luaL_buffinit(L, &b);
    for (; *s; s++) {
      if (*s != '%' || *(s + 1) == '\0') {
        luaL_addchar(&b, *s);
      } else {
        char buff[200];
        cc[1] = *(++s);
        size_t reslen = std::strftime(buff, sizeof(buff), cc, stm);
        luaL_addlstring(&b, buff, reslen);
      }
    }
    luaL_pushresult(&b);
  }
  return 1;
}

static int os_time(lua_State* L) {
  time_t t;
  if (lua_isnoneornil(L, 1)) {
    t = std::time(nullptr);
  } else {
    struct tm ts;
    std::memset(&ts, 0, sizeof ts);
    luaL_checktype(L, 1, LUA_TTABLE);
    lua_settop(L, 1);
    ts.tm_sec = getfield(L, "sec", 0);
    ts.tm_min = getfield(L, "min", 0);
    ts.tm_hour = getfield(L, "hour", 12);
    ts.tm_mday = getfield(L, "day", -1);
    ts.tm_mon = getfield(L, "month", -1) - 1;
    ts.tm_year = getfield(L, "year", -1) - 1900;
    ts.tm_isdst = getboolfield(L, "isdst");
    t = std::mktime(&ts);
  }
  if (t == time_t(-1))
    lua_pushnil(L);
  else
    lua_pushnumber(L, lua_Number(t));
  return 1;
}

static int os_difftime(lua_State* L) {
  time_t t1 = checkTime(L, 1);
  time_t t2 = lua_isnoneornil(L, 2) ? 0 : checkTime(L, 2);
  lua_pushnumber(L, std::difftime(t1, t2));
  return 1;
}

static int os_setlocale(lua_State* L) {
  static const int cat[] = {LC_ALL, LC_COLLATE, LC_CTYPE, LC_MONETARY, LC_NUMERIC, LC_TIME};
  static const char* const catnames[] = {"all", "collate", "ctype", "monetary", "numeric", "time",
                                         nullptr};
  const char* l = luaL_optstring(L, 1, nullptr);
  int op = luaL_checkoption(L, 2, "all", catnames);
  lua_pushstring(L, std::setlocale(cat[op], l));
  return 1;
}

// The state closes before the process ends, as it does when a script
// returns: every object's finaliser runs, so a document or file still being
// written is finished and put in place, as the stand-alone interpreter's
// open files are flushed at exit. Nothing returns into the state after
// that: the frames that called os.exit (this one, script functions, native
// code that called them) are left as they are, and no error or exception
// passes through them.
static int os_exit(lua_State* L) {
  const int status = luaL_optint(L, 1, EXIT_SUCCESS);
  lua_close(L);
  std::exit(status);
}

static const luaL_Reg syslib[] = {
    {"clock", os_clock},     {"date", os_date},     {"difftime", os_difftime},
    {"execute", os_execute}, {"exit", os_exit},     {"getenv", os_getenv},
    {"remove", os_remove},   {"rename", os_rename}, {"setlocale", os_setlocale},
    {"time", os_time},       {"tmpname", os_tmpname}, {nullptr, nullptr}};

int luaopen_os(lua_State* L) {
  luaL_register(L, LUA_OSLIBNAME, syslib);
  return 1;
}
