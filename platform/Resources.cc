#include "platform/Resources.hh"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace platform {

std::string resourceDirectory()
{
  const char* env = std::getenv("TOLM_RESOURCE_DIR");
  if (env && *env) {
    std::string dir = env;
    while (dir.size() > 1 && dir.back() == '/')
      dir.pop_back();
    return dir;
  }
  std::vector<char> path(4096);
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    if (n < 0)
      return std::string();
    if ((size_t)n < path.size()) {
      std::string exe(path.data(), (size_t)n);
      const size_t slash = exe.rfind('/');
      if (slash == std::string::npos)
        return std::string();
      return slash == 0 ? std::string("/") : exe.substr(0, slash);
    }
    if (path.size() >= (1u << 20))
      return std::string();
    path.resize(path.size() * 2);
  }
}

bool debugLogging()
{
  const char* env = std::getenv("TOLM_DEBUG");
  return env && *env && std::strcmp(env, "0") != 0;
}

void systemLog(const char* format, ...)
{
  if (!debugLogging())
    return;
  char line[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  std::fprintf(stderr, "tolm: %s\n", line);
}

} // namespace platform
