#include "tests/support/Harness.hh"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace testsupport {

bool underCI()
{
  const char* ci = getenv("CI");
  return ci && std::string(ci) == "true";
}

std::string findTool(const std::string& name)
{
  // ImageMagick must be the real one: another `convert` may stand first in
  // PATH.
  if (name == "convert")
    return access("/usr/bin/convert", X_OK) == 0 ? "/usr/bin/convert" : "";
  for (const char* dir : {"/usr/bin", "/usr/local/bin", "/bin"}) {
    std::string p = std::string(dir) + "/" + name;
    if (access(p.c_str(), X_OK) == 0)
      return p;
  }
  return "";
}

TempDir::TempDir()
{
  const char* base = getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/tolm-test-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back(0);
  if (!mkdtemp(buf.data()))
    throw std::runtime_error("mkdtemp failed");
  dir = buf.data();
}

TempDir::~TempDir()
{
  std::string cmd = "rm -rf '" + dir + "'";
  if (system(cmd.c_str()) != 0) {
  }
}

int run(const std::string& command, std::string* output)
{
  FILE* p = popen(command.c_str(), "r");
  if (!p)
    return -1;
  char buf[4096];
  size_t n;
  std::string out;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0)
    out.append(buf, n);
  const int status = pclose(p);
  if (output)
    *output = out;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string sourceDir()
{
  const char* s = getenv("TOLM_SOURCE_DIR");
  return s ? s : TOLM_SOURCE_DIR_DEFAULT;
}

std::string binaryDir()
{
  return TOLM_BINARY_DIR_DEFAULT;
}

std::string readFile(const std::string& path)
{
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

bool writeFile(const std::string& path, const std::string& data)
{
  std::ofstream f(path, std::ios::binary);
  f.write(data.data(), (std::streamsize)data.size());
  return (bool)f;
}

} // namespace testsupport

#if defined(__SANITIZE_ADDRESS__)
// Tests of allocation failure ask for impossible sizes: the sanitizer must
// let malloc return null instead of aborting, however ctest is started.
extern "C" const char* __asan_default_options()
{
  return "allocator_may_return_null=1";
}
#endif
