// Script values to native arguments. Each convertible type has one Conv
// record: what it accepts, the value, the default and the name that the
// conversion error shows. Unpack applies a policy on top.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

#include "bind/AutoRelease.hh"
#include "bind/Class.hh"
#include "bind/Handles.hh"
#include "lua/lauxlib.h"
#include "lua/lua.h"

namespace LuaWrapper {

// Raises "cannot convert argument #<index> from <type> to <target> ...".
[[noreturn]] void argError(lua_State* L, int index, const char* target);

// Policies: a required argument raises the conversion error on a bad value;
// DefaultInitializer yields the type's default instead (optional results,
// table reads, lenient arguments).
template <class T>
struct TypeError {};
template <class T, bool = false>
struct DefaultInitializer {};

template <class T, class = void>
struct Conv;

namespace detail {
// Registers a handle's reference to be given back when the call ends.
void releaseRefAtEnd(lua_State* L, int ref);
inline std::uint32_t low32(lua_State* L, int i) {
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(lua_tointeger(L, i)));
}
}  // namespace detail

template <>
struct Conv<int> {
  static constexpr const char* name = "int";
  static bool accepts(lua_State* L, int i) { return lua_isnumber(L, i) != 0; }
  static int get(lua_State* L, int i) { return static_cast<int>(detail::low32(L, i)); }
  static int fallback() { return 0; }
};

template <>
struct Conv<unsigned int> {
  static constexpr const char* name = "unsigned int";
  static bool accepts(lua_State* L, int i) { return lua_isnumber(L, i) != 0; }
  static unsigned int get(lua_State* L, int i) { return detail::low32(L, i); }
  static unsigned int fallback() { return 0; }
};

template <>
struct Conv<double> {
  static constexpr const char* name = "double";
  static bool accepts(lua_State* L, int i) { return lua_isnumber(L, i) != 0; }
  static double get(lua_State* L, int i) { return lua_tonumber(L, i); }
  static double fallback() { return 0.0; }
};

template <>
struct Conv<bool> {
  static constexpr const char* name = "bool";
  static bool accepts(lua_State* L, int i) { return lua_isboolean(L, i); }
  static bool get(lua_State* L, int i) { return lua_toboolean(L, i) != 0; }
  static bool fallback() { return false; }
};

inline bool isStringLike(lua_State* L, int i) {
  int t = lua_type(L, i);
  return t == LUA_TSTRING || t == LUA_TNUMBER;
}

// Points into the interpreter's string (a number is converted in place);
// valid while the value stays on the stack.
template <>
struct Conv<const char*> {
  static constexpr const char* name = "const char*";
  static bool accepts(lua_State* L, int i) { return isStringLike(L, i); }
  static const char* get(lua_State* L, int i) { return lua_tolstring(L, i, nullptr); }
  static const char* fallback() { return nullptr; }
};

// Every byte, zero bytes included.
template <>
struct Conv<std::string> {
  static constexpr const char* name = "std::string";
  static bool accepts(lua_State* L, int i) { return isStringLike(L, i); }
  static std::string get(lua_State* L, int i) {
    size_t n = 0;
    const char* p = lua_tolstring(L, i, &n);
    return std::string(p, n);
  }
  static std::string fallback() { return std::string(); }
};

// One copy, owned by the call's release list.
template <>
struct Conv<const std::string&> {
  static constexpr const char* name = "std::string";
  static bool accepts(lua_State* L, int i) { return isStringLike(L, i); }
  static const std::string& get(lua_State* L, int i) {
    size_t n = 0;
    const char* p = lua_tolstring(L, i, &n);
    return makeTemporary<std::string>(L, p, n);
  }
  static const std::string& fallback() {
    static const std::string none;
    return none;
  }
};

// A new handle with its own reference. As a wrapper argument the reference
// is given back when the call ends (native code that keeps the value makes
// its own with keep()); as a result or a table read it is the caller's.
template <>
struct Conv<LuaTable> {
  static constexpr const char* name = "LuaWrapper::LuaTable";
  static bool accepts(lua_State* L, int i) { return lua_istable(L, i); }
  static LuaTable get(lua_State* L, int i) { return LuaTable(L, i); }
  static LuaTable fallback() { return LuaTable(); }
};
template <>
struct Conv<const LuaTable&> : Conv<LuaTable> {};

template <>
struct Conv<LuaFunction> {
  static constexpr const char* name = "LuaWrapper::LuaFunction";
  static bool accepts(lua_State* L, int i) { return lua_isfunction(L, i); }
  static LuaFunction get(lua_State* L, int i) { return LuaFunction(L, i); }
  static LuaFunction fallback() { return LuaFunction(); }
};
template <>
struct Conv<const LuaFunction&> : Conv<LuaFunction> {};
template <>
struct Conv<LuaFunction&> : Conv<LuaFunction> {};

// An instance of a script class whose object was not deleted.
template <class T>
struct Conv<T*, std::enable_if_t<IsScriptClass<std::remove_const_t<T>>::value>> {
  using C = std::remove_const_t<T>;
  static constexpr const char* name = ScriptName<C>::value;
  static bool accepts(lua_State* L, int i) {
    C** p = LuaClass<C>::getRawPtr(L, i);
    return p != nullptr && *p != nullptr;
  }
  static T* get(lua_State* L, int i) { return *LuaClass<C>::getRawPtr(L, i); }
  static T* fallback() { return nullptr; }
};

template <class T>
struct Conv<T&, std::enable_if_t<IsScriptClass<std::remove_const_t<T>>::value>> {
  static constexpr const char* name = Conv<T*>::name;
  static bool accepts(lua_State* L, int i) { return Conv<T*>::accepts(L, i); }
  static T& get(lua_State* L, int i) { return *Conv<T*>::get(L, i); }
  // a reference has no default: a lenient reference argument is a mistake
};

template <class T, class Policy>
struct Unpack;

template <class T>
struct IsClassPointer : std::false_type {};
template <class T>
struct IsClassPointer<T*> : IsScriptClass<std::remove_const_t<T>> {};

template <class T>
struct Unpack<T, TypeError<T>> {
  static decltype(auto) convert(lua_State* L, int index) {
    if constexpr (IsClassPointer<T>::value) {
      // one lookup: this runs for the receiver of every method call
      using C = std::remove_const_t<std::remove_pointer_t<T>>;
      C** p = LuaClass<C>::getRawPtr(L, index);
      if (p == nullptr || *p == nullptr) argError(L, index, Conv<T>::name);
      return static_cast<T>(*p);
    } else if constexpr (std::is_reference_v<T> && IsScriptClass<std::remove_cv_t<std::remove_reference_t<T>>>::value) {
      using P = std::remove_reference_t<T>*;
      return static_cast<T>(*Unpack<P, TypeError<P>>::convert(L, index));
    } else {
      if (!Conv<T>::accepts(L, index)) argError(L, index, Conv<T>::name);
      return Conv<T>::get(L, index);
    }
  }
};

template <class T>
struct Unpack<T, DefaultInitializer<T, false>> {
  static decltype(auto) convert(lua_State* L, int index) {
    return Conv<T>::accepts(L, index) ? Conv<T>::get(L, index) : Conv<T>::fallback();
  }
};

}  // namespace LuaWrapper
