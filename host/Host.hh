// The host's process-wide state and the entry points scripts reach through
// the Tolm module (run, runLoop, exit, finit).
#pragma once

#include <string>

#include "lua/lua.h"

class Renderer;

namespace host {

extern lua_State* L;              // the one script state; null until main makes it
extern std::string exe;           // program path; init replaces it by the directory it enters
extern char cwd[1024];            // working directory when init started
extern int aargc;                 // user words on the command line
extern char** aargv;              // the first of them
extern char** command_line;       // argv: aargv points into it
extern Renderer* parent_renderer; // the root renderer
extern int tolm_ec;               // exit code the run loop returned

// How the main script fared, for the exit status.
enum class ScriptOutcome { NotRun, LoadFailed, Raised, Finished };
extern ScriptOutcome script_outcome;
extern bool run_entered;  // Tolm.run() was called

// Script part of start-up: directory, fonts, `arg`, load (one retry from
// the start-up directory) and run of the main script.
void init();

// Blocks in the root renderer's loop; stores and returns its result.
int runTolm();
void runTolmLoop(double seconds);
void quitTolm(int code);
// Back to the start-up directory; the chdir result.
int finitTolm();

// The process-wide glyph engine and cache: made by init, deleted after the
// state has closed.
void createFonts();
void deleteFonts();

// Exit status from how the script ended: a script that failed to load or
// raised is a failed job (1, or the run loop's code when that is not 0).
int exitStatus();

}  // namespace host
