// The command-line runner against lua5.1's: standard input for "-", the
// traceback of an uncaught error, the reason a script cannot be opened, the
// exit status. Output and messages must match once the runner's name is
// the same.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/Harness.hh"

namespace {

struct Outcome {
  int status;
  std::string out;  // stdout, then stderr, with the runner's name replaced
};

Outcome runUnder(const std::string& runner, const std::string& dir, const std::string& command) {
  Outcome o;
  std::string text;
  o.status = testsupport::run("cd " + dir + " && " + command + " 2>stderr.txt", &text);
  text += "-- stderr:\n" + testsupport::readFile(dir + "/stderr.txt");
  for (size_t at; (at = text.find(runner + ":")) != std::string::npos;) text.replace(at, runner.size(), "RUNNER");
  o.out = text;
  return o;
}

TEST(LuaRunner, BehavesAsTheReferenceRunner) {
  REQUIRE_TOOL(lua, "lua5.1");
  testsupport::TempDir tmp;
  ASSERT_TRUE(testsupport::writeFile(tmp.file("boom.lua"),
                                     "local function inner() error('boom') end\n"
                                     "local function outer() inner() end\n"
                                     "print('before', ...)\nouter()\n"));
  ASSERT_TRUE(testsupport::writeFile(tmp.file("table.lua"), "error({})\n"));
  ASSERT_TRUE(testsupport::writeFile(tmp.file("syntax.lua"), "x = = 1\n"));
  ASSERT_TRUE(testsupport::writeFile(tmp.file("ok.lua"), "#!/usr/bin/env tlua\nprint(arg[0], #arg, ...)\n"));
  ASSERT_TRUE(testsupport::writeFile(tmp.file("unreadable.lua"), "print(1)\n"));
  ASSERT_EQ(testsupport::run("chmod 000 " + tmp.file("unreadable.lua")), 0);
  const char* cases[] = {
      "RUN boom.lua a b",
      "RUN table.lua",
      "RUN syntax.lua",
      "RUN ok.lua x y",
      "RUN missing.lua",
      "RUN .",                                    // a directory: cannot read
      "echo 'print(1, ...) error(\"in stdin\")' | RUN - p q",
      "printf 'print(arg[0])\\nreturn 1 +' | RUN -",
      "cat ok.lua | RUN - z",
      "RUN unreadable.lua",                       // skipped below when run as root
  };
  bool root = testsupport::run("test -r " + tmp.file("unreadable.lua")) == 0;
  for (std::string c : cases) {
    if (root && c.find("unreadable") != std::string::npos) continue;
    std::string ours = c, theirs = c;
    ours.replace(ours.find("RUN"), 3, TLUA_PATH);
    theirs.replace(theirs.find("RUN"), 3, lua);
    Outcome a = runUnder(TLUA_PATH, tmp.path(), ours);
    Outcome b = runUnder(lua, tmp.path(), theirs);
    EXPECT_EQ(a.status == 0, b.status == 0) << c;
    EXPECT_EQ(a.out, b.out) << c;
  }
}

}  // namespace
