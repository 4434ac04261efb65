#include "platform/Display.hh"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {

std::unique_ptr<Display> Display::open(Loop& loop)
{
  const char* headless = std::getenv("TOLM_HEADLESS");
  const char* name = std::getenv("DISPLAY");
  if ((!headless || !*headless || std::strcmp(headless, "0") == 0) && name && *name) {
    if (auto display = openX11(loop, name))
      return display;
    std::fprintf(stderr, "cannot open display %s; running without one\n", name);
  }
  return openHeadless(loop);
}

} // namespace platform
