// Loading and running the main script: directory rules, the retry from the
// start-up directory, its messages and the exit status.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/Host.hh"
#include "host_support.hh"

namespace {

class InitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/tolm-init-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root = tmpl;
    root = std::filesystem::canonical(root).string();
    std::filesystem::create_directories(root + "/app");
    std::filesystem::create_directories(root + "/start");
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    previous = here;
    ASSERT_EQ(chdir((root + "/start").c_str()), 0);
  }
  void TearDown() override {
    host::deleteFonts();
    host::L = nullptr;
    if (chdir(previous.c_str()) != 0) perror("chdir");
    std::filesystem::remove_all(root);
  }
  void write(const std::string& path, const std::string& text) { std::ofstream(root + "/" + path) << text; }

  // Runs init with the given command line; returns what it wrote on stderr.
  std::string runInit(std::vector<std::string> words, const std::string& exe) {
    argvWords = std::move(words);
    argvPtrs.clear();
    for (std::string& w : argvWords) argvPtrs.push_back(w.data());
    argvPtrs.push_back(nullptr);
    host::L = state.L;
    host::exe = exe;
    host::command_line = argvPtrs.data();
    host::aargv = argvPtrs.data() + 1;
    host::aargc = static_cast<int>(argvWords.size()) - 1;
    host::tolm_ec = 0;
    host::run_entered = false;
    host::script_outcome = host::ScriptOutcome::NotRun;

    std::string errPath = root + "/stderr.txt";
    std::fflush(stderr);
    int saved = dup(2);
    int fd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 2);
    close(fd);
    host::init();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    std::ifstream in(errPath);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  std::string global(const char* name) {
    lua_getglobal(state.L, name);
    const char* s = lua_tostring(state.L, -1);
    std::string out = s ? s : "nil";
    lua_pop(state.L, 1);
    return out;
  }
  std::string workingDir() {
    char here[4096];
    return getcwd(here, sizeof here) ? here : "";
  }

  hosttest::State state;
  std::string root, previous;
  std::vector<std::string> argvWords;
  std::vector<char*> argvPtrs;
};

TEST_F(InitTest, RunsTheMainScriptBesideTheExecutable) {
  write("app/Main.bcz", "ran = 'app'; seen = table.concat({arg[0], arg[1], arg[2]}, ' ')");
  std::string err = runInit({"/x/tolm", "w1", "w2"}, root + "/app/tolm");
  EXPECT_EQ(err, "");
  EXPECT_EQ(global("ran"), "app");
  EXPECT_EQ(global("seen"), "/x/tolm w1 w2");
  EXPECT_EQ(workingDir(), root + "/app");
  EXPECT_EQ(host::exe, root + "/app");
  EXPECT_EQ(std::string(host::cwd), root + "/start");
  EXPECT_EQ(host::script_outcome, host::ScriptOutcome::Finished);
  EXPECT_EQ(host::exitStatus(), 0);
  // finit goes back to the start-up directory
  EXPECT_EQ(host::finitTolm(), 0);
  EXPECT_EQ(workingDir(), root + "/start");
}

// A script named with --script is the caller's: found from the start-up
// directory, run there (its relative arguments mean what the caller meant),
// and loaded without a word on stderr.
TEST_F(InitTest, NamedScriptIsTheCallers) {
  write("start/job.lua", "ran = 'start'; here = tostring(io.open(arg[1]) ~= nil); "
                         "seen = table.concat({arg[-2], arg[-1], arg[0], arg[1], arg[2]}, ' ')");
  write("start/in.txt", "x");
  write("app/job.lua", "ran = 'app'");
  std::string err = runInit({"/x/tolm", "--script", "job.lua", "in.txt", "w2"}, root + "/app/tolm");
  EXPECT_EQ(err, "");
  EXPECT_EQ(global("ran"), "start");
  EXPECT_EQ(global("here"), "true");
  EXPECT_EQ(global("seen"), "/x/tolm --script job.lua in.txt w2");
  EXPECT_EQ(workingDir(), root + "/start");
  EXPECT_EQ(host::exe, root + "/start");
  EXPECT_EQ(host::exitStatus(), 0);
}

TEST_F(InitTest, RetriesFromTheStartDirectory) {
  write("start/Main.bcz", "ran = 'start'");
  std::string err = runInit({"tolm"}, root + "/app/tolm");
  EXPECT_EQ(err, "there were errors loading Main.bcz:\ncannot open Main.bcz: No such file or directory\n");
  EXPECT_EQ(global("ran"), "start");
  EXPECT_EQ(host::exe, root + "/start");
  EXPECT_EQ(workingDir(), root + "/start");
  EXPECT_EQ(host::exitStatus(), 0);
}

TEST_F(InitTest, MissingEverywhereFailsTheJob) {
  std::string err = runInit({"tolm"}, root + "/app/tolm");
  EXPECT_EQ(err, "there were errors loading Main.bcz:\ncannot open Main.bcz: No such file or directory\n"
                 "there were errors loading Main.bcz:\ncannot open Main.bcz: No such file or directory\n");
  EXPECT_EQ(host::script_outcome, host::ScriptOutcome::LoadFailed);
  EXPECT_EQ(host::exitStatus(), 1);
  EXPECT_EQ(lua_gettop(state.L), 0);
  // a named script is looked for once, where the caller stands
  write("app/none.lua", "ran = 'app'");
  err = runInit({"tolm", "--script", "none.lua"}, root + "/app/tolm");
  EXPECT_EQ(err, "there were errors loading none.lua:\ncannot open none.lua: No such file or directory\n");
  EXPECT_EQ(host::script_outcome, host::ScriptOutcome::LoadFailed);
  EXPECT_EQ(host::exitStatus(), 1);
  EXPECT_EQ(lua_gettop(state.L), 0);
}

TEST_F(InitTest, SyntaxErrorsAreLoadErrors) {
  write("app/Main.bcz", "x = = 1");
  write("start/Main.bcz", "x = = 2");
  std::string err = runInit({"tolm"}, root + "/app/tolm");
  EXPECT_EQ(err, "there were errors loading Main.bcz:\nMain.bcz:1: unexpected symbol near '='\n"
                 "there were errors loading Main.bcz:\nMain.bcz:1: unexpected symbol near '='\n");
  EXPECT_EQ(host::exitStatus(), 1);
  write("start/bad.lua", "x = = 2");
  err = runInit({"tolm", "--script", "bad.lua"}, root + "/app/tolm");
  EXPECT_EQ(err, "there were errors loading bad.lua:\nbad.lua:1: unexpected symbol near '='\n");
  EXPECT_EQ(host::exitStatus(), 1);
}

TEST_F(InitTest, RaisingScriptFailsTheJob) {
  write("start/raise.lua", "error('job failed')");
  std::string err = runInit({"tolm", "--script", "raise.lua"}, root + "/app/tolm");
  EXPECT_EQ(err, "there were errors executing raise.lua:\nraise.lua:1: job failed\n");
  EXPECT_EQ(host::script_outcome, host::ScriptOutcome::Raised);
  EXPECT_EQ(host::exitStatus(), 1);
  // after the run loop ran, its code stands, unless that code says success
  host::run_entered = true;
  host::tolm_ec = 4;
  EXPECT_EQ(host::exitStatus(), 4);
  host::tolm_ec = 0;
  EXPECT_EQ(host::exitStatus(), 1);
}

TEST_F(InitTest, ErrorWithoutTextIsToldAsTheInterpreterTellsIt) {
  write("start/obj.lua", "error({})");
  std::string err = runInit({"tolm", "--script", "obj.lua"}, root + "/app/tolm");
  EXPECT_EQ(err, "there were errors executing obj.lua:\n(error object is not a string)\n");
}

TEST_F(InitTest, ChdirFailureIsReportedAndStartUpGoesOn) {
  write("start/Main.bcz", "ran = 'start'");
  std::string err = runInit({"tolm"}, root + "/missing/tolm");
  EXPECT_EQ(err, "chdir: -1 " + root + "/missing No such file or directory\n");
  EXPECT_EQ(global("ran"), "start");
}

}  // namespace
