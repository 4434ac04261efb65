// The main run loop: repeating timers, tasks posted from any thread (which
// wake the loop), file descriptors to watch, and a quit request.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/Timers.hh"

namespace platform {

// Microseconds on the monotonic clock.
int64_t monotonicMicros();

class Loop {
public:
  Loop();
  ~Loop();

  // Thread-safe: queues a task for the loop's thread and wakes the loop.
  // Tasks run in the order posted. False only when the wake-up channel
  // could not be created.
  bool post(std::function<void()> task);
  // Thread-safe: counts sources outside the loop that may still post.
  void addEventSource();
  void removeEventSource();
  // Loop thread only.
  void addTimer(TimerQueue::Action action, double seconds);
  void watch(int fd, std::function<void()> onReadable);
  void unwatch(int fd);
  // Runs before each wait, after the tasks and timers of the iteration, and
  // once more when run returns (a display flushes its output and reads
  // pending input here).
  void setBeforeWait(std::function<void()> fn) { beforeWait = std::move(fn); }
  // Runs at the top of each iteration of the outermost run, never inside a
  // dispatched task, timer or watch callback (deferred deletions go here).
  void setSafePoint(std::function<void()> fn) { safePoint = std::move(fn); }

  // Thread-safe: the current (or next) run returns.
  void quit();

  enum class Result { Quit, Idle };
  // Runs until quit. With endWhenIdle, also returns when nothing is left
  // that could wake the loop: no timer, no task, no watched descriptor and
  // no event source; it then writes one line on standard error.
  Result run(bool endWhenIdle);
  int depth() const { return running; }

private:
  void drainWake();
  bool runTasks();
  template <typename F> void dispatch(const char* what, F&& f);

  int wakeFd = -1;
  std::mutex mutex;
  std::deque<std::function<void()>> tasks; // guarded by mutex
  std::atomic<int> sources{0};
  std::atomic<bool> quitRequested{false};
  TimerQueue timers;
  struct Watch {
    int fd;
    std::function<void()> onReadable;
  };
  std::vector<Watch> watches;
  std::function<void()> beforeWait, safePoint;
  int running = 0;   // nesting of run
  int dispatching = 0;
};

} // namespace platform
