// The built-in module table and its loader.
#include <gtest/gtest.h>

#include "host_support.hh"

namespace {

TEST(Modules, PosixIsRegisteredOnce) {
  int found = 0;
  for (unsigned i = 0; i < extmodn; ++i)
    if (std::string(extmods[i].name) == "Posix") ++found;
  EXPECT_EQ(found, 1);
}

TEST(Modules, RequireFindsBuiltinsFirstAndOnlyByExactName) {
  hosttest::State s;
  struct Row {
    const char* code;
    bool ok;
    const char* value;
  } rows[] = {
      {"return require('Posix') == Posix and type(Posix.stat)", true, "function"},
      {"return package.loaded.Posix == require('Posix')", true, "true"},
      // the built-in loader adds nothing to the not-found message
      {"local ok, e = pcall(require, 'posix'); return (e:gsub('\\n.*', ''))", true, "module 'posix' not found:"},
      {"return select('#', package.loaders[1]('Nothing'))", true, "0"},
      {"return type(package.loaders[1]('Posix'))", true, "function"},
      {"return select(2, pcall(package.loaders[1], {}))", true,
       "cannot convert argument #1 from table to std::string (current stackframe: '?' )"},
  };
  for (const Row& r : rows) {
    hosttest::Outcome out = s.run(r.code);
    EXPECT_EQ(out.ok, r.ok) << r.code << " -> " << out.value;
    EXPECT_EQ(out.value, r.value) << r.code;
  }
  hosttest::Outcome out = s.run("local ok, e = pcall(require, 'posix'); return e");
  EXPECT_EQ(out.value.find("Posix"), std::string::npos);
}

TEST(Modules, SearchStopsAtTheFirstMatch) {
  unsigned before = extmodn;
  regmodule("TestDup", [](lua_State* L) {
    lua_pushstring(L, "first");
    return 1;
  });
  regmodule("TestDup", [](lua_State* L) {
    lua_pushstring(L, "second");
    return 1;
  });
  EXPECT_EQ(extmodn, before + 2);
  hosttest::State s;
  EXPECT_EQ(s.run("return require('TestDup')").value, "first");
}

}  // namespace
