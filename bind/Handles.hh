// Native handles on script tables and functions, held through registry
// references. Handles are plain values: copies share the reference, and
// nothing is released by a destructor; `release` gives the reference back.
#pragma once

#include <string>

#include "lua/lauxlib.h"
#include "lua/lua.h"

namespace LuaWrapper {

// The main thread of L's universe. Anything kept beyond the current call
// (timers, callbacks, handlers) holds this, never a coroutine that may die.
lua_State* mainThread(lua_State* L);

// True when both states share one registry.
bool sameUniverse(lua_State* a, lua_State* b);

// A registry reference to the value at `index` (the value stays on the stack).
int makeRef(lua_State* L, int index);

class LuaTable {
 public:
  int ref = 0;                  // registry reference, 0 = none
  lua_State* state = nullptr;   // null = none

  LuaTable() = default;
  // A table at `index` gets a new reference; any other value gives an empty handle.
  LuaTable(lua_State* L, int index);
  // A new empty table.
  static LuaTable create(lua_State* L, int narr = 0, int nrec = 0);

  bool empty() const { return state == nullptr || ref <= 0; }
  // Pushes the table (nil for an empty handle).
  void push(lua_State* L) const;
  // A second reference to the same table, held by the main thread: for
  // native code that keeps the table after the current call.
  LuaTable keep() const;
  // Gives the reference back; the handle becomes empty.
  void release();

  void set(const char* key, bool v) { setField(key, [v](lua_State* L) { lua_pushboolean(L, v); }); }
  void set(const char* key, double v) { setField(key, [v](lua_State* L) { lua_pushnumber(L, v); }); }
  void set(const char* key, int v) { setField(key, [v](lua_State* L) { lua_pushinteger(L, v); }); }
  void set(const char* key, unsigned v) { setField(key, [v](lua_State* L) { lua_pushinteger(L, v); }); }
  void set(const char* key, const std::string& v) {
    setField(key, [&v](lua_State* L) { lua_pushlstring(L, v.data(), v.size()); });
  }
  void set(const char* key, const char* v) { setField(key, [v](lua_State* L) { lua_pushstring(L, v); }); }
  void set(const char* key, const LuaTable& v) { setField(key, [&v](lua_State* L) { v.push(L); }); }

  void set(int key, bool v) { setIndex(key, [v](lua_State* L) { lua_pushboolean(L, v); }); }
  void set(int key, double v) { setIndex(key, [v](lua_State* L) { lua_pushnumber(L, v); }); }
  void set(int key, int v) { setIndex(key, [v](lua_State* L) { lua_pushinteger(L, v); }); }
  void set(int key, unsigned v) { setIndex(key, [v](lua_State* L) { lua_pushinteger(L, v); }); }
  void set(int key, const std::string& v) {
    setIndex(key, [&v](lua_State* L) { lua_pushlstring(L, v.data(), v.size()); });
  }
  void set(int key, const char* v) { setIndex(key, [v](lua_State* L) { lua_pushstring(L, v); }); }
  void set(int key, const LuaTable& v) { setIndex(key, [&v](lua_State* L) { v.push(L); }); }

  // Reads a value and converts it leniently (the type's default when it does
  // not convert): V = double, int, const char* (null when no string or
  // number; valid while the table holds the string), LuaTable (a new
  // reference the caller releases).
  template <class V>
  V getD(const char* key) const;
  template <class V>
  V getD(int key) const;

  bool exists(const char* key) const;
  bool exists(int key) const;

 private:
  template <class F>
  void setField(const char* key, F&& pushValue) {
    if (empty()) return;
    push(state);
    pushValue(state);
    lua_setfield(state, -2, key);
    lua_pop(state, 1);
  }
  template <class F>
  void setIndex(int key, F&& pushValue) {
    if (empty()) return;
    push(state);
    lua_pushinteger(state, key);
    pushValue(state);
    lua_settable(state, -3);
    lua_pop(state, 1);
  }
  // Pushes the table and the value under the key (two slots), or returns false.
  bool fetch(const char* key) const;
  bool fetch(int key) const;
};

// Something a call into the script can invoke.
class LuaFunctionBase {
 public:
  int extra = 0;  // values prepareStack pushes after the callee

  virtual ~LuaFunctionBase() = default;
  // Pushes the callee and any extra leading arguments; false when it cannot.
  virtual bool prepareStack(lua_State* L) = 0;
  virtual void cleanStack(lua_State* L) = 0;
};

class LuaFunction : public LuaFunctionBase {
 public:
  int ref = 0;
  lua_State* state = nullptr;

  LuaFunction() = default;
  // A function at `index` gets a new reference; other values give an empty handle.
  LuaFunction(lua_State* L, int index);

  bool empty() const { return state == nullptr || ref <= 0; }
  // Pushes the function when L shares the handle's universe.
  bool prepareStack(lua_State* L) override;
  void cleanStack(lua_State*) override {}
  void push(lua_State* L) const;
  LuaFunction keep() const;
  void release();
};

// A global script function, looked up by name at each call.
class Global : public LuaFunctionBase {
 public:
  const char* name;

  explicit Global(const char* n, int extraArgs = 0) : name(n) { extra = extraArgs; }
  bool prepareStack(lua_State* L) override;
  void cleanStack(lua_State*) override {}
};

}  // namespace LuaWrapper
