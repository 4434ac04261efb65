#include "host/Startup.hh"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace host {

RendererChoice chooseRenderer(int argc, char** argv) {
  if (argc > 2 && std::strcmp(argv[1], "--renderer") == 0) return {argv[2], 3};
  return {std::string(), 1};
}

ScriptArguments scriptArguments(int argc, char** argv, int firstUserWord) {
  ScriptArguments out;
  int userWords = argc - firstUserWord;
  int base = firstUserWord;  // argv index of arg[1]
  int back = 1;              // entries at and below 0
  if (userWords >= 2 && std::strcmp(argv[firstUserWord], "--script") == 0) {
    out.script = argv[firstUserWord + 1];
    out.named = !out.script.empty();
    base += 2;
    back = 3;
  }
  int n = argc - base;
  for (int i = 1 - back; i <= n; ++i) {
    int at = base + i - 1;
    if (at >= 0 && at < argc) out.arg.emplace_back(i, argv[at]);
  }
  if (out.script.empty()) out.script = "Main.bcz";
  return out;
}

std::string programPath(const char* argv0) {
  std::string exe = argv0 != nullptr ? argv0 : "";
  if (exe.empty()) return exe;
  if (exe.find('/') != std::string::npos) {
    // A link to the program (the installed bin/tolm) stands for the
    // program itself, whose directory holds the scripts.
    struct stat st {};
    if (lstat(exe.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return exe;
    char* real = realpath(exe.c_str(), nullptr);
    if (real == nullptr) return exe;
    std::string resolved(real);
    std::free(real);
    return resolved;
  }
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return exe;
  return std::string(buffer, static_cast<size_t>(n));
}

std::string scriptDirectory(const std::string& exe, const std::string& startDir) {
  if (exe.empty()) return std::string();
  size_t pos = exe.find_last_of("/\\");
  if (pos != std::string::npos && pos > 0) return exe.substr(0, pos);
  return startDir;
}

bool idleCollects(double seconds) { return seconds == 0.0 || seconds >= 0.4; }

}  // namespace host
