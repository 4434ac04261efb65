#include "canvas/LuaHandler.hh"

#include <cstdio>
#include <cstring>
#include <exception>

#include "bind/Call.hh"
#include "renderer/Event.hh"

using LuaWrapper::LuaTable;

LuaHandler::LuaHandler(Renderer* r, LuaWrapper::LuaFunction f, lua_State* L_)
  : renderer(r), function(f), L(L_)
{
}

LuaHandler::~LuaHandler() { function.release(); }

template <class Fill>
void LuaHandler::deliver(Fill fill)
{
  if (function.empty())
    return;
  // The function may close the window, which lets go of this handler.
  std::shared_ptr<LuaHandler> keep;
  try {
    keep = shared_from_this();
  } catch (const std::bad_weak_ptr&) {
  }
  const int top = lua_gettop(L);
  LuaTable table, sub;
  // Nothing may leave towards the run loop.
  try {
    table = LuaTable::create(L, 0, 4);
    fill(table, sub);
    LuaWrapper::LuaFunction f = function;
    LuaWrapper::Call_0(L, f, table);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "eventWrapper: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "eventWrapper: unknown error\n");
  }
  sub.release();
  table.release();
  lua_settop(L, top);
}

namespace {

void addModifiers(LuaTable& t, const Event& e)
{
  if (e.modifiers & ModShift)
    t.set("shift", true);
  if (e.modifiers & ModControl)
    t.set("cntrl", true);
  if (e.modifiers & ModAlt)
    t.set("alt", true);
}

} // namespace

void LuaHandler::event(Renderer*, const Event& e)
{
  deliver([&](LuaTable& t, LuaTable& sub) {
    if (e.type >= PointerMotion && e.type <= ButtonRelease) {
      sub = LuaTable::create(L, 0, 7);
      sub.set("x", (int)e.x);
      sub.set("y", (int)e.y);
      const bool touch = e.flags & 1, pen = e.flags & 2;
      sub.set("touch", touch);
      sub.set("pen", pen);
      if (touch || pen)
        sub.set("pressure", (double)e.pressure);
      sub.set("type", e.type == PointerMotion ? "move" : e.type == ButtonPress ? "press" : "release");
      if (e.type != PointerMotion)
        sub.set("button", (unsigned)e.button);
      t.set("pointer", sub);
    } else if (e.type == KeyPress || e.type == KeyRelease) {
      sub = LuaTable::create(L, 0, 7);
      sub.set("x", (int)e.x);
      sub.set("y", (int)e.y);
      sub.set("type", e.type == KeyPress ? "press" : "release");
      sub.set("autoRepeat", (bool)(e.flags & 1));
      sub.set("keycode", (unsigned)e.keycode);
      if (e.flags & 2)
        sub.set("dead", true);
      size_t n = 0;
      while (n < sizeof e.text && e.text[n])
        ++n;
      sub.set("string", std::string(e.text, n));
      t.set("key", sub);
    }
    addModifiers(t, e);
  });
}

void LuaHandler::resized(Renderer*, int x, int y, unsigned w, unsigned h, bool force)
{
  deliver([&](LuaTable& t, LuaTable& sub) {
    sub = LuaTable::create(L, 0, 5);
    sub.set("x", x);
    sub.set("y", y);
    sub.set("w", (double)w);
    sub.set("h", (double)h);
    if (force)
      sub.set("force", true);
    t.set("frame", sub);
  });
}

void LuaHandler::shouldClose(Renderer*)
{
  deliver([&](LuaTable& t, LuaTable&) { t.set("shouldClose", true); });
}
