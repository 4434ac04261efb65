// Optional trailing arguments of the Image entries that push their own
// results: absent or nil gives the default, any other value must convert as
// a required argument would, or the call raises the conversion error.
#pragma once

#include <string>

#include "bind/Unpack.hh"
#include "lua/lua.h"

namespace ximage_args {

inline bool absent(lua_State* L, int index) { return lua_isnoneornil(L, index); }

// Colour components and alphas from scripts: clamped to 0..1, NaN is 0,
// so that 1.5 never wraps around when it becomes a byte.
inline double clampUnit(double v) { return v > 0.0 ? (v < 1.0 ? v : 1.0) : 0.0; }

template <class T>
T opt(lua_State* L, int index, T def)
{
  if (absent(L, index))
    return def;
  return LuaWrapper::Unpack<T, LuaWrapper::TypeError<T>>::convert(L, index);
}

inline int optInt(lua_State* L, int index, int def) { return opt<int>(L, index, def); }
inline double optNumber(lua_State* L, int index, double def) { return opt<double>(L, index, def); }
inline bool optBool(lua_State* L, int index, bool def) { return opt<bool>(L, index, def); }
inline std::string optString(lua_State* L, int index, const std::string& def)
{
  return opt<std::string>(L, index, def);
}

} // namespace ximage_args
