// The per-universe release list, kept in the allocator user-data slot that
// the interpreter leaves to its host.
#include "bind/AutoRelease.hh"

#include "lua/lua.h"

namespace LuaWrapper {

namespace {
AutoReleaseItem* head(lua_State* L) {
  void* ud = nullptr;
  lua_getallocf(L, &ud);
  return static_cast<AutoReleaseItem*>(ud);
}
void setHead(lua_State* L, AutoReleaseItem* item) {
  void* ud = nullptr;
  lua_Alloc f = lua_getallocf(L, &ud);
  lua_setallocf(L, f, item);
}
}  // namespace

AutoReleaseItem* autoReleaseHead(lua_State* L) { return head(L); }

void autoRelease(lua_State* L, AutoReleaseItem* item) {
  item->next = head(L);
  setHead(L, item);
}

void runAutoRelease(lua_State* L, AutoReleaseItem* mark) {
  // Unlinked before destruction: a destructor that parks or releases items
  // of its own sees a consistent list.
  for (AutoReleaseItem* item = head(L); item != nullptr && item != mark; item = head(L)) {
    setHead(L, item->next);
    delete item;
  }
}

void runAutoRelease(lua_State* L) { runAutoRelease(L, nullptr); }

void closeState(lua_State* L) {
  if (L == nullptr) return;
  runAutoRelease(L);
  lua_close(L);
}

}  // namespace LuaWrapper
