// Stand-ins used only while the chunk format files are absent.
#include "lua/debug.hh"
#include "lua/do.hh"
#include "lua/string.hh"

#ifndef HAVE_UNDUMP
Proto* luaU_undump(lua_State* L, ZIO*, Mbuffer*, const char*) {
  setsvalue2s(L, L->top, luaS_newliteral(L, "precompiled chunks not supported"));
  incr_top(L);
  luaD_throw(L, LUA_ERRSYNTAX);
}
#endif
#ifndef HAVE_DUMP
int luaU_dump(lua_State*, const Proto*, lua_Writer, void*, int) { return 1; }
#endif
#ifndef HAVE_VERIFY
int luaG_checkcode(const Proto*) { return 1; }
#endif
