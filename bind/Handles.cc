// Registry-held handles on tables and functions.
#include "bind/Unpack.hh"
#include "lua/state.hh"

namespace LuaWrapper {

lua_State* mainThread(lua_State* L) { return G(L)->mainthread; }

bool sameUniverse(lua_State* a, lua_State* b) {
  return a != nullptr && b != nullptr && G(a) == G(b);
}

int makeRef(lua_State* L, int index) {
  lua_checkstack(L, 2);
  // The free-list slot is created here, where raising is allowed, so that
  // luaL_unref never grows the registry (it runs from release items).
  lua_rawgeti(L, LUA_REGISTRYINDEX, 0);
  bool missing = lua_isnil(L, -1);
  lua_pop(L, 1);
  if (missing) {
    lua_pushinteger(L, 0);
    lua_rawseti(L, LUA_REGISTRYINDEX, 0);
  }
  lua_pushvalue(L, index);
  return luaL_ref(L, LUA_REGISTRYINDEX);
}

namespace {
int absIndex(lua_State* L, int index) {
  return (index > 0 || index <= LUA_REGISTRYINDEX) ? index : lua_gettop(L) + index + 1;
}
void pushRef(lua_State* L, lua_State* owner, int ref) {
  if (owner == nullptr || ref <= 0 || !sameUniverse(L, owner)) lua_pushnil(L);
  else lua_rawgeti(L, LUA_REGISTRYINDEX, ref);
}
}  // namespace

// ---- LuaTable ----

LuaTable::LuaTable(lua_State* L, int index) {
  if (!lua_istable(L, index)) return;
  ref = makeRef(L, absIndex(L, index));
  state = L;
}

LuaTable LuaTable::create(lua_State* L, int narr, int nrec) {
  lua_createtable(L, narr, nrec);
  LuaTable t(L, -1);
  lua_pop(L, 1);
  return t;
}

void LuaTable::push(lua_State* L) const { pushRef(L, state, ref); }

LuaTable LuaTable::keep() const {
  if (empty()) return LuaTable();
  lua_State* M = mainThread(state);
  lua_checkstack(M, 1);
  push(M);
  LuaTable t(M, -1);
  lua_pop(M, 1);
  return t;
}

void LuaTable::release() {
  if (!empty()) luaL_unref(state, LUA_REGISTRYINDEX, ref);
  ref = 0;
  state = nullptr;
}

bool LuaTable::fetch(const char* key) const {
  if (empty()) return false;
  lua_checkstack(state, 2);
  push(state);
  lua_getfield(state, -1, key);
  return true;
}

bool LuaTable::fetch(int key) const {
  if (empty()) return false;
  lua_checkstack(state, 2);
  push(state);
  lua_pushinteger(state, key);
  lua_gettable(state, -2);
  return true;
}

template <class V, class K>
static V readD(const LuaTable& t, lua_State* L, K key, bool found) {
  (void)t;
  (void)key;
  if (!found) return Conv<V>::fallback();
  V v = Unpack<V, DefaultInitializer<V, false>>::convert(L, -1);
  lua_pop(L, 2);
  return v;
}

template <class V>
V LuaTable::getD(const char* key) const {
  bool found = fetch(key);
  return readD<V>(*this, state, key, found);
}
template <class V>
V LuaTable::getD(int key) const {
  bool found = fetch(key);
  return readD<V>(*this, state, key, found);
}

template double LuaTable::getD<double>(const char*) const;
template int LuaTable::getD<int>(const char*) const;
template unsigned int LuaTable::getD<unsigned int>(const char*) const;
template bool LuaTable::getD<bool>(const char*) const;
template const char* LuaTable::getD<const char*>(const char*) const;
template std::string LuaTable::getD<std::string>(const char*) const;
template LuaTable LuaTable::getD<LuaTable>(const char*) const;
template double LuaTable::getD<double>(int) const;
template int LuaTable::getD<int>(int) const;
template unsigned int LuaTable::getD<unsigned int>(int) const;
template bool LuaTable::getD<bool>(int) const;
template const char* LuaTable::getD<const char*>(int) const;
template std::string LuaTable::getD<std::string>(int) const;
template LuaTable LuaTable::getD<LuaTable>(int) const;

bool LuaTable::exists(const char* key) const {
  if (!fetch(key)) return false;
  bool there = !lua_isnil(state, -1);
  lua_pop(state, 2);
  return there;
}

bool LuaTable::exists(int key) const {
  if (!fetch(key)) return false;
  bool there = !lua_isnil(state, -1);
  lua_pop(state, 2);
  return there;
}

// ---- LuaFunction ----

LuaFunction::LuaFunction(lua_State* L, int index) {
  if (!lua_isfunction(L, index)) return;
  ref = makeRef(L, absIndex(L, index));
  state = L;
}

bool LuaFunction::prepareStack(lua_State* L) {
  if (empty() || !sameUniverse(L, state)) return false;
  lua_rawgeti(L, LUA_REGISTRYINDEX, ref);
  return true;
}

void LuaFunction::push(lua_State* L) const { pushRef(L, state, ref); }

LuaFunction LuaFunction::keep() const {
  if (empty()) return LuaFunction();
  lua_State* M = mainThread(state);
  lua_checkstack(M, 1);
  push(M);
  LuaFunction f(M, -1);
  lua_pop(M, 1);
  return f;
}

void LuaFunction::release() {
  if (!empty()) luaL_unref(state, LUA_REGISTRYINDEX, ref);
  ref = 0;
  state = nullptr;
}

// ---- Global ----

// A raw lookup: these calls come from the run loop, outside any protected
// call, where a raising __index of the globals would end the process.
bool Global::prepareStack(lua_State* L) {
  lua_pushstring(L, name);
  lua_rawget(L, LUA_GLOBALSINDEX);
  if (lua_isfunction(L, -1)) return true;
  lua_pop(L, 1);
  return false;
}

}  // namespace LuaWrapper
