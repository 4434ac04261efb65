// The Posix module against the system, in a temporary directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "host_support.hh"
#include "tests/support/TestSupport.hh"

namespace {

class PosixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/tolm-posix-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    s.setString("D", dir);
    ASSERT_TRUE(s.run("require('Posix')").ok);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    start = cwd;
  }
  void TearDown() override {
    if (chdir(start.c_str()) != 0) perror("chdir");
    std::filesystem::remove_all(dir);
  }
  void expectRun(const std::string& code, const std::string& value) {
    hosttest::Outcome out = s.run(code);
    EXPECT_TRUE(out.ok) << code << " -> " << out.value;
    EXPECT_EQ(out.value, value) << code;
  }
  void expectError(const std::string& code, const std::string& message) {
    hosttest::Outcome out = s.run(code);
    EXPECT_FALSE(out.ok) << code;
    EXPECT_EQ(out.value, message) << code;
  }
  void writeFile(const std::string& name, const std::string& bytes) {
    std::ofstream(dir + "/" + name, std::ios::binary) << bytes;
  }
  hosttest::State s;
  std::string dir;
  std::string start;
};

TEST_F(PosixTest, TimeAndEnvironment) {
  hosttest::Outcome out = s.run("return Posix.gettime()");
  double t = std::atof(out.value.c_str());
  EXPECT_NEAR(t, static_cast<double>(time(nullptr)), 2.0);
  expectRun("local a = Posix.gettime(); local b = Posix.gettime(); return b >= a and a % 1 ~= nil", "true");
  expectRun("Posix.setenv('TOLM_POSIX_T', 'one'); Posix.setenv('TOLM_POSIX_T', 'two'); return Posix.getenv('TOLM_POSIX_T')",
            "two");
  EXPECT_STREQ(std::getenv("TOLM_POSIX_T"), "two");
  expectRun("return select('#', Posix.getenv('TOLM_POSIX_UNSET_VARIABLE'))", "0");
  expectRun("Posix.setenv('TOLM_POSIX_N', 12); return Posix.getenv('TOLM_POSIX_N')", "12");
  expectRun("return Posix.execute('rm -rf /', 'x')", "1");
  expectRun("return Posix.execute('a', 'b', true)", "1");
  expectError("return Posix.execute('a', 'b', 1)",
              "cannot convert argument #3 from number to bool (current stackframe: 'execute' )");
  expectError("return Posix.chdir({})",
              "cannot convert argument #1 from table to std::string (current stackframe: 'chdir' )");
}

TEST_F(PosixTest, ChdirAndMkdir) {
  mode_t old = umask(0);
  expectRun("return Posix.mkdir(D .. '/a')", "true");
  expectRun("return Posix.mkdir(D .. '/b', nil)", "true");
  expectRun("return Posix.mkdir(D .. '/c', 448)", "true");
  expectRun("return Posix.mkdir(D .. '/c')", "false");
  expectRun("return Posix.mkdir(D .. '/no/such/d')", "false");
  umask(old);
  expectError("return Posix.mkdir(D .. '/e', 'x')",
              "cannot convert argument #2 from string to int (current stackframe: 'mkdir' )");
  struct stat st {};
  ASSERT_EQ(stat((dir + "/a").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  ASSERT_EQ(stat((dir + "/b").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  ASSERT_EQ(stat((dir + "/c").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);

  expectRun("return Posix.chdir(D .. '/a')", "true");
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(std::filesystem::path(cwd), std::filesystem::canonical(dir + "/a"));
  expectRun("return Posix.chdir(D .. '/missing')", "false");
  // a zero byte never reaches the system call as a shorter path
  expectRun("return Posix.chdir(D .. '\\0/missing')", "false");
}

TEST_F(PosixTest, StatMatchesPython) {
  REQUIRE_TOOL(python, "python3");
  writeFile("f", std::string(1234, 'x'));
  ASSERT_EQ(mkdir((dir + "/sub").c_str(), 0755), 0);
  // links are followed: a symbolic and a hard link are the file itself
  ASSERT_EQ(symlink("f", (dir + "/sym").c_str()), 0);
  ASSERT_EQ(link((dir + "/f").c_str(), (dir + "/hard").c_str()), 0);
  for (const char* name : {"f", "sub", "sym", "hard"}) {
    std::string path = dir + "/" + name;
    std::string cmd = python + " -c 'import os,sys; s=os.stat(sys.argv[1]); "
                               "print(s.st_size, int(s.st_mtime), int(s.st_ctime), s.st_uid, s.st_gid, "
                               "s.st_dev, s.st_ino)' " + path;
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char line[256] = {0};
    ASSERT_NE(fgets(line, sizeof line, p), nullptr);
    pclose(p);
    std::string expected(line);
    expected.erase(expected.find_last_not_of("\n") + 1);
    s.setString("P", path);
    expectRun("local t = Posix.stat(P); return string.format('%d %d %d %d %d %d %d', t.size, t.mtime, "
              "t.ctime, t.uid, t.gid, t.dev, t.ino)",
              expected);
  }
  s.setString("P", dir + "/f");
  s.setString("Q", dir + "/hard");
  expectRun("local a, b = Posix.stat(P), Posix.stat(Q) return a.dev == b.dev and a.ino == b.ino", "true");
  s.setString("P", dir + "/f");
  expectRun("return tostring(Posix.stat(P).isdir)", "nil");
  s.setString("P", dir + "/sub");
  expectRun("return Posix.stat(P).isdir", "true");
  expectRun("return select('#', Posix.stat(D .. '/missing'))", "0");
}

TEST_F(PosixTest, DirIteratesToItsEnd) {
  writeFile("one", "1");
  writeFile("two", "2");
  expectRun("local n = {} for name in Posix.dir(D) do n[#n + 1] = name end table.sort(n) return table.concat(n, ',')",
            ".,..,one,two");
  hosttest::Outcome out = s.run("local it = Posix.dir(D); while it() do end; return it()");
  EXPECT_FALSE(out.ok);
  EXPECT_NE(out.value.find("closed directory"), std::string::npos) << out.value;
  EXPECT_NE(out.value.find("bad argument #1"), std::string::npos) << out.value;
  expectError("return Posix.dir(D .. '/one')", "test:1: cannot open " + dir + "/one: Not a directory");
  expectError("return Posix.dir(D .. '/none')", "test:1: cannot open " + dir + "/none: No such file or directory");
  // abandoned iterators are closed by the collector
  expectRun("for i = 1, 2000 do local it = Posix.dir(D); it() end; collectgarbage(); return 1", "1");
}

TEST_F(PosixTest, Uname) {
  expectRun("local s, r = Posix.uname(); return s .. ' ' .. type(r)", "Linux string");
}

TEST_F(PosixTest, ExtendedAttributes) {
  writeFile("f", "data");
  std::string f = dir + "/f";
  if (setxattr(f.c_str(), "user.probe", "1", 1, 0) != 0) GTEST_SKIP() << "no user attributes here: " << strerror(errno);
  removexattr(f.c_str(), "user.probe");
  s.setString("F", f);
  expectRun("return #Posix.listXattr(F)", "0");
  expectRun("return Posix.setXattr(F, 'a', '1')", "true");
  expectRun("return Posix.setXattr(F, 'bb', 'x\\0y')", "true");
  expectRun("local v = Posix.getXattr(F, 'bb'); return #v .. (v == 'x\\0y' and ' same' or ' differs')", "3 same");
  expectRun("local t = Posix.listXattr(F); table.sort(t); return #t .. ':' .. table.concat(t, ',')", "2:a,bb");
  // the system sees user attributes
  char value[8];
  EXPECT_EQ(getxattr(f.c_str(), "user.a", value, sizeof value), 1);
  expectRun("return Posix.getXattr(F, 'user.a')", "1");
  expectRun("return Posix.setXattr(F, 'empty', '')", "true");
  expectRun("return '[' .. Posix.getXattr(F, 'empty') .. ']'", "[]");
  expectRun("return Posix.removeXattr(F, 'a')", "true");
  expectRun("return Posix.removeXattr(F, 'a')", "false");
  expectRun("return select('#', Posix.getXattr(F, 'a'))", "0");
  expectRun("return select('#', Posix.getXattr(D .. '/missing', 'a'))", "0");
  expectRun("return select('#', Posix.listXattr(D .. '/missing'))", "0");
  expectRun("return Posix.setXattr(F, 'a\\0b', 'v')", "false");
  // links are followed
  ASSERT_EQ(symlink(f.c_str(), (dir + "/link").c_str()), 0);
  expectRun("return Posix.getXattr(D .. '/link', 'bb') == 'x\\0y'", "true");
  // a large value comes back whole
  expectRun("local v = string.rep('\\1\\0', 1000); Posix.setXattr(F, 'big', v); return Posix.getXattr(F, 'big') == v",
            "true");
}

}  // namespace
