// Command-line, directory and idle rules of start-up.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "host/Startup.hh"

namespace {

struct Argv {
  explicit Argv(std::vector<std::string> w) : words(std::move(w)) {
    for (std::string& s : words) ptrs.push_back(s.data());
    ptrs.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(words.size()); }
  char** argv() { return ptrs.data(); }
  std::vector<std::string> words;
  std::vector<char*> ptrs;
};

struct Case {
  std::vector<std::string> argv;
  std::string renderer;
  std::string script;
  std::string arg;  // "index=word" joined by spaces
};

std::string show(const host::ScriptArguments& a) {
  std::string out;
  for (const auto& [i, w] : a.arg) out += (out.empty() ? "" : " ") + std::to_string(i) + "=" + w;
  return out;
}

TEST(Startup, RendererScriptAndArg) {
  const Case cases[] = {
      {{"./tolm"}, "", "Main.bcz", "0=./tolm"},
      {{"./tolm", "a", "b"}, "", "Main.bcz", "0=./tolm 1=a 2=b"},
      {{"./tolm", "--renderer", "appkit"}, "appkit", "Main.bcz", "0=appkit"},
      {{"./tolm", "--renderer", "appkit", "x"}, "appkit", "Main.bcz", "0=appkit 1=x"},
      // a lone --renderer is a user word
      {{"./tolm", "--renderer"}, "", "Main.bcz", "0=./tolm 1=--renderer"},
      {{"./tolm", "--script", "job.lua", "w1", "w2"}, "", "job.lua", "-2=./tolm -1=--script 0=job.lua 1=w1 2=w2"},
      {{"./tolm", "--renderer", "null", "--script", "s.lua"}, "null", "s.lua", "-2=null -1=--script 0=s.lua"},
      // a lone --script is a user word; an empty script name is the default
      {{"./tolm", "--script"}, "", "Main.bcz", "0=./tolm 1=--script"},
      {{"./tolm", "--script", ""}, "", "Main.bcz", "-2=./tolm -1=--script 0="},
      {{"./tolm", "x", "--script", "s.lua"}, "", "Main.bcz", "0=./tolm 1=x 2=--script 3=s.lua"},
  };
  for (const Case& c : cases) {
    Argv a(c.argv);
    host::RendererChoice r = host::chooseRenderer(a.argc(), a.argv());
    EXPECT_EQ(r.name, c.renderer) << c.arg;
    host::ScriptArguments s = host::scriptArguments(a.argc(), a.argv(), r.firstUserWord);
    EXPECT_EQ(s.script, c.script) << c.arg;
    EXPECT_EQ(show(s), c.arg);
  }
}

TEST(Startup, ScriptDirectory) {
  struct Row {
    const char* exe;
    const char* dir;
  } rows[] = {
      {"", ""},
      {"/opt/tolm/bin/tolm", "/opt/tolm/bin"},
      {"./tolm", "."},
      {"build/tolm", "build"},
      {"/tolm", "/start"},  // a separator only at the start: the start-up directory
      {"tolm", "/start"},
      {"dir\\tolm", "dir"},
  };
  for (const Row& r : rows) EXPECT_EQ(host::scriptDirectory(r.exe, "/start"), r.dir) << r.exe;
}

TEST(Startup, ProgramPathFromPath) {
  EXPECT_EQ(host::programPath("./x/tolm"), "./x/tolm");
  EXPECT_EQ(host::programPath("/a/tolm"), "/a/tolm");
  EXPECT_EQ(host::programPath(""), "");
  std::string resolved = host::programPath("tolm");
  ASSERT_FALSE(resolved.empty());
  EXPECT_EQ(resolved[0], '/');  // the running executable's real path
}

TEST(Startup, ProgramPathThroughALink) {
  char tmpl[] = "/tmp/tolm-link-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  std::string dir = std::filesystem::canonical(tmpl).string();
  std::filesystem::create_directories(dir + "/app");
  std::filesystem::create_directories(dir + "/bin");
  std::ofstream(dir + "/app/tolm") << "x";
  std::filesystem::create_symlink("../app/tolm", dir + "/bin/tolm");
  EXPECT_EQ(host::programPath((dir + "/bin/tolm").c_str()), dir + "/app/tolm");
  EXPECT_EQ(host::programPath((dir + "/app/tolm").c_str()), dir + "/app/tolm");
  std::filesystem::remove_all(dir);
}

TEST(Startup, IdleThresholds) {
  EXPECT_TRUE(host::idleCollects(0.0));
  EXPECT_TRUE(host::idleCollects(-0.0));
  EXPECT_FALSE(host::idleCollects(0.2));
  EXPECT_FALSE(host::idleCollects(0.399));
  EXPECT_TRUE(host::idleCollects(0.4));
  EXPECT_TRUE(host::idleCollects(5.0));
  EXPECT_FALSE(host::idleCollects(std::numeric_limits<double>::quiet_NaN()));
}

}  // namespace
