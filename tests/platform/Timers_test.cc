// Timer order, re-arming and the skipping of missed firings, on made-up
// clock values.
#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Timers.hh"

using platform::TimerQueue;

namespace {

TEST(TimerQueue, FiresInDueOrderTiesInAddOrder)
{
  TimerQueue q;
  std::string log;
  auto once = [&](char c) { return [&log, c] { log += c; return false; }; };
  q.add(once('c'), 0.003, 0);
  q.add(once('a'), 0.001, 0);
  q.add(once('b'), 0.002, 0);
  q.add(once('d'), 0.002, 0);
  q.add(once('e'), 0.002, 0);
  EXPECT_EQ(q.nextDue(), 1000);
  EXPECT_EQ(q.fire(999), 0u);
  EXPECT_EQ(q.fire(2000), 4u);
  EXPECT_EQ(log, "abde");
  EXPECT_EQ(q.fire(10000), 1u);
  EXPECT_EQ(log, "abdec");
  EXPECT_TRUE(q.empty());
  EXPECT_EQ(q.nextDue(), std::numeric_limits<int64_t>::max());
}

TEST(TimerQueue, RearmsAndSkipsMissedFirings)
{
  struct Case {
    std::vector<int64_t> fireAt; // loop times
    std::vector<int64_t> nextDue; // after each call
    int count;                   // firings in total
  };
  // Interval 10 ms, first due at 10000.
  const Case cases[] = {
      {{10000, 20000, 30000}, {20000, 30000, 40000}, 3},
      {{10500, 20400}, {20000, 30000}, 2},
      {{55000}, {60000}, 1},            // four firings missed: one call, re-armed after now
      {{60000}, {70000}, 1},            // exactly on a multiple: the next one
      {{9999, 10000}, {10000, 20000}, 1},
  };
  for (const Case& c : cases) {
    TimerQueue q;
    int count = 0;
    q.add([&] { ++count; return true; }, 0.01, 0);
    for (size_t i = 0; i < c.fireAt.size(); ++i) {
      q.fire(c.fireAt[i]);
      EXPECT_EQ(q.nextDue(), c.nextDue[i]) << i;
    }
    EXPECT_EQ(count, c.count);
  }
}

TEST(TimerQueue, StopsWhenActionReturnsFalse)
{
  TimerQueue q;
  int n = 0;
  q.add([&] { return ++n < 4; }, 1, 0);
  for (int64_t t = 1000000; t <= 10000000; t += 1000000)
    q.fire(t);
  EXPECT_EQ(n, 4); // true three times, then false: four calls
  EXPECT_TRUE(q.empty());
}

TEST(TimerQueue, ThrowingActionEndsTimerWithOneLine)
{
  TimerQueue q;
  int other = 0;
  q.add([]() -> bool { throw std::runtime_error("boom"); }, 1, 0);
  q.add([&] { ++other; return true; }, 1, 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(q.fire(1000000), 2u);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "timer: boom\n");
  EXPECT_EQ(q.size(), 1u);
  EXPECT_EQ(other, 1);
}

TEST(TimerQueue, TimersAddedByAnActionWaitForTheNextCall)
{
  TimerQueue q;
  int inner = 0;
  q.add([&] {
    q.add([&] { ++inner; return false; }, 0, 0); // due at 100, already past
    return false;
  }, 0.001, 0);
  EXPECT_EQ(q.fire(5000), 1u);
  EXPECT_EQ(inner, 0);
  EXPECT_EQ(q.fire(5000), 1u);
  EXPECT_EQ(inner, 1);
}

TEST(TimerQueue, IntervalClamping)
{
  struct Case {
    double seconds;
    int64_t firstDue; // added at 1000
  };
  const Case cases[] = {
      {0, 1100},
      {-1, 1100},
      {std::numeric_limits<double>::quiet_NaN(), 1100},
      {0.25, 251000},
      {1e200, 1000 + 1000000000000000ll},
  };
  for (const Case& c : cases) {
    TimerQueue q;
    q.add([] { return true; }, c.seconds, 1000);
    EXPECT_EQ(q.nextDue(), c.firstDue) << c.seconds;
  }
  // A due time near the end of the clock saturates instead of wrapping.
  TimerQueue q;
  int n = 0;
  q.add([&] { ++n; return true; }, 1e9, std::numeric_limits<int64_t>::max() - 10);
  EXPECT_EQ(q.nextDue(), std::numeric_limits<int64_t>::max());
}

} // namespace
