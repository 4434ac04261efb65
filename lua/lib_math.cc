// Math library.
#include <cmath>
#include <cstdlib>

#include "lauxlib.h"
#include "lualib.h"

static const lua_Number kPi = 3.14159265358979323846;
static const lua_Number kRadiansPerDegree = kPi / 180.0;

#define MATH1(name, expr)                          \
  static int math_##name(lua_State* L) {           \
    lua_Number x = luaL_checknumber(L, 1);         \
    lua_pushnumber(L, (expr));                     \
    return 1;                                      \
  }

MATH1(abs, std::fabs(x))
MATH1(sin, std::sin(x))
MATH1(sinh, std::sinh(x))
MATH1(cos, std::cos(x))
MATH1(cosh, std::cosh(x))
MATH1(tan, std::tan(x))
MATH1(tanh, std::tanh(x))
MATH1(asin, std::asin(x))
MATH1(acos, std::acos(x))
MATH1(atan, std::atan(x))
MATH1(ceil, std::ceil(x))
MATH1(floor, std::floor(x))
MATH1(sqrt, std::sqrt(x))
MATH1(log, std::log(x))
MATH1(log10, std::log10(x))
MATH1(exp, std::exp(x))
MATH1(deg, x / kRadiansPerDegree)
MATH1(rad, x * kRadiansPerDegree)

static int math_atan2(lua_State* L) {
  lua_pushnumber(L, std::atan2(luaL_checknumber(L, 1), luaL_checknumber(L, 2)));
  return 1;
}

static int math_fmod(lua_State* L) {
  lua_pushnumber(L, std::fmod(luaL_checknumber(L, 1), luaL_checknumber(L, 2)));
  return 1;
}

static int math_modf(lua_State* L) {
  double ip;
  double fp = std::modf(luaL_checknumber(L, 1), &ip);
  lua_pushnumber(L, ip);
  lua_pushnumber(L, fp);
  return 2;
}

static int math_pow(lua_State* L) {
  lua_pushnumber(L, std::pow(luaL_checknumber(L, 1), luaL_checknumber(L, 2)));
  return 1;
}

static int math_frexp(lua_State* L) {
  int e;
  lua_pushnumber(L, std::frexp(luaL_checknumber(L, 1), &e));
  lua_pushinteger(L, e);
  return 2;
}

static int math_ldexp(lua_State* L) {
  lua_pushnumber(L, std::ldexp(luaL_checknumber(L, 1), luaL_checkint(L, 2)));
  return 1;
}

static int math_min(lua_State* L) {
  int n = lua_gettop(L);
  lua_Number dmin = luaL_checknumber(L, 1);
  for (int i = 2; i <= n; i++) {
    lua_Number d = luaL_checknumber(L, i);
    if (d < dmin) dmin = d;
  }
  lua_pushnumber(L, dmin);
  return 1;
}

static int math_max(lua_State* L) {
  int n = lua_gettop(L);
  lua_Number dmax = luaL_checknumber(L, 1);
  for (int i = 2; i <= n; i++) {
    lua_Number d = luaL_checknumber(L, i);
    if (d > dmax) dmax = d;
  }
  lua_pushnumber(L, dmax);
  return 1;
}

static int math_random(lua_State* L) {
  lua_Number r = lua_Number(std::rand() % RAND_MAX) / lua_Number(RAND_MAX);
  switch (lua_gettop(L)) {
    case 0:
      lua_pushnumber(L, r);
      break;
    case 1: {
      int u = luaL_checkint(L, 1);
      luaL_argcheck(L, 1 <= u, 1, "interval is empty");
      lua_pushnumber(L, std::floor(r * u) + 1);
      break;
    }
    case 2: {
      int l = luaL_checkint(L, 1);
      int u = luaL_checkint(L, 2);
      luaL_argcheck(L, l <= u, 2, "interval is empty");
      lua_pushnumber(L, std::floor(r * (lua_Number(u) - l + 1)) + l);
      break;
    }
    default:
      return luaL_error(L, "wrong number of arguments");
  }
  return 1;
}

static int math_randomseed(lua_State* L) {
  std::srand(unsigned(luaL_checkint(L, 1)));
  return 0;
}

static const luaL_Reg mathlib[] = {
    {"abs", math_abs},     {"acos", math_acos},   {"asin", math_asin},
    {"atan2", math_atan2}, {"atan", math_atan},   {"ceil", math_ceil},
    {"cosh", math_cosh},   {"cos", math_cos},     {"deg", math_deg},
    {"exp", math_exp},     {"floor", math_floor}, {"fmod", math_fmod},
    {"frexp", math_frexp}, {"ldexp", math_ldexp}, {"log10", math_log10},
    {"log", math_log},     {"max", math_max},     {"min", math_min},
    {"modf", math_modf},   {"pow", math_pow},     {"rad", math_rad},
    {"random", math_random}, {"randomseed", math_randomseed},
    {"sinh", math_sinh},   {"sin", math_sin},     {"sqrt", math_sqrt},
    {"tanh", math_tanh},   {"tan", math_tan},     {nullptr, nullptr}};

int luaopen_math(lua_State* L) {
  luaL_register(L, LUA_MATHLIBNAME, mathlib);
  lua_pushnumber(L, kPi);
  lua_setfield(L, -2, "pi");
  lua_pushnumber(L, HUGE_VAL);
  lua_setfield(L, -2, "huge");
  lua_getfield(L, -1, "fmod");
  lua_setfield(L, -2, "mod");
  return 1;
}
