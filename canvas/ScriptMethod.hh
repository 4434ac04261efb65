// Script methods written as free functions over the receiver, for entries
// that read optional arguments or push several results themselves:
// Fn(lua_State*, T& self, ...) returns its result count.
#pragma once

#include "bind/LuaWrapper.hh"

template <class T, auto Fn, class... Specs>
struct SelfFunction {
  using Class = T;
  static constexpr LuaWrapper::WrapperKind kind = LuaWrapper::WrapperKind::Method;
  static int Wrapper(lua_State* L) { return LuaWrapper::FunctionWrapper<Fn, Specs...>::Wrapper(L); }
};

// Argument i as a double when present and not nil; raises the conversion
// error for anything else.
inline bool optionalNumber(lua_State* L, int i, double& v)
{
  if (lua_isnoneornil(L, i))
    return false;
  v = LuaWrapper::Unpack<double, LuaWrapper::TypeError<double>>::convert(L, i);
  return true;
}

inline bool optionalString(lua_State* L, int i, std::string& v)
{
  if (lua_isnoneornil(L, i))
    return false;
  v = LuaWrapper::Unpack<std::string, LuaWrapper::TypeError<std::string>>::convert(L, i);
  return true;
}

inline int pushNumbers(lua_State* L, std::initializer_list<double> values)
{
  for (double v : values)
    lua_pushnumber(L, v);
  return (int)values.size();
}
