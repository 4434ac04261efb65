// The run loop entry points and the idle handler of the root renderer.
#include "host/RunLoop.hh"

#include "host/Startup.hh"
#include "renderer/Renderer.hh"

namespace host {

Renderer* parent_renderer = nullptr;
IdleHandler idle_handler;

namespace {
int collect(lua_State* S) {
  lua_gc(S, LUA_GCCOLLECT, 0);
  return 0;
}
}  // namespace

// Finalisers run during the collection may raise; the loop that reported
// idle time must not see that, so the collection runs protected.
void fullCollection() {
  if (L == nullptr) return;
  if (lua_cpcall(L, collect, nullptr) != 0) lua_pop(L, 1);
}

void IdleHandler::idle(Renderer*, double seconds) {
  if (idleCollects(seconds)) fullCollection();
}

void IdleHandler::oom(Renderer*) { fullCollection(); }

int runTolm() {
  run_entered = true;
  if (parent_renderer == nullptr) return tolm_ec;
  tolm_ec = parent_renderer->run();
  return tolm_ec;
}

void runTolmLoop(double seconds) {
  if (parent_renderer != nullptr) parent_renderer->runLoop(seconds);
}

void quitTolm(int code) {
  if (parent_renderer != nullptr) parent_renderer->quit(code);
}

}  // namespace host
