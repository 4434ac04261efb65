// Native classes as script classes: one metatable per class, registered
// under the class's script name; an instance is a full userdata that owns
// one heap object.
#pragma once

#include <memory>

#include "lua/lauxlib.h"
#include "lua/lua.h"

namespace LuaWrapper {

struct LuaClassData {
  const char* name;  // script name, also the registry key of the metatable

  // True when the value's metatable is this class's metatable.
  bool isCompatible(lua_State* L, int index) const;
};

// The script name of T; given by TOLM_SCRIPT_CLASS next to T's declaration.
template <class T>
struct ScriptName;

template <class T, class = void>
struct IsScriptClass : std::false_type {};
template <class T>
struct IsScriptClass<T, std::void_t<decltype(ScriptName<T>::value)>> : std::true_type {};

// The block of an instance. The class record beside the pointer keeps a
// userdata of another kind that was given this metatable (debug.setmetatable)
// from being read as an instance.
template <class T>
struct Instance {
  T* ptr;
  const LuaClassData* cls;
};

template <class T>
struct LuaClass {
  static inline LuaClassData record{ScriptName<T>::value};
  static inline LuaClassData* const data = &record;

  // Pushes a new instance owning `object` (nil for a null pointer). The
  // object is deleted when the push fails or the class was never declared.
  static void packPtr(lua_State* L, T* object) {
    if (object == nullptr) {
      lua_pushnil(L);
      return;
    }
    std::unique_ptr<T> owned(object);
    auto* block = static_cast<Instance<T>*>(lua_newuserdata(L, sizeof(Instance<T>)));
    block->ptr = nullptr;
    block->cls = data;
    luaL_getmetatable(L, data->name);
    if (!lua_istable(L, -1)) {
      lua_pop(L, 2);
      luaL_error(L, "class %s is not declared", data->name);
    }
    lua_setmetatable(L, -2);
    block->ptr = owned.release();
  }

  // The pointer slot of the instance at `index`, or null when the value is
  // not an instance of T. The slot holds null once the object was deleted.
  static T** getRawPtr(lua_State* L, int index) {
    if (lua_type(L, index) != LUA_TUSERDATA || !data->isCompatible(L, index)) return nullptr;
    if (lua_objlen(L, index) != sizeof(Instance<T>)) return nullptr;
    auto* block = static_cast<Instance<T>*>(lua_touserdata(L, index));
    if (block->cls != data) return nullptr;
    return &block->ptr;
  }
};

namespace detail {
// DeclareToLua by script name, for a registration that lists its classes
// before their types are known.
void declareClass(lua_State* L, const char* name, const char* space);
}

// Makes (or reuses) T's metatable, stores it as `space`.<name> when a dotted
// namespace is given (creating the tables on the way), and gives it a new
// empty __index table for the methods.
template <class T>
void DeclareToLua(lua_State* L, const char* space) {
  detail::declareClass(L, LuaClass<T>::data->name, space);
}

}  // namespace LuaWrapper

// Names a native class for scripts; place at global scope in the class's header:
//   TOLM_SCRIPT_CLASS(XPath, "Path")
#define TOLM_SCRIPT_CLASS(Type, Name)                    \
  namespace LuaWrapper {                                 \
  template <>                                            \
  struct ScriptName<Type> {                              \
    static constexpr const char* value = Name;           \
  };                                                     \
  }
