// tolm: picks the window renderer, makes the script state, runs the main
// script and returns the exit code its run loop left behind.
#include <csignal>
#include <cstdio>
#include <exception>

#include <malloc.h>

#include "bind/LuaWrapper.hh"
#include "host/Host.hh"
#include "host/Interrupt.hh"
#include "host/Modules.hh"
#include "host/RunLoop.hh"
#include "host/Startup.hh"
#include "lua/lualib.h"
#include "renderer/Renderer.hh"
#include "renderer/RendererFactory.hh"

namespace {

// Caught signals get their former action back first (the state holds the
// script's handler, the renderer takes its tasks). The state closes next
// (its objects' destructors may still use fonts and windows), then the
// fonts, then the renderer. A signal the script caught but never took then
// ends the process as it would have: after the state, so that the files
// its objects were writing are finished.
void teardown() {
  const int untaken = host::releaseSignals();
  LuaWrapper::closeState(host::L);
  host::L = nullptr;
  host::deleteFonts();
  delete host::parent_renderer;
  host::parent_renderer = nullptr;
  if (untaken != 0) raise(untaken);
}

// Page images, the rows written from them and poppler's drawings are tens
// of megabytes each, allocated and freed page after page. Left to mmap,
// every page gets fresh memory from the kernel, which clears it and takes
// a fault on each of its 4 KiB pages (more than the drawing itself costs
// on some machines); from the heap, a page reuses the blocks of the last
// one. Free memory above this at the top of the heap still goes back.
void keepLargeBlocks() {
  const int kLarge = 256 << 20;
  mallopt(M_MMAP_THRESHOLD, kLarge);
  mallopt(M_TRIM_THRESHOLD, kLarge);
}

int start(int argc, char** argv) {
  keepLargeBlocks();
  host::exe = host::programPath(argv[0]);
  host::RendererChoice choice = host::chooseRenderer(argc, argv);
  RendererFactory* factory = RendererFactory::find(choice.name);
  if (factory == nullptr) {
    std::printf("renderer %s not available\n", choice.name.c_str());
    return 1;
  }
  host::L = luaL_newstate();
  if (host::L == nullptr) {
    std::fprintf(stderr, "failed to initialize lua state\n");
    return 1;
  }
  luaL_openlibs(host::L);
  LuaWrapper::insertLoader(host::L, builtin_loader_entry);

  host::parent_renderer = factory->create();
  host::command_line = argv;
  host::aargv = argv + choice.firstUserWord;
  host::aargc = argc - choice.firstUserWord;
  bool ready = false;
  if (host::parent_renderer != nullptr) {
    host::parent_renderer->handler = &host::idle_handler;
    ready = host::parent_renderer->init(host::init);
  }
  if (!ready) {
    std::printf("%s initialization failed.\n", factory->info().c_str());
    std::fflush(stdout);
    teardown();
    return 1;
  }
  host::init();
  teardown();
  return host::exitStatus();
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return start(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tolm: %s\n", e.what());
    return 1;
  }
}
