// SIGINT, SIGTERM and SIGHUP for scripts that clean up before they end.
//
// The signal handler only records the first signal and writes a byte into
// a pipe. Script code running inside Tolm.interruptible notices the record
// at its next count hook and raises "interrupted"; a watcher thread reads
// the pipe and posts a task to the run loop, which calls the script's
// handler when the loop was waiting. Native work in progress (a page being
// decoded or written) finishes first: the hook runs between script
// instructions only, or where the work looks at signalPending().
//
// Native work may also not look at all (a library decoding one huge image
// for minutes). A script that gives a stop line with its handler (the
// jobs) is therefore watched: when the script has not taken the signal
// 0.8 s after it came, the watcher removes every temporary file of the
// process, writes the line and ends the process as the signal would.
#include "host/Interrupt.hh"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "codecs/FileOut.hh"

#include "bind/Call.hh"
#include "host/Host.hh"
#include "lua/lauxlib.h"
#include "renderer/Renderer.hh"

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];
// Script instructions between two looks at the record.
constexpr int kHookInstructions = 100;

// Written by the signal handler, on any thread.
std::atomic<int> caught{0}; // the first signal since catching began; 0: none
std::atomic<int> wakeWrite{-1};
std::atomic<pid_t> owner{0}; // the process that caught the signals
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free int");

// The script thread's own state.
bool catching = false;
bool settled = false; // the script has taken the caught signal
int armed = 0;        // nesting of Tolm.interruptible
int handlerRef = LUA_NOREF;
lua_State* hooked = nullptr;
int wakeRead = -1; // the pipe lives as long as the process: the handler may
                   // still hold its write end after catching ends
// Never destroyed while it runs: a script may end the process (os.exit)
// with signals still caught.
std::thread* watcher = nullptr;
struct sigaction former[kSignalCount];
bool installed[kSignalCount];

// Between the watcher posting and the host letting go of the renderer.
std::mutex forwardMutex;
bool forwarding = false;
std::string stopLine; // under forwardMutex; empty: the process is not watched

// Who ends a caught signal: the script (its handler, or Tolm.interruptible
// handing it over), or the watcher when the script is too late.
enum { kPending, kTaken, kEnded };
std::atomic<int> outcome{kPending};

// How long the script has to take a signal, and to end once it took it:
// the process still needs time to go (freeing gigabytes a library took).
constexpr std::chrono::milliseconds kTakeWithin(800), kEndWithin(1500);

void onSignal(int sig)
{
  // A process forked from ours without exec (a scanner backend's reader)
  // still holds this handler; it ends as the signal's default would end
  // it, instead of writing into our pipe and going on.
  if (getpid() != owner.load())
    _exit(128 + sig);
  const int saved = errno;
  int none = 0;
  caught.compare_exchange_strong(none, sig);
  const int fd = wakeWrite.load();
  if (fd >= 0) {
    const char one = 1;
    (void)!write(fd, &one, 1); // a full pipe has woken the watcher already
  }
  errno = saved;
}

void hook(lua_State* L, lua_Debug*);

// From the first raise on, every instruction looks, until the signal is
// taken: a pcall deeper down that swallowed the error has the next one
// raised right after it returns, and so on out to Tolm.interruptible.
void raiseWhenPending(lua_State* L)
{
  if (armed > 0 && !settled && caught.load() != 0) {
    lua_sethook(L, hook, LUA_MASKCOUNT, 1);
    lua_pushliteral(L, "interrupted");
    lua_error(L);
  }
}

void hook(lua_State* L, lua_Debug*) { raiseWhenPending(L); }

// The script takes the signal; when the watcher is ending the process
// already, the script waits for it.
void take()
{
  settled = true;
  int pending = kPending;
  if (!outcome.compare_exchange_strong(pending, kTaken) && pending == kEnded)
    for (;;)
      pause();
}

// Ends the process for a signal the script did not handle in time: no
// temporary file left, the stop line (when `say`), the signal's status.
[[noreturn]] void endNow(int sig, const std::string& line, bool say)
{
  const std::vector<std::string> written = FileOut::removeTemporaries();
  if (say) {
    std::string text = line + "interrupted: ";
    if (written.empty()) {
      text += "nothing written";
    } else {
      for (size_t i = 0; i < written.size(); ++i)
        text += (i ? ", " : "wrote ") + written[i];
      text += ", nothing else";
    }
    text += "\n";
    for (size_t done = 0; done < text.size();) {
      const ssize_t n = write(2, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0)
        break;
      done += (size_t)n;
    }
  }
  _exit(128 + sig);
}

// After a signal: waits for the script to take it and to end. False when
// catching ended meanwhile (a zero byte in the pipe).
bool guard(int fd, const std::string& line)
{
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    const bool taken = outcome.load() == kTaken;
    const auto left = (taken ? kEndWithin : kTakeWithin) -
                      std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start);
    if (left.count() <= 0) {
      int pending = kPending;
      if (outcome.compare_exchange_strong(pending, kEnded))
        endNow(caught.load(), line, true);
      // taken, and the script's own way out is stuck: its line may be out
      // already, so none is written
      endNow(caught.load(), line, false);
    }
    pollfd p{fd, POLLIN, 0};
    const int r = poll(&p, 1, (int)left.count());
    if (r <= 0)
      continue; // the time is up, or a signal came to this thread
    char buffer[64];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    for (ssize_t i = 0; i < n; ++i)
      if (buffer[i] == 0)
        return false;
    if (n == 0)
      return false;
  }
}

// On the run loop: a signal that no running script code took goes to the
// handler.
void deliver()
{
  lua_State* L = host::L;
  const int sig = caught.load();
  if (!catching || settled || sig == 0 || handlerRef == LUA_NOREF || L == nullptr)
    return;
  take();
  lua_rawgeti(L, LUA_REGISTRYINDEX, handlerRef);
  lua_pushinteger(L, sig);
  if (lua_pcall(L, 1, 0, 0) != 0) {
    std::fprintf(stderr, "signal handler: %s\n", LuaWrapper::errorText(L, -1).c_str());
    lua_pop(L, 1);
  }
}

void watch(int fd)
{
  for (;;) {
    char c = 0;
    const ssize_t n = read(fd, &c, 1);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0 || c == 0)
      return;
    std::string line;
    {
      std::lock_guard<std::mutex> lock(forwardMutex);
      if (forwarding && host::parent_renderer != nullptr)
        host::parent_renderer->postTask(deliver);
      line = stopLine;
    }
    if (!line.empty() && caught.load() != 0 && !guard(fd, line))
      return;
  }
}

bool start()
{
  if (wakeRead < 0) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
      return false;
    // The handler never blocks; the watcher does.
    fcntl(fds[1], F_SETFL, fcntl(fds[1], F_GETFL) | O_NONBLOCK);
    wakeRead = fds[0];
    wakeWrite.store(fds[1]);
  }
  // Stale bytes of an earlier catch would only wake the loop for nothing.
  for (char buffer[256];;) {
    pollfd p{wakeRead, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0 || read(wakeRead, buffer, sizeof buffer) <= 0)
      break;
  }
  try {
    watcher = new std::thread(watch, wakeRead);
  } catch (const std::exception&) {
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(forwardMutex);
    forwarding = true;
  }
  caught.store(0);
  outcome.store(kPending);
  settled = false;
  owner.store(getpid());
  for (int i = 0; i < kSignalCount; ++i) {
    installed[i] = false;
    if (sigaction(kSignals[i], nullptr, &former[i]) != 0 || former[i].sa_handler == SIG_IGN)
      continue; // ignored by whoever started us: stays so
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    installed[i] = sigaction(kSignals[i], &action, nullptr) == 0;
  }
  catching = true;
  return true;
}

// Returns the signal the script never took (0 for none); the signal has
// its former action again.
int stop()
{
  if (!catching)
    return 0;
  for (int i = 0; i < kSignalCount; ++i)
    if (installed[i])
      sigaction(kSignals[i], &former[i], nullptr);
  catching = false;
  const int sig = caught.exchange(0);
  const bool untaken = sig != 0 && !settled;
  settled = false;

  {
    std::lock_guard<std::mutex> lock(forwardMutex);
    forwarding = false;
    stopLine.clear();
  }
  FileOut::recordCommitted(false);
  // A zero byte ends the watcher; it drains the pipe, so the write gets in.
  const char zero = 0;
  while (write(wakeWrite.load(), &zero, 1) < 0 && (errno == EAGAIN || errno == EINTR)) {
    pollfd p{wakeWrite.load(), POLLOUT, 0};
    poll(&p, 1, 10);
  }
  if (watcher != nullptr) {
    watcher->join();
    delete watcher;
    watcher = nullptr;
  }

  if (hooked != nullptr && lua_gethook(hooked) == hook)
    lua_sethook(hooked, nullptr, 0, 0);
  hooked = nullptr;
  if (handlerRef != LUA_NOREF && host::L != nullptr)
    luaL_unref(host::L, LUA_REGISTRYINDEX, handlerRef);
  handlerRef = LUA_NOREF;

  return untaken ? sig : 0;
}

} // namespace

namespace tolm {

int catchSignals(lua_State* L)
{
  if (lua_isnoneornil(L, 1)) {
    // The signal the script never took now has its former action: by
    // default the process ends as if nothing had caught it.
    if (const int sig = stop())
      raise(sig);
    return 0;
  }
  luaL_checktype(L, 1, LUA_TFUNCTION);
  const char* line = luaL_optstring(L, 2, "");
  if (!catching && !start()) {
    lua_pushboolean(L, 0);
    return 1;
  }
  {
    std::lock_guard<std::mutex> lock(forwardMutex);
    if (stopLine.empty() && *line != 0)
      FileOut::recordCommitted(true);
    stopLine = line;
  }
  if (handlerRef != LUA_NOREF)
    luaL_unref(L, LUA_REGISTRYINDEX, handlerRef);
  lua_pushvalue(L, 1);
  handlerRef = luaL_ref(L, LUA_REGISTRYINDEX);
  // Script code runs on the state's main thread (coroutines made from now
  // on inherit the hook).
  hooked = host::L != nullptr ? host::L : L;
  lua_sethook(hooked, hook, LUA_MASKCOUNT, kHookInstructions);
  lua_pushboolean(L, 1);
  return 1;
}

int interruptible(lua_State* L)
{
  luaL_checktype(L, 1, LUA_TFUNCTION);
  ++armed;
  const int status = lua_pcall(L, lua_gettop(L) - 1, LUA_MULTRET, 0);
  --armed;
  if (status == 0) {
    lua_pushboolean(L, 1);
    lua_insert(L, 1);
    return lua_gettop(L);
  }
  lua_pushboolean(L, 0);
  lua_insert(L, -2);
  const int sig = caught.load();
  if (!catching || settled || sig == 0)
    return 2;
  take();
  for (lua_State* S : {L, hooked})
    if (S != nullptr && lua_gethook(S) == hook)
      lua_sethook(S, hook, LUA_MASKCOUNT, kHookInstructions);
  lua_pushinteger(L, sig);
  return 3;
}

int interruptionPoint(lua_State* L)
{
  raiseWhenPending(L);
  return 0;
}

} // namespace tolm

namespace host {

int releaseSignals() { return stop(); }

int signalPending()
{
  // Only where the script is interrupted by it: elsewhere the signal waits
  // for the run loop's handler, and work goes on.
  return armed > 0 && !settled ? caught.load() : 0;
}

} // namespace host
