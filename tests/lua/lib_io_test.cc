// io, os, table and package behaviour that differs from the reference on
// purpose, or depends on the environment.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "libs_support.hh"
#include "tests/support/Harness.hh"

namespace {

using libtest::Lua;

TEST(IoLib, LinesKeepZeroBytesAndLongLines) {
  testsupport::TempDir tmp;
  const std::string path = tmp.file("z.txt");
  std::string data("ab\0cd\ne", 7);
  data += "\n" + std::string(200, 'q') + "\n" + std::string(80, 'r') + "\n" + std::string(81, 's');
  data += "\n" + std::string(79, 't') + std::string("\0", 1);
  ASSERT_TRUE(testsupport::writeFile(path, data));
  Lua lua;
  EXPECT_EQ(lua.run("local out = {}\n"
                    "for l in io.lines('" + path + "') do out[#out + 1] = #l .. ':' .. (l:find('\\0', 1, true) or '-') end\n"
                    "print(table.concat(out, ' '))\n"
                    "local f = io.open('" + path + "')\n"
                    "print(f:read('*l') == 'ab\\0cd', f:read('*l'), #f:read('*l'))\n"
                    "f:close()\n"),
            "5:3 1:- 200:- 80:- 81:- 80:80\n"
            "true\te\t200\n");
}

TEST(IoLib, PopenIsRefusedAfterCheckingArguments) {
  Lua lua;
  EXPECT_EQ(lua.run("print(pcall(io.popen, 'ls'))\n"
                    "print(pcall(io.popen, 'ls', 'w'))\n"
                    "print(pcall(io.popen))\n"),
            "false\t'popen' not supported\n"
            "false\t'popen' not supported\n"
            "false\tbad argument #1 to '?' (string expected, got no value)\n");
}

TEST(OsLib, TmpnameCreatesAFreshFile) {
  Lua lua;
  lua.run("a, b = os.tmpname(), os.tmpname()");
  lua_getglobal(lua.L, "a");
  lua_getglobal(lua.L, "b");
  std::string a = lua_tostring(lua.L, -2), b = lua_tostring(lua.L, -1);
  EXPECT_NE(a, b);
  struct stat st;
  EXPECT_EQ(stat(a.c_str(), &st), 0);  // reserved, so nobody else can take it
  EXPECT_EQ(lua.run("print(os.remove(a), os.remove(b))"), "true\ttrue\n");
}

// os.exit closes the state before the process ends, so every finaliser
// runs, however deep the call; one that calls os.exit while the state
// closes has the finalisers still due run before the process ends.
TEST(OsLib, ExitRunsEveryFinaliser) {
  const std::string fin =
      "local function fin(f) local u = newproxy(true) getmetatable(u).__gc = f return u end\n"
      "a = fin(function() io.stderr:write('a finalised\\n') end)\n";
  EXPECT_EXIT(
      {
        Lua lua;
        lua.run(fin + "coroutine.wrap(function() pcall(function() os.exit(3) end) end)()\n");
      },
      testing::ExitedWithCode(3), "^a finalised\n$");
  EXPECT_EXIT(
      {
        Lua lua;
        lua.run(fin + "b = fin(function() io.stderr:write('b exits\\n') os.exit(7) end)\n"
                      "c = fin(function() io.stderr:write('c finalised\\n') end)\n");
      },
      testing::ExitedWithCode(7), "^c finalised\nb exits\na finalised\n$");
}

TEST(TableLib, ConcatNamesTheBadValue) {
  Lua lua;
  EXPECT_EQ(lua.run("print(pcall(table.concat, {1, {}, 3}))\n"
                    "print(pcall(table.concat, {1, 2}, ',', 1, 3))\n"),
            "false\tinvalid value (table) at index 2 in table for 'concat'\n"
            "false\tinvalid value (nil) at index 3 in table for 'concat'\n");
}

TEST(PackageLib, PathsFromEnvironmentWithDefaults) {
  const char* def =
      "./?.lua;/usr/share/lua/5.1/?.lua;/usr/share/lua/5.1/?/init.lua;/usr/lib/lua/5.1/?.lua;"
      "/usr/lib/lua/5.1/?/init.lua";
  const char* cdef = "./?.so;/usr/lib/lua/5.1/?.so;/usr/lib/lua/5.1/loadall.so";
  {
    unsetenv("LUA_PATH");
    unsetenv("LUA_CPATH");
    Lua lua;
    EXPECT_EQ(lua.run("print(package.path) print(package.cpath)"),
              std::string(def) + "\n" + cdef + "\n");
  }
  {
    setenv("LUA_PATH", "a/?.lua;;", 1);
    setenv("LUA_CPATH", ";;b/?.so", 1);
    Lua lua;
    EXPECT_EQ(lua.run("print(package.path) print(package.cpath)"),
              std::string("a/?.lua;") + def + ";\n;" + cdef + ";b/?.so\n");
    unsetenv("LUA_PATH");
    unsetenv("LUA_CPATH");
  }
}

TEST(PackageLib, NativeModulesAreNeverLoaded) {
  testsupport::TempDir tmp;
  ASSERT_TRUE(testsupport::writeFile(tmp.file("x.so"), "not a library"));
  ASSERT_TRUE(testsupport::writeFile(tmp.file("a.so"), "not a library"));
  Lua lua;
  const std::string setup = "package.path = '" + tmp.path() + "/?.lua' package.cpath = '" +
                            tmp.path() + "/?.so'\n";
  EXPECT_EQ(lua.run(setup + "print(pcall(require, 'x'))"),
            "false\terror loading module 'x' from file '" + tmp.path() +
                "/x.so':\n\tdynamic libraries not enabled; check your Lua installation\n");
  EXPECT_EQ(lua.run(setup + "print(pcall(require, 'a.b'))"),
            "false\terror loading module 'a.b' from file '" + tmp.path() +
                "/a.so':\n\tdynamic libraries not enabled; check your Lua installation\n");
  EXPECT_EQ(lua.run("print(package.loadlib('" + tmp.path() + "/x.so', 'f'))\n"
                    "print(type(debug.getregistry()['LOADLIB: " + tmp.path() + "/x.so']))"),
            "nil\tdynamic libraries not enabled; check your Lua installation\tabsent\n"
            "userdata\n");
}

TEST(Openlibs, LibrariesAndAliases) {
  Lua lua;
  EXPECT_EQ(lua.run("print(math.mod == math.fmod, string.gfind == string.gmatch, _VERSION)\n"
                    "print(type(coroutine.wrap), type(io.stderr), type(os.exit), type(debug.traceback))\n"
                    "print(package.loaded.table == table, package.loaded.io == io, package.loaded.coroutine == coroutine)\n"),
            "true\ttrue\tLua 5.1\n"
            "function\tuserdata\tfunction\tfunction\n"
            "true\ttrue\ttrue\n");
}

}  // namespace
