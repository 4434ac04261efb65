// The event sink of a window canvas: each input event, frame change and
// close request of the window becomes one table for the canvas's script
// function. A script error in that function is printed as one line and
// the loop goes on.
#pragma once

#include <memory>

#include "bind/Handles.hh"
#include "renderer/EventHandler.hh"

class LuaHandler : public EventHandler, public std::enable_shared_from_this<LuaHandler> {
public:
  // f is a kept reference (released by the handler); L the main thread.
  LuaHandler(Renderer* r, LuaWrapper::LuaFunction f, lua_State* L);
  ~LuaHandler() override;

  void event(Renderer*, const Event& e) override;
  void resized(Renderer*, int x, int y, unsigned w, unsigned h, bool force) override;
  void shouldClose(Renderer*) override;

  Renderer* renderer;
  LuaWrapper::LuaFunction function;
  lua_State* L;

private:
  template <class Fill>
  void deliver(Fill fill);
};
