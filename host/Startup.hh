// The command-line and directory rules of start-up, as plain functions.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace host {

// "--renderer NAME" as the first two words picks the renderer; the user
// words follow it. Otherwise the name is empty and the user words start at
// argv[1]. A lone "--renderer" is an ordinary user word.
struct RendererChoice {
  std::string name;
  int firstUserWord;  // index into argv
};
RendererChoice chooseRenderer(int argc, char** argv);

// The script to run and the global `arg`: "--script NAME" as the first two
// user words names the script and the words after it are the script's;
// arg[0] is the word just before the script's words and earlier words go to
// negative indices. An empty script name becomes "Main.bcz".
struct ScriptArguments {
  std::string script;
  bool named = false;  // the script came from "--script"
  std::vector<std::pair<int, std::string>> arg;  // (index, word), lowest index first
};
ScriptArguments scriptArguments(int argc, char** argv, int firstUserWord);

// The program path the script directory is taken from: argv[0]; the
// executable's real path when argv[0] has no directory part (found through
// PATH) or names a symbolic link, so that the files installed beside the
// program are found.
std::string programPath(const char* argv0);

// The directory to change into before loading: empty for an empty program
// path (no change); the part before the last '/' or '\' when that separator
// is not the first character; else the start-up directory.
std::string scriptDirectory(const std::string& exe, const std::string& startDir);

// Whether an idle report asks for a full collection: 0 seconds (memory
// pressure) or at least 0.4 seconds of idle time; never for NaN.
bool idleCollects(double seconds);

}  // namespace host
