// The exception barrier of every wrapper.
#include <exception>

#include "bind/Wrappers.hh"
#include "lua/do.hh"

namespace LuaWrapper {
namespace detail {

int protect(lua_State* L, int (*body)(lua_State*)) {
  AutoReleaseItem* mark = autoReleaseHead(L);
  try {
    int n = body(L);
    runAutoRelease(L, mark);
    return n;
  } catch (const LuaThrow&) {
    // A script error unwinding through us: release our temporaries and let
    // the interpreter's own unwinding go on unchanged.
    runAutoRelease(L, mark);
    throw;
  } catch (const std::exception& e) {
    runAutoRelease(L, mark);
    lua_pushstring(L, e.what());
  } catch (...) {
    runAutoRelease(L, mark);
    lua_pushstring(L, "unknown native exception");
  }
  return lua_error(L);
}

}  // namespace detail
}  // namespace LuaWrapper
