// Helpers for every test, the interpreter's included: temporary
// directories, running commands, locating independent tools, whole files.
// Nothing here depends on the image library.
#pragma once

#include <string>

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
