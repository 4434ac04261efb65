// Table library.
#include "lauxlib.h"
#include "lualib.h"

static int checkedLength(lua_State* L, int n) {
  luaL_checktype(L, n, LUA_TTABLE);
  return int(lua_objlen(L, n));
}

static int foreachi(lua_State* L) {
  int n = checkedLength(L, 1);
  luaL_checktype(L, 2, LUA_TFUNCTION);
  for (int i = 1; i <= n; i++) {
    lua_pushvalue(L, 2);
    lua_pushinteger(L, i);
    lua_rawgeti(L, 1, i);
    lua_call(L, 2, 1);
    if (!lua_isnil(L, -1)) return 1;
    lua_pop(L, 1);
  }
  return 0;
}

static int foreach(lua_State* L) {
  luaL_checktype(L, 1, LUA_TTABLE);
  luaL_checktype(L, 2, LUA_TFUNCTION);
  lua_pushnil(L);
  while (lua_next(L, 1)) {
    lua_pushvalue(L, 2);
    lua_pushvalue(L, -3);  // key
    lua_pushvalue(L, -3);  // value
    lua_call(L, 2, 1);
    if (!lua_isnil(L, -1)) return 1;
    lua_pop(L, 2);
  }
  return 0;
}

static int maxn(lua_State* L) {
  lua_Number max = 0;
  luaL_checktype(L, 1, LUA_TTABLE);
  lua_pushnil(L);
  while (lua_next(L, 1)) {
    lua_pop(L, 1);
    if (lua_type(L, -1) == LUA_TNUMBER) {
      lua_Number v = lua_tonumber(L, -1);
      if (v > max) max = v;
    }
  }
  lua_pushnumber(L, max);
  return 1;
}

static int getn(lua_State* L) {
  lua_pushinteger(L, checkedLength(L, 1));
  return 1;
}

static int setn(lua_State* L) {
  luaL_checktype(L, 1, LUA_TTABLE);
  return luaL_error(L, "'setn' is obsolete");
}

static int tinsert(lua_State* L) {
  int e = checkedLength(L, 1) + 1;  // first empty slot
  int pos;
  switch (lua_gettop(L)) {
    case 2:
      pos = e;
      break;
    case 3: {
      pos = luaL_checkint(L, 2);
      if (pos > e) e = pos;
      for (int i = e; i > pos; i--) {  // shift up
        lua_rawgeti(L, 1, i - 1);
        lua_rawseti(L, 1, i);
      }
      break;
    }
    default:
      return luaL_error(L, "wrong number of arguments to 'insert'");
  }
  lua_rawseti(L, 1, pos);
  return 0;
}

static int tremove(lua_State* L) {
  int e = checkedLength(L, 1);
  int pos = luaL_optint(L, 2, e);
  if (!(1 <= pos && pos <= e)) return 0;
  lua_rawgeti(L, 1, pos);
  for (; pos < e; pos++) {
    lua_rawgeti(L, 1, pos + 1);
    lua_rawseti(L, 1, pos);
  }
  lua_pushnil(L);
  lua_rawseti(L, 1, e);
  return 1;
}

static void addfield(lua_State* L, luaL_Buffer* b, int i) {
  lua_rawgeti(L, 1, i);
  if (!lua_isstring(L, -1))
    luaL_error(L, "invalid value (%s) at index %d in table for 'concat'", luaL_typename(L, -1), i);
  luaL_addvalue(b);
}

static int tconcat(lua_State* L) {
  size_t lsep;
  const char* sep = luaL_optlstring(L, 2, "", &lsep);
  luaL_checktype(L, 1, LUA_TTABLE);
  int i = luaL_optint(L, 3, 1);
  int last = luaL_opt(L, luaL_checkint, 4, int(lua_objlen(L, 1)));
  luaL_Buffer b;
  luaL_buffinit(L, &b);
  for (; i < last; i++) {
    addfield(L, &b, i);
    luaL_addlstring(&b, sep, lsep);
  }
  if (i == last) addfield(L, &b, i);
  luaL_pushresult(&b);
  return 1;
}

// ---- sort: quicksort with a median-of-three pivot. The order of the
// comparisons is part of the observable behaviour (comparators with side
// effects, inconsistent comparators), so it is kept as scripts know it.

// Stores the two values on top of the stack into t[i] (top) and t[j].
static void store2(lua_State* L, int i, int j) {
  lua_rawseti(L, 1, i);
  lua_rawseti(L, 1, j);
}

static int lessThan(lua_State* L, int a, int b) {
  if (lua_isnil(L, 2)) return lua_lessthan(L, a, b);
  lua_pushvalue(L, 2);
  lua_pushvalue(L, a - 1);  // -1 to compensate the function
  lua_pushvalue(L, b - 2);  // -2: the function and a
  lua_call(L, 2, 1);
  int res = lua_toboolean(L, -1);
  lua_pop(L, 1);
  return res;
}

static void quicksort(lua_State* L, int lo, int up) {
  while (lo < up) {
    // order t[lo], t[mid], t[up]
    lua_rawgeti(L, 1, lo);
    lua_rawgeti(L, 1, up);
    if (lessThan(L, -1, -2))
      store2(L, lo, up);
    else
      lua_pop(L, 2);
    if (up - lo == 1) return;
    int mid = (lo + up) / 2;
    lua_rawgeti(L, 1, mid);
    lua_rawgeti(L, 1, lo);
    if (lessThan(L, -2, -1)) {
      store2(L, mid, lo);
    } else {
      lua_pop(L, 1);
      lua_rawgeti(L, 1, up);
      if (lessThan(L, -1, -2))
        store2(L, mid, up);
      else
        lua_pop(L, 2);
    }
    if (up - lo == 2) return;
    // the pivot goes to up-1; it stays on the stack during partitioning
    lua_rawgeti(L, 1, mid);
    lua_pushvalue(L, -1);
    lua_rawgeti(L, 1, up - 1);
    store2(L, mid, up - 1);
    int i = lo;
    int j = up - 1;
    for (;;) {
      while (lua_rawgeti(L, 1, ++i), lessThan(L, -1, -2)) {
        if (i > up) luaL_error(L, "invalid order function for sorting");
        lua_pop(L, 1);
      }
      while (lua_rawgeti(L, 1, --j), lessThan(L, -3, -1)) {
        if (j < lo) luaL_error(L, "invalid order function for sorting");
        lua_pop(L, 1);
      }
      if (j < i) {
        lua_pop(L, 3);  // t[j], t[i] and the pivot
        break;
      }
      store2(L, i, j);
    }
    lua_rawgeti(L, 1, up - 1);
    lua_rawgeti(L, 1, i);
    store2(L, up - 1, i);
    // recurse into the smaller part, loop on the larger one
    int a, b;
    if (i - lo < up - i) {
      a = lo;
      b = i - 1;
      lo = i + 1;
    } else {
      a = i + 1;
      b = up;
      up = i - 1;
    }
    quicksort(L, a, b);
  }
}

static int sort(lua_State* L) {
  int n = checkedLength(L, 1);
  luaL_checkstack(L, 40, "");
  if (!lua_isnoneornil(L, 2)) luaL_checktype(L, 2, LUA_TFUNCTION);
  lua_settop(L, 2);
  quicksort(L, 1, n);
  return 0;
}

static const luaL_Reg tab_funcs[] = {
    {"concat", tconcat}, {"foreach", foreach}, {"foreachi", foreachi}, {"getn", getn},
    {"maxn", maxn},      {"insert", tinsert},  {"remove", tremove},    {"setn", setn},
    {"sort", sort},      {nullptr, nullptr}};

int luaopen_table(lua_State* L) {
  luaL_register(L, LUA_TABLIBNAME, tab_funcs);
  return 1;
}
