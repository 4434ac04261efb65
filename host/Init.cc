// Loading and running the main script.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "bind/Call.hh"
#include "host/Host.hh"
#include "host/Startup.hh"
#include "lua/lauxlib.h"

namespace host {

lua_State* L = nullptr;
std::string exe;
char cwd[1024] = {0};
int aargc = 0;
char** aargv = nullptr;
char** command_line = nullptr;
int tolm_ec = 0;
ScriptOutcome script_outcome = ScriptOutcome::NotRun;
bool run_entered = false;

namespace {

// The interpreter's message, told as the stand-alone interpreter tells it.
void reportError(const char* what, const std::string& script) {
  std::fprintf(stderr, "there were errors %s %s:\n%s\n", what, script.c_str(),
               LuaWrapper::errorText(L, -1).c_str());
}

void changeDirectory(const std::string& dir) {
  int rc = ::chdir(dir.c_str());
  if (rc != 0) std::fprintf(stderr, "chdir: %d %s %s\n", rc, dir.c_str(), std::strerror(errno));
}

void setArg(const ScriptArguments& args) {
  lua_createtable(L, static_cast<int>(args.arg.size()), 3);
  for (const auto& [index, word] : args.arg) {
    lua_pushlstring(L, word.data(), word.size());
    lua_rawseti(L, -2, index);
  }
  lua_setglobal(L, "arg");
}

// Leaves the script's chunk on the stack; on failure says why and leaves
// nothing.
bool loadScript(const std::string& script) {
  if (luaL_loadfile(L, script.c_str()) == 0)
    return true;
  reportError("loading", script);
  lua_pop(L, 1);
  return false;
}

// Runs the chunk on top of the stack.
void runLoaded(const std::string& script) {
  if (lua_pcall(L, 0, 0, 0) != 0) {
    reportError("executing", script);
    script_outcome = ScriptOutcome::Raised;
    return;
  }
  script_outcome = ScriptOutcome::Finished;
}

}  // namespace

void init() {
  if (getcwd(cwd, sizeof cwd) == nullptr) cwd[0] = '\0';
  createFonts();

  // The negative indices of `arg` reach back into the whole command line.
  int first = static_cast<int>(aargv - command_line);
  ScriptArguments args = scriptArguments(first + aargc, command_line, first);
  setArg(args);

  if (args.named) {
    // A script named on the command line is the caller's, and so are the
    // paths it is given: it is found from the start-up directory and runs
    // there.
    exe = cwd;
    if (loadScript(args.script))
      runLoaded(args.script);
    else
      script_outcome = ScriptOutcome::LoadFailed;
    return;
  }

  std::string dir = scriptDirectory(exe, cwd);
  if (!dir.empty()) {
    exe = dir;
    changeDirectory(exe);
  }

  if (!loadScript(args.script)) {
    exe = cwd;
    if (::chdir(exe.c_str()) != 0) {
      // ignored: the second load reports what is missing
    }
    if (!loadScript(args.script)) {
      script_outcome = ScriptOutcome::LoadFailed;
      return;
    }
  }
  runLoaded(args.script);
}

int exitStatus() {
  if (script_outcome == ScriptOutcome::LoadFailed) return 1;
  // A script that raised failed, before or after its run loop; a loop that
  // ended with a code of its own keeps it.
  if (script_outcome == ScriptOutcome::Raised) return tolm_ec != 0 ? tolm_ec : 1;
  return tolm_ec;
}

int finitTolm() { return ::chdir(cwd); }

}  // namespace host
