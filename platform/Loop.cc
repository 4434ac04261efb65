#include "platform/Loop.hh"

#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iterator>

namespace platform {

int64_t monotonicMicros()
{
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (int64_t)ts.tv_sec * 1000000 + ts.tv_nsec / 1000;
}

Loop::Loop()
{
  wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd < 0)
    std::fprintf(stderr, "run loop: eventfd: %s\n", std::strerror(errno));
}

Loop::~Loop()
{
  if (wakeFd >= 0)
    close(wakeFd);
}

bool Loop::post(std::function<void()> task)
{
  if (wakeFd < 0)
    return false;
  {
    std::lock_guard<std::mutex> lock(mutex);
    tasks.push_back(std::move(task));
  }
  const uint64_t one = 1;
  // EAGAIN means the counter is saturated: the loop is awake anyway.
  (void)!write(wakeFd, &one, sizeof one);
  return true;
}

void Loop::addEventSource() { sources.fetch_add(1); }

void Loop::removeEventSource()
{
  if (sources.fetch_sub(1) <= 1) {
    // Never below zero; and let an idle loop notice it may end.
    int expected = -1;
    sources.compare_exchange_strong(expected, 0);
    const uint64_t one = 1;
    if (wakeFd >= 0)
      (void)!write(wakeFd, &one, sizeof one);
  }
}

void Loop::addTimer(TimerQueue::Action action, double seconds)
{
  timers.add(std::move(action), seconds, monotonicMicros());
}

void Loop::watch(int fd, std::function<void()> onReadable)
{
  unwatch(fd);
  watches.push_back(Watch{fd, std::move(onReadable)});
}

void Loop::unwatch(int fd)
{
  for (auto it = watches.begin(); it != watches.end(); ++it)
    if (it->fd == fd) {
      watches.erase(it);
      return;
    }
}

void Loop::quit()
{
  quitRequested.store(true);
  const uint64_t one = 1;
  if (wakeFd >= 0)
    (void)!write(wakeFd, &one, sizeof one);
}

void Loop::drainWake()
{
  uint64_t count;
  while (wakeFd >= 0 && read(wakeFd, &count, sizeof count) > 0) {
  }
}

// No exception leaves the loop: whatever a task, timer or callback throws is
// reported in one line and the loop goes on.
template <typename F> void Loop::dispatch(const char* what, F&& f)
{
  ++dispatching;
  try {
    f();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "run loop: %s: %s\n", what, e.what());
  } catch (...) {
    std::fprintf(stderr, "run loop: %s: unknown exception\n", what);
  }
  --dispatching;
}

bool Loop::runTasks()
{
  // Only the tasks present now: a task that posts another one does not
  // starve the timers and the display.
  std::deque<std::function<void()>> now;
  {
    std::lock_guard<std::mutex> lock(mutex);
    now.swap(tasks);
  }
  for (size_t i = 0; i < now.size(); ++i) {
    dispatch("task", now[i]);
    if (quitRequested.load()) {
      // Keep the rest, in order, for the next run.
      std::lock_guard<std::mutex> lock(mutex);
      tasks.insert(tasks.begin(), std::make_move_iterator(now.begin() + i + 1),
                   std::make_move_iterator(now.end()));
      return false;
    }
  }
  return true;
}

Loop::Result Loop::run(bool endWhenIdle)
{
  if (quitRequested.exchange(false))
    return Result::Quit;
  ++running;
  Result result = Result::Quit;
  for (;;) {
    if (running == 1 && dispatching == 0 && safePoint)
      dispatch("safe point", safePoint);
    if (!runTasks() || quitRequested.load())
      break;
    dispatch("timers", [&] { timers.fire(monotonicMicros()); });
    if (quitRequested.load())
      break;
    if (beforeWait)
      dispatch("display", beforeWait);
    if (quitRequested.load())
      break;

    bool pending;
    {
      std::lock_guard<std::mutex> lock(mutex);
      pending = !tasks.empty();
    }
    if (endWhenIdle && !pending && timers.empty() && watches.empty() && sources.load() <= 0) {
      std::fputs("run loop: no timer, task or event source left to wait for; leaving the loop\n",
                 stderr);
      result = Result::Idle;
      break;
    }

    timespec timeout{0, 0};
    timespec* wait = nullptr;
    if (pending) {
      wait = &timeout;
    } else if (!timers.empty()) {
      int64_t delta = timers.nextDue() - monotonicMicros();
      if (delta < 0)
        delta = 0;
      timeout.tv_sec = delta / 1000000;
      timeout.tv_nsec = (delta % 1000000) * 1000;
      wait = &timeout;
    }
    std::vector<pollfd> fds;
    fds.push_back(pollfd{wakeFd, POLLIN, 0});
    for (auto& w : watches)
      fds.push_back(pollfd{w.fd, POLLIN, 0});
    const int n = ppoll(fds.data(), fds.size(), wait, nullptr);
    if (n < 0 && errno != EINTR) {
      std::fprintf(stderr, "run loop: poll: %s\n", std::strerror(errno));
      timespec pause{0, 10000000};
      nanosleep(&pause, nullptr); // never spin on a persistent failure
      continue;
    }
    if (n <= 0)
      continue;
    if (fds[0].revents)
      drainWake();
    // Callbacks may change the watch list: look each descriptor up again.
    for (size_t i = 1; i < fds.size(); ++i) {
      if (!fds[i].revents)
        continue;
      for (auto& w : watches)
        if (w.fd == fds[i].fd) {
          auto callback = w.onReadable;
          dispatch("input", callback);
          break;
        }
    }
  }
  // What was drawn before the end is still shown (or written out).
  if (beforeWait)
    dispatch("display", beforeWait);
  quitRequested.store(false);
  --running;
  return result;
}

} // namespace platform
