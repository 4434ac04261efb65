// Objects that live until the current wrapped native call ends. Script errors
// unwind past native frames, so temporaries made while converting arguments
// are parked here and destroyed by the wrapper on every way out.
#pragma once

#include <utility>

struct lua_State;

namespace LuaWrapper {

struct AutoReleaseItem {
  AutoReleaseItem* next = nullptr;
  virtual ~AutoReleaseItem() = default;
};

template <class T>
struct EncapsulatedReleaseItem : AutoReleaseItem {
  T value;
  template <class... A>
  explicit EncapsulatedReleaseItem(A&&... a) : value(std::forward<A>(a)...) {}
};

// The newest item of the universe's list (null when empty). All coroutines of
// one state share the list: its head is the allocator user-data slot.
AutoReleaseItem* autoReleaseHead(lua_State* L);

// Puts an item at the head of the list; the list owns it from now on.
void autoRelease(lua_State* L, AutoReleaseItem* item);

// Makes a value that lives until the current wrapped call ends.
template <class T, class... A>
T& makeTemporary(lua_State* L, A&&... a) {
  auto* item = new EncapsulatedReleaseItem<T>(std::forward<A>(a)...);
  autoRelease(L, item);
  return item->value;
}

// Destroys every item, newest first, until the list is empty.
void runAutoRelease(lua_State* L);

// Destroys the items newer than `mark` (a head seen earlier). Wrappers use
// this so that a nested call (native -> script -> native) never frees the
// temporaries of the call that encloses it.
void runAutoRelease(lua_State* L, AutoReleaseItem* mark);

// Empties the list and closes the state: what a host does instead of a bare
// lua_close so that nothing parked on the list outlives the universe.
void closeState(lua_State* L);

}  // namespace LuaWrapper
