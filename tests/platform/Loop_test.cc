// The run loop on its own: task order, quit from another thread, nested
// runs and the safe point, watched descriptors and the idle exit.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/Loop.hh"

using platform::Loop;

namespace {

// Every case ends within a few seconds even if the loop misbehaves.
void guard(Loop& loop) { loop.addTimer([&loop] { loop.quit(); return false; }, 10); }

TEST(Loop, TasksRunInOrderAndQuitKeepsTheRest)
{
  Loop loop;
  guard(loop);
  std::string log;
  loop.post([&] { log += 'a'; });
  loop.post([&] { log += 'b'; loop.quit(); });
  loop.post([&] { log += 'c'; loop.quit(); });
  EXPECT_EQ(loop.run(false), Loop::Result::Quit);
  EXPECT_EQ(log, "ab");
  EXPECT_EQ(loop.run(false), Loop::Result::Quit);
  EXPECT_EQ(log, "abc") << "the task left behind runs in the next run";
}

TEST(Loop, QuitFromAnotherThreadWakesIt)
{
  Loop loop;
  guard(loop);
  std::thread other([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    loop.quit();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(loop.run(false), Loop::Result::Quit);
  other.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(Loop, SafePointNeverRunsInsideADispatch)
{
  Loop loop;
  guard(loop);
  int safePoints = 0, depthSeen = -1;
  bool insideTask = false;
  loop.setSafePoint([&] {
    ++safePoints;
    EXPECT_FALSE(insideTask);
  });
  loop.post([&] {
    insideTask = true;
    // A nested run (a script calling run from a callback) reaches no safe point.
    loop.post([&] { depthSeen = loop.depth(); loop.quit(); });
    const int before = safePoints;
    loop.run(false);
    EXPECT_EQ(safePoints, before);
    insideTask = false;
    loop.quit();
  });
  loop.run(false);
  EXPECT_EQ(depthSeen, 2);
  EXPECT_GE(safePoints, 1);
}

TEST(Loop, WatchedDescriptorAndIdleExit)
{
  Loop loop;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::string got;
  loop.watch(fds[0], [&] {
    char c;
    if (read(fds[0], &c, 1) == 1)
      got += c;
    if (got == "xy")
      loop.unwatch(fds[0]); // nothing left: the loop may go idle
  });
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    (void)!write(fds[1], "x", 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    (void)!write(fds[1], "y", 1);
  });
  testing::internal::CaptureStderr();
  EXPECT_EQ(loop.run(true), Loop::Result::Idle);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "run loop: no timer, task or event source left to wait for; leaving the loop\n");
  writer.join();
  EXPECT_EQ(got, "xy");
  close(fds[0]);
  close(fds[1]);
}

TEST(Loop, ThrowingTaskIsReportedAndTheLoopGoesOn)
{
  Loop loop;
  guard(loop);
  bool after = false;
  loop.post([] { throw std::runtime_error("oops"); });
  loop.post([&] { after = true; loop.quit(); });
  testing::internal::CaptureStderr();
  loop.run(false);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "run loop: task: oops\n");
  EXPECT_TRUE(after);
}

} // namespace
