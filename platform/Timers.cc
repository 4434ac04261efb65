#include "platform/Timers.hh"

#include <cmath>
#include <cstdio>
#include <exception>
#include <limits>
#include <vector>

#include "utility/Saturate.hh"

namespace platform {

double clampInterval(double seconds)
{
  if (std::isnan(seconds) || seconds < kMinInterval)
    return kMinInterval;
  if (seconds > kMaxInterval)
    return kMaxInterval;
  return seconds;
}

uint64_t TimerQueue::add(Action action, double seconds, int64_t now)
{
  const int64_t interval = saturate_cast<int64_t>(clampInterval(seconds) * 1e6);
  const uint64_t id = nextId++;
  const int64_t due = now > std::numeric_limits<int64_t>::max() - interval
                          ? std::numeric_limits<int64_t>::max()
                          : now + interval;
  queue.emplace(due, Entry{id, interval < 100 ? 100 : interval, std::move(action)});
  return id;
}

int64_t TimerQueue::nextDue() const
{
  return queue.empty() ? std::numeric_limits<int64_t>::max() : queue.begin()->first;
}

size_t TimerQueue::fire(int64_t now)
{
  // Take out everything due first, so that re-armed timers and timers added
  // by the actions cannot fire twice in one call.
  std::vector<std::pair<int64_t, Entry>> due;
  while (!queue.empty() && queue.begin()->first <= now) {
    due.emplace_back(queue.begin()->first, std::move(queue.begin()->second));
    queue.erase(queue.begin());
  }
  for (auto& [when, entry] : due) {
    bool keep = false;
    try {
      keep = entry.action();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "timer: %s\n", e.what());
    } catch (...) {
      std::fputs("timer: unknown exception\n", stderr);
    }
    if (!keep)
      continue;
    // Next multiple of the interval after now.
    const int64_t missed = (now - when) / entry.interval;
    int64_t next;
    if (__builtin_mul_overflow(missed + 1, entry.interval, &next) ||
        __builtin_add_overflow(when, next, &next))
      next = std::numeric_limits<int64_t>::max();
    queue.emplace(next, std::move(entry));
  }
  return due.size();
}

} // namespace platform
