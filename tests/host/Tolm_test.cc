// The real tolm executable, run as a subprocess without a display.
#include <gtest/gtest.h>

#ifdef TOLM_EXE

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Harness.hh"

namespace {

namespace fs = std::filesystem;

struct Result {
  int status = -1;  // exit status, -1 when killed
  std::string out, err;
};

class TolmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/tolm-exe-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root = fs::canonical(tmpl).string();
    fs::create_directories(root + "/start");
    fs::create_directories(root + "/app");
  }
  void TearDown() override { fs::remove_all(root); }
  void write(const std::string& path, const std::string& text) { std::ofstream(root + "/" + path) << text; }

  // Runs `program` with `args` in `dir`; headless, bounded to 30 seconds.
  Result run(const std::string& program, std::vector<std::string> args, const std::string& dir,
             const std::string& pathEnv = "") {
    std::string outPath = root + "/out.txt", errPath = root + "/err.txt";
    pid_t pid = fork();
    if (pid == 0) {
      if (chdir(dir.c_str()) != 0) _exit(126);
      int o = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int e = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(o, 1);
      dup2(e, 2);
      setenv("TOLM_HEADLESS", "1", 1);
      unsetenv("DISPLAY");
      if (!pathEnv.empty()) setenv("PATH", pathEnv.c_str(), 1);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(program.c_str()));
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      if (program.find('/') == std::string::npos) execvp(program.c_str(), argv.data());
      else execv(program.c_str(), argv.data());
      _exit(127);
    }
    Result r;
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
      pid_t done = waitpid(pid, &status, WNOHANG);
      if (done == pid) break;
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ADD_FAILURE() << "tolm did not end";
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(status)) r.status = WEXITSTATUS(status);
    r.out = testsupport::readFile(outPath);
    r.err = testsupport::readFile(errPath);
    return r;
  }
  Result tolm(std::vector<std::string> args, const std::string& dir = "") {
    return run(TOLM_EXE, std::move(args), dir.empty() ? root + "/start" : dir);
  }

  std::string root;
};

TEST_F(TolmTest, UnknownRenderer) {
  Result r = tolm({"--renderer", "nosuch"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "renderer nosuch not available\n");
}

TEST_F(TolmTest, ScriptArgumentsAndRendererName) {
  write("start/args.lua", "print(arg[-2], arg[-1], arg[0], arg[1], arg[2], #arg)");
  Result r = tolm({"--renderer", "appkit", "--script", root + "/start/args.lua", "one", "two"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "appkit\t--script\t" + root + "/start/args.lua\tone\ttwo\t2\n");
  r = tolm({"--script", root + "/start/args.lua"});
  EXPECT_EQ(r.out, std::string(TOLM_EXE) + "\t--script\t" + root + "/start/args.lua\tnil\tnil\t0\n");
}

// A script named with --script, and the paths given to it, are the
// caller's: relative to the directory tolm was started in.
TEST_F(TolmTest, NamedScriptAndItsPathsAreTheCallers) {
  fs::create_directories(root + "/start/sub");
  write("start/sub/rel.lua", "local f = assert(io.open(arg[1])); print('read', f:read('*a')); f:close()");
  write("start/sub/in.txt", "caller's input");
  fs::create_directories(root + "/app/sub");
  write("app/sub/in.txt", "wrong input");
  write("app/sub/rel.lua", "print('the wrong script')");
  fs::copy_file(TOLM_EXE, root + "/app/tolm");
  Result r = run(root + "/app/tolm", {"--script", "sub/rel.lua", "sub/in.txt"}, root + "/start");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "read\tcaller's input\n");

  r = tolm({"--script", "none.lua"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "there were errors loading none.lua:\ncannot open none.lua: No such file or directory\n");
  EXPECT_EQ(r.out, "");

  write("start/raise.lua", "print('before'); error('job failed')");
  r = tolm({"--script", "raise.lua"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "before\n");
  EXPECT_NE(r.err.find("there were errors executing raise.lua:\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("raise.lua:1: job failed\n"), std::string::npos) << r.err;
}

// The main script: beside the executable, else in the start-up directory
// after one message.
TEST_F(TolmTest, MainScriptLoadRetry) {
  fs::copy_file(TOLM_EXE, root + "/app/tolm");
  write("start/Main.bcz", "print('ran from', 'start')");
  Result r = run(root + "/app/tolm", {}, root + "/start");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "there were errors loading Main.bcz:\ncannot open Main.bcz: No such file or directory\n");
  EXPECT_EQ(r.out, "ran from\tstart\n");
}

TEST_F(TolmTest, DirectoryRules) {
  // a program path with a directory part: its directory holds Main.bcz
  fs::copy_file(TOLM_EXE, root + "/app/tolm");
  write("app/Main.bcz", "print('main', arg[0], #arg)");
  Result r = run(root + "/app/tolm", {}, root + "/start");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "main\t" + root + "/app/tolm\t0\n");
  // the renderer's name is arg[0] when no user word follows it
  r = run(root + "/app/tolm", {"--renderer", "appkit"}, root + "/start");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "main\tappkit\t0\n");
  // started through PATH: the executable's real directory, wherever we are
  r = run("tolm", {"x"}, root + "/start", root + "/app");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "main\ttolm\t1\n");
  // through a link to the program (the installed bin/tolm)
  fs::create_directories(root + "/bin");
  fs::create_symlink("../app/tolm", root + "/bin/tolm");
  r = run(root + "/bin/tolm", {}, root + "/start");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "main\t" + root + "/bin/tolm\t0\n");
  // the main script may be source text
  write("app/Main.bcz", "print(string.format('%s', 'compiled-or-not'))");
  r = run(root + "/app/tolm", {}, root + "/start");
  EXPECT_EQ(r.out, "compiled-or-not\n");
}

// The loop's code, unless the script raises after the loop: then the job
// failed, and a loop that said success gives 1.
TEST_F(TolmTest, ExitCodeFromTheRunLoop) {
  const struct {
    const char* after;
    int code, status;
  } cases[] = {
    {"", 3, 3},
    {"", 0, 0},
    {"error('failed after the loop')", 0, 1},
    {"error('failed after the loop')", 3, 3},
  };
  for (const auto& c : cases) {
    write("start/exit.lua",
          "local ok = pcall(require, 'Tolm'); if not ok then os.exit(77) end; Tolm.exit(" +
              std::to_string(c.code) + "); Tolm.run()\n" + c.after);
    Result r = tolm({"--script", root + "/start/exit.lua"});
    if (r.status == 77) GTEST_SKIP() << "no Tolm module in this build";
    EXPECT_EQ(r.status, c.status) << c.after << " " << c.code << "\n" << r.err;
    EXPECT_EQ(r.err.find("failed after the loop") != std::string::npos, *c.after != 0) << r.err;
  }
}

// A canvas takes the host's script images as patterns: the canvas sits below
// the host and reaches them through what the host hands it.
TEST_F(TolmTest, CanvasTakesScriptImages) {
  write("start/pattern.lua",
        "local ok = pcall(require, 'Tolm'); if not ok then os.exit(77) end\n"
        "local w = Tolm.Vectorial.new(function() end, 0, 0, 8, 8)\n"
        "local img = Tolm.Image.new()\n"
        "img:setImageData(2, 1, 3, 8, '\\255\\0\\0\\0\\0\\255')\n"
        "local p = Tolm.Path.new() p:rect(0, 0, 8, 8)\n"
        "local t = Tolm.Text.new()\n"
        "print(pcall(w.fillPathImage, w, p, img))\n"
        "print(pcall(w.fillTextImage, w, 1, 7, t, img))\n"
        "print(pcall(w.fillPathImage, w, p, 'img'))\n"
        "Tolm.exit(0)\n");
  Result r = tolm({"--script", root + "/start/pattern.lua"});
  if (r.status == 77) GTEST_SKIP() << "no Tolm module in this build";
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string lines = r.out;
  EXPECT_EQ(lines.substr(0, lines.find("false")), "true\ntrue\n") << lines;
  EXPECT_NE(lines.find("false\t"), std::string::npos) << lines;
  EXPECT_NE(lines.find("argument #3 from string to Image"), std::string::npos) << lines;
}


// SIGINT, SIGTERM and SIGHUP: a script that does not catch them ends as
// the signal's default would end it; one that catches them is interrupted
// where it runs (a pcall deeper down that swallows the error does not keep
// it going) or told through its handler while the run loop waits; a second
// signal does not disturb its cleaning up; a signal it caught but never
// took ends the process when it lets go.
TEST_F(TolmTest, SignalsStopScriptsWhereTheyCanCleanUp) {
  // the script waits for the file "go" where the test has a signal to send
  const std::string waitForGo =
      "local function waitForGo() while not io.open('go') do end end\n";
  const std::string interrupted =
      "local ok, err, sig = Tolm.interruptible(function()\n"
      "  io.stderr:write('ready\\n')\n"
      "  BODY\n"
      "end)\n"
      "io.stderr:write(string.format('%s %s %s\\n', tostring(ok), tostring(err), tostring(sig)))\n"
      "io.stderr:write('cleaning\\n') waitForGo() io.stderr:write('clean\\n')\n"
      "Tolm.catchSignals(nil)\n"
      "os.exit(128 + sig)\n";
  auto body = [&](const std::string& b) {
    std::string text = interrupted;
    return text.replace(text.find("BODY"), 4, b);
  };
  const std::string catching =
      "local Tolm = require('Tolm')\n" + waitForGo +
      "Tolm.catchSignals(function(sig) io.stderr:write('handler ', sig, '\\n')\n"
      "  Tolm.catchSignals(nil) Tolm.exit(128 + sig) end)\n";
  const struct {
    const char* name;
    std::string script;
    int sig;
    bool second;    // a second signal while the script cleans up
    int status;     // -1: ended by the signal
    const char* said;
  } cases[] = {
      {"not caught", waitForGo + "io.stderr:write('ready\\n') while true do end", SIGINT, false, -1, ""},
      {"not caught", waitForGo + "io.stderr:write('ready\\n') while true do end", SIGTERM, false, -1, ""},
      {"running", catching + body("local x = 0 while true do x = x + 1 end"), SIGINT, true, 130,
       "false interrupted 2\ncleaning\nclean\n"},
      {"swallowed", catching + body("while true do pcall(function() for i = 1, 1000 do end end) end"),
       SIGTERM, false, 143, "false interrupted 15\n"},
      {"waiting", catching + "Tolm.addTimer(function() return true end, 3600)\n"
                             "io.stderr:write('ready\\n') Tolm.run()", SIGHUP, false, 129, "handler 1\n"},
      {"not taken", catching + "io.stderr:write('ready\\n') waitForGo() Tolm.catchSignals(nil)\n"
                               "io.stderr:write('still here\\n')", SIGTERM, false, -1, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + strsignal(c.sig));
    write("start/s.lua", c.script);
    fs::remove(root + "/start/go");
    testsupport::Child child({TOLM_EXE, "--script", "s.lua"}, root + "/start", {{"TOLM_HEADLESS", "1"}});
    ASSERT_TRUE(child.waitForErr("ready\n", 1, 60)) << child.err();
    child.signal(c.sig);
    if (c.second) {
      ASSERT_TRUE(child.waitForErr("cleaning\n", 1, 60)) << child.err();
      child.signal(SIGTERM);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    write("start/go", "");
    int signalled = 0;
    const int status = child.wait(60, &signalled);
    if (c.status < 0) {
      EXPECT_EQ(signalled, c.sig) << child.err();
    } else {
      EXPECT_EQ(status, c.status) << child.err();
    }
    EXPECT_NE(child.err().find(c.said), std::string::npos) << child.err();
    EXPECT_EQ(child.err().find("still here"), std::string::npos) << child.err();
  }
  // a script may end the process while it still catches them
  write("start/s.lua", catching + "os.exit(5)");
  Result r = tolm({"--script", "s.lua"});
  EXPECT_EQ(r.status, 5) << r.err;
}

// An error object that is no string, raised where the run loop calls the
// script (an event handler, a timer), is told as the stand-alone
// interpreter tells it, after the trampoline's name.
TEST_F(TolmTest, ErrorObjectsInHandlersAreToldAsTheInterpreterTellsThem) {
  const std::string lua51 = testsupport::findTool("lua5.1");
  if (lua51.empty()) {
    if (testsupport::underCI()) FAIL() << "required tool missing: lua5.1";
    GTEST_SKIP() << "tool missing: lua5.1";
  }
  // The object's expression; nil is checked on its own (the interpreter
  // prints nothing for it, a handler's error is never silent).
  const char* objects[] = {"{code=42}", "setmetatable({}, {__tostring = function() return 'T' end})",
                           "true", "print", "42", "'plain text'", "nil"};
  for (const std::string object : objects) {
    std::string told;
    if (object != "nil") {
      testsupport::TempDir dir;
      testsupport::run(lua51 + " -e \"error(" + object + ", 0)\" 2>" + dir.file("err") + " >/dev/null");
      const std::string err = testsupport::readFile(dir.file("err"));
      // "<program>: <message>", then a traceback for strings.
      const size_t colon = err.find(": ");
      ASSERT_NE(colon, std::string::npos) << err;
      told = err.substr(colon + 2, err.find('\n') - colon - 2);
    } else {
      told = "(error object is not a string)";
    }
    write("start/raise.lua",
          "local ok = pcall(require, 'Tolm'); if not ok then os.exit(77) end\n"
          "local object = " + object + "\n"
          "local w = Tolm.Vectorial.new(function(e) error(object, 0) end, 0, 0, 8, 8)\n"
          "w:setHidden(false)\n"
          "Tolm.addTimer(function() error(object, 0) end, 0.01)\n"
          "Tolm.addTimer(function() Tolm.exit(0) end, 0.3)\n"
          "Tolm.run()\n");
    Result r = tolm({"--script", root + "/start/raise.lua"});
    if (r.status == 77) GTEST_SKIP() << "no Tolm module in this build";
    EXPECT_EQ(r.status, 0) << object;
    EXPECT_EQ(r.err, "eventWrapper: " + told + "\ntimerWrapper: " + told + "\n") << object;
  }
}

}  // namespace

#endif
