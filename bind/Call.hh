// Calls from native code into script functions, in protected mode. A script
// error comes back as std::runtime_error with the script's message; callers
// that must survive it (timers, run-loop callbacks) catch it.
#pragma once

#include <stdexcept>
#include <string>
#include <type_traits>

#include "bind/Wrappers.hh"

namespace LuaWrapper {

// The text of the error object at `index`, as the stand-alone interpreter
// prints it: strings and numbers as they are, anything else (tables,
// nil, ...) "(error object is not a string)". Leaves the stack unchanged.
std::string errorText(lua_State* L, int index);

namespace detail {
inline void pushArg(lua_State* L, bool v) { lua_pushboolean(L, v); }
inline void pushArg(lua_State* L, int v) { lua_pushinteger(L, v); }
inline void pushArg(lua_State* L, unsigned int v) { lua_pushinteger(L, v); }
inline void pushArg(lua_State* L, double v) { lua_pushnumber(L, v); }
inline void pushArg(lua_State* L, const std::string& v) { lua_pushlstring(L, v.data(), v.size()); }
inline void pushArg(lua_State* L, const char* v) { lua_pushstring(L, v); }
inline void pushArg(lua_State* L, const LuaTable& v) { v.push(L); }
inline void pushArg(lua_State* L, const LuaFunction& v) { v.push(L); }

// Makes room for n values; a stack that cannot grow is a native failure here.
void reserve(lua_State* L, int n);
// Runs the prepared call; on a script error pops the message and throws it.
void pcallOrThrow(lua_State* L, int nargs, int nresults);

template <class R>
R takeResult(lua_State* L) {
  auto value = Unpack<R, DefaultInitializer<R, false>>::convert(L, -1);
  lua_pop(L, 1);
  return value;
}
}  // namespace detail

// Call_0(L, f, args...): calls f with the arguments, no result.
template <class... A>
void Call_0(lua_State* L, LuaFunctionBase& f, const A&... args) {
  detail::reserve(L, f.extra + static_cast<int>(sizeof...(A)) + 2);
  if (!f.prepareStack(L)) return;
  (detail::pushArg(L, args), ...);
  detail::pcallOrThrow(L, f.extra + static_cast<int>(sizeof...(A)), 0);
  f.cleanStack(L);
}

// Call_1<R>(L, f, args...): calls f and converts its first result leniently:
// bool is false unless the script returned true, numbers 0 when none came
// back, a table handle (a new reference the caller releases) empty when no
// table came back, a class pointer null when no instance came back.
template <class R, class... A>
R Call_1(lua_State* L, LuaFunctionBase& f, const A&... args) {
  detail::reserve(L, f.extra + static_cast<int>(sizeof...(A)) + 2);
  if (!f.prepareStack(L)) return Conv<R>::fallback();
  (detail::pushArg(L, args), ...);
  detail::pcallOrThrow(L, f.extra + static_cast<int>(sizeof...(A)), 1);
  R result = detail::takeResult<R>(L);
  f.cleanStack(L);
  return result;
}

}  // namespace LuaWrapper
