// Differential tests of the standard libraries: every script of
// libs-corpus/ runs here and in the reference lua5.1, and the printed
// output must be the same.
//
// Left out of the corpus on purpose (the dialect or the libraries differ, or
// the value is the platform's): bitwise operators and the dialect's numerals,
// string.dump output (our chunk format), %x/%o/%u of values of 2^63 and above
// (converted modulo 2^64 here), the table.concat message (it names the type),
// io.popen (never starts a process), os.tmpname (made with mkstemp, so the
// file exists), lines holding zero bytes (kept whole here), default
// package paths, native-module loading, addresses in tostring(), pairs()
// order, os.time()/os.clock() values, math.random values, patterns deep
// enough to overflow the native stack (a script error here).
// Those differences have their own tests in lib_*_test.cc.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "libs_support.hh"
#include "tests/support/Harness.hh"

namespace {

class LibCorpus : public ::testing::TestWithParam<const char*> {};

TEST_P(LibCorpus, SameOutputAsReference) {
  REQUIRE_TOOL(lua51, "lua5.1");
  const std::string dir = testsupport::sourceDir() + "/tests/lua";
  const std::string script = std::string("libs-corpus/") + GetParam() + ".lua";
  testsupport::TempDir tmp;
  ASSERT_EQ(chdir(dir.c_str()), 0);
  setenv("TOLM_IO_DIR", tmp.path().c_str(), 1);

  std::string expected;
  testsupport::run("cd '" + dir + "' && TOLM_IO_DIR='" + tmp.path() + "' " + lua51 + " " + script +
                       " 2>&1",
                   &expected);
  ASSERT_FALSE(expected.empty());

  libtest::Lua lua;
  std::string actual = lua.runFile(script);
  EXPECT_EQ(actual, expected);
}

INSTANTIATE_TEST_SUITE_P(Scripts, LibCorpus,
                         ::testing::Values("base", "coroutine", "string", "format", "table",
                                           "math", "os", "io", "package", "debug"));

}  // namespace
