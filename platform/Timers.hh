// Repeating timers of the main loop, kept apart from any clock so that their
// order and re-arming can be checked with made-up times.
#pragma once

#include <cstdint>
#include <functional>
#include <map>

namespace platform {

// Interval bounds: a timer never fires more often than every 100
// microseconds (zero, negative and NaN intervals take that), nor is it
// scheduled further out than about 31 years.
constexpr double kMinInterval = 0.0001;
constexpr double kMaxInterval = 1e9;
double clampInterval(double seconds);

class TimerQueue {
public:
  // Returns true to keep the timer, false to end it.
  using Action = std::function<bool()>;

  // A repeating timer first due `seconds` (clamped) after `now`
  // (microseconds on any monotonic clock). Returns its id.
  uint64_t add(Action action, double seconds, int64_t now);
  bool empty() const { return queue.empty(); }
  size_t size() const { return queue.size(); }
  // Due time of the earliest timer; INT64_MAX when there is none.
  int64_t nextDue() const;
  // Fires each timer due at `now` once, earliest first, equal due times in
  // the order the timers were added or last re-armed. A timer that returns
  // true is re-armed to the first multiple of its interval after `now`
  // (firings missed while the loop was busy are skipped); one that returns
  // false or throws is removed (a throw is reported in one line). Timers
  // added by an action wait for the next call. Returns the number fired.
  size_t fire(int64_t now);

private:
  struct Entry {
    uint64_t id;
    int64_t interval; // microseconds, >= 100
    Action action;
  };
  std::multimap<int64_t, Entry> queue; // by due time; equal keys keep insertion order
  uint64_t nextId = 1;
};

} // namespace platform
