#include "tests/support/Harness.hh"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
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

std::vector<std::string> listing(const std::string& dir)
{
  std::vector<std::string> out;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
        out.push_back(e->d_name);
    closedir(d);
  }
  std::sort(out.begin(), out.end());
  return out;
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

Child::Child(const std::vector<std::string>& argv, const std::string& dir,
             const std::map<std::string, std::string>& env)
    : outPath(dir + "/.child-out"), errPath(dir + "/.child-err")
{
  pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0)
      _exit(126);
    const int o = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(o, 1);
    dup2(e, 2);
    // the signals the test sends act as in a terminal
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
      ::signal(sig, SIG_DFL);
    for (const auto& kv : env)
      setenv(kv.first.c_str(), kv.second.c_str(), 1);
    std::vector<char*> args;
    for (const std::string& a : argv)
      args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
}

Child::~Child()
{
  if (pid > 0 && !ended) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  unlink(outPath.c_str());
  unlink(errPath.c_str());
}

bool Child::poll()
{
  if (!ended && pid > 0 && waitpid(pid, &status, WNOHANG) == pid)
    ended = true;
  return ended;
}

std::string Child::err() const { return readFile(errPath); }

bool Child::waitForErr(const std::string& needle, int count, int seconds)
{
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    const bool over = poll();
    const std::string text = err();
    int found = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
      ++found;
    if (found >= count)
      return true;
    if (over || std::chrono::steady_clock::now() > deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void Child::signal(int sig)
{
  if (pid > 0 && !poll())
    kill(pid, sig);
}

int Child::wait(int seconds, int* signalled)
{
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!poll()) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      ended = true;
      if (signalled)
        *signalled = 0;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (signalled)
    *signalled = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
