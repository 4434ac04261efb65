// Helpers for every test, the interpreter's included: temporary
// directories, running commands, locating independent tools, whole files.
// Nothing here depends on the image library.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace testsupport {

// Path of an independent tool, or "" when it is missing. Under CI=true a
// missing tool fails the calling test instead of skipping it.
std::string findTool(const std::string& name);
bool underCI();

// A fresh temporary directory, removed by the destructor.
class TempDir {
public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return dir; }
  std::string file(const std::string& name) const { return dir + "/" + name; }
private:
  std::string dir;
};

// Runs a shell command, returns its exit status and captures stdout.
int run(const std::string& command, std::string* output = nullptr);

std::string sourceDir();
std::string binaryDir(); // the build tree the tests were built in
std::string readFile(const std::string& path);
bool writeFile(const std::string& path, const std::string& data);
// The names in a folder, "." and ".." left out, sorted.
std::vector<std::string> listing(const std::string& dir);

// A program running beside the test: started in `dir` with `env` added to
// the environment and standard output and error in files, watched while it
// runs, signalled, and waited for. The destructor kills what still runs.
class Child {
public:
  Child(const std::vector<std::string>& argv, const std::string& dir,
        const std::map<std::string, std::string>& env = {});
  ~Child();
  // Standard error so far.
  std::string err() const;
  // Waits until `needle` stands `count` times in standard error, the
  // program ends, or `seconds` pass; true in the first case.
  bool waitForErr(const std::string& needle, int count, int seconds);
  void signal(int sig);
  // Waits for the end (at most `seconds`, then kills). The exit status, or
  // -1 when it did not exit by itself; `signalled` tells the signal that
  // ended it, 0 for none.
  int wait(int seconds, int* signalled = nullptr);
  pid_t id() const { return pid; }

private:
  pid_t pid = -1;
  int status = 0;
  bool ended = false;
  std::string outPath, errPath;
  bool poll();
};

} // namespace testsupport

// Skips (locally) or fails (under CI=true) the current test when a tool is
// missing; evaluates to the tool's path otherwise.
#define REQUIRE_TOOL(var, name)                                                    \
  std::string var = testsupport::findTool(name);                                   \
  if (var.empty()) {                                                               \
    if (testsupport::underCI())                                                    \
      FAIL() << "required tool missing: " << name;                                 \
    else                                                                           \
      GTEST_SKIP() << "tool missing: " << name;                                    \
  }
