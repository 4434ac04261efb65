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
    std::string unsupported;
    if (auto display = openX11(loop, name, &unsupported))
      return display;
    if (unsupported.empty())
      std::fprintf(stderr, "cannot open display %s; running without one\n", name);
    else
      std::fprintf(stderr, "display %s: %s; running without one\n", name, unsupported.c_str());
  }
  return openHeadless(loop);
}

} // namespace platform
