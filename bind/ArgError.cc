// The conversion error of wrapped calls and the release of argument handles.
#include <cstdlib>

#include "bind/Unpack.hh"

namespace LuaWrapper {

void argError(lua_State* L, int index, const char* target) {
  lua_Debug ar;
  const char* frame = "?";
  if (lua_getstack(L, 0, &ar) && lua_getinfo(L, "n", &ar) && ar.name != nullptr) frame = ar.name;
  lua_pushfstring(L, "cannot convert argument #%d from %s to %s (current stackframe: '%s' )", index,
                  luaL_typename(L, index), target, frame);
  lua_error(L);
  std::abort();  // lua_error does not return
}

namespace detail {

namespace {
struct RefItem : AutoReleaseItem {
  lua_State* L;
  int ref;
  RefItem(lua_State* s, int r) : L(s), ref(r) {}
  // Cannot raise: makeRef made sure the free-list slot exists, and the
  // reference's own slot exists, so no table grows here.
  ~RefItem() override { luaL_unref(L, LUA_REGISTRYINDEX, ref); }
};
}  // namespace

void releaseRefAtEnd(lua_State* L, int ref) {
  if (ref <= 0) return;
  autoRelease(L, new RefItem(mainThread(L), ref));
}

}  // namespace detail
}  // namespace LuaWrapper
